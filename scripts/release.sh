#!/usr/bin/env bash
# Builds the release of both architectures (i686 and x86_64, Release mode) and writes to
# dist/: VeladcomClient-<version>-win32.zip and -win64.zip (the stripped DLL, its type
# library and IDL, widl's header and identifiers, INSTALL.md, CHANGELOG.md, LICENSE,
# docs/reference.md, verify.vbs, verify.asp and Logs/web.config), a -debug.zip of each with
# the DLL's debug information, VeladcomClient-<version>-win32.msi and -win64.msi (the
# Windows Installer packages, cmake/PackageMsi.py), and SHA256SUMS, computed after signing.
# The version is the project's, in CMakeLists.txt.
#
# Two runs on one commit give the same bytes, in any folder and at any time: every date is
# the commit's (SOURCE_DATE_EPOCH), the build records no folder, the zips hold their entries
# in name order with fixed attributes (cmake/PackageZip.py), and each installer package
# takes its codes from its version and contents (cmake/PackageMsi.py).
#
# Options:
#   --cert FILE --key FILE   sign both DLLs, then both installer packages, with Authenticode
#                            (osslsigncode, SHA-256); PEM or DER files. Without them
#                            nothing is signed.
#   --pass-file FILE         the key's password, if it has one
#   --timestamp URL          an RFC 3161 time-stamp server, so that the signature outlives
#                            the certificate
#   --signatures-from DIR    rebuild a published release: attach the signatures of the
#                            packages in DIR and stop unless each DLL and installer package
#                            then equals the published one byte for byte
#   --dist DIR               write the packages to DIR instead of dist/
#   --no-build               package what the last build left
set -euo pipefail

dist=dist build=yes cert='' key='' pass='' timestamp='' published=''
usage() { echo "release.sh: $1 (see the options at the top of this script)" >&2 && exit 2; }
while [ $# -gt 0 ]; do
  option=$1 && shift
  case $option in
    --no-build) build='' && continue ;;
    --cert | --key | --pass-file | --timestamp | --signatures-from | --dist)
      [ $# -gt 0 ] || usage "$option needs a value"
      value=$1 && shift ;;
    *) usage "unknown option $option" ;;
  esac
  case $option in
    --cert) cert=$(realpath "$value") ;;
    --key) key=$(realpath "$value") ;;
    --pass-file) pass=$(realpath "$value") ;;
    --timestamp) timestamp=$value ;;
    --signatures-from) published=$(realpath "$value") ;;
    --dist) dist=$(realpath -m "$value") ;;
  esac
done
[ "${cert:+set}" = "${key:+set}" ] || usage "--cert and --key go together"
[ -z "$cert" ] || [ -z "$published" ] || usage "sign or attach signatures, not both"
cd "$(dirname "$0")/.."
bash scripts/setup.sh

# One clock and one file order for everything below.
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct)} TZ=UTC LC_ALL=C
presets=(release-x86 release-x64)
declare -A platform=([release-x86]=win32 [release-x64]=win64)
if [ -n "$build" ]; then
  for preset in "${presets[@]}"; do cmake --workflow --preset "$preset"; done
fi

stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

sign() { # sign <dll or msi>
  local args=(sign -certs "$cert" -key "$key" -h sha256 -in "$1" -out "$stage/signed")
  if [ -n "$pass" ]; then args+=(-readpass "$pass"); fi
  if [ -n "$timestamp" ]; then args+=(-ts "$timestamp"); fi
  osslsigncode "${args[@]}" >/dev/null
  mv "$stage/signed" "$1"
}

attach() { # attach <dll or msi> <the published one>: its signature, and the same bytes
  rm -f "$stage/signature" # osslsigncode does not overwrite
  osslsigncode extract-signature -in "$2" -out "$stage/signature" >/dev/null ||
    { echo "release.sh: no signature in the published $(basename "$1")" >&2 && return 1; }
  # Its status only says whether the certificate chain checks out on this machine; the byte
  # comparison is the verdict.
  osslsigncode attach-signature -sigin "$stage/signature" -in "$1" -out "$stage/signed" >/dev/null 2>&1 || true
  cmp -s "$stage/signed" "$2" ||
    { echo "release.sh: the rebuilt $(basename "$1") differs from the published one" >&2 && return 1; }
  mv "$stage/signed" "$1"
}

mkdir -p "$dist" && rm -f "$dist"/*.zip "$dist"/*.msi "$dist/SHA256SUMS"
for preset in "${presets[@]}"; do
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "build/$preset/CMakeCache.txt")
  name=VeladcomClient-$version-${platform[$preset]}
  cmake --install "build/$preset" --component runtime --prefix "$stage/$name" >/dev/null
  cmake --install "build/$preset" --component debug --prefix "$stage/$name-debug" >/dev/null
  if [ -n "$cert" ]; then
    sign "$stage/$name/VeladcomClient.dll"
  elif [ -n "$published" ]; then
    python3 -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read("VeladcomClient.dll"))' \
      "$published/$name.zip" >"$stage/published.dll"
    attach "$stage/$name/VeladcomClient.dll" "$stage/published.dll"
  fi
  for folder in "$name" "$name-debug"; do python3 cmake/PackageZip.py "$stage/$folder" "$dist/$folder.zip"; done
  # The installer package holds the DLL as signed above, and is signed itself.
  python3 cmake/PackageMsi.py "${platform[$preset]}" "$version" "$stage/$name" "$dist/$name.msi"
  if [ -n "$cert" ]; then
    sign "$dist/$name.msi"
  elif [ -n "$published" ]; then
    attach "$dist/$name.msi" "$published/$name.msi"
  fi
done
(cd "$dist" && sha256sum -- *.zip *.msi >SHA256SUMS)
ls -l "$dist"
