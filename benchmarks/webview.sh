#!/usr/bin/env bash
# The development web view runtime's costs in one run: start to the first
# painted page frame against Chromium alone, and one ExecuteScript round trip
# against one loopback request. Needs a build:
#   BUILD_DIR=/path/to/build benchmarks/webview.sh
set -euo pipefail
source "$(dirname "$0")/../scripts/lib.sh"
BUILD_DIR=$(cd "${BUILD_DIR:-$NORV_ROOT/build}" && pwd)
[ -f "$BUILD_DIR/benchmarks/webview-bench.exe" ] || { echo "build first (cmake --build $BUILD_DIR)" >&2; exit 1; }
run_in_own_netns "$0" "$@"
trap wine_session_stop EXIT
wine_session_start "$BUILD_DIR"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
NORV_CLIENT_EXE=$BUILD_DIR/client/norvvpnui.exe \
NORV_WEBVIEW_RUNTIME=$BUILD_DIR/devkit/webview-runtime/WebView2Loader.dll \
NORV_WINBRAND_DLL=$BUILD_DIR/devkit/winbrand-standin/winbrand.dll \
NORV_LOCAL_SERVICE=$BUILD_DIR/devkit/local-service/local-service.exe \
  wine "$BUILD_DIR/benchmarks/webview-bench.exe"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
