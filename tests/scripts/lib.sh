# Sourced by the whole-program checks (tests/scripts, tests/manual, tests/load,
# bench), which run from the source folder:
#   source "$(dirname "$0")/lib.sh"      (tests/scripts)
#   check_start SOLVANE [BUILD_DIR]
# Not a check itself: tests/CMakeLists.txt leaves it out.

# check_start SOLVANE [BUILD_DIR]: sets solvane, source_dir and work, a fresh
# folder (under BUILD_DIR where one is given, so that it lands on the build's
# disk), and with BUILD_DIR also build (absolute) and peer. At exit every
# process in pids gets stop_signal (TERM unless the check changes it), is
# waited for, and work is removed. Audio goes to SDL's dummy driver.
check_start() {
    solvane="$1"
    source_dir="$(pwd)"
    if [ -n "${2:-}" ]; then
        build="$(cd "$2" && pwd)"
        peer="$build/solvane-peer"
        work="$(mktemp -d "$build/$(basename "$0" .sh).XXXXXX")"
    else
        work="$(mktemp -d)"
    fi
    pids=()
    stop_signal=TERM
    trap check_cleanup EXIT
    export SDL_AUDIODRIVER=dummy
}

check_cleanup() {
    local pid
    for pid in "${pids[@]}"; do kill -s "$stop_signal" "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}

# private_home: the user's settings and stored voice stay out of the run, and
# what the run stores lands in work.
private_home() {
    export HOME="$work/home" XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/xdg"
}

# fresh_data DIR: a copy of the data folder without a stored voice, so that
# nothing the run stores lands in the source.
fresh_data() {
    cp -r "$source_dir/data" "$1"
    rm -f "$1/memory.wav"
}

# wait_for_line FILE PATTERN SECONDS: whether a line of FILE matches the grep
# PATTERN within SECONDS.
wait_for_line() {
    local deadline=$((SECONDS + $3))
    while [ "$SECONDS" -lt "$deadline" ]; do
        grep -q -- "$2" "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}

# wait_for_value FILE SED_SCRIPT SECONDS: prints what the sed -n SED_SCRIPT
# prints for the last matching line of FILE, as soon as there is one; fails
# after SECONDS without.
wait_for_value() {
    local deadline=$((SECONDS + $3)) value
    while [ "$SECONDS" -lt "$deadline" ]; do
        value="$(sed -n "$2" "$1" 2>/dev/null | tail -1)"
        if [ -n "$value" ]; then
            echo "$value"
            return 0
        fi
        sleep 0.05
    done
    return 1
}

# start_peer LOG ARGS...: solvane-peer with ARGS, its log in LOG; sets
# peer_pid, and peer_port once it listens (10 s at most, or the check fails).
start_peer() {
    local log="$1"
    shift
    "$peer" "$@" 2>"$log" &
    peer_pid=$!
    pids+=("$peer_pid")
    peer_port="$(wait_for_value "$log" 's/.*listening on TCP and UDP port \([0-9]*\).*/\1/p' 10)" \
        || { echo "solvane-peer did not start:"; cat "$log"; exit 1; }
}

# solid_bmp PATH SIZE B G R: a square 24-bit BMP of one colour.
solid_bmp() {
    python3 - "$@" <<'PY'
import struct, sys
path, size, bgr = sys.argv[1], int(sys.argv[2]), bytes(int(c) for c in sys.argv[3:6])
pixels = bgr * (size * size)
header = b'BM' + struct.pack('<IHHI', 54 + len(pixels), 0, 0, 54)
info = struct.pack('<IiiHHIIiiII', 40, size, size, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
open(path, 'wb').write(header + info + pixels)
PY
}

free_udp_port() {
    python3 -c 'import socket; s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_dump FILE: liblo's oscdump on a free loopback port (dump_port), its
# output in FILE, once it has heard a probe; sets dump_pid.
start_dump() {
    local file="$1"
    dump_port="$(free_udp_port)"
    oscdump -L "$dump_port" > "$file" 2>&1 &
    dump_pid=$!
    pids+=("$dump_pid")
    for _ in $(seq 100); do
        oscsend 127.0.0.1 "$dump_port" /probe 2>/dev/null || true
        grep -q "/probe" "$file" && return 0
        sleep 0.1
    done
    echo "oscdump did not start"; cat "$file"; exit 1
}
