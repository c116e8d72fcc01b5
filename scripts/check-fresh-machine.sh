#!/usr/bin/env bash
# The README's two commands on a fresh Debian machine: makes a minimal root of
# Debian 12 (bookworm, the default) or 13 (--suite trixie) with debootstrap
# from the mirror this machine's package sources name, clones
# the current commit into it, and in a chroot runs, as root, scripts/test.sh,
# scripts/read-crash.sh on the test's dump of a faulting client (lldb-19 removed
# first, so that the script installs it), and scripts/run.sh --headless, which
# must leave its screenshot.
# Prints the time of each phase. Needs root; downloads a whole system, so it
# is not part of CI.
#   scripts/check-fresh-machine.sh [--suite bookworm|trixie] [--root DIR] [--keep]
# DIR (default /var/tmp/norv-fresh-root) must not exist yet; it is removed at
# the end unless --keep. Logs and screenshots stay in DIR.out.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

root=/var/tmp/norv-fresh-root
keep=
suite=bookworm
while [ $# -gt 0 ]; do
  case $1 in
    --root) root=${2:?--root needs a folder}; shift 2 ;;
    --keep) keep=1; shift ;;
    --suite) suite=${2:?--suite needs bookworm or trixie}; shift 2 ;;
    *) echo "usage: $0 [--suite bookworm|trixie] [--root DIR] [--keep]" >&2; exit 2 ;;
  esac
done
case $suite in
  bookworm | trixie) ;;
  *) die "--suite: bookworm (Debian 12) or trixie (Debian 13), not $suite" ;;
esac
[ "$(id -u)" -eq 0 ] || die "run as root (debootstrap, mount and chroot need it)"
for p in debootstrap:debootstrap git:git chroot:coreutils unshare:util-linux; do
  command -v "${p%:*}" >/dev/null || die "missing on this machine: ${p%:*} (package ${p#*:})"
