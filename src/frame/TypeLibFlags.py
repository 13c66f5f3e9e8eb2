#!/usr/bin/env python3
"""Copies a compiled type library (MSFT format), making sure that the dispatch
description of every dual interface carries TYPEFLAG_FOLEAUTOMATION, as its interface
half does: automation clients read the flags of the dispatch description. Some widl
versions leave the flag off there. The copy is otherwise byte for byte the input.

usage: TypeLibFlags.py <input.tlb> <output.tlb>
"""
import struct
import sys

MSFT_MAGIC = 0x5446534D
HEADER_SIZE = 0x54
HAS_HELP_DLL = 0x100          # header varflags: an extra field follows the header
SEGMENT_COUNT = 15
TYPEINFO_SIZE = 0x64          # one MSFT_TypeInfoBase
FLAGS_OFFSET = 0x30           # its type flags
TKIND_DISPATCH = 4
TYPEFLAG_FDUAL = 0x40
TYPEFLAG_FOLEAUTOMATION = 0x100


def fix(data):
    magic, = struct.unpack_from("<I", data, 0)
    if magic != MSFT_MAGIC:
        raise ValueError("not an MSFT type library")
    varflags, = struct.unpack_from("<i", data, 0x14)
    typeinfo_count, = struct.unpack_from("<i", data, 0x20)
    offset = HEADER_SIZE + (4 if varflags & HAS_HELP_DLL else 0)
    offsets = struct.unpack_from("<%di" % typeinfo_count, data, offset)
    segment_directory = offset + 4 * typeinfo_count
    typeinfo_base, typeinfo_length = struct.unpack_from("<ii", data, segment_directory)
    if typeinfo_base < 0 or typeinfo_base + typeinfo_length > len(data):
        raise ValueError("type information segment out of range")
    changed = 0
    for entry in offsets:
        at = typeinfo_base + entry
        kind, = struct.unpack_from("<i", data, at)
        flags, = struct.unpack_from("<i", data, at + FLAGS_OFFSET)
        if kind & 0xF == TKIND_DISPATCH and flags & TYPEFLAG_FDUAL and not flags & TYPEFLAG_FOLEAUTOMATION:
            struct.pack_into("<i", data, at + FLAGS_OFFSET, flags | TYPEFLAG_FOLEAUTOMATION)
            changed += 1
    return changed


def main(argv):
    if len(argv) != 3:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], "rb") as f:
        data = bytearray(f.read())
    fix(data)
    with open(argv[2], "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
