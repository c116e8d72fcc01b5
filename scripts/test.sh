#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test under Wine.
# Extra arguments go to ctest, e.g. scripts/test.sh -R proxy; a first
# argument --under-load runs the tests beside two busy processes.
set -euo pipefail
source "$(dirname "$0")/lib.sh"
if [ "${1:-}" = --under-load ]; then
  export NORV_UNDER_LOAD=1
  shift
fi
BUILD_DIR=${BUILD_DIR:-$NORV_ROOT/build}
BUILD_DIR=$(mkdir -p "$BUILD_DIR" && cd "$BUILD_DIR" && pwd)
export BUILD_DIR

if [ -z "${NORV_IN_NETNS:-}" ]; then
  ensure_packages
  start=$SECONDS
  [ -n "${NORV_NO_BUILD:-}" ] || configure_and_build "$BUILD_DIR"
  log "build took $((SECONDS - start)) s"
  ensure_locales "$BUILD_DIR/locales"
  ensure_wine_template "$BUILD_DIR/wine/template"
  # Tests bind 127.0.0.1:13001; a network namespace of their own keeps them
  # apart from anything else on this machine that uses the port.
  if [ "${NORV_NETNS:-1}" = 1 ]; then
    if unshare -n -m true 2>/dev/null; then
      exec env NORV_IN_NETNS=1 unshare -n -m bash "$0" "$@"
    fi
    log "no namespace here (unshare -n -m refused): the tests use this machine's 127.0.0.1:13001"
  fi
else
  ip link set lo up || die "cannot bring up the loopback device in the tests' network namespace"
  # X sockets of our own: every X server on this machine shares
  # /tmp/.X11-unix, and one that ends unlinks its display's socket there,
  # even one that another run's server on the same number still serves.
  # On a machine where no X server has run yet the mount point is missing.
  mkdir -p -m 1777 /tmp/.X11-unix &&
    mount -t tmpfs -o mode=1777 tmpfs /tmp/.X11-unix ||
    die "cannot mount a private /tmp/.X11-unix in the tests' namespace"
fi

trap 'stop_busy_load; wine_session_stop' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
wine_session_start "$BUILD_DIR"
[ -z "${NORV_UNDER_LOAD:-}" ] || start_busy_load 2
start=$SECONDS
rc=0
ctest --test-dir "$BUILD_DIR" -j1 --timeout 300 --output-on-failure --no-tests=error "$@" || rc=$?
log "tests took $((SECONDS - start)) s"
[ "$rc" -eq 0 ] || log "ctest exited with status $rc"
exit $rc
