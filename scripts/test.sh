#!/usr/bin/env bash
# Sets up a fresh Debian machine and runs every test: the native sanitizer/fuzzer suite, the
# release build of both architectures and the checks of their packages, the x86_64 suite under
# Wine (unit and end-to-end), then the i686 suite under Wine's WoW64 mode (unit, end-to-end,
# and both architectures in one prefix, with the x86_64 build's DLLs), whose summary ends the
# run. Each step is a CMake workflow preset: configure, build, and test or package.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --workflow --preset native
bash scripts/release.sh
cmake --workflow --preset release-checks
cmake --workflow --preset x64
cmake --workflow --preset x86
