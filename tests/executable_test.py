#!/usr/bin/env python3
"""Checks a shipped program as Windows will load it: headers, hardening, imports, resources and,
for quorvel.exe, the panel's dialog template, byte for byte.
A signed program (--signed) must carry its signature as Windows expects it: a certificate table
after the image, outside every section, that the checksum covers; an unsigned one must carry none.
Usage: executable_test.py [--signed] [--program quorvel|inspect] FILE   (quorvel.exe by default)"""
import re
import struct
import sys

import pefile

FILE_ALIGNMENT = 512

# Section layout: name, the characteristics it must have, those it must not.
READ, WRITE, EXECUTE, SHARED = 0x40000000, 0x80000000, 0x20000000, 0x10000000
CODE, INITIALIZED, UNINITIALIZED = 0x20, 0x40, 0x80
TEXT = (".text", CODE | EXECUTE | READ, WRITE | INITIALIZED | UNINITIALIZED)
RDATA = (".rdata", INITIALIZED | READ, WRITE | EXECUTE | CODE | UNINITIALIZED)
BSS = (".bss", UNINITIALIZED | READ | WRITE, EXECUTE | CODE | INITIALIZED)
RSRC = (".rsrc", INITIALIZED | READ, WRITE | EXECUTE | CODE)

# Header flags.
RELOCS_STRIPPED = 0x0001
DYNAMIC_BASE, NX_COMPAT, NO_SEH, TERMINAL_SERVER_AWARE = 0x0040, 0x0100, 0x0400, 0x8000
HIGHLOW, PADDING = 3, 0

QUORVEL_IMPORTS = {
    "USER32.dll": {
        "CharUpperA", "DialogBoxParamA", "EnableWindow", "EndDialog", "EnumChildWindows",
        "EnumWindows", "GetClassNameA", "GetDlgItem", "GetParent", "GetWindowRect",
        "GetWindowTextA", "InvalidateRect", "IsWindowVisible", "KillTimer", "MessageBoxA",
        "SendDlgItemMessageA", "SetTimer", "SetWindowTextA", "ShowWindow", "UpdateWindow",
        "wvsprintfA",
    },
    "KERNEL32.dll": {
        "DeleteCriticalSection", "EnterCriticalSection", "ExitProcess", "GetCommandLineA",
        "GetCurrentThreadId", "GetModuleHandleA", "GetTickCount", "InitializeCriticalSection",
        "LeaveCriticalSection", "LocalAlloc", "LocalFree", "LocalHandle", "lstrcmpA", "lstrlenA",
    },
}
# The inspector only reads windows: nothing that invalidates, paints or sends a message.
INSPECTOR_IMPORTS = {
    "USER32.dll": {
        "CharUpperA", "EnumChildWindows", "EnumWindows", "GetClassNameA", "GetParent",
        "GetWindowRect", "GetWindowTextA", "GetWindowThreadProcessId", "IsWindowVisible",
        "wvsprintfA",
    },
    "KERNEL32.dll": {
        "ExitProcess", "GetCommandLineA", "GetConsoleMode", "GetConsoleProcessList",
        "GetStdHandle", "ReadFile", "WriteFile", "lstrcmpA", "lstrlenA",
    },
}
GUI, CONSOLE = 2, 3
PANEL_DIALOG = (5, 101, 1049)  # the panel's dialog template: type, id, language
PROGRAMS = {
    "quorvel": {"size": 5632, "subsystem": GUI, "sections": [TEXT, RDATA, BSS, RSRC],
                "imports": QUORVEL_IMPORTS, "resources": [PANEL_DIALOG]},
    "inspect": {"size": 8192, "subsystem": CONSOLE, "sections": [TEXT, RDATA, BSS],
                "imports": INSPECTOR_IMPORTS, "resources": []},
}

# Class atoms of the predefined control classes in a dialog template.
BUTTON, EDIT, STATIC, COMBOBOX = 0x80, 0x81, 0x82, 0x85

PANEL = {
    "style": 0x80CA08C0, "exstyle": 0, "x": 0, "y": 0, "cx": 186, "cy": 95,
    "menu": "", "class": "", "title": "", "font": (8, "MS Sans Serif"),
}
CONTROLS = [
    # id, class, text, x, y, cx, cy, style
    (1000, BUTTON, "Start", 125, 75, 25, 14, 0x50010001),
    (1001, BUTTON, "Stop", 155, 75, 25, 14, 0x50010000),
    (1002, EDIT, "", 90, 35, 90, 14, 0x50810080),
    (0xFFFF, STATIC, "Guest window class name", 5, 40, 83, 8, 0x50020000),
    (0xFFFF, STATIC, "Refresh interval (ms)", 5, 60, 65, 8, 0x50020000),
    (1004, COMBOBOX, "", 75, 55, 48, 90, 0x50210002),
    (0xFFFF, STATIC, "VMWare window name template", 5, 5, 103, 8, 0x50020000),
    (1005, EDIT, "", 5, 15, 175, 14, 0x50810080),
]

failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


class Reader:
    def __init__(self, data):
        self.data, self.at = data, 0

    def take(self, fmt):
        values = struct.unpack_from("<" + fmt, self.data, self.at)
        self.at += struct.calcsize("<" + fmt)
        return values if len(values) > 1 else values[0]

    def text(self):
        end = self.at
        while self.data[end:end + 2] != b"\0\0":
            if end + 2 > len(self.data):
                raise ValueError(f"a string at {self.at:#x} runs past the resource's end")
            end += 2
        value = self.data[self.at:end].decode("utf-16-le")
        self.at = end + 2
        return value

    def name_or_ordinal(self):
        if struct.unpack_from("<H", self.data, self.at)[0] == 0xFFFF:
            self.at += 2
            return self.take("H")
        return self.text()

    def align(self, size):
        self.at = (self.at + size - 1) // size * size


def check_dialog(data):
    r = Reader(data)
    style, exstyle, count, x, y, cx, cy = r.take("IIHhhhh")
    check(style == PANEL["style"], f"dialog style {style:#x}")
    check(exstyle == PANEL["exstyle"], f"dialog extended style {exstyle:#x}")
    check((x, y, cx, cy) == (0, 0, 186, 95), f"dialog position and size {(x, y, cx, cy)}")
    check(count == len(CONTROLS), f"{count} controls")
    check(r.name_or_ordinal() == "", "dialog has a menu")
    check(r.name_or_ordinal() == "", "dialog has a class of its own")
    check(r.text() == "", "dialog caption is not empty")
    points = r.take("H")
    face = r.text()
    check((points, face) == PANEL["font"], f"dialog font {points} {face!r}")
    for index, expected in enumerate(CONTROLS):
        r.align(4)
        style, exstyle, x, y, cx, cy, control_id = r.take("IIhhhhH")
        control_class = r.name_or_ordinal()
        text = r.name_or_ordinal()
        extra = r.take("H")
        r.at += extra
        got = (control_id, control_class, text, x, y, cx, cy, style)
        check(got == expected, f"control {index + 1}: {got} instead of {expected}")
        check(exstyle == 0, f"control {index + 1}: extended style {exstyle:#x}")
        check(extra == 0, f"control {index + 1}: {extra} bytes of creation data")


def directory(pe, name):
    return pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_" + name]]


def name_of(section):
    return section.Name.rstrip(b"\0").decode()


def section_named(pe, name):
    return next((s for s in pe.sections if name_of(s) == name), None)


def flag_names(value, names):
    return "+".join(name for bit, name in names if value & bit) or "none"


def fixups(pe):
    """Every base relocation as (kind, target RVA), padding entries left out."""
    return [(e.type, e.rva) for block in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", [])
            for e in block.entries if e.type != PADDING]


# Code that registers a structured exception handler links a record into the chain at fs:[0].
SEH_CHAIN_ACCESS = re.compile(rb"\x64(?:\xa1|\xa3|\xff\x35|\x8f\x05|[\x89\x8b][\x05\x0d\x15\x1d\x25\x2d\x35\x3d])\0\0\0\0")


