# Shared by the README's commands: packages, locales, the Wine prefix and the
# X server. Source it; every function is idempotent and every failure names
# itself and exits non-zero.

set -Eeuo pipefail
NORV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

NORV_PACKAGES=(cmake make g++-mingw-w64-x86-64-posix mingw-w64-tools wine wine64 xvfb
               nlohmann-json3-dev googletest locales iproute2 util-linux
               fonts-dejavu-core fonts-wqy-microhei xdotool x11-apps x11-utils imagemagick trayer
               chromium nsis osslsigncode openssl lldb-19 python3-yaml)

# What the scripts and the build call, each with the package that brings it
# (a path is checked as a file).
NORV_PROGRAMS=(wine:wine wineboot:wine wineserver:wine winepath:wine Xvfb:xvfb
               cmake:cmake ctest:cmake make:make
               x86_64-w64-mingw32-gcc-posix:gcc-mingw-w64-x86-64-posix
               x86_64-w64-mingw32-g++-posix:g++-mingw-w64-x86-64-posix
               x86_64-w64-mingw32-windres:binutils-mingw-w64-x86-64
               localedef:libc-bin /usr/share/i18n/locales/zh_CN:locales
               /usr/include/nlohmann/json.hpp:nlohmann-json3-dev
               /usr/src/googletest/CMakeLists.txt:googletest
               unshare:util-linux ip:iproute2 xdotool:xdotool import:imagemagick trayer:trayer
               chromium:chromium makensis:nsis osslsigncode:osslsigncode openssl:openssl
               x86_64-w64-mingw32-objcopy:binutils-mingw-w64-x86-64
               x86_64-w64-mingw32-objdump:binutils-mingw-w64-x86-64 lldb-19:lldb-19
               /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf:fonts-dejavu-core
               /usr/share/fonts/truetype/wqy/wqy-microhei.ttc:fonts-wqy-microhei)

log() { printf '== %s\n' "$*" >&2; }
die() { printf '== FAILED: %s\n' "$*" >&2; exit 1; }

# A value CMake wrote into a build folder's CPackConfig.cmake: $1 build folder,
# $2 the variable (CPACK_PACKAGE_VERSION).
cpack_value() { sed -n "s/^set($2 \"\(.*\)\")\$/\1/p" "$1/CPackConfig.cmake"; }

# set -e alone would end a script silently.
norv_on_err() {
  printf '== FAILED (exit %s): %s (%s:%s)\n' "$1" "$2" "$3" "$4" >&2
}
trap 'norv_on_err $? "$BASH_COMMAND" "${BASH_SOURCE[0]}" "$LINENO"' ERR

