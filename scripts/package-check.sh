#!/usr/bin/env bash
# Builds the Debian package from a finished build and checks it as a user's machine meets it:
# its files unpacked into a scratch root, its metadata validated, its dependencies resolved by
# apt without installing anything, and the unpacked player started from its installed path
# (under X11: the window appears and a click sounds; under Wayland when weston is at hand).
#   scripts/package-check.sh BUILD_DIR E2E_TEST_BINARY
# Needs ./test's Xvfb and PulseAudio (TS_XVFB_DISPLAY, PULSE_SERVER).
set -euo pipefail
build="$1"
e2e="$2"
work="$(mktemp -d /tmp/tunestead-package.XXXXXX)"
weston_pid=""
cleanup() {
    [ -n "$weston_pid" ] && kill "$weston_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

step() { printf '== %s\n' "$*"; }

step "cpack -G DEB"
(cd "$build" && cpack -G DEB -B "$work/out" >"$work/cpack.log" 2>&1) || { cat "$work/cpack.log"; exit 1; }
deb="$(ls "$work"/out/tunestead_*.deb)"
printf 'package %s, %s bytes\n' "$(basename "$deb")" "$(stat -c %s "$deb")"
dpkg-deb -f "$deb" Installed-Size Depends Recommends

step "unpacked into a scratch root"
dpkg -x "$deb" "$work/root"
dpkg-deb -e "$deb" "$work/control"
root="$work/root"
for file in usr/bin/tunestead usr/bin/tunestead-keybed usr/bin/tunestead-song \
    usr/share/applications/tunestead.desktop \
    usr/share/metainfo/io.example.tunestead.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/tunestead.svg \
    usr/share/icons/hicolor/48x48/apps/tunestead.png \
    usr/share/icons/hicolor/256x256/apps/tunestead.png \
    usr/lib/udev/rules.d/60-tunestead-keybed.rules \
    usr/share/man/man1/tunestead.1 usr/share/man/man1/tunestead-keybed.1 \
    usr/share/man/man1/tunestead-song.1; do
    [ -e "$root/$file" ] || { echo "missing from the package: /$file" >&2; exit 1; }
done
for script in postinst postrm; do
    grep -q "udevadm control --reload-rules" "$work/control/$script" \
        || { echo "$script does not reload the udev rules" >&2; exit 1; }
done
grep -q "^libfluidsynth3" <(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//') \
    || { echo "the computed dependencies miss libfluidsynth3" >&2; exit 1; }

step "desktop-file-validate, appstreamcli validate"
desktop-file-validate "$root/usr/share/applications/tunestead.desktop"
appstreamcli validate --no-net "$root/usr/share/metainfo/io.example.tunestead.metainfo.xml"

step "dependencies resolved by apt (simulated install)"
apt-get install --simulate --no-install-recommends "$deb" >"$work/apt.log" 2>&1 \
    || { cat "$work/apt.log"; exit 1; }

step "the installed player under X11: window, click, sound"
TS_PLAYER_BINARY="$root/usr/bin/tunestead" "$e2e" \
    --gtest_filter='PianoE2ETest.MousePlaysKeysAtTheirPitchAndCloseExitsZero'

if command -v weston >/dev/null 2>&1; then
    step "the installed player under Wayland (weston, headless)"
    export XDG_RUNTIME_DIR="$work/xdg"
    mkdir -m 700 "$XDG_RUNTIME_DIR"
    weston --backend=headless-backend.so --socket=wayland-ts --idle-time=0 \
        >"$work/weston.log" 2>&1 &
    weston_pid=$!
    for _ in $(seq 50); do [ -S "$XDG_RUNTIME_DIR/wayland-ts" ] && break; sleep 0.1; done
    # The window's title as the compositor receives it shows the window was made.
    env -u DISPLAY WAYLAND_DISPLAY=wayland-ts QT_QPA_PLATFORM=wayland WAYLAND_DEBUG=client \
        timeout 6 "$root/usr/bin/tunestead" >"$work/wayland.log" 2>&1 || true
    grep -a -q 'set_title("键乐坊 -- 未插设备")' "$work/wayland.log" \
        || { tail -20 "$work/wayland.log"; echo "no window on Wayland" >&2; exit 1; }
    echo "window titled on Wayland"
fi
echo "package check passed"
