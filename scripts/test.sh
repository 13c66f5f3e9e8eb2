#!/usr/bin/env bash
# Sets up a fresh Debian machine and runs every test: the native sanitizer/fuzzer suite, the
# release build of both architectures and the checks of their packages, the x86_64 suite under
# Wine (unit and end-to-end), then the i686 suite under Wine's WoW64 mode (unit, end-to-end,
# and both architectures in one prefix, with the x86_64 build's DLLs), whose summary ends the
# run. Each step is a CMake workflow preset: configure, build, and test or package.
# Where this machine's kernel runs no 32-bit code (or VELA_I686_IN_VM=1), the release checks
# that run 32-bit programs (the win32 zip's regsvr32 and scripts, the win32 installer
# package's objects from 32-bit scripts) and the i686 suite run in a virtual machine
# (scripts/i686-vm.sh), after the launcher's own test; everything is still built here.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

vm=0
bash scripts/i686-vm.sh needed && vm=1
release32='^release\.(zip|scripts)\.win32$'

cmake --workflow --preset native
bash scripts/release.sh
if [ $vm = 0 ]; then
  cmake --workflow --preset release-checks
else # all but the checks that run 32-bit programs, which run in the VM
  cmake --preset release-x64 && cmake --build --preset release-checks && ctest --preset release-checks -E "$release32"
fi
cmake --workflow --preset x64
if [ $vm = 0 ]; then
  echo "== i686 tests: on this machine, whose kernel runs 32-bit code"
  cmake --workflow --preset x86
else
  cmake --preset x86 && cmake --build --preset x86
  echo "== i686 tests: in a virtual machine (this machine's kernel runs no 32-bit code, or VELA_I686_IN_VM=1)"
  ctest --test-dir build/x86 -L '^host$' --output-on-failure
  # One VM for both, so that they share the Wine prefix it makes once (wine-exec).
  bash scripts/i686-vm.sh run bash -c "ctest --preset release-checks -R '$release32'; release=\$?; ctest --preset x86 && exit \$release"
fi
