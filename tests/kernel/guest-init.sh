#!/bin/sh
# The guest's /init: mounts the kernel's file systems, runs the scenario that the
# second initramfs brought (/scenario/run.sh, with its programs in /scenario), and hands
# its exit status to QEMU through the isa-debug-exit port, which ends the machine.
export PATH=/bin:/sbin:/scenario/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts && mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /tmp
modprobe configfs 2>/dev/null
mount -t configfs configfs /sys/kernel/config 2>/dev/null

status=99
if [ -x /scenario/run.sh ]; then
    cd /scenario
    /scenario/run.sh
    status=$?
fi
echo "guest: scenario ended with status $status"
# QEMU exits with (status << 1) | 1; a status above 127 would not fit.
[ "$status" -le 127 ] || status=127
printf "$(printf '\\%03o' "$status")" | dd of=/dev/port bs=1 seek=244 count=1 2>/dev/null
# Should the port not end the machine, a power-off still does (with -no-reboot).
poweroff -f
