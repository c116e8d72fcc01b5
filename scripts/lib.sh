# Shared by the README's commands: packages, locales, the Wine prefix and the
# X server. Source it; every function is idempotent.

NORV_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

NORV_PACKAGES=(cmake make g++-mingw-w64-x86-64-posix mingw-w64-tools wine64 xvfb
               nlohmann-json3-dev googletest locales iproute2 util-linux
               fonts-wqy-microhei xdotool x11-apps x11-utils imagemagick)

log() { printf '== %s\n' "$*" >&2; }

ensure_packages() {
  local missing=() p
  for p in "${NORV_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  log "installing: ${missing[*]}"
  local sudo=()
  [ "$(id -u)" -eq 0 ] || sudo=(sudo)
  "${sudo[@]}" apt-get update -qq
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Locales of our own (no root needed): en_US, zh_CN, zh_TW give Wine the UI
# language ids 1033, 2052 and 1028.
ensure_locales() {
  local dir=$1 l
  mkdir -p "$dir"
  for l in en_US zh_CN zh_TW; do
    [ -d "$dir/$l.UTF-8" ] || localedef -i "$l" -f UTF-8 "$dir/$l.UTF-8" 2>/dev/null || true
  done
}

norv_wine_env() {
  export WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
}

# A booted prefix made once per build folder; each run works on a copy.
ensure_wine_template() {
  local tmpl=$1
  [ -f "$tmpl/.norv-ready" ] && return 0
  log "booting a Wine prefix template (once per build folder)"
  rm -rf "$tmpl" "$tmpl.tmp"
  mkdir -p "$(dirname "$tmpl")"
  (
    norv_wine_env
    unset DISPLAY
    export WINEPREFIX="$tmpl.tmp"
    wineboot -i >/dev/null 2>&1
    # Without a window manager, Managed windows stall every hide and destroy.
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1
    local f
    for f in "Microsoft YaHei" "Microsoft YaHei UI" "SimSun" "MS Shell Dlg"; do
      wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$f" /t REG_SZ /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
    done
    wineserver -w
  )
  mv "$tmpl.tmp" "$tmpl"
  touch "$tmpl/.norv-ready"
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
    local n=90
    while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    NORV_XVFB_PID=$!
    local i
    for i in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
    export DISPLAY=":$n"
  else
    export DISPLAY=$WANT_DISPLAY
  fi
  # The server first, so Wine's helpers do not inherit the callers' pipes.
  wineserver -p
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
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

configure_and_build() {
  local build=$1
  if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset mingw -S "$NORV_ROOT" -B "$build" >/dev/null
  fi
  cmake --build "$build" -j "$(nproc)"
}
