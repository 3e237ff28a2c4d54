#!/bin/sh
# A USB CDC scanner on the real cdc_acm driver: the port list shows its USB identity from
# sysfs; check, info (two real re-enumerations) and a full update (two more) pass, with
# the module's image in the scanner.
. /scenario/lib.sh

gadget_up 1200341
usb_sim --serial 1200341 --restart-ms 800 --expect-ldr /scenario/fw.ldr

step "ports"
cli ports
expect_rc 0 "ports"
grep -qx "$(printf '/dev/ttyACM0\t0647\t3339\t1200341\t1-1')" /tmp/cli.out ||
    fail "no USB identity for ttyACM0"

step "check"
cli --port /dev/ttyACM0 check
expect_rc 0 "check"

step "info"
before=$(usb_arrivals)
cli --port /dev/ttyACM0 info
expect_rc 0 "info"
grep -q 1200341 /tmp/cli.out || fail "no serial number in the information"
[ "$(usb_arrivals)" -eq $((before + 2)) ] || fail "info did not re-enumerate twice"

step "update"
cli --port /dev/ttyACM0 --firmware /scenario/fw.ldr update
expect_rc 0 "update"
grep -qx 'Обновление прошивки: OK' /tmp/cli.out || fail "update row not OK"
grep -qx 'Переход в рабочий режим: OK' /tmp/cli.out || fail "working mode row not OK"
[ "$(usb_arrivals)" -eq $((before + 4)) ] || fail "update did not re-enumerate twice"
sleep 0.3
state_has "image match" || fail "the scanner does not hold the module's image"
state_has "mode application" || fail "the scanner is not in its application"
echo "acm_basics: all checks passed"
