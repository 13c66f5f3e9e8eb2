#!/usr/bin/env bash
# Builds the release of both architectures (i686 and x86_64, Release mode) and writes to
# dist/: VeladcomClient-<version>-win32.zip and -win64.zip (the stripped DLL, its type
# library and IDL, widl's header and identifiers, INSTALL.md, CHANGELOG.md, LICENSE,
# verify.vbs and verify.asp), a -debug.zip of each with the DLL's debug information, and
# SHA256SUMS, computed after signing. The version is the project's, in CMakeLists.txt.
#
# Two runs on one commit give the same bytes, in any folder and at any time: every date is
# the commit's (SOURCE_DATE_EPOCH), the build records no folder, and the zips hold their
# entries in name order with fixed attributes (cmake/PackageZip.py).
#
# Options:
#   --cert FILE --key FILE   sign both DLLs with Authenticode (osslsigncode, SHA-256);
#                            PEM or DER files. Without them the DLLs stay unsigned.
#   --pass-file FILE         the key's password, if it has one
#   --timestamp URL          an RFC 3161 time-stamp server, so that the signature outlives
#                            the certificate
#   --signatures-from DIR    rebuild a published release: attach the signatures of the
#                            packages in DIR and stop unless each DLL then equals the
#                            published one byte for byte
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

sign() { # sign <dll>
  local args=(sign -certs "$cert" -key "$key" -h sha256 -in "$1" -out "$stage/signed.dll")
  if [ -n "$pass" ]; then args+=(-readpass "$pass"); fi
  if [ -n "$timestamp" ]; then args+=(-ts "$timestamp"); fi
  osslsigncode "${args[@]}" >/dev/null
  mv "$stage/signed.dll" "$1"
}

attach() { # attach <dll> <published zip>
  python3 -c 'import sys, zipfile; sys.stdout.buffer.write(zipfile.ZipFile(sys.argv[1]).read("VeladcomClient.dll"))' \
    "$2" >"$stage/published.dll"
  rm -f "$stage/signature" # osslsigncode does not overwrite
  osslsigncode extract-signature -in "$stage/published.dll" -out "$stage/signature" >/dev/null ||
    { echo "release.sh: no signature in the DLL of $2" >&2 && return 1; }
  # Its status only says whether the certificate chain checks out on this machine; the byte
  # comparison is the verdict.
  osslsigncode attach-signature -sigin "$stage/signature" -in "$1" -out "$stage/signed.dll" >/dev/null 2>&1 || true
  cmp -s "$stage/signed.dll" "$stage/published.dll" ||
    { echo "release.sh: the rebuilt DLL differs from the published one in $2" >&2 && return 1; }
  mv "$stage/signed.dll" "$1"
}

mkdir -p "$dist" && rm -f "$dist"/*.zip "$dist/SHA256SUMS"
for preset in "${presets[@]}"; do
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "build/$preset/CMakeCache.txt")
  name=VeladcomClient-$version-${platform[$preset]}
  cmake --install "build/$preset" --component runtime --prefix "$stage/$name" >/dev/null
  cmake --install "build/$preset" --component debug --prefix "$stage/$name-debug" >/dev/null
  if [ -n "$cert" ]; then
    sign "$stage/$name/VeladcomClient.dll"
  elif [ -n "$published" ]; then
    attach "$stage/$name/VeladcomClient.dll" "$published/$name.zip"
  fi
  for folder in "$name" "$name-debug"; do python3 cmake/PackageZip.py "$stage/$folder" "$dist/$folder.zip"; done
done
(cd "$dist" && sha256sum -- *.zip >SHA256SUMS)
ls -l "$dist"
