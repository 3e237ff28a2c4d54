# Shared by the trelvo-cli end-to-end scripts (sourced, not run): simulators on
# pseudo-terminals, the tool run natively or under Wine on COM ports mapped to them, and
# the checks. The sourcing script sets nothing; it passes its three arguments:
# build folder, native build folder (trelvo-sim, ldr-make), platform (posix or win32).

set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/e2e_common.bash"

e2e_arguments "$@"
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
ldr_make=$native/ldr-make
work=$(mktemp -d)
sim_pids=()
com_links=()

cleanup() {
    local pid link
    for pid in "${sim_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
    done
    for pid in "${sim_pids[@]}"; do
        wait "$pid" 2>/dev/null || true
    done
    for link in "${com_links[@]}"; do
        rm -f "$link"
    done
    if [ "$platform" = win32 ]; then
        wineserver -k >/dev/null 2>&1 || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    for f in "$work"/cli.out "$work"/cli.err; do
        [ -f "$f" ] && { echo "--- $f" >&2; cat "$f" >&2; }
    done
    exit 1
}

if [ "$platform" = win32 ]; then
    # A prefix of its own: the script ends its Wine server, which must not take another
    # script's programs with it.
    use_wine_prefix "$build/e2e-prefix-$(basename "$0" .sh)"
    # One server for the whole script: the serial-port list lives in the volatile part
    # of the registry, which goes with the server.
    wineserver -p >/dev/null 2>&1
    cli_exe=$build/trelvo-cli.exe
else
    cli_exe=$build/trelvo-cli
fi
[ -x "$cli_exe" ] || fail "no $cli_exe"

# tool_path PATH: a file of the work folder as the tool names it (under Wine, on Z:).
tool_path() {
    if [ "$platform" = win32 ]; then echo "Z:$1"; else echo "$1"; fi
}

# port NAME: the name the tool opens the simulator NAME by.
declare -A port_names=()
port() {
    echo "${port_names[$1]}"
}

# expose NAME COMNUMBER: makes the link of simulator NAME a port of the tool (on win32
# the COM port COMNUMBER, listed in the registry like a real one).
expose() {
    local name=$1 number=$2
    if [ "$platform" = win32 ]; then
        ln -sfn "$work/$name" "$WINEPREFIX/dosdevices/com$number"
        com_links+=("$WINEPREFIX/dosdevices/com$number")
        wine reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "Sim$number" /d "COM$number" /f \
            >/dev/null 2>&1 || fail "cannot list COM$number"
        port_names[$name]=COM$number
    else
        port_names[$name]=$work/$name
    fi
}

# start_sim NAME COMNUMBER OPTIONS...: a simulator behind the link $work/NAME with its
# state in $work/NAME.state.
start_sim() {
    local name=$1 number=$2
    shift 2
    "$sim" --link "$work/$name" --state "$work/$name.state" "$@" \
        >"$work/$name.out" 2>"$work/$name.err" &
    sim_pids+=($!)
    wait_until 5 test -s "$work/$name.out" || fail "simulator $name printed no pty path"
    wait_until 5 test -s "$work/$name.state" || fail "simulator $name wrote no state"
    expose "$name" "$number"
}

# stop_sim NAME: ends the simulator started last under that name (its state is final).
stop_sim() {
    local pid=${sim_pids[-1]}
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    unset 'sim_pids[-1]'
}

# flash_sim NAME COMNUMBER SERIAL OPTIONS...: a scanner to update with $work/fw.ldr, which
# checks the image against it and dumps image_size bytes from image_address when it ends.
flash_sim() {
    local name=$1 number=$2 serial=$3
    shift 3
    start_sim "$name" "$number" --serial "$serial" --restart-ms 300 --expect-ldr "$work/fw.ldr" \
        --dump "$work/$name.dump" "$image_address" "$image_size" "$@"
}

state_has() {
    grep -qx "$2" "$work/$1.state"
}

