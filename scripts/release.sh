#!/usr/bin/env bash
# Builds the release of both architectures (i686 and x86_64, Release mode) and writes to
# dist/: VeladcomClient-<version>-win32.zip and -win64.zip (the stripped DLL, its type
# library and IDL, widl's header and identifiers, INSTALL.md), a -debug.zip of each with the
# DLL's debug information, and SHA256SUMS. The version is the project's, in CMakeLists.txt.
# Each step is a CMake workflow preset: configure, build, package with CPack.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

rm -rf dist
cmake --workflow --preset release-x86
cmake --workflow --preset release-x64
rm -rf dist/_CPack_Packages # CPack's staging folders
(cd dist && sha256sum -- *.zip >SHA256SUMS)
ls -l dist
