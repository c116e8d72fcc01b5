#!/usr/bin/env bash
# Time from start to visible window and working set of the client under Wine,
# side by side with a minimal window program, in one run.
# Needs a build: BUILD_DIR=/path/to/build benchmarks/startup.sh
set -euo pipefail
source "$(dirname "$0")/../scripts/lib.sh"
BUILD_DIR=$(cd "${BUILD_DIR:-$NORV_ROOT/build}" && pwd)
[ -f "$BUILD_DIR/benchmarks/startup-bench.exe" ] || { echo "build first (cmake --build $BUILD_DIR)" >&2; exit 1; }
trap wine_session_stop EXIT
wine_session_start "$BUILD_DIR"
NORV_CLIENT_EXE=$BUILD_DIR/client/norvvpnui.exe \
NORV_MINIMAL_EXE=$BUILD_DIR/benchmarks/minimal-window.exe \
NORV_WEBVIEW_STANDIN=$BUILD_DIR/devkit/webview-standin/WebView2Loader.dll \
NORV_WINBRAND_DLL=$BUILD_DIR/devkit/winbrand-standin/winbrand.dll \
NORV_LOCAL_SERVICE=$BUILD_DIR/devkit/local-service/local-service.exe \
  wine "$BUILD_DIR/benchmarks/startup-bench.exe"
