#!/bin/busybox sh
# The first process of the virtual machine that scripts/i686-vm.sh starts, from the initramfs
# it packs: a static busybox, the kernel's modules for 9p and overlayfs, and the job's files
# in /vela. It shows the guest the host's own files: the host's root folder read-only under a
# layer in memory that takes the guest's writes, and the host's build folder read-write at its
# own path, so that every path in the build means the same file in the guest as on the host.
# Then it runs the job (as root, with the host's environment and working folder), sends its
# output to the second serial port, leaves its exit status in the run folder and powers off.
#   /vela/modules  modules to load, each after those it depends on
#   /vela/share    the host folder that is shared read-write (the build folder)
#   /vela/run      the run folder inside it: "booted" and "status" go there
#   /vela/host     the host's name, which Wine gives programs as the computer's name
#   /vela/job      the job: a bash script, run in the host's files
/bin/busybox --install -s /bin
export PATH=/bin
# The kernel's messages go to the first serial port, which the host keeps in a file; should
# anything here fail, the host shows its end.
fail() {
  echo "i686-vm-init: $*" >/dev/console
  poweroff -f
}

mkdir -p /proc /sys /dev /lower /layer /root
mount -t proc proc /proc && mount -t sysfs sysfs /sys && mount -t devtmpfs devtmpfs /dev || fail "cannot mount /proc, /sys, /dev"
for module in $(cat /vela/modules); do
  insmod "/lib/modules/$module.ko" || fail "cannot load module $module"
done

share=$(cat /vela/share) run=$(cat /vela/run)
# The page cache may keep the host's files (cache=loose): nobody changes them while the job
# runs. Large messages (msize) make reading the build's programs and Wine's DLLs faster.
p9='trans=virtio,version=9p2000.L,cache=loose,msize=512000'
mount -t 9p -o "ro,$p9" host /lower || fail "cannot mount the host's root folder"
# The layer holds all that the guest writes outside the shared folder, the Wine prefixes above
# all (1.3 GB each). /tmp is in it too, not a file system of its own that could hide the
# repository, should it lie below /tmp.
mount -t tmpfs -o mode=0755,size=90% layer /layer && mkdir /layer/upper /layer/work || fail "cannot make the writable layer"
mount -t overlay -o lowerdir=/lower,upperdir=/layer/upper,workdir=/layer/work root /root || fail "cannot mount the overlay"
mkdir -p "/root$share" && mount -t 9p -o "$p9" share "/root$share" || fail "cannot mount the shared folder $share"
mount -t proc proc /root/proc && mount -t sysfs sysfs /root/sys && mount -t devtmpfs devtmpfs /root/dev &&
  mkdir -p /root/dev/pts /root/dev/shm && mount -t devpts devpts /root/dev/pts && mount -t tmpfs shm /root/dev/shm ||
  fail "cannot mount the system folders"
hostname "$(cat /vela/host)"
ip link set lo up
mkdir -p /root/tmp && cp /vela/job /root/tmp/vela-job || fail "cannot copy the job"
touch "/root$run/booted" || fail "cannot write to the shared folder"

# A pipe, as CI gives one, so that no program takes its output for a terminal; the port
# passes the bytes as they are (no carriage returns added).
stty -F /dev/ttyS1 raw -echo
{
  chroot /root /bin/bash /tmp/vela-job </dev/null 2>&1
  echo $? >/status
} | cat >/dev/ttyS1
cp /status "/root$run/status"
sync
poweroff -f
