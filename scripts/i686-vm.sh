#!/usr/bin/env bash
# The i686 tests where this machine's kernel runs no 32-bit code: in a virtual machine whose
# kernel does. Wine's WoW64 mode needs the kernel's IA32 emulation (cmake/Windows.cmake), and
# some kernels here are built without it or booted with it off. The machine is Debian's
# qemu-system-x86_64 with Debian's kernel (linux-image-amd64, fetched and unpacked into the
# cache that scripts/wine-i386.sh uses, never installed nor booted on the host) and an
# initramfs of our own (scripts/i686-vm-init.sh): the guest sees the host's root folder
# read-only under a writable layer in memory, and the repository's build folder read-write,
# so that it runs the host's own programs on the host's own build. It has no network.
# Usage: i686-vm.sh needed     exit status 0 where the i686 tests must run in the VM: this
#                              kernel runs no 32-bit code, or VELA_I686_IN_VM=1 asks for it
#        i686-vm.sh fetch      fetches the kernel and busybox once (qemu is setup.sh's)
#        i686-vm.sh run CMD... runs CMD in the VM, in the current folder, with this
#                              environment; its output comes here as it is written, and its
#                              exit status is this script's. A VM that does not boot, or does
#                              not finish within VELA_VM_TIMEOUT seconds, fails the run.
# Software emulation (TCG) always works; KVM is used where a short boot shows that it does.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build="$(dirname "$here")/build" # shared read-write with the guest
runs="$build/i686-vm" # a folder for each run, and the answer of the KVM check
cache="${XDG_CACHE_HOME:-$HOME/.cache}/veladcomclient"
# What the initramfs loads: virtio's PCI transport, 9p over it, and overlayfs; fetch adds
# what these depend on. The cache's folder is named after the list, so a change fetches anew.
modules=(virtio_pci 9pnet_virtio 9p overlay)
layout="vm-$(echo "${modules[*]}" | cksum | cut -d' ' -f1)"
memory=${VELA_VM_MEMORY:-8G}  # Wine prefixes live in the guest's memory: 1.3 GB each
limit=${VELA_VM_TIMEOUT:-2400} # the whole run, in seconds: test.sh's takes about 7 min under TCG
boot_limit=120                # until the job starts
kvm_limit=20                  # the boot check, which ends in about 5 s even under TCG

fail() {
  echo "i686-vm: $*" >&2
  exit 1
}

probe() { # exit status 0 where this kernel runs 32-bit code
  local dir status=0
  dir=$(mktemp -d)
  as --32 -o "$dir/probe.o" "$here/../cmake/ia32-probe.s" && ld -m elf_i386 -o "$dir/probe" "$dir/probe.o" || status=2
  [ $status = 0 ] && { "$dir/probe" 2>/dev/null || status=1; }
  rm -rf "$dir"
  [ $status != 2 ] || fail "cannot build ia32-probe (as and ld come with binutils)"
  return $status
}

needed() {
  [ "${VELA_I686_IN_VM:-}" = 1 ] || ! probe
}

# --- fetch ------------------------------------------------------------------------------
apt_field() { # apt_field <package> <field>: of the version apt would install
  apt-cache show --no-all-versions "$1" 2>/dev/null | sed -n "s/^$2: //p" | head -1
}

