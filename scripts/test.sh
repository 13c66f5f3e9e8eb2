#!/usr/bin/env bash
# Sets up a fresh Debian machine and runs every test: the native sanitizer/fuzzer suite, the
# release build of both architectures (the i686 build among them) and the checks of its
# packages, then the x86_64 suite under Wine (unit and end-to-end), whose summary ends the run.
# Each step is a CMake workflow preset: configure, build, and test or package.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

cmake --workflow --preset native
bash scripts/release.sh
cmake --workflow --preset release-checks
cmake --workflow --preset x64
