#!/usr/bin/env bash
# The 32-bit half of Wine, for running the i686 build: Debian's libwine:i386 of exactly the
# installed wine64 version, unpacked (never installed) into a cache that every clone on the
# machine shares. With WINEDLLPATH pointing there, the 64-bit loader runs 32-bit Windows
# programs in its WoW64 mode, so neither wine32 nor a kernel that runs 32-bit Linux code is
# needed. Installing wine32 instead would hand every 32-bit program to its own loader.
# Usage: wine-i386.sh dir     prints the folder for WINEDLLPATH (whether fetched or not)
#        wine-i386.sh fetch   fetches and unpacks it once, then prints it
set -euo pipefail

version=$(dpkg-query -W -f='${Version}' wine64)
cache="${XDG_CACHE_HOME:-$HOME/.cache}/veladcomclient"
unpacked="$cache/wine-i386-$version" # present only when whole: it appears by one rename
dllpath="$unpacked/usr/lib/i386-linux-gnu/wine"

fetch() {
  mkdir -p "$cache"
  exec 9>"$cache/.lock"
  flock 9 # another clone's setup may be fetching the same files
  [ -d "$unpacked" ] && return
  # Under the lock nobody else is fetching: what is left here is from an interrupted run,
  # or for a wine64 version that is no longer installed.
  rm -rf "$cache"/.fetch.* "$cache"/wine-i386-*
  local tmp sudo="" as_root=()
  tmp=$(mktemp -d "$cache/.fetch.XXXXXX")
  # apt's download user cannot enter a private home folder; root downloads itself.
  if [ "$(id -u)" -eq 0 ]; then as_root=(-o APT::Sandbox::User=root); else sudo="sudo"; fi
  download() { (cd "$tmp" && apt-get download -qq "${as_root[@]}" "libwine:i386=$version"); }
  if ! download 2>/dev/null; then
    # The package lists know no i386 packages yet. Adding the architecture installs
    # nothing; an index that fails to update (the security archive's was seen to) does
    # not matter as long as this one package downloads from the main archive.
    $sudo dpkg --add-architecture i386
    $sudo apt-get -o DPkg::Lock::Timeout=600 update -qq || echo "apt-get update reported errors; downloading anyway" >&2
    download
  fi
  dpkg-deb -x "$tmp"/libwine_*_i386.deb "$tmp/root"
  rm -f "$tmp"/libwine_*_i386.deb
  [ -d "$tmp/root/usr/lib/i386-linux-gnu/wine/i386-windows" ] || { echo "unexpected libwine:i386 layout" >&2; exit 1; }
  mv -T "$tmp/root" "$unpacked"
  rm -rf "$tmp"
}

case "${1:-}" in
  dir) ;;
  fetch) fetch ;;
  *) echo "usage: $0 dir|fetch" >&2; exit 2 ;;
esac
echo "$dllpath"
