#!/bin/sh
# What only a real USB removal shows: the scanner back from its restart as ttyACM1 while
# something still holds the old ttyACM0 (followed by its USB identity), and the scanner
# pulled mid-transfer (the port's own disconnect message, within seconds).
. /scenario/lib.sh

gadget_up 1200342

step "renamed node"
usb_sim --serial 1200342 --restart-ms 800 --expect-ldr /scenario/fw.ldr
# Another program keeps the old node open; the kernel cannot reuse its minor number.
stty -F /dev/ttyACM0 clocal
sleep 1000 </dev/ttyACM0 &
holder=$!
cli --port /dev/ttyACM0 --firmware /scenario/fw.ldr --trace /tmp/trace update
expect_rc 0 "update of a scanner that came back as ttyACM1"
grep -qx 'Переход в рабочий режим: OK' /tmp/cli.out || fail "working mode row not OK"
grep -q "/dev/ttyACM1	\*	open" /tmp/trace || fail "the run never opened ttyACM1"
sleep 0.3
state_has "image match" || fail "the scanner does not hold the module's image"
state_has "mode application" || fail "the scanner is not in its application"
kill "$holder"
wait "$holder"
# Off the bus and on again: with nothing held, the scanner is ttyACM0 once more.
stop_sim

step "pulled mid-transfer"
usb_sim --serial 1200342 --restart-ms 800
cli_start --port /dev/ttyACM0 --firmware /scenario/big.ldr --trace /tmp/trace update
wait_for 300 grep -qs 'Выполнено' /tmp/cli.out || fail "the transfer did not start"
echo "" >"$gadget/UDC"
pulled=$(date +%s)
cli_wait
took=$(($(date +%s) - pulled))
expect_rc 1 "a scanner pulled mid-transfer"
[ "$took" -le 5 ] || fail "the pulled scanner took $took s to report"
grep -qF "Сканер или адаптер отключён от порта /dev/ttyACM0. Проверьте подключение и повторите." \
    /tmp/cli.err || fail "not the disconnect message"
echo "acm_faults: all checks passed"