# cli ARGS...: runs the tool with stdout in $work/cli.out and stderr in $work/cli.err
# (line ends made plain under Wine); the exit code in $rc.
cli() {
    cli_start "$@"
    cli_wait
}

# cli_start ARGS...: the same in the background, its process id in $cli_pid; cli_wait waits
# for it. A run that hangs is ended within the test's own time limit, so that the clean-up
# still runs; timeout passes a Ctrl+C on to the tool (the Wine launcher execs the program).
# --foreground: without it timeout sends a signal it gets to its whole process group as
# well, so the tool would see one Ctrl+C twice, and a second Ctrl+C before the first is
# taken ends the tool at once.
cli_start() {
    if [ "$platform" = win32 ]; then
        timeout --foreground 240 "$root/scripts/wine-run.sh" "$cli_exe" "$@" </dev/null >"$work/cli.raw" 2>"$work/cli.err.raw" &
    else
        timeout --foreground 240 "$cli_exe" "$@" </dev/null >"$work/cli.raw" 2>"$work/cli.err.raw" &
    fi
    cli_pid=$!
}

cli_wait() {
    rc=0
    wait "$cli_pid" || rc=$?
    tr -d '\r' <"$work/cli.raw" >"$work/cli.out"
    tr -d '\r' <"$work/cli.err.raw" >"$work/cli.err"
}

expect_rc() {
    [ "$rc" -eq "$1" ] || fail "exit code $rc, want $1 ($2)"
}

expect_out() {
    local got
    got=$(cat "$work/cli.out")
    [ "$got" = "$1" ] || fail "output '$got', want '$1' ($2)"
}

# check_trace FILE: every frame of a protocol trace decodes: times never go back, a frame
# starts with 02, its length byte matches its size, the checksum holds, the command name
# is the opcode's and a reply's status is its status byte. Only a reply that never came
# (no bytes, "no reply") may stand undecoded. Prints "<frames> <ports>" per port seen.
check_trace() {
    awk -F '\t' '
        function xor(a, b,   r, bit) {
            r = 0
            for (bit = 1; bit < 256; bit *= 2)
                if ((int(a / bit) % 2) != (int(b / bit) % 2)) r += bit
            return r
        }
        function bad(why) { printf "line %d: %s: %s\n", NR, why, $0; failed = 1; exit 1 }
        BEGIN {
            name[156] = "write-memory"; name[157] = "read-memory"; name[158] = "get-info"
            name[159] = "mode-register"; name[161] = "baud-rate"; name[162] = "unique-id"
        }
        /^#/ { next }
        {
            if ($1 !~ /^[0-9]+$/ || $1 + 0 < last) bad("time")
            last = $1 + 0
            if ($3 == "*") { events[$2]++; next }
            if ($3 != ">" && $3 != "<") bad("direction")
            if ($3 == "<" && $4 == "-" && $6 == "no reply") { next }
            n = length($4) / 2
            if (n != int(n) || n < 4) bad("size")
            for (i = 0; i < n; i++)
                b[i] = (index("0123456789abcdef", substr($4, 2 * i + 1, 1)) - 1) * 16 + \
                       index("0123456789abcdef", substr($4, 2 * i + 2, 1)) - 1
            len = b[1] == 0 ? 256 : b[1]
            if (b[0] != 2 || n != len + 3) bad("framing")
            sum = b[1]
            for (i = 2; i < n - 1; i++) sum = xor(sum, b[i])
            if (sum != b[n - 1]) bad("checksum")
            if (!(b[2] in name) || $5 != name[b[2]]) bad("command name")
            if ($3 == "<" && ($6 != "status=" b[3] || NF != 6)) bad("status")
            if ($3 == ">" && NF != 5) bad("fields")
            frames[$2]++
        }
        END {
            if (failed) exit 1
            for (p in frames) printf "%s %d %d\n", p, frames[p], events[p]
        }' "$1"
}
