# Shared set-up of ./run and ./test: installs the missing Debian packages, then configures and
# builds. Sourced, not run.

TS_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
# Compiler-cache hits across checkouts in other folders.
export CCACHE_BASEDIR="$TS_ROOT"

# The same list serves Debian 12 and 13. Every plain name is one that each release resolves
# to its own versions: libclang-rt-dev comes from the same source as clang, so the sanitizer
# runtime is always that of the clang installed with it (14 on Debian 12, 19 on Debian 13).
# An entry "a|b" is the first of its names that the release offers: jack_wait and the other
# JACK example clients came with jackd2 up to Debian 12 and are jack-example-tools since.
TS_PACKAGES=(
    build-essential cmake ninja-build pkg-config ccache clang-format
    qt6-base-dev libfluidsynth-dev librtmidi-dev libusb-1.0-0-dev libasound2-dev
    libcurl4-openssl-dev libpulse-dev libgtest-dev libgmock-dev libbenchmark-dev
    fonts-wqy-microhei pulseaudio pulseaudio-utils libasound2-plugins alsa-utils
    xdg-utils xvfb xdotool x11-utils imagemagick jackd2 'jack-example-tools|jackd2' sox procps
    qt6-wayland weston desktop-file-utils appstream dpkg-dev file
    clang libclang-rt-dev
    libpipewire-0.3-dev libsystemd-dev pipewire pipewire-bin pipewire-pulse wireplumber
    dbus-daemon dbus-bin
)

ts_log() { printf '\033[1m==> %s\033[0m\n' "$*"; }

# Prints the first name of an entry ("a|b", or a single name) that apt's package lists know;
# prints nothing while they know none of them (no lists fetched yet, as in a fresh container).
ts_offered_package() {
    local name
    for name in ${1//|/ }; do
        if apt-cache show --no-all-versions "$name" 2>/dev/null | grep -q '^Package:'; then
            echo "$name"
            return 0
        fi
    done
}

# Sets ts_missing to the packages of TS_PACKAGES that are not installed, each once (an "a|b"
# may resolve to a name listed on its own too); an entry none of whose names apt knows stays
# as it is written, missing.
ts_find_missing_packages() {
    ts_missing=()
    local entry pkg
    for entry in "${TS_PACKAGES[@]}"; do
        pkg="$entry"
        [[ "$entry" == *"|"* ]] && pkg="$(ts_offered_package "$entry")"
        [ -z "$pkg" ] && pkg="$entry"
        [[ " ${ts_missing[*]} " == *" $pkg "* ]] && continue
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' \
            || ts_missing+=("$pkg")
    done
}

ts_install_packages() {
    local ts_missing
    ts_find_missing_packages
    [ ${#ts_missing[@]} -eq 0 ] && return 0
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    ts_log "Updating the package lists for: ${ts_missing[*]}"
    $sudo apt-get update -q
    # With fresh lists each "a|b" resolves to the name this release offers.
    ts_find_missing_packages
    local pkg
    for pkg in "${ts_missing[@]}"; do
        if [[ "$pkg" == *"|"* ]]; then
            echo "None of ${pkg//|/, } is offered by this system's package sources" >&2
            return 1
        fi
    done
    [ ${#ts_missing[@]} -eq 0 ] && return 0
    ts_log "Installing missing packages: ${ts_missing[*]}"
    # No recommends: the fluidsynth recommends would replace the small default SoundFont.
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends \
        "${ts_missing[@]}"
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