done
root=$(realpath -m "$root")
case $root in
  / | "$NORV_ROOT" | "$NORV_ROOT"/*) die "the root must lie outside the work tree: $root" ;;
esac
out=$root.out

# Mounts of our own that vanish with us, and a process namespace whose
# processes all end with us.
if [ -z "${NORV_FRESH_NS:-}" ]; then
  exec env NORV_FRESH_NS=1 unshare --mount --propagation private --pid --fork --mount-proc \
    --kill-child=TERM bash "$0" --suite "$suite" --root "$root" ${keep:+--keep}
fi

[ ! -e "$root" ] || [ -z "$(ls -A "$root")" ] ||
  die "$root already exists (left by --keep?): remove it or choose another --root"
rm -rf "$out"
mkdir -p "$root" "$out"

phase=
phase_times=()
phase_begin() {
  phase=$1
  phase_start=$SECONDS
  log "phase: $phase"
}
phase_end() {
  phase_times+=("$(printf '%5d s  %s' $((SECONDS - phase_start)) "$phase")")
  phase=
}

# Ends what still runs in the root (our own children, by PID), then unmounts
# everything below it, deepest first.
release_root() {
  local p pids=() m
  if [ -n "$step_pid" ]; then
    kill "$step_pid" 2>/dev/null || true
    wait "$step_pid" 2>/dev/null || true
  fi
  for p in /proc/[0-9]*; do
    [ "$(readlink "$p/root" 2>/dev/null)" = "$root" ] && pids+=("${p#/proc/}")
  done
  if [ ${#pids[@]} -gt 0 ]; then
    log "stopping what still runs in the root: ${pids[*]}"
    kill "${pids[@]}" 2>/dev/null || true
    sleep 2
    kill -KILL "${pids[@]}" 2>/dev/null || true
  fi
  while read -r m; do
    umount "$m" 2>/dev/null || umount -l "$m" || log "could not unmount $m"
  done < <(awk -v r="$root/" 'index($5, r) == 1 { print $5 }' /proc/self/mountinfo | sort -r)
}

finish() {
  local rc=$?
  trap - EXIT
  if [ -n "$phase" ]; then
    printf '== FAILED in phase "%s" (exit %s); logs in %s\n' "$phase" "$rc" "$out" >&2
    phase="$phase (failed)"
    phase_end
  fi
  release_root
  if [ -z "$keep" ]; then
    if awk -v r="$root/" 'index($5, r) == 1 { found = 1 } END { exit !found }' /proc/self/mountinfo; then
      log "something is still mounted below $root: not removing it"
    else
      rm -rf --one-file-system "$root"
    fi
  else
    log "kept the root: $root"
  fi
  if [ ${#phase_times[@]} -gt 0 ]; then
    echo "== times:"
    printf '   %s\n' "${phase_times[@]}"
    grep -h -E '^== (apt-get .* took|build took|tests took)' "$out"/*.log 2>/dev/null | sed 's/^== /   inside: /' || true
  fi
  exit "$rc"
}
trap finish EXIT
trap 'exit 130' INT TERM

# The mirrors that serve suite $1 to this machine, from its apt sources
# (one-line and deb822 forms).
host_mirror() {
  local f want=$1
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk -v want="$want" '$1 == "deb" {
           i = 2
           if ($2 ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
           if ($(i + 1) == want) print $i
         }' "$f"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v want="$want" 'BEGIN { RS = ""; FS = "\n" }
         { types = uris = suites = ""; enabled = "yes"
           for (j = 1; j <= NF; j++) {
             if ($j ~ /^#/ || $j !~ /:/) continue
             key = tolower(substr($j, 1, index($j, ":") - 1))
             val = substr($j, index($j, ":") + 1)
             gsub(/^[ \t]+|[ \t]+$/, "", val)
             if (key == "types") types = val
             else if (key == "uris") uris = val
             else if (key == "suites") suites = val
             else if (key == "enabled") enabled = tolower(val)
           }
           if (enabled != "no" && (" " types " ") ~ / deb / && index(" " suites " ", " " want " ")) {
             split(uris, u, " "); print u[1]
           } }' "$f"
  done
}

# What apt reads on this machine to find and trust packages: the sources,
# the keys they name, and the settings of how they are fetched. A release
# other than this machine's gets its own three sources from the same mirrors,
# trusted by the keys debootstrap installed.
copy_apt_sources() {
  local f key
  if [ "$suite" != "$host_suite" ]; then
    { echo "deb $mirror $suite main"
      echo "deb $mirror $suite-updates main"
      [ -z "$security" ] || echo "deb $security $suite-security main"
    } >"$root/etc/apt/sources.list"
    copy_apt_settings
    return 0
  fi
  rm -f "$root/etc/apt/sources.list"
  [ ! -f /etc/apt/sources.list ] || cp /etc/apt/sources.list "$root/etc/apt/"
  for f in /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    if [ -f "$f" ]; then cp "$f" "$root/etc/apt/sources.list.d/"; fi
  done
  for key in $(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources 2>/dev/null |
               grep -oiE 'signed-by[:=][[:space:]]*/[^] ,]+' | sed -E 's/^[^/]*//' | sort -u || true); do
    if [ ! -e "$root$key" ]; then
      mkdir -p "$root$(dirname "$key")"
      cp "$key" "$root$key"
    fi
  done
  [ ! -d /etc/apt/trusted.gpg.d ] || cp -a /etc/apt/trusted.gpg.d/. "$root/etc/apt/trusted.gpg.d/"
  copy_apt_settings
}

