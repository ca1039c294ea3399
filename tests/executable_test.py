#!/usr/bin/env python3
"""Checks the shipped quorvel.exe as Windows will load it: headers, imports, resources and the
panel's dialog template, byte for byte. Usage: executable_test.py quorvel.exe"""
import struct
import sys

import pefile

SIZE_BUDGET = 5120
FILE_ALIGNMENT = 512

# Section layout: name, the characteristics it must have, those it must not.
READ, WRITE, EXECUTE = 0x40000000, 0x80000000, 0x20000000
CODE, INITIALIZED, UNINITIALIZED = 0x20, 0x40, 0x80
SECTIONS = [
    (".text", CODE | EXECUTE | READ, WRITE | UNINITIALIZED),
    (".bss", UNINITIALIZED | READ | WRITE, EXECUTE | CODE | INITIALIZED),
    (".rsrc", INITIALIZED | READ, EXECUTE | CODE),
]

EXPECTED_IMPORTS = {
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


def check_layout(pe, raw):
    oh = pe.OPTIONAL_HEADER
    names = [s.Name.rstrip(b"\0").decode() for s in pe.sections]
    check(names == [name for name, _, _ in SECTIONS], f"sections {names}")
    check(oh.FileAlignment == FILE_ALIGNMENT, f"file alignment {oh.FileAlignment}")
    check(oh.SectionAlignment == 4096, f"section alignment {oh.SectionAlignment}")
    check(oh.SizeOfHeaders == FILE_ALIGNMENT, f"headers take {oh.SizeOfHeaders} bytes")
    end = oh.SizeOfHeaders
    for section, (name, wanted, unwanted) in zip(pe.sections, SECTIONS):
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
    check(end == len(raw), f"file ends at {len(raw)}, sections at {end}")

    # The loader finds the imports through both directories; the address table is what it patches.
    directories = oh.DATA_DIRECTORY
    imports = directories[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"]]
    iat = directories[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IAT"]]
    text = pe.sections[0] if pe.sections else None
    for name, entry in (("import", imports), ("import address table", iat)):
        check(entry.Size and text and text.contains_rva(entry.VirtualAddress)
              and text.contains_rva(entry.VirtualAddress + entry.Size - 1),
              f"{name} directory {entry.VirtualAddress:#x}+{entry.Size:#x} not in .text")
    thunks = [i.address - oh.ImageBase for m in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])
              for i in m.imports]
    check(thunks and all(iat.VirtualAddress <= t < iat.VirtualAddress + iat.Size for t in thunks),
          "an import's address slot lies outside the import address table directory")


def main(path):
    with open(path, "rb") as f:
        raw = f.read()
    pe = pefile.PE(data=raw)
    oh = pe.OPTIONAL_HEADER

    check(len(raw) <= SIZE_BUDGET, f"size {len(raw)} over {SIZE_BUDGET}")
    check(pe.FILE_HEADER.Machine == 0x14C, "not i386")
    check(oh.Magic == 0x10B, "not PE32")
    check(oh.Subsystem == 2, f"subsystem {oh.Subsystem}, not Windows GUI")
    check((oh.MajorSubsystemVersion, oh.MinorSubsystemVersion) == (4, 0),
          f"subsystem version {oh.MajorSubsystemVersion}.{oh.MinorSubsystemVersion}")
    text = next((s for s in pe.sections if s.Name.rstrip(b"\0") == b".text"), None)
    check(text is not None and text.contains_rva(oh.AddressOfEntryPoint),
          "entry point outside .text")
    check_layout(pe, raw)

    # No runtime: no TLS callbacks, no constructor tables, no exception or debug data.
    names = {s.Name.rstrip(b"\0").decode() for s in pe.sections}
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
    check(set(imports) == set(EXPECTED_IMPORTS), f"imported DLLs {sorted(imports)}")
    for dll, expected in EXPECTED_IMPORTS.items():
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
    check([(t, n, lang) for t, n, lang, _ in resources] == [(5, 101, 1049)],
          f"resources {[(t, n, lang) for t, n, lang, _ in resources]}, not dialog 101 in 1049")
    for rtype, _, _, data in resources:
        if rtype == 5:
            check_dialog(pe.get_data(data.OffsetToData, data.Size))

    print(f"{path}: {len(raw)} bytes; imports: "
          + "; ".join(f"{dll}: {', '.join(sorted(names))}" for dll, names in sorted(imports.items())))
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
