#!/usr/bin/env python3
"""Zips a staged package folder so that the same files always give the same bytes: entries
in name order, each dated SOURCE_DATE_EPOCH (UTC, the release commit's time), with fixed
attributes and no extra fields (no owner, no access or change times).

usage: SOURCE_DATE_EPOCH=<seconds> PackageZip.py <folder> <output.zip>
"""
import os
import sys
import time
import zipfile

ZIP_EPOCH = 315532800  # 1980-01-01: zip dates cannot be earlier


def entries(folder):
    for root, _, files in os.walk(folder):
        for name in files:
            path = os.path.join(root, name)
            yield os.path.relpath(path, folder).replace(os.sep, "/"), path


def main(folder, output):
    date_time = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), ZIP_EPOCH))[:6]
    with zipfile.ZipFile(output, "w") as archive:
        for name, path in sorted(entries(folder)):
            entry = zipfile.ZipInfo(name, date_time)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 3  # Unix, so that the mode below is read
            entry.external_attr = 0o100644 << 16
            with open(path, "rb") as source:
                archive.writestr(entry, source.read(), compresslevel=9)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(*sys.argv[1:])
