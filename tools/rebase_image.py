#!/usr/bin/env python3
"""Writes a copy of a Windows image moved to another base, as the loader would move it under
ASLR: every base relocation applied, ImageBase rewritten, the checksum recomputed. A fixup
missing from the table then shows as an address still pointing at the old base.
Usage: rebase_image.py IN OUT NEW_BASE [--drop N]
--drop N leaves out the Nth fixup (from 0), both from the table and from the move: a check that
a lost relocation is caught."""
import argparse
import struct

import pefile

HIGHLOW, DIR64, PADDING = 3, 10, 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("source")
    parser.add_argument("target")
    parser.add_argument("base", type=lambda text: int(text, 0))
    parser.add_argument("--drop", type=int)
    args = parser.parse_args()

    with open(args.source, "rb") as f:
        data = bytearray(f.read())
    pe = pefile.PE(data=bytes(data))
    wide = pe.OPTIONAL_HEADER.Magic == 0x20B
    delta = args.base - pe.OPTIONAL_HEADER.ImageBase
    if args.base % 0x10000 or delta == 0:
        parser.error("the new base must be another multiple of 64 KiB")

    if pe.FILE_HEADER.Characteristics & 0x0001:
        raise SystemExit(f"{args.source}: its relocations are stripped; it cannot be moved")
    fixup = 0
    # An image whose code addresses all its data relative to itself (x86-64) may need none.
    for block in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", []):
        for entry in block.entries:
            if entry.type == PADDING:
                continue
            if fixup == args.drop:
                # The loader skips an ABSOLUTE entry: the fixup is gone from the table.
                struct.pack_into("<H", data, entry.struct.get_file_offset(), entry.rva & 0xFFF)
            elif entry.type in (HIGHLOW, DIR64):
                size = "<I" if entry.type == HIGHLOW else "<Q"
                at = pe.get_offset_from_rva(entry.rva)
                value = struct.unpack_from(size, data, at)[0] + delta
                struct.pack_into(size, data, at, value % (1 << 8 * struct.calcsize(size)))
            else:
                raise SystemExit(f"relocation type {entry.type} at {entry.rva:#x} not handled")
            fixup += 1
    if args.drop is not None and args.drop >= fixup:
        parser.error(f"--drop {args.drop}: the image has {fixup} fixups")

    optional = pe.OPTIONAL_HEADER.get_file_offset()
    if wide:
        struct.pack_into("<Q", data, optional + 24, args.base)
    else:
        struct.pack_into("<I", data, optional + 28, args.base)
    struct.pack_into("<I", data, optional + 64, pefile.PE(data=bytes(data)).generate_checksum())
    with open(args.target, "wb") as f:
        f.write(data)
    print(f"{args.target}: {fixup} fixups moved by {delta:+#x} to base {args.base:#x}"
          + (f", fixup {args.drop} left out" if args.drop is not None else ""))


if __name__ == "__main__":
    main()
