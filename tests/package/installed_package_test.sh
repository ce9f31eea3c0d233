#!/usr/bin/env bash
# The Debian package, as a user gets it: built with cpack from this build tree, unpacked into a
# scratch root, every installed program and library resolving its libraries from the package
# itself (no LD_LIBRARY_PATH), lintian without errors, the driver library usable through its
# pkg-config file, and the installed RQ730Calib against the installed canhub and rq730sim until
# the X clipboard holds the simulated weight.
#   installed_package_test.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
pids=()
cleanup() {
  local pid
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

echo "== cpack"
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack"; }
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
deb="$work/out/rq730calib_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { ls "$work/out"; fail "no $deb"; }
depends=$(dpkg-deb -f "$deb" Depends)
echo "Depends: $depends"
[[ $depends == *libqt6widgets6* && $depends == *libc6* ]] || fail "dependencies not found by dpkg-shlibdeps"

echo "== lintian"
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian reports errors"

echo "== unpack"
root="$work/root"
dpkg-deb -x "$deb" "$root"
for program in RQ730Calib canhub rq730sim cotool canmonitor; do
  [ -x "$root/usr/bin/$program" ] || fail "$program not installed"
  "$root/usr/bin/$program" --version | grep -qx "$program $version" || fail "$program --version"
  "$root/usr/bin/$program" --help >/dev/null || fail "$program --help"
  [ -f "$root/usr/share/man/man1/$program.1.gz" ] || fail "no manual page for $program"
done
desktop-file-validate "$root/usr/share/applications/rq730calib.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml || fail "AppStream metainfo"
exec_line=$(sed -n 's/^Exec=\([^ ]*\).*/\1/p' "$root/usr/share/applications/rq730calib.desktop")
[ -x "$root/usr/bin/$exec_line" ] || fail "the desktop entry starts '$exec_line', which is not installed"
while IFS= read -r -d '' file; do
  file -b "$file" | grep -q '^ELF' || continue
  if env -u LD_LIBRARY_PATH ldd "$file" | grep 'not found'; then fail "$file: libraries not found"; fi
done < <(find "$root" -type f -print0)

echo "== pkg-config"
pc=$(find "$root" -name canopen32.pc)
[ -n "$pc" ] || fail "no canopen32.pc"
cat >"$work/probe.c" <<'C'
#include <stdio.h>
#include <string.h>
#include "canopen.h"
int main(void) {
  const char *text = kcoGetText(KCO_INIT_OK);
  if (text == NULL || strlen(text) == 0) return 1;
  printf("%s\n", text);
  return 0;
}
C
flags=$(PKG_CONFIG_PATH=$(dirname "$pc") PKG_CONFIG_SYSROOT_DIR=$root pkg-config --cflags --libs canopen32)
libdir=$(dirname "$(dirname "$pc")")  # canopen32.pc lies in LIBDIR/pkgconfig
echo "pkg-config: $flags"
cc -std=c99 -Wall -Werror "$work/probe.c" $flags -Wl,-rpath,"$libdir" -o "$work/probe"
"$work/probe" || fail "kcoGetText through the installed library"

echo "== installed program against the installed virtual bus and simulated module"
bin="$root/usr/bin"
"$bin/canhub" --listen 127.0.0.1:0 >"$work/canhub.log" 2>&1 &
pids+=($!)
port=""
for _ in $(seq 200); do
  port=$(sed -n 's/^listening on 127\.0\.0\.1:\([0-9]*\)$/\1/p' "$work/canhub.log")
  [ -n "$port" ] && break
  sleep 0.05
done
[ -n "$port" ] || { cat "$work/canhub.log"; fail "canhub did not start"; }
url="socketcand://127.0.0.1:$port/sim0"
"$bin/rq730sim" --channel "$url" --load 250 --warmup-ms 0 </dev/null >"$work/rq730sim.log" 2>&1 &
pids+=($!)
for _ in $(seq 200); do grep -q '^ready$' "$work/rq730sim.log" && break; sleep 0.05; done
grep -q '^ready$' "$work/rq730sim.log" || { cat "$work/rq730sim.log"; fail "rq730sim not ready"; }

# An X server of our own (the first free display, written to fd 3), so that the clipboard can be
# read from outside the program.
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
exec 3>&-
for _ in $(seq 200); do [ -s "$work/display" ] && break; sleep 0.05; done
[ -s "$work/display" ] || { cat "$work/xvfb.log"; fail "Xvfb did not start"; }
export DISPLAY=:$(head -n 1 "$work/display")

env -u LD_LIBRARY_PATH CANOPEN32_CHANNELS="9=$url" "$bin/RQ730Calib" >"$work/app.log" 2>&1 &
app=$!
pids+=("$app")
clip=""
for _ in $(seq 600); do
  clip=$(timeout 2 xclip -o -selection clipboard 2>/dev/null || true)
  [ "$clip" = 250 ] && break
  kill -0 "$app" 2>/dev/null || { cat "$work/app.log"; fail "RQ730Calib ended"; }
  sleep 0.1
done
[ "$clip" = 250 ] || { cat "$work/app.log"; fail "clipboard holds '$clip', not the weight 250"; }
echo "clipboard: $clip"
echo "PASS"
