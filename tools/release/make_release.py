#!/usr/bin/env python3
"""Packs built Windows programs into the release: the user's zip, the self-test kit, quorvel.exe and
quorvel-inspect.exe themselves, and SHA256SUMS over the four. The bytes depend only on the inputs
and the time stamp in SOURCE_DATE_EPOCH (the commit's time): entries in a fixed order, one fixed
time, fixed permissions, no extra fields. Usage:
  SOURCE_DATE_EPOCH=N make_release.py --version V --source DIR --build DIR --out DIR"""
import argparse
import hashlib
import io
import os
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import readme_txt  # noqa: E402

# Zip time stamps are local DOS times from 1980 on; the commit's UTC time is written as it is.
DOS_EPOCH = 315532800


def zip_bytes(entries, epoch):
    """entries: (name, data, executable) in the order they go into the archive."""
    when = time.gmtime(max(epoch, DOS_EPOCH))[:6]
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as archive:
        for name, data, executable in entries:
            info = zipfile.ZipInfo(name, date_time=when)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 3  # Unix, so that the mode bits below mean what they say
            info.external_attr = (0o100755 if executable else 0o100644) << 16
            archive.writestr(info, data, compresslevel=9)
    return buffer.getvalue()


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode("ascii")


def read(*parts):
    with open(os.path.join(*parts), "rb") as f:
        return f.read()


def write(name, data):
    path = os.path.join(args.out, name)
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, 0o644)
    return path


parser = argparse.ArgumentParser()
for option in ("--version", "--source", "--build", "--out"):
    parser.add_argument(option, required=True)
args = parser.parse_args()
epoch = int(os.environ["SOURCE_DATE_EPOCH"])
os.makedirs(args.out, exist_ok=True)

with open(os.path.join(args.source, "README.md"), encoding="utf-8") as f:
    readme = readme_txt.render(f.read(), args.version).encode("ascii")
quorvel = read(args.build, "quorvel.exe")
inspector = read(args.build, "quorvel-inspect.exe")
with open(os.path.join(args.source, "tools", "release", "selftest.cmd"), encoding="ascii") as f:
    selftest = crlf(f.read())

release = {
    f"quorvel-{args.version}-win32.zip": zip_bytes(
        [("quorvel.exe", quorvel, True), ("quorvel-inspect.exe", inspector, True),
         ("README.txt", readme, False)], epoch),
    f"quorvel-{args.version}-selftest-win32.zip": zip_bytes(
        [("selftest.cmd", selftest, True),
         ("quorvel.exe", quorvel, True),
         ("quorvel-inspect.exe", inspector, True),
         ("demo_console.exe", read(args.build, "tools", "demo_console", "demo_console.exe"), True),
         ("quorvel_e2e.exe", read(args.build, "e2e", "quorvel_e2e.exe"), True),
         ("README.txt", readme, False)], epoch),
    "quorvel.exe": quorvel,
    "quorvel-inspect.exe": inspector,
}
sums = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n"
               for name, data in sorted(release.items()))
for name, data in release.items():
    write(name, data)
print(write("SHA256SUMS", sums.encode("ascii")))
for name in sorted(release):
    print(os.path.join(args.out, name))
print(sums, end="")
