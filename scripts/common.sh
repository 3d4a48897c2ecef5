# Shared set-up of ./run and ./test: installs the missing Debian packages, then configures and
# builds. Sourced, not run.

TS_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Compiler-cache hits across checkouts in other folders.
export CCACHE_BASEDIR="$TS_ROOT"

# Every name is one the release itself resolves to its own versions (Debian 12 and 13 alike):
# libclang-rt-dev comes from the same source as clang, so the sanitizer runtime is always the
# one of the clang installed with it (14 on Debian 12, 19 on Debian 13).
TS_PACKAGES=(
    build-essential cmake ninja-build pkg-config ccache clang-format
    qt6-base-dev libfluidsynth-dev librtmidi-dev libusb-1.0-0-dev libasound2-dev
    libcurl4-openssl-dev libpulse-dev libgtest-dev libgmock-dev libbenchmark-dev
    fonts-wqy-microhei pulseaudio pulseaudio-utils libasound2-plugins alsa-utils
    xdg-utils xvfb xdotool x11-utils imagemagick jackd2 sox procps
    qt6-wayland weston desktop-file-utils appstream dpkg-dev file
    clang libclang-rt-dev
    libpipewire-0.3-dev libsystemd-dev pipewire pipewire-bin pipewire-pulse wireplumber
    dbus-daemon dbus-bin
)

ts_log() { printf '\033[1m==> %s\033[0m\n' "$*"; }

ts_install_packages() {
    local missing=()
    local pkg
    for pkg in "${TS_PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' \
            || missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    ts_log "Installing missing packages: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -q
    # No recommends: the fluidsynth recommends would replace the small default SoundFont.
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
}

# ts_build <build-dir> [extra cmake args...]; TS_TARGETS limits what is built (default: all).
ts_build() {
    local dir="$1"
    shift
    ts_log "Configuring $dir"
    cmake -S "$TS_ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE="${TS_BUILD_TYPE:-RelWithDebInfo}" "$@"
    ts_log "Building $dir"
    local targets=()
    local target
    for target in ${TS_TARGETS:-}; do
        targets+=(--target "$target")
    done
    cmake --build "$dir" -j "$(nproc)" "${targets[@]}"
}
