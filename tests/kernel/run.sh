#!/usr/bin/env bash
# The kernel test bench: the Linux tool against real serial drivers (cdc_acm behind a USB
# gadget on dummy_hcd, ftdi_sio on QEMU's FTDI adapter, the 8250 driver on a 16550) in
# small QEMU guests, one per scenario, at most two at once.
#
# Arguments: the native build folder (trelvo-cli, trelvo-sim, ldr-make), then optionally
# scenario names (tests/kernel/scenarios/NAME.sh; default all). The guests' consoles go
# to BUILD/kernel-logs/NAME.log.
#
# A scenario is a guest shell script. Lines of its own that start with "# devices:" name
# what the guest needs from the host: "uart" (a 16550 on ttyS1 with trelvo-sim behind it
# on a host pty) and "ftdi" (an FTDI adapter on xHCI, ttyUSB0, with trelvo-sim behind it).
# The guest asks the host for things on its console: "@host: device_del ID" unplugs a
# device through the QEMU monitor; "@host: state SIM LINE" says the host simulator SIM
# must have LINE in its state file when the guest has ended. The guest's exit status is
# the scenario's result (QEMU ends with status * 2 + 1).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=$(cd "${1:?native build folder}" && pwd)
shift
scenarios=("$@")
if [ ${#scenarios[@]} -eq 0 ]; then
    for f in "$here"/scenarios/*.sh; do
        scenarios+=("$(basename "$f" .sh)")
    done
fi

guest_limit_s=150
max_guests=2
logs=$build/kernel-logs
mkdir -p "$logs"
work=$(mktemp -d)
cleanup() {
    local pid
    for pid in $(jobs -p); do
        kill "$pid" 2>/dev/null || true
    done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

eval "$("$here/setup.sh" "$build/../kernel")" || { echo "kernel bench: set-up failed" >&2; exit 1; }

# The programs and their shared libraries (the sanitizer runtimes too), and firmware
# files, as one archive that every guest gets after the base.
programs=$work/programs
mkdir -p "$programs/scenario/bin"
for program in trelvo-cli trelvo-sim; do
    cp "$build/$program" "$programs/scenario/bin/"
    ldd "$build/$program" | awk '$2 == "=>" && $3 ~ /^\// { print $3 } $1 ~ /^\// { print $1 }'
done | sort -u | while read -r lib; do
    mkdir -p "$programs$(dirname "$lib")"
    cp -L "$lib" "$programs$lib"
done
# /lib64 and /lib are links in Debian; the loader path a program names must resolve.
[ -e "$programs/lib64/ld-linux-x86-64.so.2" ] || {
    mkdir -p "$programs/lib64"
    cp -L /lib64/ld-linux-x86-64.so.2 "$programs/lib64/"
}
"$build/ldr-make" "$programs/scenario/fw.ldr" --random 0:1.0:0:256:1024:1 \
    --random 1:3.6:0x10000:256:16384:2 >/dev/null || { echo "ldr-make failed" >&2; exit 1; }
"$build/ldr-make" "$programs/scenario/big.ldr" --random 1:3.7:0x10000:256:1048576:3 \
    >/dev/null || { echo "ldr-make failed" >&2; exit 1; }
cp "$here/guest-lib.sh" "$programs/scenario/lib.sh"
(cd "$programs" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$work/programs.cpio"

# run_guest NAME: boots the scenario's guest and prints PASS or FAIL with its time.
run_guest() {
    local name=$1 script=$here/scenarios/$1.sh
    local dir=$work/$name log=$logs/$1.log
    mkdir -p "$dir/tree/scenario"
    cp "$script" "$dir/tree/scenario/run.sh"
    chmod +x "$dir/tree/scenario/run.sh"
    (cd "$dir/tree" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$dir/scenario.cpio"
    cat "$base_initramfs" "$work/programs.cpio" "$dir/scenario.cpio" >"$dir/initramfs"

    local devices sims=() qemu_args=() pid
    devices=$(sed -n 's/^# devices: *//p' "$script")
    for device in $devices; do
        "$build/trelvo-sim" --restart-ms 300 --serial 1200350 --state "$dir/$device.state" \
            --expect-ldr "$programs/scenario/fw.ldr" >"$dir/$device.out" 2>"$dir/$device.err" &
        sims+=($!)
        # The simulator prints its pty first; a loaded machine may take a while to start it.
        local tries=0
        until [ -s "$dir/$device.out" ] || [ $tries -ge 400 ]; do
            sleep 0.05
            tries=$((tries + 1))
        done
        local pty
        pty=$(head -n 1 "$dir/$device.out")
        [ -n "$pty" ] || { echo "FAIL $name: the $device simulator printed no pty"; return 1; }
        case $device in
        uart) qemu_args+=(-chardev "serial,id=uart,path=$pty" -serial chardev:uart) ;;
        ftdi) qemu_args+=(-device qemu-xhci,id=xhci -chardev "serial,id=ftdi,path=$pty"
                          -device usb-serial,id=ftdi0,chardev=ftdi,bus=xhci.0) ;;
        *) echo "FAIL $name: unknown device $device"; return 1 ;;
        esac
    done
    mkfifo "$dir/monitor.in" "$dir/monitor.out"

    local start=$SECONDS
    timeout "$guest_limit_s" qemu-system-x86_64 -accel tcg -m 512 -smp 1 -nodefaults \
        -display none -no-reboot -serial stdio "${qemu_args[@]}" \
        -chardev "pipe,id=monitor,path=$dir/monitor" -mon chardev=monitor,mode=readline \
        -device isa-debug-exit,iobase=0xf4,iosize=0x04 \
        -kernel "$kernel_image" -initrd "$dir/initramfs" \
        -append "console=ttyS0 quiet panic=-1" </dev/null >"$log" 2>&1 &
    pid=$!
    cat "$dir/monitor.out" >"$dir/monitor.log" &
    # The guest's requests, read from its console as it runs.
    tail -n +1 -F -s 0.1 --pid="$pid" "$log" 2>/dev/null | while read -r line; do
        line=${line%$'\r'}
        case $line in
        "@host: device_del "*) echo "device_del ${line#@host: device_del }" >"$dir/monitor.in" ;;
        "@host: monitor "*) echo "${line#@host: monitor }" >"$dir/monitor.in" ;;
        "@host: state "*) echo "${line#@host: state }" >>"$dir/state-checks" ;;
        esac
    done &
    local watcher=$!
    local status=0
    wait "$pid" || status=$?
    kill "$watcher" 2>/dev/null
    for pid in "${sims[@]}"; do
        kill "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    local seconds=$((SECONDS - start)) verdict=PASS why=""
    if [ "$status" -ne 1 ]; then
        verdict=FAIL
        why="guest status $(((status - 1) / 2)) (QEMU $status)"
        [ "$status" -eq 124 ] && why="no result within $guest_limit_s s"
    fi
    if [ -f "$dir/state-checks" ]; then
        local sim want
        while read -r sim want; do
            grep -qxF "$want" "$dir/$sim.state" 2>/dev/null ||
                { verdict=FAIL; why="$why; host simulator $sim lacks '$want'"; }
        done <"$dir/state-checks"
    fi
    echo "$verdict $name (${seconds} s)${why:+: $why}"
    if [ "$verdict" = FAIL ]; then
        grep -v '^\[' "$log" | tail -n 40 | sed "s/^/    $name| /"
        for f in "$dir"/*.err "$dir/monitor.log"; do
            [ -s "$f" ] && { echo "--- $(basename "$f")"; sed "s/^/    $name| /" "$f"; }
        done
        return 1
    fi
}

failed=0
running=0
for name in "${scenarios[@]}"; do
    [ -f "$here/scenarios/$name.sh" ] || { echo "FAIL $name: no such scenario"; failed=$((failed + 1)); continue; }
    if [ "$running" -ge "$max_guests" ]; then
        wait -n || failed=$((failed + 1))
        running=$((running - 1))
    fi
    run_guest "$name" &
    running=$((running + 1))
done
while [ "$running" -gt 0 ]; do
    wait -n || failed=$((failed + 1))
    running=$((running - 1))
done
passed=$((${#scenarios[@]} - failed))
echo "kernel: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
