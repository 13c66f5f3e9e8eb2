#!/usr/bin/env python3
"""Copies a compiled type library (MSFT format), making sure that the dispatch
description of every dual interface carries TYPEFLAG_FOLEAUTOMATION, as its interface
half does: automation clients read the flags of the dispatch description. Some widl
versions leave the flag off there.

Given a time (seconds since 1970), it also sets the creation time that widl records in the
library's custom data, as text and as a number, to that time instead of the moment widl
ran: a release pins it to its commit's time, so that two builds give the same bytes. The
copy is otherwise byte for byte the input.

usage: TypeLibFlags.py <input.tlb> <output.tlb> [<time>]
"""
import struct
import sys
import time
import uuid

MSFT_MAGIC = 0x5446534D
HEADER_SIZE = 0x54
HAS_HELP_DLL = 0x100          # header varflags: an extra field follows the header
SEGMENT_COUNT = 15
TYPEINFO_SIZE = 0x64          # one MSFT_TypeInfoBase
FLAGS_OFFSET = 0x30           # its type flags
TKIND_DISPATCH = 4
TYPEFLAG_FDUAL = 0x40
TYPEFLAG_FOLEAUTOMATION = 0x100
SEGMENT_SIZE = 16             # offset, length and two reserved fields
GUID_SEGMENT, CUSTOM_DATA_SEGMENT, CUSTOM_GUID_SEGMENT = 5, 11, 12
CUSTOM_DATA_OFFSET = 0x40     # header: the library's first custom data entry
VT_BSTR, VT_UI4 = 8, 19
# The custom data that MIDL and widl write at the library level: when it was made.
CREATED_TEXT = uuid.UUID("de77ba65-517c-11d1-a2da-0000f8773ce9")   # "Created by ... at <ctime>\n"
CREATED_TIME = uuid.UUID("de77ba63-517c-11d1-a2da-0000f8773ce9")   # the same time, VT_UI4


def layout(data):
    """The offsets of the type information entries and the segments' (base, length)."""
    magic, = struct.unpack_from("<I", data, 0)
    if magic != MSFT_MAGIC:
        raise ValueError("not an MSFT type library")
    varflags, = struct.unpack_from("<i", data, 0x14)
    typeinfo_count, = struct.unpack_from("<i", data, 0x20)
    offset = HEADER_SIZE + (4 if varflags & HAS_HELP_DLL else 0)
    offsets = struct.unpack_from("<%di" % typeinfo_count, data, offset)
    directory = offset + 4 * typeinfo_count
    segments = [struct.unpack_from("<ii", data, directory + SEGMENT_SIZE * i) for i in range(SEGMENT_COUNT)]
    for base, length in segments:
        if length and (base < 0 or base + length > len(data)):
            raise ValueError("segment out of range")
    return offsets, segments


def fix(data):
    offsets, segments = layout(data)
    typeinfo_base = segments[0][0]
    changed = 0
    for entry in offsets:
        at = typeinfo_base + entry
        kind, = struct.unpack_from("<i", data, at)
        flags, = struct.unpack_from("<i", data, at + FLAGS_OFFSET)
        if kind & 0xF == TKIND_DISPATCH and flags & TYPEFLAG_FDUAL and not flags & TYPEFLAG_FOLEAUTOMATION:
            struct.pack_into("<i", data, at + FLAGS_OFFSET, flags | TYPEFLAG_FOLEAUTOMATION)
            changed += 1
    return changed


def pin_creation_time(data, seconds):
    """Sets the library's recorded creation time; returns how many values it set."""
    _, segments = layout(data)
    guids, custom, entries = (segments[i][0] for i in (GUID_SEGMENT, CUSTOM_DATA_SEGMENT, CUSTOM_GUID_SEGMENT))
    text = time.asctime(time.gmtime(seconds)).encode()   # ctime's form, as widl writes it
    entry, = struct.unpack_from("<i", data, CUSTOM_DATA_OFFSET)
    pinned = 0
    while entry != -1:
        guid_offset, value_offset, entry = struct.unpack_from("<iii", data, entries + entry)
        guid = uuid.UUID(bytes_le=bytes(data[guids + guid_offset:guids + guid_offset + 16]))
        if guid not in (CREATED_TEXT, CREATED_TIME):
            continue
        if value_offset < 0:
            raise ValueError("creation time stored inline")
        at = custom + value_offset
        vt, = struct.unpack_from("<H", data, at)
        if guid == CREATED_TIME and vt == VT_UI4:
            struct.pack_into("<I", data, at + 2, seconds & 0xFFFFFFFF)
        elif guid == CREATED_TEXT and vt == VT_BSTR:
            length, = struct.unpack_from("<i", data, at + 2)
            end = at + 6 + length
            if data[end - 1:end] != b"\n" or data[end - 26:end - 25] != b" ":
                raise ValueError("unexpected creation text")
            data[end - 25:end - 1] = text
        else:
            raise ValueError("unexpected creation time type %d" % vt)
        pinned += 1
    return pinned


def main(argv):
    if len(argv) not in (3, 4):
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], "rb") as f:
        data = bytearray(f.read())
    fix(data)
    if len(argv) == 4:
        pin_creation_time(data, int(argv[3]))
    with open(argv[2], "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