fetch() {
  local kernel version sudo="" as_root=() tmp module
  mkdir -p "$cache"
  exec 9>"$cache/.vm.lock"
  flock 9 # another clone's setup may be fetching the same files
  if [ "$(id -u)" -eq 0 ]; then as_root=(-o APT::Sandbox::User=root); else sudo="sudo"; fi
  # linux-image-amd64 only depends on the current kernel's package, which holds the files.
  kernel=$(apt_field linux-image-amd64 Depends)
  if [ -z "$kernel" ]; then
    $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq || echo "apt-get update reported errors" >&2
    kernel=$(apt_field linux-image-amd64 Depends)
  fi
  [[ $kernel =~ ^(linux-image-[^ ]+)\ \(=\ ([^ ]+)\)$ ]] || fail "unexpected dependency of linux-image-amd64: '$kernel'"
  kernel=${BASH_REMATCH[1]} version=${BASH_REMATCH[2]}
  local target="$cache/$layout-$kernel-$version" # present only when whole: it appears by one rename
  [ -d "$target" ] && return
  # Under the lock nobody else is fetching: what is left is from an interrupted run or for
  # another kernel.
  rm -rf "$cache"/.vm-fetch.* "$cache"/vm-*
  tmp=$(mktemp -d "$cache/.vm-fetch.XXXXXX")
  (cd "$tmp" && apt-get download -qq "${as_root[@]}" "$kernel=$version" busybox-static)
  dpkg-deb -x "$tmp/${kernel}_"*.deb "$tmp/kernel"
  dpkg-deb -x "$tmp"/busybox-static_*.deb "$tmp/busybox"
  mkdir -p "$tmp/vm" "$tmp/initrd/bin" "$tmp/initrd/lib/modules" "$tmp/initrd/vela"
  cp "$tmp/kernel/boot/vmlinuz-${kernel#linux-image-}" "$tmp/vm/vmlinuz"
  cp "$tmp/busybox/bin/busybox" "$tmp/vm/busybox" # packs each run's files, too
  cp "$tmp/busybox/bin/busybox" "$tmp/initrd/bin/busybox"
  local loaded=" "
  add_module() { # add_module <name>: after the modules it depends on, from the module's .modinfo
    local file dep
    [[ $loaded == *" $1 "* ]] && return
    file=$(find "$tmp/kernel/lib/modules" \( -name "$1.ko" -o -name "${1//_/-}.ko" \) -print -quit)
    [ -n "$file" ] || fail "no module $1 in $kernel"
    for dep in $(tr '\0' '\n' <"$file" | sed -n 's/^depends=//p' | tr , ' '); do add_module "$dep"; done
    cp "$file" "$tmp/initrd/lib/modules/$1.ko"
    loaded+="$1 "
  }
  for module in "${modules[@]}"; do add_module "$module"; done
  echo $loaded >"$tmp/initrd/vela/modules"
  (cd "$tmp/initrd" && find . | "$tmp/vm/busybox" cpio -o -H newc 2>/dev/null) >"$tmp/vm/base.cpio"
  mv -T "$tmp/vm" "$target"
  rm -rf "$tmp"
}

# --- run --------------------------------------------------------------------------------
# boot <accel> <limit> <output> <command...>: boots the VM with the command as its job in a
# new run folder ($run, inside the shared folder); the job's output goes to qemu's character
# device <output> (stdio or null), its exit status to $run/status, the kernel's messages to
# $run/console.log. Exit status 124: past the limit; 125: the job did not start within the
# boot limit; 126: the VM ended before it started the job.
boot() {
  local accel=$1 limit=$2 output=$3 vm stage name value
  shift 3
  vm=$(ls -d "$cache/$layout-"* 2>/dev/null | head -1)
  [ -n "$vm" ] || fail "no VM kernel in $cache: run scripts/setup.sh (with VELA_I686_IN_VM=1 where ia32-probe passes)"
  mkdir -p "$runs"
  run=$(mktemp -d "$runs/run.XXXXXX")
  # The job's files, packed after the base initramfs: the kernel unpacks both archives.
  stage="$run/initrd"
  mkdir -p "$stage/vela"
  install -m 755 "$here/i686-vm-init.sh" "$stage/init"
  echo "$build" >"$stage/vela/share"
  echo "$run" >"$stage/vela/run"
  hostname >"$stage/vela/host"
  {
    while IFS= read -r -d '' name; do
      value=${name#*=} name=${name%%=*}
      case $name in PWD | OLDPWD | SHLVL | _ | SHELLOPTS | BASHOPTS) continue ;; esac
      [[ $name =~ ^[A-Za-z_][A-Za-z0-9_]*$ ]] && printf 'export %s=%q\n' "$name" "$value"
    done < <(env -0)
    # Wine prefixes in the guest's memory, each a copy of one made once (wine-exec)
    echo "export VELA_WINEPREFIX_ROOT=/tmp/wine-prefixes VELA_WINEPREFIX_TEMPLATES=/tmp/wine-templates"
    printf 'cd %q || exit 1\nexec' "$PWD"
    printf ' %q' "$@"
    echo
  } >"$stage/vela/job"
  (cd "$stage" && find . | "$vm/busybox" cpio -o -H newc 2>/dev/null) | cat "$vm/base.cpio" - >"$run/initrd.cpio"
  rm -rf "$stage"

  # Under TCG, the CPU model is QEMU's baseline: with "max", whose SMAP TCG applied to
  # Wine's iretq into 32-bit code, the guest's kernel took that for its own fault (an oops).
  # mitigations=off: under emulation, page table isolation makes every system call dearer.
  local cpu=qemu64
  [ "$accel" = kvm ] && cpu=host
  [ "$accel" = tcg ] && accel=tcg,thread=multi
  qemu-system-x86_64 -nodefaults -no-user-config -accel "$accel" -cpu $cpu -smp 2 -m "$memory" \
    -display none -no-reboot -nic none -kernel "$vm/vmlinuz" -initrd "$run/initrd.cpio" \
    -append "console=ttyS0 quiet panic=-1 mitigations=off" \
    -serial "file:$run/console.log" -chardev "$output,id=job" -serial chardev:job \
    -virtfs "local,path=/,mount_tag=host,security_model=none,readonly=on,multidevs=remap" \
    -virtfs "local,path=${build//,/,,},mount_tag=share,security_model=none,multidevs=remap" </dev/null &
  local qemu=$! start=$SECONDS result=0
  # A command started with & ignores the terminal's Ctrl-C: pass it on.
  trap 'stop $qemu; exit 130' INT TERM
  while kill -0 $qemu 2>/dev/null; do
    if [ ! -e "$run/booted" ] && ((SECONDS - start >= boot_limit)); then
      result=125 && stop $qemu && break
    elif ((SECONDS - start >= limit)); then
      result=124 && stop $qemu && break
    fi
    sleep 0.2
  done
  wait $qemu || true
  trap - INT TERM
  [ $result = 0 ] && [ ! -e "$run/booted" ] && result=126
  return $result
}

