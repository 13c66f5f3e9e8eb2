#!/usr/bin/env bash
# Installs what a fresh Debian machine lacks to build and test VeladcomClient.
# Safe to run again: packages already present are skipped by apt.
set -euo pipefail

packages=(
  mingw-w64 mingw-w64-tools   # cross compilers for x86_64 and i686, widl
  wine64 libwine-dev          # COM runtime for the tests, and the system .idl files
  cmake ninja-build googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev    # native sanitizer and libFuzzer builds
  python3                     # build-time type library check, reproducible zips, the documents' link check
  osslsigncode openssl        # Authenticode signing of the release; its throwaway test certificate
  binutils                    # as and ld for the build's 32-bit kernel probe
  wixl msitools               # the Windows Installer packages: wixl builds them, msibuild and msiinfo edit and read them
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  # Other builds on the machine may be running apt: wait for its lock rather than fail.
  $SUDO apt-get -o DPkg::Lock::Timeout=600 update -qq
  $SUDO apt-get -o DPkg::Lock::Timeout=600 install -y -qq --no-install-recommends "${missing[@]}"
fi

# Wine's i386 half, for the i686 tests: fetched once into a cache shared by every clone.
bash "$(dirname "$0")/wine-i386.sh" fetch >/dev/null
