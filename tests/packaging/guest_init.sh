#!/bin/busybox sh
# The guest's first program: loads the drivers for its disk (virtio) and
# file system (ext4), mounts the disk, which holds the Debian root, and
# hands over to that root's systemd.
b=/bin/busybox
$b mount -t proc proc /proc
$b mount -t sysfs sysfs /sys
$b mount -t devtmpfs devtmpfs /dev
for m in $($b cat /modules/order); do $b insmod /modules/$m.ko || echo "insmod $m failed"; done
n=0
while [ ! -b /dev/vda ] && [ $n -lt 300 ]; do $b sleep 0.1; n=$((n + 1)); done
$b mkdir -p /root
$b mount -t ext4 -o rw /dev/vda /root || { echo "guest: the root disk does not mount"; $b poweroff -f; }
$b umount /proc /sys /dev
exec $b switch_root /root /lib/systemd/systemd "$@"
