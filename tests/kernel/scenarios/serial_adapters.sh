#!/bin/sh
# The two other drivers a scanner meets: a 16550 on the 8250 driver, which takes a speed
# above 115200 without an error and keeps its old one, and an FTDI adapter on ftdi_sio,
# with its latency timer and its removal. The scanners are simulators on the host.
# devices: uart ftdi
. /scenario/lib.sh

step "16550: speeds the driver cannot make"
for code in 9 7; do
    cli --port /dev/ttyS1 --speed 2 --timeout 500 set-speed "$code"
    expect_rc 1 "set-speed $code on a 16550"
    grep -q "COM-порт не поддерживает скорость" /tmp/cli.err || fail "set-speed $code: not the speed message"
    cli --port /dev/ttyS1 --speed 2 --timeout 500 check
    expect_rc 0 "the scanner still at 9600 after set-speed $code"
done

step "16550: update"
cli --port /dev/ttyS1 --speed 2 --firmware /scenario/fw.ldr --trace /tmp/trace update
expect_rc 0 "update over the 16550"
grep -q "/dev/ttyS1	\*	speed 115200" /tmp/trace || fail "the transfer did not run at 115200"
! grep -q "not taken" /tmp/trace || fail "a speed the 16550 cannot make was set"
echo "@host: state uart image match"

step "FTDI: latency timer"
modprobe xhci_pci && modprobe ftdi_sio || fail "FTDI modules did not load"
# xHCI and the adapter enumerate slowly when the host is loaded; QEMU's view of its USB
# devices goes to the monitor's log if the adapter never appears.
if ! wait_for 300 test -c /dev/ttyUSB0; then
    echo "@host: monitor info usb"
    sleep 1
    fail "no /dev/ttyUSB0"
fi
timer=/sys/class/tty/ttyUSB0/device/latency_timer
# QEMU's adapter starts at 0 ms; a real one comes up at 16, as it is set here.
echo 16 >"$timer"
[ "$(cat "$timer")" = 16 ] || fail "latency timer $(cat "$timer") before the run"
cli_start --port /dev/ttyUSB0 --speed 2 --firmware /scenario/big.ldr update
wait_for 300 grep -qs 'Выполнено' /tmp/cli.out || { cli_wait; fail "the transfer did not start"; }
during=$(cat "$timer")
kill -INT "$cli_pid"
cli_wait
expect_rc 130 "the update stopped with Ctrl+C"
[ "$during" = 1 ] || fail "latency timer $during during the run"
[ "$(cat "$timer")" = 16 ] || fail "latency timer $(cat "$timer") after the run"

step "FTDI: unplugged mid-transfer"
cli_start --port /dev/ttyUSB0 --speed 2 --firmware /scenario/big.ldr --trace /tmp/trace update
wait_for 300 grep -qs 'Выполнено' /tmp/cli.out || { cli_wait; fail "the transfer did not start"; }
echo "@host: device_del ftdi0"
pulled=$(date +%s)
cli_wait
took=$(($(date +%s) - pulled))
wait_for 50 test ! -e /dev/ttyUSB0 || fail "the adapter was not unplugged"
expect_rc 1 "an adapter unplugged mid-transfer"
[ "$took" -le 5 ] || fail "the unplugged adapter took $took s to report"
grep -qF "Сканер или адаптер отключён от порта /dev/ttyUSB0. Проверьте подключение и повторите." \
    /tmp/cli.err || fail "not the disconnect message"
echo "serial_adapters: all checks passed"