def check_hardening(pe, raw):
    """Each rule that Microsoft's BinSkim decides from the image alone, checked from the file:
    a row per rule with what it requires and what the image has."""
    oh, fh = pe.OPTIONAL_HEADER, pe.FILE_HEADER
    dll = oh.DllCharacteristics
    dll_names = [(DYNAMIC_BASE, "DYNAMIC_BASE"), (NX_COMPAT, "NX_COMPAT"), (NO_SEH, "NO_SEH"),
                 (TERMINAL_SERVER_AWARE, "TERMINAL_SERVER_AWARE")]
    section_names = [(CODE, "code"), (INITIALIZED, "data"), (UNINITIALIZED, "bss"),
                     (SHARED, "shared"), (EXECUTE, "X"), (READ, "R"), (WRITE, "W")]
    rows = []

    def row(rule, requires, found, holds):
        rows.append((rule, requires, found, holds))
        check(holds, f"{rule}: requires {requires}; found {found}")

    resources = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    types = [entry.id for entry in resources.entries] if resources else []
    row("BA2005 DoNotShipVulnerableBinaries",
        "no version information naming a binary on the known-vulnerable list",
        f"resource types {types}", 16 not in types)


    relocs = fixups(pe)
    reloc_dir = directory(pe, "BASERELOC")
    holder = next((s for s in pe.sections if s.contains_rva(reloc_dir.VirtualAddress)), None)
    parsed = sum(b.struct.SizeOfBlock for b in getattr(pe, "DIRECTORY_ENTRY_BASERELOC", []))
    initialized = [s for s in pe.sections if s.SizeOfRawData]
    on_image = all(kind == HIGHLOW and any(s.VirtualAddress <= rva and rva + 4 <= s.VirtualAddress
                                           + min(s.Misc_VirtualSize, s.SizeOfRawData)
                                           for s in initialized) for kind, rva in relocs)
    row("BA2009 EnableAddressSpaceLayoutRandomization",
        "DYNAMIC_BASE; relocations not stripped; a base relocation table of whole blocks, "
        "every fixup 32-bit and on the image's bytes",
        f"{flag_names(dll & DYNAMIC_BASE, dll_names)}; "
        f"{'RELOCS_STRIPPED' if fh.Characteristics & RELOCS_STRIPPED else 'relocations kept'}; "
        f"{len(relocs)} fixups in {parsed} of {reloc_dir.Size} bytes",
        bool(dll & DYNAMIC_BASE) and not fh.Characteristics & RELOCS_STRIPPED and relocs != []
        and parsed == reloc_dir.Size and holder is not None and on_image)

    imports = directory(pe, "IMPORT")
    iat = directory(pe, "IAT")
    holders = [s for s in pe.sections
               if s.VirtualAddress <= imports.VirtualAddress + imports.Size - 1
               and imports.VirtualAddress < s.VirtualAddress + max(s.SizeOfRawData,
                                                                   s.Misc_VirtualSize)
               or s.contains_rva(iat.VirtualAddress)]
    row("BA2010 DoNotMarkImportsSectionAsExecutable",
        "import directory and address table in no executable section",
        ", ".join(f"{name_of(s)} {flag_names(s.Characteristics, section_names[4:])}"
                  for s in holders)
        or "no imports",
        holders != [] and not any(s.Characteristics & EXECUTE for s in holders))

    load_config = directory(pe, "LOAD_CONFIG")
    row("BA2012 DoNotModifyStackProtectionCookie",
        "no load configuration, or one whose security cookie is left as the linker wrote it",
        f"load configuration {load_config.VirtualAddress:#x}+{load_config.Size:#x}",
        load_config.VirtualAddress == 0 and load_config.Size == 0)

    row("BA2016 MarkImageAsNXCompatible", "NX_COMPAT",
        flag_names(dll & NX_COMPAT, dll_names), bool(dll & NX_COMPAT))

    exception = directory(pe, "EXCEPTION")
    text = section_named(pe, ".text")
    code = text.get_data() if text else b""
    seh_code = [hex(text.VirtualAddress + m.start()) for m in SEH_CHAIN_ACCESS.finditer(code)]
    row("BA2018 EnableSafeSEH",
        "NO_SEH, and nothing that would need a handler table: no exception or load "
        "configuration directory, no code reaching the handler chain at fs:[0]",
        f"{flag_names(dll & NO_SEH, dll_names)}; exception directory {exception.Size} bytes; "
        f"fs:[0] at {', '.join(seh_code) or 'no address'}",
        bool(dll & NO_SEH) and exception.VirtualAddress == 0 and exception.Size == 0
        and load_config.Size == 0 and not seh_code)

    for rule, bad, what in (("BA2019 DoNotMarkWritableSectionsAsShared", SHARED, "shared"),
                            ("BA2021 DoNotMarkWritableSectionsAsExecutable", EXECUTE,
                             "executable")):
        offenders = [name_of(s) for s in pe.sections
                     if s.Characteristics & WRITE and s.Characteristics & bad]
        row(rule, f"no section both writable and {what}",
            ", ".join(offenders) or "; ".join(
                f"{name_of(s)} {flag_names(s.Characteristics, section_names[4:])}"
                for s in pe.sections),
            not offenders)

    check(bool(dll & TERMINAL_SERVER_AWARE), "not TERMINAL_SERVER_AWARE")
    check(oh.CheckSum == pe.generate_checksum(),
          f"checksum {oh.CheckSum:#x}, image sums to {pe.generate_checksum():#x}")

    width = max(len(r[0]) for r in rows)
    print(f"{'rule':<{width}}  result  requires / found")
    for rule, requires, found, holds in rows:
        print(f"{rule:<{width}}  {'pass' if holds else 'FAIL':<6}  requires {requires}")
        print(f"{'':<{width}}          found {found}")
    print(f"DllCharacteristics {dll:#06x} ({flag_names(dll, dll_names)}), "
          f"{len(relocs)} base relocations")