copy_apt_settings() {
  local f
  [ ! -f /etc/apt/apt.conf ] || cp /etc/apt/apt.conf "$root/etc/apt/"
  for f in /etc/apt/apt.conf.d/*; do
    if [ -f "$f" ] && grep -v '^[[:space:]]*\(//\|#\)' "$f" | grep -q 'Acquire'; then
      cp "$f" "$root/etc/apt/apt.conf.d/"
    fi
  done
  cp -L /etc/resolv.conf "$root/etc/resolv.conf"
  # Nothing installed in the chroot starts a service on this machine.
  printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d"
  chmod +x "$root/usr/sbin/policy-rc.d"
}

mount_root() {
  mount -t proc proc "$root/proc"
  mount -t sysfs sysfs "$root/sys"
  mount --bind /dev "$root/dev"
  mount --bind /dev/pts "$root/dev/pts"
  mount -t tmpfs -o mode=1777 tmpfs "$root/dev/shm"
  mount -t tmpfs -o mode=1777 tmpfs "$root/tmp"
}

# In the background, so that a signal to us is handled at once, not after
# the step.
step_pid=
step() {
  local rc=0
  "$@" &
  step_pid=$!
  wait "$step_pid" || rc=$?
  step_pid=
  return "$rc"
}

# A root shell on a fresh machine: no variables of ours.
in_root() {
  local logfile=$1
  shift
  step chroot "$root" /usr/bin/env -i HOME=/root TERM="${TERM:-dumb}" \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    bash -c 'cd /root/norvvpn && "$@"' bash "$@" </dev/null > >(tee "$out/$logfile") 2>&1
}

commit=$(git -C "$NORV_ROOT" rev-parse HEAD)
[ -z "$(git -C "$NORV_ROOT" status --porcelain --untracked-files=no)" ] ||
  log "the work tree has uncommitted changes; checking the commit $commit without them"

host_suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
[ -n "$host_suite" ] || die "this machine's release has no code name in /etc/os-release"
mirror=$(host_mirror "$host_suite" | sed -n 1p)
[ -n "$mirror" ] || die "no source for $host_suite in /etc/apt/sources.list or /etc/apt/sources.list.d"
security=$(host_mirror "$host_suite-security" | sed -n 1p)

phase_begin "debootstrap $suite from $mirror"
step debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$out/debootstrap.log" 2>&1 ||
  { tail -n 20 "$out/debootstrap.log" >&2; die "debootstrap failed"; }
log "the root holds Debian $(cat "$root/etc/debian_version")"
phase_end

phase_begin "apt sources and a clone of $commit"
copy_apt_sources
git clone --quiet --no-hardlinks "$NORV_ROOT" "$root/root/norvvpn"
git -C "$root/root/norvvpn" checkout --quiet --detach "$commit"
mount_root
phase_end

phase_begin "scripts/test.sh"
in_root test.log scripts/test.sh || die "scripts/test.sh failed in the fresh root"
phase_end

# The test's dump of a faulting client read as a maintainer would, with
# read-crash.sh installing its debugger itself.
phase_begin "scripts/read-crash.sh without lldb-19 installed"
in_root read-crash.log bash -c 'DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq lldb-19 >/dev/null &&
  scripts/read-crash.sh build/crash-dumps/fault.mdmp build/packages-test/symbols' ||
  die "scripts/read-crash.sh failed in the fresh root"
grep -q 'PickToolMode.*client/shell/tool_modes.cpp' "$out/read-crash.log" ||
  die "read-crash.sh did not name PickToolMode in client/shell/tool_modes.cpp (see $out/read-crash.log)"
phase_end

phase_begin "scripts/run.sh --headless"
in_root run.log scripts/run.sh --headless || die "scripts/run.sh --headless failed in the fresh root"
for shot in screenshot connected; do
  shot=$root/root/norvvpn/build/run/$shot.png
  [ "$(head -c 4 "$shot" 2>/dev/null | od -An -tx1 | tr -d ' \n')" = 89504e47 ] ||
    die "no PNG screenshot at $shot"
  cp "$shot" "$out/"
done
[ ! -f "${shot%/*}/menu.png" ] || cp "${shot%/*}/menu.png" "$out/"
phase_end

log "the fresh machine passed: scripts/test.sh, scripts/read-crash.sh and scripts/run.sh --headless (screenshots in $out)"
