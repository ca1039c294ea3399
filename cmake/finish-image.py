#!/usr/bin/env python3
"""Finishes the i686 quorvel.exe after the link, in place. The linker script puts the base
relocations at the end of .rdata instead of a .reloc section of their own, which would take a
file block for a table of under 200 bytes; GNU ld fills the base relocation directory only from
a section named .reloc, so this step points the directory at the table, clears the "relocations
stripped" flag ld then sets, drops the write permission ld forces on .rsrc, and recomputes the
checksum. Usage: finish-image.py quorvel.exe quorvel.map"""
import re
import struct
import sys

RELOCS_STRIPPED = 0x0001
MEM_WRITE = 0x80000000
BASE_RELOCATION_DIRECTORY = 5
HIGHLOW, PADDING = 3, 0


def fail(message):
    sys.exit(f"finish-image: {message}")


def symbol(map_text, name):
    found = re.search(r"^\s+0x([0-9a-f]+)\s+" + re.escape(name) + r" = \.", map_text, re.M)
    if not found:
        fail(f"{name} not in the link map")
    return int(found.group(1), 16)


def checksum(image, field):
    total = 0
    for (word,) in struct.iter_unpack("<H", image + b"\0" * (len(image) % 2)):
        total += word
    # The checksum field itself counts as zero.
    total -= sum(struct.unpack_from("<HH", image, field))
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(image)) & 0xFFFFFFFF


def main(exe, map_path):
    with open(exe, "rb") as f:
        image = bytearray(f.read())
    with open(map_path) as f:
        map_text = f.read()

    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        fail("no PE signature")
    file_header = pe + 4
    sections_count, optional_size = struct.unpack_from("<H12xH", image, file_header + 2)
    optional = file_header + 20
    if struct.unpack_from("<H", image, optional)[0] != 0x10B:
        fail("not PE32")
    image_base = struct.unpack_from("<I", image, optional + 28)[0]
    directory = optional + 96 + 8 * BASE_RELOCATION_DIRECTORY
    sections = []
    for i in range(sections_count):
        at = optional + optional_size + 40 * i
        name = image[at:at + 8].rstrip(b"\0").decode()
        vsize, rva, raw_size, raw_at = struct.unpack_from("<IIII", image, at + 8)
        sections.append((name, rva, vsize, raw_at, raw_size, at))

    start = symbol(map_text, "__base_relocations_start") - image_base
    size = symbol(map_text, "__base_relocations_end") - image_base - start
    holder = next((s for s in sections if s[1] <= start and start + size <= s[1] + s[2]), None)
    if size <= 0 or holder is None or holder[0] != ".rdata":
        fail(f"relocation table at {start:#x}+{size:#x} is not inside .rdata")
    offset = holder[3] + start - holder[1]

    # The table must be whole blocks of 32-bit fixups, each into a section's initialised bytes.
    at = offset
    while at < offset + size:
        page, block = struct.unpack_from("<II", image, at)
        if block < 8 or block % 4 or at + block > offset + size:
            fail(f"malformed relocation block at {at:#x}")
        for (entry,) in struct.iter_unpack("<H", image[at + 8:at + block]):
            kind, target = entry >> 12, page + (entry & 0xFFF)
            if kind == PADDING:
                continue
            if kind != HIGHLOW or not any(s[1] <= target <= s[1] + min(s[2], s[4]) - 4
                                          for s in sections):
                fail(f"relocation {entry:#06x} in block {page:#x} is not a fixup of the image")
        at += block

    struct.pack_into("<II", image, directory, start, size)
    characteristics = struct.unpack_from("<H", image, file_header + 18)[0]
    struct.pack_into("<H", image, file_header + 18, characteristics & ~RELOCS_STRIPPED)
    for name, _, _, _, _, header in sections:
        if name == ".rsrc":
            flags = struct.unpack_from("<I", image, header + 36)[0]
            struct.pack_into("<I", image, header + 36, flags & ~MEM_WRITE)
    struct.pack_into("<I", image, optional + 64, checksum(bytes(image), optional + 64))

    with open(exe, "wb") as f:
        f.write(image)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