# ensure_packages [PACKAGE...]: the given Debian packages, or all the project needs.
ensure_packages() {
  local missing=() p wanted=("${NORV_PACKAGES[@]}")
  [ $# -eq 0 ] || wanted=("$@")
  for p in "${wanted[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    log "installing: ${missing[*]}"
    local sudo=() out start=$SECONDS rc=0
    if [ "$(id -u)" -ne 0 ]; then
      command -v sudo >/dev/null || die "not root and no sudo: as root, apt-get install ${missing[*]}"
      sudo=(sudo)
    fi
    out=$(mktemp)
    { "${sudo[@]}" apt-get update -qq &&
      DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
    } >"$out" 2>&1 || rc=$?
    if [ "$rc" -ne 0 ]; then
      tail -n 20 "$out" >&2
      rm -f "$out"
      die "apt-get could not install ${missing[*]} (exit $rc)"
    fi
    rm -f "$out"
    log "apt-get update and install took $((SECONDS - start)) s"
  fi
  [ $# -gt 0 ] || ensure_programs
}

ensure_programs() {
  local entry what missing=
  for entry in "${NORV_PROGRAMS[@]}"; do
    what=${entry%:*}
    if [ "${what:0:1}" = / ]; then
      [ -e "$what" ] && continue
    else
      command -v "$what" >/dev/null 2>&1 && continue
    fi
    missing+="${missing:+, }$what (package ${entry##*:})"
  done
  [ -z "$missing" ] || die "missing: $missing"
}

# Locales of our own (no root needed): en_US, zh_CN, zh_TW give Wine the UI
# language ids 1033, 2052 and 1028.
ensure_locales() {
  local dir=$1 l out
  mkdir -p "$dir"
  for l in en_US zh_CN zh_TW; do
    if [ ! -f "$dir/$l.UTF-8/LC_CTYPE" ]; then
      rm -rf "$dir/$l.UTF-8"
      out=$(localedef -i "$l" -f UTF-8 "$dir/$l.UTF-8" 2>&1) || true
      [ -f "$dir/$l.UTF-8/LC_CTYPE" ] || die "localedef could not make $l.UTF-8 in $dir: $out"
    fi
    # A locale the C library will not load leaves non-ASCII arguments garbled.
    out=$(LOCPATH=$dir LC_ALL=$l.UTF-8 locale charmap 2>&1) || true
    [ "$out" = UTF-8 ] || die "locale $l.UTF-8 in $dir does not load: $out"
  done
}

# Runs the calling script again in a network namespace of its own, so that
# 127.0.0.1:13001 is private to it, when the machine allows one; inside, brings
# up the loopback device. Call as: run_in_own_netns "$0" "$@"
run_in_own_netns() {
  if [ -z "${NORV_IN_NETNS:-}" ] && unshare -n true 2>/dev/null; then
    exec env NORV_IN_NETNS=1 unshare -n bash "$@"
  fi
  [ -z "${NORV_IN_NETNS:-}" ] || ip link set lo up || die "cannot bring up the loopback device in the namespace"
}

# NORV_WINEDEBUG (e.g. warn+heap) becomes WINEDEBUG for the programs a run
# starts; the template boot stays quiet either way.
# No winemenubuilder: a shortcut saved under Wine (the installer's) starts it,
# and it would write menu entries into this machine's home.
norv_wine_env() {
  export WINEARCH=win64 WINEDEBUG=${NORV_WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
}

# Runs one Wine command on the template being booted ($tmpl.tmp), its output
# to the boot log ($blog). No DISPLAY: the boot opens no windows anywhere.
template_wine() {
  env -u DISPLAY WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
    WINEPREFIX="$tmpl.tmp" "$@" </dev/null 2>>"$blog"
}

template_failed() {
  tail -n 20 "$blog" >&2
  template_wine wineserver -k >/dev/null 2>&1 || true
  die "$* (prefix $tmpl.tmp, log $blog)"
}

# What a template is made of: this recipe's number and the Wine that booted
# it. A template made otherwise is booted again.
NORV_TEMPLATE_RECIPE=3
template_stamp() { printf 'recipe %s, %s\n' "$NORV_TEMPLATE_RECIPE" "$(wine --version 2>/dev/null || echo 'no wine')"; }

# A booted prefix made once per build folder; each run works on a copy.
ensure_wine_template() {
  local tmpl=$1 stamp
  stamp=$(template_stamp)
  [ "$(cat "$tmpl/.norv-ready" 2>/dev/null)" = "$stamp" ] && return 0
  log "booting a Wine prefix template (once per build folder and Wine)"
  rm -rf "$tmpl" "$tmpl.tmp"
  mkdir -p "$(dirname "$tmpl")"
  local blog="$tmpl.log" rc=0 f managed
  : >"$blog"
  template_wine wineboot -i >>"$blog" || rc=$?
  [ "$rc" -eq 0 ] || template_failed "wineboot -i failed (exit $rc)"
  # Without a window manager, Managed windows stall every hide and destroy.
  template_wine wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >>"$blog" ||
    template_failed "wine reg add failed"
  for f in "Microsoft YaHei" "Microsoft YaHei UI" "SimSun" "MS Shell Dlg"; do
    template_wine wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$f" /t REG_SZ \
      /d "WenQuanYi Micro Hei" /f >>"$blog" || template_failed "wine reg add failed"
  done
  # No crash debugger: a crashing program under test ends at once with its
  # exception's status instead of waiting in one (Wine's crash dialog
  # waits for a click on an X server nobody sees). Empty, not deleted: without
  # the value Wine starts its own; and should a Wine start it anyway, without
  # its dialog.
  template_wine wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Debugger /t REG_SZ \
    /d '' /f >>"$blog" || template_failed "wine reg add failed"
  template_wine wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >>"$blog" ||
    template_failed "wine reg add failed"
  # Usable: the system folder is there and the registry reads back.
  [ -f "$tmpl.tmp/drive_c/windows/system32/kernel32.dll" ] ||
    template_failed "the booted prefix has no system32\\kernel32.dll"
  managed=$(template_wine wine reg query 'HKCU\Software\Wine\X11 Driver' /v Managed | tr -d '\r') || true
  [[ $managed == *Managed*REG_SZ*N* ]] || template_failed "the booted prefix does not read back its registry"
  template_wine wineserver -w || template_failed "wineserver -w failed"
  mv "$tmpl.tmp" "$tmpl"
  printf '%s\n' "$stamp" >"$tmpl/.norv-ready"
}

# Our own Xvfb on the first free display it finds; sets DISPLAY and
# NORV_XVFB_PID. Files go to the given folder.
start_xvfb() {
  local dir=$1 i
  local dfile="$dir/xvfb-$$.display" xlog="$dir/xvfb-$$.log"
  mkdir -p "$dir"
  : >"$dfile"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$dfile" >"$xlog" 2>&1 &
  NORV_XVFB_PID=$!
  # It writes the number once it accepts clients.
  for i in $(seq 200); do
    [ -s "$dfile" ] && break
    if ! kill -0 "$NORV_XVFB_PID" 2>/dev/null; then
      local rc=0
      wait "$NORV_XVFB_PID" || rc=$?
      NORV_XVFB_PID=
      tail -n 5 "$xlog" >&2
      die "Xvfb exited (status $rc) before it took a display; log in $xlog"
    fi
    sleep 0.05
  done
  if [ ! -s "$dfile" ]; then
    kill "$NORV_XVFB_PID" 2>/dev/null || true
    wait "$NORV_XVFB_PID" 2>/dev/null || true
    NORV_XVFB_PID=
    die "Xvfb took no display within 10 s; log in $xlog"
  fi
  export DISPLAY=":$(tr -d '[:space:]' <"$dfile")"
  rm -f "$dfile"
}

# Starts our own Xvfb (unless WANT_DISPLAY is set to an existing display) and
# a wineserver on a fresh copy of the template. Sets NORV_XVFB_PID.
wine_session_start() {
  local build=$1
  ensure_wine_template "$build/wine/template"
  norv_wine_env
  export WINEPREFIX="$build/wine/prefix-$$"
  rm -rf "$WINEPREFIX"
  cp -a "$build/wine/template" "$WINEPREFIX"
  export LOCPATH="$build/locales" LANG=en_US.UTF-8
  unset LC_ALL
  NORV_XVFB_PID=
  if [ -z "${WANT_DISPLAY:-}" ]; then
    start_xvfb "$build/wine"
  else
    export DISPLAY=$WANT_DISPLAY
  fi
  # The server first, so Wine's helpers do not inherit the callers' pipes.
  wineserver -p || die "wineserver -p failed for $WINEPREFIX"
  # Wine's own helpers (explorer, services) keep this standard error.
  wine cmd /c exit </dev/null >/dev/null 2>"$build/wine/helpers.log" ||
    die "wine cannot start a program in $WINEPREFIX (DISPLAY $DISPLAY); see $build/wine/helpers.log"
}

# Two (or $1) programs that keep a core busy each, until stop_busy_load;
# their PIDs in NORV_LOAD_PIDS.
NORV_LOAD_PIDS=()
start_busy_load() {
  local i
  for i in $(seq "${1:-2}"); do
    sha256sum /dev/zero >/dev/null 2>&1 &
    NORV_LOAD_PIDS+=($!)
  done
  log "under load: busy processes ${NORV_LOAD_PIDS[*]}"
}

stop_busy_load() {
  local pid
  for pid in "${NORV_LOAD_PIDS[@]}"; do
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  NORV_LOAD_PIDS=()
}

wine_session_stop() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k 2>/dev/null || true
    wineserver -w 2>/dev/null || true
    rm -rf "$WINEPREFIX"
  fi
  if [ -n "${NORV_XVFB_PID:-}" ]; then
    kill "$NORV_XVFB_PID" 2>/dev/null || true
    wait "$NORV_XVFB_PID" 2>/dev/null || true
  fi
}

# Why a build folder must be configured (again), or nothing. A failed
# configure leaves a cache without a Makefile; one made before Wine was
# installed has no test emulator and would run every test through sh.
configure_reason() {
  local build=$1 wine
  [ -f "$build/CMakeCache.txt" ] || { echo "not configured"; return 0; }
  [ -f "$build/Makefile" ] || { echo "its last configure failed"; return 0; }
  wine=$(sed -n 's/^WINE_PROGRAM:[A-Z]*=//p' "$build/CMakeCache.txt")
  case $wine in
    '' | *NOTFOUND) echo "configured without Wine"; return 0 ;;
  esac
  [ -x "$wine" ] || echo "configured with a Wine that is gone ($wine)"
}

configure_and_build() {
  local build=$1 why
  why=$(configure_reason "$build")
  if [ -n "$why" ]; then
    [ "$why" = "not configured" ] || log "configuring $build again: $why"
    cmake --preset mingw -S "$NORV_ROOT" -B "$build" -U WINE_PROGRAM >/dev/null ||
      die "cmake could not configure $build"
  fi
  cmake --build "$build" -j "$(nproc)" || die "the build failed in $build"
}
