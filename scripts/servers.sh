# Starts and stops, by PID, the real servers the tests use: PulseAudio with a null sink, a
# virtual X display, a JACK server with the dummy driver and, where installed, a PipeWire
# server with a null sink. Sourced by ./test.

TS_RUNTIME="${TS_RUNTIME:-$(mktemp -d /tmp/tunestead-test.XXXXXX)}"
TS_PIDS=()

ts_start_pulseaudio() {
    export PULSE_RUNTIME_PATH="$TS_RUNTIME/pulse"
    mkdir -p "$PULSE_RUNTIME_PATH"
    pulseaudio -n --daemonize=yes --exit-idle-time=-1 --system=false \
        --log-target="file:$PULSE_RUNTIME_PATH/log" \
        -L "module-null-sink sink_name=nullsink rate=48000 channels=2" \
        -L module-native-protocol-unix -L module-always-sink >/dev/null 2>&1 || true
    export PULSE_SERVER="unix:$PULSE_RUNTIME_PATH/native"
    local i
    for i in $(seq 50); do
        pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    if ! pactl info >/dev/null 2>&1; then
        echo "PulseAudio did not start; see $PULSE_RUNTIME_PATH/log" >&2
        return 1
    fi
    pactl set-default-sink nullsink
    TS_PIDS+=("$(cat "$PULSE_RUNTIME_PATH/pid")")
}

ts_start_xvfb() {
    # Xvfb picks a free display number itself and writes it to fd 3: one without a lock file in
    # this /tmp may still be taken in the abstract socket namespace by a server of another root
    # (a chroot or a container that shares the host's network).
    local number_file="$TS_RUNTIME/xvfb.display"
    : >"$number_file"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number_file" \
        >"$TS_RUNTIME/xvfb.log" 2>&1 &
    TS_PIDS+=("$!")
    local i display
    for i in $(seq 50); do
        display="$(head -n 1 "$number_file")"
        if [ -n "$display" ] && [ -e "/tmp/.X11-unix/X$display" ]; then
            export TS_XVFB_DISPLAY=":$display"
            return 0
        fi
        sleep 0.1
    done
    echo "Xvfb did not start; see $TS_RUNTIME/xvfb.log" >&2
    return 1
}

# A JACK server of its own: named after this run's runtime folder (JACK_DEFAULT_SERVER), so
# that it never meets another checkout's server, and stopped by its PID.
ts_start_jack() {
    # A JACK server that died without shutting down leaves its entry in the shared registry in
    # /dev/shm, and a few of those keep any new server from starting ("Too many servers
    # already active"). With no server running at all, every entry there is stale.
    if ! pgrep -x jackd >/dev/null 2>&1; then
        rm -rf /dev/shm/jack-* /dev/shm/jack_* 2>/dev/null || true
    fi
    export JACK_DEFAULT_SERVER="ts-$(basename "$TS_RUNTIME")"
    # Clients must never start a server of their own.
    export JACK_NO_START_SERVER=1
    # Synchronous (-S): each cycle's graph runs to its end before the next starts. In the
    # default asynchronous mode a client that is late for a cycle (as on a loaded machine or
    # under a sanitizer) lets its readers take the port buffer of its previous cycle once more,
    # and the tests that check order and loss would see that instead of what was sent.
    jackd -n "$JACK_DEFAULT_SERVER" -S --no-realtime -d dummy -r 48000 -p 256 \
        >"$TS_RUNTIME/jackd.log" 2>&1 &
    TS_PIDS+=("$!")
    if ! jack_wait -s "$JACK_DEFAULT_SERVER" -w -t 5 >/dev/null 2>&1; then
        echo "jackd did not start; see $TS_RUNTIME/jackd.log" >&2
        return 1
    fi
}

# A PipeWire server of its own (pipewire, wireplumber, pipewire-pulse on a private session
# bus) with a null sink as default. It changes nothing in this shell's environment, so the
# PulseAudio server stays the one the other tests meet: run a command against it with
# `ts_with_pipewire CMD...`. TS_PIPEWIRE_PIDS lists the server's processes (for CPU figures).
ts_start_pipewire() {
    command -v pipewire >/dev/null 2>&1 && command -v pipewire-pulse >/dev/null 2>&1 \
        && command -v wireplumber >/dev/null 2>&1 && command -v dbus-daemon >/dev/null 2>&1 \
        || { echo "PipeWire is not installed" >&2; return 1; }
    TS_PIPEWIRE_RUNTIME="$TS_RUNTIME/pipewire"
    mkdir -p "$TS_PIPEWIRE_RUNTIME"
    chmod 0700 "$TS_PIPEWIRE_RUNTIME"
    local bus
    bus=$(dbus-daemon --session --fork --print-address=1 --print-pid=1 \
        --address="unix:path=$TS_PIPEWIRE_RUNTIME/bus") || return 1
    TS_PIDS+=("$(echo "$bus" | sed -n 2p)")
    # pipewire-pulse makes its socket under PULSE_RUNTIME_PATH when that is set.
    local env=(XDG_RUNTIME_DIR="$TS_PIPEWIRE_RUNTIME" PIPEWIRE_RUNTIME_DIR="$TS_PIPEWIRE_RUNTIME"
        DBUS_SESSION_BUS_ADDRESS="$(echo "$bus" | sed -n 1p)"
        PULSE_RUNTIME_PATH="$TS_PIPEWIRE_RUNTIME/pulse" PULSE_SERVER=)
    env "${env[@]}" pipewire >"$TS_PIPEWIRE_RUNTIME/pipewire.log" 2>&1 &
    TS_PIDS+=("$!")
    local pids="$!"
    local i
    for i in $(seq 50); do
        [ -S "$TS_PIPEWIRE_RUNTIME/pipewire-0" ] && break
        sleep 0.1
    done
    env "${env[@]}" wireplumber >"$TS_PIPEWIRE_RUNTIME/wireplumber.log" 2>&1 &
    TS_PIDS+=("$!")
    env "${env[@]}" pipewire-pulse >"$TS_PIPEWIRE_RUNTIME/pipewire-pulse.log" 2>&1 &
    TS_PIDS+=("$!")
    pids="$pids,$!"
    TS_PIPEWIRE_PIDS="$pids"
    TS_PIPEWIRE_ENV=("${env[@]}" PULSE_SERVER="unix:$TS_PIPEWIRE_RUNTIME/pulse/native")
    for i in $(seq 50); do
        ts_with_pipewire pactl info >/dev/null 2>&1 && break
        sleep 0.1
    done
    if ! ts_with_pipewire pactl info >/dev/null 2>&1; then
        echo "PipeWire did not start; see $TS_PIPEWIRE_RUNTIME/*.log" >&2
        return 1
    fi
    ts_with_pipewire pactl load-module module-null-sink sink_name=nullsink \
        rate=48000 channels=2 >/dev/null
    for i in $(seq 50); do
        ts_with_pipewire pactl list short sinks 2>/dev/null | grep -q nullsink && break
        sleep 0.1
    done
    ts_with_pipewire pactl set-default-sink nullsink
}

ts_with_pipewire() {
    env "${TS_PIPEWIRE_ENV[@]}" "$@"
}

ts_stop_servers() {
    local pid
    for pid in "${TS_PIDS[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${TS_PIDS[@]}"; do
        for _ in $(seq 30); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
    done
    TS_PIDS=()
    rm -rf "$TS_RUNTIME"
}