stop() { # stop <pid>: qemu ends on SIGTERM; should it not, within 10 s, SIGKILL
  local i
  kill "$1" 2>/dev/null || return 0
  for i in $(seq 50); do kill -0 "$1" 2>/dev/null || return 0; sleep 0.2; done
  kill -KILL "$1" 2>/dev/null || true
}

# KVM where it really works: on one machine here /dev/kvm opened, but the kernel hung early
# in its boot. The answer holds until the host boots again, or this VM's first process changes.
accel() {
  local key answer=tcg run
  [ -r /dev/kvm ] && [ -w /dev/kvm ] || { echo tcg && return; }
  key="$(cat /proc/sys/kernel/random/boot_id) $(cksum <"$here/i686-vm-init.sh")"
  if [ -f "$runs/accel" ] && [ "$(head -1 "$runs/accel")" = "$key" ]; then
    sed -n 2p "$runs/accel" && return
  fi
  mkdir -p "$runs"
  as --32 -o "$runs/ia32-probe.o" "$here/../cmake/ia32-probe.s" && ld -m elf_i386 -o "$runs/ia32-probe" "$runs/ia32-probe.o"
  if boot kvm $kvm_limit null "$runs/ia32-probe" >/dev/null 2>&1 && [ "$(cat "$run/status")" = 0 ]; then answer=kvm; fi
  rm -rf "$run"
  printf '%s\n%s\n' "$key" $answer >"$runs/accel"
  echo $answer
}

failed() { # failed <what the VM did>: with the end of its console, where the kernel's messages are
  fail "the virtual machine $*; the end of its console ($run/console.log):
$(tail -20 "$run/console.log" 2>/dev/null)"
}

run() {
  [ $# -gt 0 ] || fail "usage: $0 run COMMAND..."
  command -v qemu-system-x86_64 >/dev/null ||
    fail "no qemu-system-x86_64: run scripts/setup.sh (with VELA_I686_IN_VM=1 where ia32-probe passes)"
  local accel status=0 run
  accel=$(accel)
  case $accel in
    kvm) echo "i686-vm: in a virtual machine with KVM: ${*@Q}" ;;
    tcg) echo "i686-vm: in a virtual machine under software emulation (TCG): ${*@Q}" ;;
  esac
  boot $accel "$limit" stdio "$@" || status=$?
  case $status in
    0) status=$(cat "$run/status" 2>/dev/null) || true ;;
    124) failed "did not finish within $limit s (VELA_VM_TIMEOUT)" ;;
    125) failed "did not start its job within $boot_limit s" ;;
    *) failed "ended before it started its job" ;;
  esac
  [[ $status =~ ^[0-9]+$ ]] || failed "ended without the job's exit status"
  rm -rf "$run" # kept where the VM failed, for its console
  return "$status"
}

case "${1:-}" in
  needed) needed ;;
  fetch) fetch ;;
  run) shift && run "$@" ;;
  *) echo "usage: $0 needed|fetch|run COMMAND..." >&2 && exit 2 ;;
esac