# A certificate table entry (WIN_CERTIFICATE): its revision and the one type Authenticode uses.
WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0200, 0x0002


def certificate_table(pe, raw, signed):
    """Where the image ends: before the certificate table, which must then follow it to the end
    of the file, made of whole 8-byte aligned entries of signed PKCS#7 data."""
    table = directory(pe, "SECURITY")  # its address is a file offset, not an RVA
    if not signed:
        check(table.VirtualAddress == 0 and table.Size == 0,
              f"certificate table {table.VirtualAddress:#x}+{table.Size:#x} in an unsigned program")
        return len(raw)
    start, size = table.VirtualAddress, table.Size
    if size == 0:
        check(False, "no certificate table: the program is not signed")
        return len(raw)
    check(start % 8 == 0 and start + size == len(raw),
          f"certificate table {start:#x}+{size:#x} is not the 8-byte aligned end of the file "
          f"({len(raw)} bytes)")
    at, entries = start, 0
    while at + 8 <= start + size:
        length, revision, kind = struct.unpack_from("<IHH", raw, at)
        check(length > 8 and revision == WIN_CERT_REVISION_2_0
              and kind == WIN_CERT_TYPE_PKCS_SIGNED_DATA,
              f"certificate entry at {at:#x}: length {length}, revision {revision:#x}, "
              f"type {kind}")
        if length <= 8:
            break
        at += -(-length // 8) * 8
        entries += 1
    check(entries > 0 and at == start + size, f"certificate table entries end at {at:#x}")
    print(f"certificate table: {entries} signature(s), {size} bytes after the image at {start:#x}")
    return start


def check_layout(pe, raw, sections, image_end):
    oh = pe.OPTIONAL_HEADER
    names = [name_of(s) for s in pe.sections]
    check(names == [name for name, _, _ in sections], f"sections {names}")
    check(oh.FileAlignment == FILE_ALIGNMENT, f"file alignment {oh.FileAlignment}")
    check(oh.SectionAlignment == 4096, f"section alignment {oh.SectionAlignment}")
    # The headers end with the section table, padded to the file alignment and no further.
    table_end = pe.sections[0].get_file_offset() + 40 * len(pe.sections) if pe.sections else 0
    headers = -(-table_end // FILE_ALIGNMENT) * FILE_ALIGNMENT
    check(oh.SizeOfHeaders == headers, f"headers take {oh.SizeOfHeaders} bytes, not {headers}")
    end = oh.SizeOfHeaders
    for section, (name, wanted, unwanted) in zip(pe.sections, sections):
        flags = section.Characteristics
        check(flags & wanted == wanted, f"{name}: characteristics {flags:#x} lack {wanted:#x}")
        check(not flags & unwanted, f"{name}: characteristics {flags:#x} have {unwanted:#x}")
        if section.SizeOfRawData:
            # Sections follow one another in the file, each padded to the alignment, none
            # overlapping the headers or another.
            check(section.PointerToRawData == end, f"{name} starts at {section.PointerToRawData}")
            check(section.SizeOfRawData % FILE_ALIGNMENT == 0, f"{name}: raw size not aligned")
            end = section.PointerToRawData + section.SizeOfRawData
        check(section.Misc_VirtualSize <= max(section.SizeOfRawData, 1) or not flags & INITIALIZED,
              f"{name}: data past its raw size")
    check(end == image_end, f"image ends at {image_end}, sections at {end}")

    # Code alone in .text; the tables the loader reads lie whole in .rdata. The loader finds
    # the imports through both import directories; the address table is what it patches.
    directories = oh.DATA_DIRECTORY
    iat = directory(pe, "IAT")
    rdata = section_named(pe, ".rdata")
    for name in ("IMPORT", "IAT", "BASERELOC"):
        entry = directory(pe, name)
        check(entry.Size and rdata and rdata.contains_rva(entry.VirtualAddress)
              and rdata.contains_rva(entry.VirtualAddress + entry.Size - 1),
              f"{name} directory {entry.VirtualAddress:#x}+{entry.Size:#x} not in .rdata")
    check(directory(pe, "RESOURCE").VirtualAddress == getattr(section_named(pe, ".rsrc"),
                                                              "VirtualAddress", 0),
          "resource directory not at the start of .rsrc")
    thunks = [i.address - oh.ImageBase for m in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
              for i in m.imports]
    check(thunks and all(iat.VirtualAddress <= t < iat.VirtualAddress + iat.Size for t in thunks),
          "an import's address slot lies outside the import address table directory")


def main(path, program, signed):
    with open(path, "rb") as f:
        raw = f.read()
    pe = pefile.PE(data=raw)
    oh = pe.OPTIONAL_HEADER

    image_end = certificate_table(pe, raw, signed)
    check(image_end <= program["size"], f"size {image_end} over {program['size']}")
    check(pe.FILE_HEADER.Machine == 0x14C, "not i386")
    check(oh.Magic == 0x10B, "not PE32")
    wanted = "Windows GUI" if program["subsystem"] == GUI else "console"
    check(oh.Subsystem == program["subsystem"], f"subsystem {oh.Subsystem}, not {wanted}")
    check((oh.MajorSubsystemVersion, oh.MinorSubsystemVersion) == (4, 0),
          f"subsystem version {oh.MajorSubsystemVersion}.{oh.MinorSubsystemVersion}")
    text = next((s for s in pe.sections if s.Name.rstrip(b"\0") == b".text"), None)
    check(text is not None and text.contains_rva(oh.AddressOfEntryPoint),
          "entry point outside .text")
    check_layout(pe, raw, program["sections"], image_end)
    check_hardening(pe, raw)

    # No runtime: no TLS callbacks, no constructor tables, no exception or debug data.
    names = {name_of(s) for s in pe.sections}
    check(not names & {".tls", ".CRT", ".ctors", ".dtors", ".eh_frame", ".pdata", ".debug_info"},
          f"runtime sections {sorted(names)}")
    directories = pe.OPTIONAL_HEADER.DATA_DIRECTORY
    for name in ("IMAGE_DIRECTORY_ENTRY_TLS", "IMAGE_DIRECTORY_ENTRY_EXCEPTION",
                 "IMAGE_DIRECTORY_ENTRY_DEBUG", "IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG"):
        entry = directories[pefile.DIRECTORY_ENTRY[name]]
        check(entry.VirtualAddress == 0 and entry.Size == 0, f"{name} present")

    imports = {}
    for module in getattr(pe, "DIRECTORY_ENTRY_IMPORT", []):
        dll = module.dll.decode()
        check(all(i.name for i in module.imports), f"{dll} imported by ordinal")
        imports.setdefault(dll, set()).update(i.name.decode() for i in module.imports if i.name)
    check(set(imports) == set(program["imports"]), f"imported DLLs {sorted(imports)}")
    for dll, expected in program["imports"].items():
        got = imports.get(dll, set())
        check(not got - expected, f"{dll}: unexpected imports {sorted(got - expected)}")
        check(not expected - got, f"{dll}: missing imports {sorted(expected - got)}")
        check(not [n for n in got if n.endswith("W")], f"{dll}: wide entry points")

    resources = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for rtype in root.entries if root else []:
        for rname in rtype.directory.entries:
            for rlang in rname.directory.entries:
                resources.append((rtype.id, rname.id, rlang.id, rlang.data.struct))
    check([(t, n, lang) for t, n, lang, _ in resources] == program["resources"],
          f"resources {[(t, n, lang) for t, n, lang, _ in resources]}, "
          f"not {program['resources']}")
    for rtype, _, _, data in resources:
        if rtype == 5:
            try:
                check_dialog(pe.get_data(data.OffsetToData, data.Size))
            except (ValueError, struct.error) as e:
                check(False, f"dialog template unreadable: {e}")

    print(f"{path}: {len(raw)} bytes; imports: "
          + "; ".join(f"{dll}: {', '.join(sorted(names))}" for dll, names in sorted(imports.items())))
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    arguments = sys.argv[1:]
    name = "quorvel"
    signed = arguments[:1] == ["--signed"]
    arguments = arguments[signed:]
    if arguments[:1] == ["--program"]:
        name, arguments = arguments[1], arguments[2:]
    if name not in PROGRAMS or len(arguments) != 1:
        sys.exit(__doc__)
    sys.exit(main(arguments[0], PROGRAMS[name], signed))
