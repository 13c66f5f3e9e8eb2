#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test VeladcomClient.
# Safe to run again: packages already present are skipped by apt.
set -euo pipefail

packages=(
  mingw-w64 mingw-w64-tools   # cross compilers for x86_64 and i686, widl
  wine64 libwine-dev          # COM runtime for the tests, and the system .idl files
  cmake ninja-build googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev    # native sanitizer and libFuzzer builds; the registry rows of the installer packages
  python3                     # build-time type library check, reproducible zips, the documents' link check
  osslsigncode openssl        # Authenticode signing of the release; its throwaway test certificate
  binutils                    # as and ld for the build's 32-bit kernel probe
  wixl msitools               # the Windows Installer packages: wixl builds them, msibuild and msiinfo edit and read them
)

install_missing() { # install_missing <package>...: those not installed yet
  local p missing=() sudo=""
  for p; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -gt 0 ] || return 0
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  # Others may be running apt on the same machine: wait for their lock.
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 update -qq
  $sudo env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
}

install_missing "${packages[@]}"

# Wine's i386 half, for the i686 tests: fetched once into a cache shared by every clone.
bash "$(dirname "$0")/wine-i386.sh" fetch >/dev/null

# Where this kernel runs no 32-bit code (or VELA_I686_IN_VM=1), the i686 tests run in a virtual
# machine (scripts/i686-vm.sh): qemu, and Debian's kernel and busybox fetched into the same
# cache. Nowhere else.
if bash "$(dirname "$0")/i686-vm.sh" needed; then
  install_missing qemu-system-x86
  bash "$(dirname "$0")/i686-vm.sh" fetch
fi
