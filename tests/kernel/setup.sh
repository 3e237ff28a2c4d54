#!/usr/bin/env bash
# Prepares the test bench's virtual machine in OUT (default build/kernel): installs QEMU,
# busybox and the module tools when missing, fetches the distribution's current kernel
# package (the version named by linux-image-amd64, never hard-coded), extracts only the
# kernel and the modules the scenarios load, unpacks the kernel for a fast boot, and
# builds the base initramfs. A second run with the same kernel version does nothing.
#
# Prints the folder's contents as NAME=PATH lines for the runner to source.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
out=${1:-$root/build/kernel}
mkdir -p "$out"
out=$(cd "$out" && pwd)

"$root/scripts/bootstrap.sh" qemu-system-x86 busybox-static kmod cpio xz-utils >&2

# The modules the guests load, and what they depend on (depmod resolves the order).
modules=(
    kernel/drivers/usb/core kernel/drivers/usb/common kernel/drivers/usb/gadget/udc/dummy_hcd.ko
    kernel/drivers/usb/gadget/udc/udc-core.ko kernel/drivers/usb/gadget/libcomposite.ko
    kernel/drivers/usb/gadget/function/usb_f_acm.ko kernel/drivers/usb/gadget/function/u_serial.ko
    kernel/drivers/usb/class/cdc-acm.ko kernel/drivers/usb/host/xhci-pci.ko
    kernel/drivers/usb/host/xhci-hcd.ko kernel/drivers/usb/serial/usbserial.ko
    kernel/drivers/usb/serial/ftdi_sio.ko kernel/fs/configfs
)

package=$(apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9].*-amd64\)$/\1/p' | head -n 1)
if [ -z "$package" ]; then
    apt-get update -qq >&2
    package=$(apt-cache depends linux-image-amd64 |
        sed -n 's/^ *Depends: \(linux-image-[0-9].*-amd64\)$/\1/p' | head -n 1)
fi
[ -n "$package" ] || { echo "setup: no kernel package named by linux-image-amd64" >&2; exit 1; }
version=${package#linux-image-}

if [ ! -f "$out/$version/ready" ]; then
    echo "setup: fetching $package" >&2
    rm -rf "$out/$version" "$out"/*.deb
    mkdir -p "$out/$version/root"
    (cd "$out" && apt-get download -q "$package" >&2)
    deb=$(ls "$out"/"$package"_*.deb | head -n 1)
    patterns=("./boot/vmlinuz-$version" "./lib/modules/$version/modules.*")
    for m in "${modules[@]}"; do
        patterns+=("./lib/modules/$version/$m*")
    done
    dpkg-deb --fsys-tarfile "$deb" |
        tar -x -C "$out/$version/root" --wildcards "${patterns[@]}"
    rm -f "$deb"
    depmod -b "$out/$version/root" "$version"

    # The compressed kernel is an xz stream behind a boot stub; booting it unpacked
    # saves some seconds of emulated decompression per guest.
    vmlinuz=$out/$version/root/boot/vmlinuz-$version
    offset=$(LC_ALL=C grep -obUaP '\xfd7zXZ\x00' "$vmlinuz" | head -n 1 | cut -d: -f1)
    [ -n "$offset" ] || { echo "setup: no xz stream in $vmlinuz" >&2; exit 1; }
    tail -c +$((offset + 1)) "$vmlinuz" | xz -dc >"$out/$version/vmlinux" 2>/dev/null || true
    [ -s "$out/$version/vmlinux" ] || { echo "setup: kernel did not unpack" >&2; exit 1; }
    touch "$out/$version/ready"
fi

# The base initramfs: busybox, the modules and the guest's /init. Rebuilt when /init
# changes, which costs a second.
base=$out/$version/base.cpio
if [ ! -f "$base" ] || [ "$here/guest-init.sh" -nt "$base" ]; then
    tree=$(mktemp -d)
    trap 'rm -rf "$tree"' EXIT
    mkdir -p "$tree"/{bin,sbin,dev,proc,sys,tmp,run,lib/modules}
    cp /bin/busybox "$tree/bin/busybox"
    for applet in $("$tree/bin/busybox" --list); do
        [ -e "$tree/bin/$applet" ] || ln -s busybox "$tree/bin/$applet"
    done
    cp -a "$out/$version/root/lib/modules/$version" "$tree/lib/modules/"
    cp "$here/guest-init.sh" "$tree/init"
    chmod +x "$tree/init"
    (cd "$tree" && find . | LC_ALL=C sort | cpio -o -H newc --quiet) >"$base.tmp"
    mv "$base.tmp" "$base"
fi

echo "kernel_version=$version"
echo "kernel_image=$out/$version/vmlinux"
echo "base_initramfs=$base"
