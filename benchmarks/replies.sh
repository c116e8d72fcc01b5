#!/usr/bin/env bash
# What a large reply from the local service costs a request, against a plain
# WinHTTP read loop over the same replies, and whether the cost per megabyte
# stays the same as replies grow. Needs a build:
#   BUILD_DIR=/path/to/build benchmarks/replies.sh     (RUNS=7 rounds)
set -euo pipefail
source "$(dirname "$0")/../scripts/lib.sh"
BUILD_DIR=$(cd "${BUILD_DIR:-$NORV_ROOT/build}" && pwd)
[ -f "$BUILD_DIR/benchmarks/reply-size-bench.exe" ] || { echo "build first (cmake --build $BUILD_DIR)" >&2; exit 1; }
run_in_own_netns "$0" "$@"
trap wine_session_stop EXIT
wine_session_start "$BUILD_DIR"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
wine "$BUILD_DIR/benchmarks/reply-size-bench.exe" </dev/null
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
