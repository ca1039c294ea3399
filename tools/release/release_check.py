#!/usr/bin/env python3
"""The checks scripts/check-release makes of a downloaded release, which may be an attacker's in
every byte, SHA256SUMS included. Three steps, each run by check-release in turn:

  release_check.py form DIR --version V --work WORK
      Before anything is installed or rebuilt, with Python's standard library alone: SHA256SUMS
      line by line, the folder's entries (regular files within a size cap, never followed; no
      unlisted file that Windows would take for one of the release's, nor any other program,
      script or archive), the hashes, and the zips read with zipfile into memory (a few entries,
      the expected ones, each once, none encrypted, each declared size within its cap). Leaves
      the release's programs, as its zip holds them, in WORK/released.
  release_check.py signatures --work WORK --exec-test PY [--ca CA.pem] [--signer NAME]
      Each program's signature, parsed here with asn1crypto: one certificate-table entry laid out
      as osslsigncode lays it out, one SignedData with one SignerInfo, no nested signature, no
      unauthenticated attribute but a timestamp, digests of their algorithm's length, a signer's
      certificate that the SignerInfo names byte for byte. Only then osslsigncode verifies it,
      with that very certificate, and the executable test reads the program, both confined: an
      unprivileged user when run as root, no network, limits on CPU time, memory, file size.
      What the signature carries must be its signer's chain, fit for code signing, and no more.
  release_check.py compare --work WORK --rebuilt BUILD --commit REV
      The released programs against the rebuilt ones with the release's own signatures attached
      as scripts/release attaches them, and every zip and SHA256SUMS against a repacking.

Every line printed is printable ASCII: text from the download is escaped. Exit codes: 0 no
problem, 1 a problem or a refusal (named on a FAIL: line), 2 a usage error."""
import atexit
import collections
import errno
import hashlib
import io
import json
import os
import re
import resource
import shutil
import signal
import stat
import struct
import subprocess
import sys
import tempfile
import zipfile

KIB, MIB = 1024, 1024 * 1024
PROGRAMS = ("quorvel.exe", "quorvel-inspect.exe")
# What a release holds, with what each file may weigh at most: far above the real sizes (the
# programs a few KiB, the zips well under a MiB), far below what would fill a disk or memory.
PROGRAM_CAP, ZIP_CAP, TEXT_CAP, OTHER_CAP = 1 * MIB, 8 * MIB, 256 * KIB, 8 * MIB
ENTRY_CAPS = {"quorvel.exe": PROGRAM_CAP, "quorvel-inspect.exe": PROGRAM_CAP,
              "README.txt": TEXT_CAP, "selftest.cmd": TEXT_CAP,
              "demo_console.exe": 8 * MIB, "quorvel_e2e.exe": 16 * MIB}
MAX_ENTRIES = 64  # in the folder
MAX_ZIP_ENTRIES = 16  # in a zip; a release's hold 3 and 6
# What Windows runs, loads or opens as code when it is double-clicked or lies beside a program
# (the file types that its Attachment Manager and Outlook treat as dangerous), and the archives
# and disk images that Explorer opens as folders: beside a release, only the release's own.
RUNNABLE = frozenset("""
    exe com scr pif cpl dll ocx sys drv efi msi msp mst msix msixbundle appx appxbundle
    appinstaller application gadget xbap xll
    bat cmd vb vbs vbe js jse wsf wsh ws wsc sct hta ps1 ps1xml ps2 ps2xml psc1 psc2 psd1 psm1
    msh msh1 msh2 mshxml msh1xml msh2xml reg inf ins isp scf lnk url website settingcontent-ms
    library-ms search-ms searchconnector-ms diagcab diagcfg diagpkg chm hlp jar jnlp mcf msc
    zip 7z rar cab arj lzh lha ace tar gz tgz bz2 tbz2 xz txz zst lz lzma z iso img vhd vhdx wim
    """.split())
CONFINED_SECONDS = 20  # osslsigncode and the executable test take well under a second
MAX_CERTIFICATES = 16  # in a signature; ours carry the signer's and the root's


def release_files(version):
    """Each file of a release of VERSION, with its cap and, for a zip, the entries it holds."""
    return {
        f"quorvel-{version}-win32.zip": (ZIP_CAP, ("quorvel.exe", "quorvel-inspect.exe",
                                                   "README.txt")),
        f"quorvel-{version}-selftest-win32.zip": (ZIP_CAP, (
            "selftest.cmd", "quorvel.exe", "quorvel-inspect.exe", "demo_console.exe",
            "quorvel_e2e.exe", "README.txt")),
        "quorvel.exe": (PROGRAM_CAP, None),
        "quorvel-inspect.exe": (PROGRAM_CAP, None),
    }


def printable(text):
    """TEXT with everything but printable ASCII escaped, so that no byte from the download
    reaches the terminal as a control sequence."""
    if isinstance(text, bytes):
        text = text.decode("utf-8", "replace")
    return "".join(c if " " <= c <= "~" else f"\\x{ord(c):02x}" if ord(c) < 256
                   else f"\\u{ord(c):04x}" if ord(c) < 0x10000 else f"\\U{ord(c):08x}"
                   for c in str(text))


def say(*parts):
    print(printable(" ".join(str(p) for p in parts)), flush=True)


class Refused(Exception):
    """The download fails a check that nothing after it should run past."""


class State:
    """What one step leaves for the next, in WORK/state.json: the hashes of what was checked,
    the programs' signatures, and the problems found so far."""

    def __init__(self, work):
        self.path = os.path.join(work, "state.json")
        self.data = {"problems": 0}
        if os.path.exists(self.path):
            with open(self.path) as f:
                self.data = json.load(f)

    def save(self):
        with open(self.path, "w") as f:
            json.dump(self.data, f)

    def problem(self, *parts):
        say("FAIL:", *parts)
        self.data["problems"] += 1


# --- The form of the download -------------------------------------------------------------------

SUMS_LINE = re.compile(rb"([0-9a-f]{64})  ([^\n]+)\n")


def read_regular(folder, name, cap):
    """The bytes of FOLDER/NAME if it is a regular file of at most CAP bytes, read without
    following a link or blocking on a FIFO or device."""
    try:
        fd = os.open(name, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_NOCTTY,
                     dir_fd=folder)
    except OSError as e:
        if e.errno == errno.ELOOP:
            raise Refused(f"{name} is a symbolic link, not a regular file")
        raise Refused(f"{name} cannot be opened ({e.strerror})")
    try:
        st = os.fstat(fd)
        if not stat.S_ISREG(st.st_mode):
            raise Refused(f"{name} is {kind_of(st.st_mode)}, not a regular file")
        if st.st_size > cap:
            raise Refused(f"{name} is {st.st_size} bytes, over the {cap} it may be")
        data = b""
        while len(data) <= cap:
            chunk = os.read(fd, cap + 1 - len(data))
            if not chunk:
                break
            data += chunk
    except OSError as e:
        raise Refused(f"{name} cannot be read ({e.strerror})")
    finally:
        os.close(fd)
    if len(data) > cap:
        raise Refused(f"{name} grew past {cap} bytes while being read")
    return data


def kind_of(mode):
    for test, word in ((stat.S_ISLNK, "a symbolic link"), (stat.S_ISDIR, "a folder"),
                       (stat.S_ISFIFO, "a FIFO"), (stat.S_ISSOCK, "a socket"),
                       (stat.S_ISCHR, "a character device"), (stat.S_ISBLK, "a block device")):
        if test(mode):
            return word
    return "not a file"


def check_sums(data, files, version):
    """SHA256SUMS, line by line: {name: hash}. A bad line is named by its number only."""
    sums = {}
    lines = data.split(b"\n")
    if lines[-1] != b"":
        raise Refused(f"SHA256SUMS line {len(lines)} does not end with a newline")
    for number, line in enumerate(lines[:-1], 1):
        match = SUMS_LINE.fullmatch(line + b"\n")
        if not match:
            raise Refused(f"SHA256SUMS line {number} is not 64 lower-case hex digits, two "
                          "spaces and a name")
        name = match.group(2).decode("ascii", "replace")
        if name not in files:
            raise Refused(f"SHA256SUMS line {number} names a file that is not part of a "
                          f"release of Quorvel {version}, which the commit builds")
        if name in sums:
            raise Refused(f"SHA256SUMS line {number} lists {name} a second time")
        sums[name] = match.group(1).decode()
    return sums


def reason(error):
    """What an exception from a parser of the download says, whatever its kind."""
    return printable(str(error) or type(error).__name__)


def check_zip(name, data, expected):
    """ZIP's entries, read into memory by name after their form is checked: {entry: bytes}."""
    # zipfile reads the whole central directory, which the zip's size cap bounds (to some
    # 180,000 entries, read in about a second), before anything here counts them.
    try:
        archive = zipfile.ZipFile(io.BytesIO(data))
        infos = archive.infolist()
    except Exception as e:  # zipfile's word on a malformed zip, whatever its kind
        raise Refused(f"{name} is not a zip that can be read ({reason(e)})")
    if len(infos) > MAX_ZIP_ENTRIES:
        raise Refused(f"{name} holds {len(infos)} entries; a release's zip holds a few")
    names = [info.filename for info in infos]
    for entry, count in sorted(collections.Counter(names).items()):
        if count > 1:
            raise Refused(f"{name} holds {entry} {count} times")
    if sorted(names) != sorted(expected):
        extra = sorted(set(names) - set(expected))
        missing = sorted(set(expected) - set(names))
        raise Refused(f"{name} holds " + "; ".join(
            ([f"entries a release does not: {', '.join(extra)}"] if extra else [])
            + ([f"no {', '.join(missing)}"] if missing else [])))
    entries = {}
    for info in infos:
        entry = info.filename
        if info.flag_bits & 0x1:
            raise Refused(f"{name}: {entry} is encrypted")
        mode = info.external_attr >> 16
        if info.create_system == 3 and mode and not stat.S_ISREG(mode):
            raise Refused(f"{name}: {entry} is {kind_of(mode)}, not a file")
        cap = ENTRY_CAPS[entry]
        if info.file_size > cap:
            raise Refused(f"{name}: {entry} declares {info.file_size} bytes, over the {cap} it "
                          "may be")
        if info.compress_type not in (zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED):
            raise Refused(f"{name}: {entry} is packed by method {info.compress_type}, not by "
                          "deflate")
        try:
            with archive.open(info) as f:
                content = f.read(cap + 1)
        except Exception as e:  # zlib.error on corrupt deflate data, BadZipFile on a bad CRC...
            raise Refused(f"{name}: {entry} cannot be read ({reason(e)})")
        if len(content) > cap or len(content) != info.file_size:
            raise Refused(f"{name}: {entry} is not the {info.file_size} bytes it declares")
        entries[entry] = content
    return entries


def windows_name(name):
    """The name under which Windows keeps NAME, and finds it, in upper case: without leading
    spaces or trailing dots and spaces (which it drops), and without the " (1)" by which a
    browser tells a second download from the first."""
    name = name.lstrip(" ").rstrip(". ")
    stem, dot, extension = name.rpartition(".") if "." in name else (name, "", "")
    return (re.sub(r" ?\(\d+\)$", "", stem) + dot + extension).upper()


def check_unlisted(name, files):
    """Refused if NAME, which SHA256SUMS does not list, is one that Windows would take for a
    file of the release, or is a program, script or archive."""
    if name in files:
        raise Refused(f"{name}: a file of the release that SHA256SUMS does not list")
    seen_as = windows_name(name)
    for release_name in sorted(files) + ["SHA256SUMS"]:
        if seen_as == windows_name(release_name):
            raise Refused(f"{name}: Windows takes it for {release_name}, but it is another file, "
                          "which SHA256SUMS does not list")
    extension = seen_as.rpartition(".")[2].lower()
    if "." in seen_as and extension in RUNNABLE:
        raise Refused(f"{name}: a .{extension} file, which Windows runs or opens, beside the "
                      "release; SHA256SUMS does not list it")


def form(folder, version, work):
    state = State(work)
    files = release_files(version)
    main_zip = f"quorvel-{version}-win32.zip"
    try:
        folder_fd = os.open(folder, os.O_RDONLY | os.O_DIRECTORY)
    except OSError as e:
        raise Refused(f"cannot open the folder ({e.strerror})")
    names = sorted(os.listdir(folder_fd))
    if len(names) > MAX_ENTRIES:
        raise Refused(f"the folder holds {len(names)} entries; a release is a few files")
    if "SHA256SUMS" not in names:
        raise Refused("no SHA256SUMS in the folder")
    sums = check_sums(read_regular(folder_fd, "SHA256SUMS", 16 * KIB), files, version)
    for name in (main_zip, *PROGRAMS):
        if name not in sums:
            raise Refused(f"SHA256SUMS does not list {name}")
    if main_zip not in names:
        raise Refused(f"no {main_zip} in the folder: Quorvel {version} is checked from its zip")
    for name in names:
        if re.fullmatch(r"quorvel-.*-win32\.zip", name) and name not in files:
            raise Refused(f"{name}: a second release zip; this folder must hold one release, "
                          f"Quorvel {version}'s")
    checked, hashes, zips = [], {}, {}
    for name in names:
        if name not in sums and name != "SHA256SUMS":
            check_unlisted(name, files)
            st = os.lstat(name, dir_fd=folder_fd)
            if not stat.S_ISREG(st.st_mode):
                raise Refused(f"{name} is {kind_of(st.st_mode)}, not a regular file")
            if st.st_size > OTHER_CAP:
                raise Refused(f"{name} is {st.st_size} bytes, over the {OTHER_CAP} it may be")
            say(f"{name}: not checked: SHA256SUMS does not list it")
            continue
        data = read_regular(folder_fd, name, files[name][0] if name in files else 16 * KIB)
        hashes[name] = hashlib.sha256(data).hexdigest()
        if name == "SHA256SUMS":
            continue
        if hashes[name] != sums[name]:
            raise Refused(f"{name} does not match its line in SHA256SUMS")
        checked.append(name)
        if files[name][1]:
            zips[name] = check_zip(name, data, files[name][1])
    os.close(folder_fd)
    say("SHA256SUMS: checked", " ".join(checked))
    released = os.path.join(work, "released")
    os.makedirs(released, exist_ok=True)
    for zip_name, entries in zips.items():
        for program in PROGRAMS:
            if hashlib.sha256(entries[program]).hexdigest() != sums[program]:
                raise Refused(f"{zip_name} holds a {program} that is not the one SHA256SUMS "
                              "lists")
    for program in PROGRAMS:
        with open(os.path.join(released, program), "wb") as f:
            f.write(zips[main_zip][program])
    state.data.update(version=version, sums=sums, hashes=hashes, checked=checked)
    state.save()


# --- The programs' signatures -------------------------------------------------------------------

WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA = 0x0200, 0x0002
SPC_INDIRECT_DATA = "1.3.6.1.4.1.311.2.1.4"
SPC_SP_OPUS_INFO = "1.3.6.1.4.1.311.2.1.12"
NESTED_SIGNATURE = "1.3.6.1.4.1.311.2.4.1"
RFC3161_TIMESTAMP = "1.3.6.1.4.1.311.3.3.1"
LEGACY_TIMESTAMP = "1.2.840.113549.1.9.6"
TST_INFO = "1.2.840.113549.1.9.16.1.4"
DIGEST_SIZES = {"md5": 16, "sha1": 20, "sha224": 28, "sha256": 32, "sha384": 48, "sha512": 64}
SHORT_NAMES = {"common_name": "CN", "organization_name": "O", "organizational_unit_name": "OU",
               "country_name": "C", "state_or_province_name": "ST", "locality_name": "L",
               "email_address": "emailAddress", "serial_number": "serialNumber",
               "street_address": "street", "domain_component": "DC"}


class PE:
    """The few fields of a PE file that its signature touches, read with every offset bounded:
    the checksum, the certificate table's directory entry and the table itself."""

    def __init__(self, raw):
        def field(fmt, at):
            if at < 0 or at + struct.calcsize(fmt) > len(raw):
                raise Refused("its headers run past the end of the file")
            return struct.unpack_from("<" + fmt, raw, at)

        if raw[:2] != b"MZ":
            raise Refused("not a Windows program (no MZ header)")
        pe = field("I", 0x3C)[0]
        if field("4s", pe)[0] != b"PE\0\0":
            raise Refused("not a Windows program (no PE header)")
        optional_size = field("H", pe + 20)[0]
        optional = pe + 24
        magic = field("H", optional)[0]
        if magic not in (0x10B, 0x20B):
            raise Refused(f"an optional header of unknown kind {magic:#x}")
        directories = optional + (96 if magic == 0x10B else 112)
        count = field("I", directories - 4)[0]
        if count < 5 or directories + 8 * 5 > optional + optional_size:
            raise Refused("no certificate-table entry among its data directories")
        self.checksum_at = optional + 64
        self.security_at = directories + 8 * 4
        self.table_at, self.table_size = field("II", self.security_at)


def pe_checksum(data, checksum_at):
    """The checksum Windows' CheckSumMappedFile computes: the file's 16-bit words summed with
    end-around carry, its checksum field left out, plus its length."""
    padded = data + b"\0" * (len(data) % 2)
    words = struct.unpack(f"<{len(padded) // 2}H", padded)
    total = sum(words) - words[checksum_at // 2] - words[checksum_at // 2 + 1]
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return total + len(data)


def der_length(blob):
    """The length of the DER element at the start of BLOB, header included."""
    if len(blob) < 2 or blob[0] != 0x30:
        raise Refused("its certificate entry does not hold a DER SEQUENCE")
    first = blob[1]
    if first < 0x80:
        return 2 + first
    count = first & 0x7F
    if count == 0 or count > 4 or len(blob) < 2 + count:
        raise Refused("its signature's length is not in DER form")
    return 2 + count + int.from_bytes(blob[2:2 + count], "big")


def attach(unsigned, blob):
    """UNSIGNED with the PKCS#7 BLOB attached as osslsigncode attaches it: the certificate table
    at the 8-byte aligned end of the file, one WIN_CERTIFICATE padded with zeros to 8 bytes,
    data directory 4 pointing at it and the checksum made again."""
    pe = PE(unsigned)
    data = bytearray(unsigned + b"\0" * (-len(unsigned) % 8))
    padding = -len(blob) % 8
    entry = struct.pack("<IHH", 8 + len(blob) + padding, WIN_CERT_REVISION_2_0,
                        WIN_CERT_TYPE_PKCS_SIGNED_DATA) + blob + b"\0" * padding
    struct.pack_into("<II", data, pe.security_at, len(data), len(entry))
    data += entry
    struct.pack_into("<I", data, pe.checksum_at, pe_checksum(bytes(data), pe.checksum_at))
    return bytes(data)


def unsigned_part(raw):
    """RAW without its certificate table, its directory entry and checksum as before signing."""
    pe = PE(raw)
    data = bytearray(raw[:pe.table_at] if pe.table_size else raw)
    struct.pack_into("<II", data, pe.security_at, 0, 0)
    struct.pack_into("<I", data, pe.checksum_at, pe_checksum(bytes(data), pe.checksum_at))
    return bytes(data)


def signature_blob(raw):
    """The one PKCS#7 blob of a signed program, or None when it carries no certificate table;
    refused unless the table is exactly what osslsigncode writes around one signature."""
    pe = PE(raw)
    start, size = pe.table_at, pe.table_size
    if start == 0 and size == 0:
        return None
    if start % 8 or start + size != len(raw) or size < 8 or start < pe.security_at + 8:
        raise Refused(f"its certificate table ({start:#x}+{size:#x}) is not the 8-byte aligned "
                      f"end of the file ({len(raw)} bytes)")
    length, revision, kind = struct.unpack_from("<IHH", raw, start)
    if revision != WIN_CERT_REVISION_2_0 or kind != WIN_CERT_TYPE_PKCS_SIGNED_DATA:
        raise Refused(f"its certificate entry has revision {revision:#x} and type {kind}, not "
                      "an Authenticode signature's")
    if length < size:
        raise Refused("its certificate table holds more than one entry, or bytes after it")
    if length != size:
        raise Refused(f"its certificate entry claims {length} bytes; the table has {size}")
    blob_size = der_length(raw[start + 8:start + 8 + 6])
    if 8 + blob_size + (-blob_size % 8) != length:
        raise Refused(f"its certificate entry holds {length - 8 - blob_size} bytes besides the "
                      "signature, not the padding to 8 bytes")
    if raw[start + 8 + blob_size:].strip(b"\0"):
        raise Refused("its certificate entry's padding is not zeros")
    return raw[start + 8:start + 8 + blob_size]


def digest_length_check(what, algorithm, digest):
    name = algorithm["algorithm"].native
    if name not in DIGEST_SIZES:
        raise Refused(f"{what} uses the digest algorithm {name}")
    if len(digest) != DIGEST_SIZES[name]:
        raise Refused(f"{what} is {len(digest)} bytes long; a {name} digest is "
                      f"{DIGEST_SIZES[name]}")


def signed_attributes(signer, what):
    """SIGNER's authenticated attributes as {type: [values]}: its message digest of its
    algorithm's length, each type once."""
    attributes = {}
    for attribute in signer["signed_attrs"]:
        kind = attribute["type"].dotted
        if kind in attributes:
            raise Refused(f"{what} holds the authenticated attribute {kind} twice")
        attributes[kind] = attribute["values"]
    digests = attributes.get("1.2.840.113549.1.9.4")
    if digests is None or len(digests) != 1:
        raise Refused(f"{what} has no single message digest")
    digest_length_check(f"{what}'s message digest", signer["digest_algorithm"],
                        digests[0].native)
    return attributes


def name_of(name):
    """A certificate's subject as OpenSSL writes it on one line: /CN=.../O=..."""
    parts = []
    for rdn in name.chosen:
        for attribute in rdn:
            kind = attribute["type"]
            parts.append(f"/{SHORT_NAMES.get(kind.native, kind.dotted)}="
                         f"{attribute['value'].native}")
    return "".join(parts)


def carried(signed_data, what):
    """The certificates that SIGNED_DATA carries, a few at most."""
    choices = list(signed_data["certificates"] or [])
    if len(choices) > MAX_CERTIFICATES:
        raise Refused(f"{what} carries {len(choices)} certificates; a signer's chain is a few")
    if any(c.name != "certificate" for c in choices):
        raise Refused(f"{what} carries something other than X.509 certificates")
    return [c.chosen for c in choices]


def signer_certificate(certificates, signer, what):
    """The one certificate of CERTIFICATES that SIGNER's identifier names, byte for byte: its
    issuer's name as encoded and its serial number, or its key identifier. (Names compared as
    OpenSSL compares them, which drops empty RDNs, could match a certificate that is not the
    one checked here.)"""
    sid = signer["sid"]
    if sid.name == "issuer_and_serial_number":
        wanted = sid.chosen
        found = [c for c in certificates if c.issuer.dump() == wanted["issuer"].dump()
                 and c["tbs_certificate"]["serial_number"].contents
                 == wanted["serial_number"].contents]
    else:
        found = [c for c in certificates if c.key_identifier == sid.chosen.native]
    if len(found) != 1:
        raise Refused(f"{what} names a certificate it carries {len(found)} times, not once")
    return found[0]


def chain_of(leaf, certificates, what):
    """LEAF and the certificates of CERTIFICATES above it, each the one whose subject is the
    issuer that the one below names, byte for byte, up to one that issued itself or whose
    issuer is not among them (a trusted root's)."""
    chain = [leaf]
    while chain[-1].issuer.dump() != chain[-1].subject.dump():
        above = [c for c in certificates if c.subject.dump() == chain[-1].issuer.dump()
                 and all(c is not link for link in chain)]
        if len(above) > 1:
            raise Refused(f"{what} carries {len(above)} certificates of "
                          f"{name_of(chain[-1].issuer)}, which issued "
                          f"{name_of(chain[-1].subject)}")
        if not above:
            break
        chain.append(above[0])
    return chain


def outside(certificates, chains):
    """The subjects of CERTIFICATES that none of CHAINS holds."""
    return [name_of(c.subject) for c in certificates
            if all(c is not link for chain in chains for link in chain)]


def unfit_for_code_signing(chain):
    """Why CHAIN may not sign code, if it may not: its leaf's key usage, when it has one, must
    allow digital signatures; every extended key usage in it must allow code signing, or, in a
    CA's certificate, any use (which limits nothing below it)."""
    leaf = chain[0]
    usage = leaf.key_usage_value
    if usage is not None and "digital_signature" not in usage.native:
        return ("its signer's certificate may not make digital signatures: its key usage is "
                + ", ".join(sorted(usage.native)))
    for certificate in chain:
        purposes = certificate.extended_key_usage_value
        if purposes is None:
            continue
        allowed = {"code_signing"} | ({"any_extended_key_usage"} if certificate is not leaf
                                      else set())
        if not allowed & set(purposes.native):
            who = ("its signer's certificate" if certificate is leaf
                   else f"{name_of(certificate.subject)}, above its signer,")
            return (f"{who} may not vouch for code signing: its extended key usage is "
                    + ", ".join(str(p) for p in purposes.native))
    return None


def asn1():
    """asn1crypto's modules, loaded only when a signature is read (the form's check needs none);
    tsp among them before anything is parsed, so that a timestamp's content type is known."""
    from asn1crypto import algos, cms, core, tsp
    return algos, cms, core, tsp


def check_timestamp(attribute, certificates):
    """A timestamp countersignature, RFC 3161 or the legacy one: its time, as text, and the
    chain of its signer among CERTIFICATES, the outer signature's (a legacy countersigner's
    certificates are carried there; an RFC 3161 token carries its own, and nothing else)."""
    _, cms, _, tsp = asn1()
    kind = attribute["type"].dotted
    values = attribute["values"]
    if len(values) != 1:
        raise Refused(f"it holds {len(values)} timestamps in one attribute")
    if kind == RFC3161_TIMESTAMP:
        token = values[0]
        if token["content_type"].native != "signed_data":
            raise Refused("its timestamp is not a SignedData")
        stamp = token["content"]
        if len(stamp["signer_infos"]) != 1:
            raise Refused(f"its timestamp has {len(stamp['signer_infos'])} signers")
        tsa = stamp["signer_infos"][0]
        if tsa["unsigned_attrs"].native:
            raise Refused("its timestamp carries unauthenticated attributes")
        signed_attributes(tsa, "its timestamp")
        own = carried(stamp, "its timestamp")
        others = outside(own, [chain_of(signer_certificate(own, tsa, "its timestamp"), own,
                                        "its timestamp")])
        if others:
            raise Refused(f"its timestamp carries {', '.join(others)}, not part of the chain of "
                          "the certificate it names as its signer's")
        content = stamp["encap_content_info"]
        if content["content_type"].dotted != TST_INFO:
            raise Refused("its timestamp holds no TSTInfo")
        info = content["content"].parsed
        if not isinstance(info, tsp.TSTInfo):
            raise Refused("its timestamp's TSTInfo is not one")
        imprint = info["message_imprint"]
        digest_length_check("its timestamp's imprint", imprint["hash_algorithm"],
                            imprint["hashed_message"].native)
        return str(info["gen_time"].native), []
    counter = values[0]
    if not isinstance(counter, cms.SignerInfo):
        raise Refused("its legacy timestamp is not a SignerInfo")
    if counter["unsigned_attrs"].native:
        raise Refused("its timestamp carries unauthenticated attributes")
    attributes = signed_attributes(counter, "its timestamp")
    times = attributes.get("1.2.840.113549.1.9.5")
    chain = chain_of(signer_certificate(certificates, counter, "its timestamp"), certificates,
                     "its timestamp")
    return (str(times[0].native) if times else "at an unknown time"), chain


def parse_signature(blob):
    """The form of one Authenticode signature: {subject, common_name, timestamp, description,
    unfit, leaf_hash}. Refused unless it is one SignedData with one SignerInfo, no nested
    signature, no unauthenticated attribute but one timestamp, digests of their algorithms'
    lengths, and a signer's certificate that the SignerInfo names byte for byte; unfit says why
    the certificates it carries may not sign code, when they are not just its signer's chain
    (and a legacy timestamp's) or that chain may not sign code, and leaf_hash is the signer's
    certificate's SHA-256."""
    algos, cms, core, _ = asn1()

    class SpcAttributeTypeAndOptionalValue(core.Sequence):
        _fields = [("type", core.ObjectIdentifier), ("value", core.Any, {"optional": True})]

    class SpcIndirectDataContent(core.Sequence):
        _fields = [("data", SpcAttributeTypeAndOptionalValue),
                   ("message_digest", algos.DigestInfo)]

    class SpcString(core.Choice):
        _alternatives = [("unicode", core.BMPString, {"implicit": 0}),
                         ("ascii", core.IA5String, {"implicit": 1})]

    class SpcLink(core.Choice):
        _alternatives = [("url", core.IA5String, {"implicit": 0}),
                         ("moniker", core.Any, {"implicit": 1}),
                         ("file", SpcString, {"explicit": 2})]

    class SpcSpOpusInfo(core.Sequence):
        _fields = [("program_name", SpcString, {"explicit": 0, "optional": True}),
                   ("more_info", SpcLink, {"explicit": 1, "optional": True})]

    info = cms.ContentInfo.load(blob, strict=True)
    if info["content_type"].native != "signed_data":
        raise Refused("its signature is not a PKCS#7 SignedData")
    signed_data = info["content"]
    signers = signed_data["signer_infos"]
    if len(signers) != 1:
        raise Refused(f"its signature has {len(signers)} signers, not one")
    signer = signers[0]
    content = signed_data["encap_content_info"]
    if content["content_type"].dotted != SPC_INDIRECT_DATA:
        raise Refused(f"its signature signs {content['content_type'].dotted}, not a "
                      "program's digest")
    indirect = content["content"].parse(SpcIndirectDataContent)
    digest = indirect["message_digest"]
    digest_length_check("its signed digest", digest["digest_algorithm"],
                        digest["digest"].native)
    attributes = signed_attributes(signer, "its signature")
    description = ""
    if SPC_SP_OPUS_INFO in attributes:
        opus = SpcSpOpusInfo.load(attributes[SPC_SP_OPUS_INFO][0].dump(), strict=True)
        if opus["program_name"].chosen.native is not None:
            description = opus["program_name"].chosen.native
        if any(c < " " or "\x7f" <= c <= "\x9f" for c in description):
            raise Refused(f"its signature describes it with control characters: "
                          f"{printable(description)}")
    certificates = carried(signed_data, "its signature")
    timestamp, chains = None, []
    for attribute in signer["unsigned_attrs"] or []:
        kind = attribute["type"].dotted
        if kind == NESTED_SIGNATURE:
            raise Refused("it carries a second signature nested in the first")
        if kind not in (RFC3161_TIMESTAMP, LEGACY_TIMESTAMP):
            raise Refused(f"its signature carries the unauthenticated attribute {kind}, "
                          "which is no timestamp")
        if timestamp is not None:
            raise Refused("its signature carries more than one timestamp")
        timestamp, counter_chain = check_timestamp(attribute, certificates)
        chains.append(counter_chain)
    certificate = signer_certificate(certificates, signer, "its signature")
    chain = chain_of(certificate, certificates, "its signature")
    others = outside(certificates, [chain, *chains])
    subject = name_of(certificate.subject)
    names = [a["value"].native for rdn in certificate.subject.chosen for a in rdn
             if a["type"].native == "common_name"]
    if any(c < " " or "\x7f" <= c <= "\x9f" for c in subject):
        raise Refused(f"it is signed by a certificate whose subject holds control "
                      f"characters: {printable(subject)}")
    # Found unfit only once osslsigncode has said which certificate it verified the signature
    # with, so that a refusal names the one that really signed.
    unfit = unfit_for_code_signing(chain)
    if others:
        unfit = (f"its signature carries {', '.join(others)}, not part of its signer's chain "
                 f"({' < '.join(name_of(c.subject) for c in chain)})")
    return {"subject": subject, "common_name": names[-1] if len(names) == 1 else None,
            "timestamp": timestamp, "description": description, "unfit": unfit,
            "leaf_hash": hashlib.sha256(certificate.dump()).hexdigest()}


def drop_privileges():
    """In the child, before exec: limits on CPU time, memory, file size, no core dump."""
    for limit, value in ((resource.RLIMIT_CPU, CONFINED_SECONDS),
                         (resource.RLIMIT_AS, 2048 * MIB), (resource.RLIMIT_FSIZE, 16 * MIB),
                         (resource.RLIMIT_CORE, 0)):
        resource.setrlimit(limit, (value, value))


def confined(argv, work, log_name):
    """Runs ARGV as a process that may be hostile's victim: as root, as nobody without network
    or capabilities; otherwise as this user, without network where user namespaces allow; a
    time limit on both. Returns (exit code or -signal, its output)."""
    wrapper = []
    if os.geteuid() == 0:
        wrapper = ["unshare", "--net", "--", "setpriv", "--reuid=nobody", "--regid=nogroup",
                   "--clear-groups", "--no-new-privs", "--inh-caps=-all",
                   "--bounding-set=-all", "--"]
    elif subprocess.run(["unshare", "--user", "--net", "--map-current-user", "true"],
                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL).returncode == 0:
        wrapper = ["unshare", "--user", "--net", "--map-current-user", "--"]
    log = os.path.join(work, log_name)
    with open(log, "wb") as out:
        process = subprocess.Popen(wrapper + argv, stdin=subprocess.DEVNULL, stdout=out,
                                   stderr=subprocess.STDOUT, cwd="/", start_new_session=True,
                                   preexec_fn=drop_privileges,
                                   env={"PATH": "/usr/bin:/bin", "LC_ALL": "C"})
        try:
            code = process.wait(timeout=CONFINED_SECONDS)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait()
            code = None
    with open(log, "rb") as f:
        output = f.read(256 * KIB).decode("utf-8", "replace")
    return code, output


def stopped(code):
    if code is None:
        return f"did not finish within {CONFINED_SECONDS} s"
    try:
        return f"stopped on signal {signal.Signals(-code).name}"
    except ValueError:
        return f"stopped with exit code {code}"


def last_words(output):
    """What a confined process that failed said last, after a colon: what it could not do."""
    words = [line for line in output.splitlines()
             if line.strip() and not line[0].isspace() and line not in ("Failed", "Succeeded")]
    return f": {printable('; '.join(words[-2:]))}" if words else ""


def reachable(folder):
    """Whether every user may pass through FOLDER and each folder above it."""
    while True:
        if not os.stat(folder).st_mode & stat.S_IXOTH:
            return False
        if folder == "/":
            return True
        folder = os.path.dirname(folder)


def sandbox(work):
    """Where the confined processes read their copies of the download: WORK/box, or, when the
    user nobody could not reach that (TMPDIR in a folder of root's own, say), a folder of its own
    in the first system temporary folder that it can reach, removed on exit."""
    box = os.path.join(work, "box")
    if os.geteuid() == 0 and not reachable(os.path.dirname(os.path.abspath(work))):
        base = next((folder for folder in ("/tmp", "/var/tmp", "/dev/shm")
                     if os.path.isdir(folder) and reachable(folder)), None)
        if base is None:
            raise Refused("no folder here that the user nobody, who verifies the programs, can "
                          "reach: not /tmp, /var/tmp nor /dev/shm")
        box = tempfile.mkdtemp(prefix="check-release.", dir=base)
        atexit.register(shutil.rmtree, box, True)
    os.makedirs(box, exist_ok=True)
    os.chmod(work, 0o711)
    os.chmod(box, 0o755)
    return box


def place(box, name, data):
    path = os.path.join(box, name)
    with open(path, "wb") as f:
        f.write(data)
    os.chmod(path, 0o644)
    return path


def signatures(work, exec_test, ca, signer_name):
    state = State(work)
    box = sandbox(work)
    system_roots = "/etc/ssl/certs/ca-certificates.crt"
    against = ca or "this system's trusted roots"
    roots = b""
    for path in filter(None, (ca, system_roots)):
        try:
            with open(path, "rb") as f:
                roots += f.read(16 * MIB)
        except OSError:
            pass
    # A timestamp authority's chain may end at a public root even when the signer's ends at CA.
    tsa_roots = place(box, "tsa-roots.pem", roots)
    with open(ca or system_roots, "rb") as f:
        signer_roots = place(box, "ca.pem", f.read(16 * MIB))
    test = place(box, "executable_test.py", open(exec_test, "rb").read())
    copies = {}
    for program in PROGRAMS:
        with open(os.path.join(work, "released", program), "rb") as f:
            copies[program] = place(box, program, f.read())
    check_readable(work, {signer_roots: "the CA's certificates",
                          tsa_roots: "the timestamp's roots", test: "the executable test",
                          **{copy: program for program, copy in copies.items()}})
    refusals = []
    signed = {}
    for program in PROGRAMS:
        copy = copies[program]
        with open(copy, "rb") as f:
            raw = f.read()
        try:
            blob = signature_blob(raw)
            if blob is None:
                if signer_name is not None:
                    raise Refused(f"it is not signed; --signer asks for {signer_name}")
                say(f"{program}: unsigned; its hash in SHA256SUMS is all that vouches for it")
            else:
                try:
                    found = parse_signature(blob)
                except Refused:
                    raise
                except Exception as e:  # asn1crypto's word on malformed DER, whatever its kind
                    raise Refused("its signature is not a well-formed PKCS#7 SignedData "
                                  f"({printable(type(e).__name__)}: {printable(e)})")
                signed[program] = found
                # Who signed is known once osslsigncode verified the signature with the
                # certificate that its SignerInfo names.
                if verify(state, program, copy, signer_roots, tsa_roots, against, found, work):
                    if found["unfit"]:
                        raise Refused(found["unfit"])
                    if signer_name is not None and found["common_name"] != signer_name:
                        raise Refused(f"signed by {found['subject']}, whose common name is not "
                                      f"{signer_name}")
            options = ["--signed"] * (blob is not None)
            options += ["--program", "inspect"] * (program == "quorvel-inspect.exe")
            code, output = confined(["/usr/bin/python3", test, *options, copy], work,
                                    "layout.log")
            if code != 0:
                failures = [line for line in output.splitlines() if line.startswith("FAIL")]
                if code != 1 or not failures:
                    raise Refused(f"the executable test {stopped(code)} reading it"
                                  f"{last_words(output)}")
                state.problem(f"{program}: it breaks the executable's layout or hardening rules")
                for line in failures[:20]:
                    say("   ", line)
        except Refused as e:
            say(f"FAIL: {program}:", e)
            refusals.append(program)
    state.data.update(signed=signed, signer=signer_name, against=against)
    state.save()
    if refusals:
        raise Refused("")  # each named above


def check_readable(work, copies):
    """Refused unless the confined processes can read each of COPIES: {path: what it is}."""
    code, output = confined(["/bin/sh", "-c", 'for f; do [ -r "$f" ] || echo "$f"; done', "sh",
                             *copies], work, "readable.log")
    who = "the user nobody, who verifies the programs," if os.geteuid() == 0 else \
        "the confined verifier"
    if code != 0:
        raise Refused(f"{who} cannot be started: it {stopped(code)}{last_words(output)}")
    unreadable = [copies.get(path, path) for path in output.splitlines()]
    if unreadable:
        raise Refused(f"{who} cannot read its copies of {', '.join(unreadable)} in "
                      f"{os.path.dirname(next(iter(copies)))}")


def verified_signer(lines):
    """The subject of the certificate that osslsigncode took for the signer's, as it wrote it."""
    after = lines[lines.index("Signer's certificate:") + 1:] \
        if "Signer's certificate:" in lines else []
    return next((line.split(":", 1)[1].strip() for line in after
                 if line.strip().startswith("Subject:")), "an unknown certificate")


def verify(state, program, copy, roots, tsa_roots, against, found, work):
    """osslsigncode's verdict on the one signature, confined: whether it verifies the signature
    with the certificate that the SignerInfo names byte for byte, and no other."""
    osslsigncode = next((os.path.join(d, "osslsigncode") for d in os.environ["PATH"].split(":")
                         if d and os.access(os.path.join(d, "osslsigncode"), os.X_OK)), None)
    if osslsigncode is None:
        raise Refused("osslsigncode is not installed")
    command = [osslsigncode, "verify", "-CAfile", roots, "-TSA-CAfile", tsa_roots, "-in", copy]
    code, output = confined(command[:2] + ["-require-leaf-hash", f"sha256:{found['leaf_hash']}"]
                            + command[2:], work, "verify.log")
    if code not in (0, 1):
        raise Refused(f"osslsigncode {stopped(code)} verifying its signature"
                      f"{last_words(output)}")
    subject = found["subject"]
    lines = output.splitlines()
    if "Leaf hash match: failed" in lines:
        # OpenSSL found another certificate for the SignerInfo: which, and does it verify?
        code, output = confined(command, work, "verify.log")
        lines = output.splitlines()
        if code == 0 and "Signature verification: ok" in lines:
            state.problem(f"{program}: signed by {verified_signer(lines)}, whose certificate "
                          f"verifies the signature, though its SignerInfo names another that "
                          f"it carries, of {subject}")
        else:
            state.problem(f"{program}: its SignerInfo names a certificate of {subject}, but "
                          f"osslsigncode takes that of {verified_signer(lines)} for the "
                          "signer's, and the signature does NOT verify with it")
        return False
    if code == 0 and "Signature verification: ok" in lines and "Leaf hash match: ok" in lines:
        stamp = "no timestamp"
        if found["timestamp"]:
            if not any(re.match(r"Timestamp Server Signature verification: ok", line)
                       for line in lines):
                state.problem(f"{program}: signed by {subject}; its timestamp does NOT verify")
            stamp = f"timestamped {found['timestamp']}"
        say(f"{program}: signed by {subject}; the signature verifies against {against} "
            f"({stamp})")
        return True
    state.problem(f"{program}: signed by {subject}; the signature does NOT verify against "
                  f"{against}")
    for line in lines:
        if re.search("fail|error|mismatch", line, re.I):
            say("   ", line)
    return False


# --- The bytes against the rebuild --------------------------------------------------------------

def compare(work, rebuilt, commit):
    state = State(work)
    version = state.data["version"]
    pack = os.path.join(work, "pack")
    for folder in ("tools/demo_console", "e2e"):
        os.makedirs(os.path.join(pack, folder), exist_ok=True)
    for name in ("tools/demo_console/demo_console.exe", "e2e/quorvel_e2e.exe"):
        with open(os.path.join(rebuilt, "build", name), "rb") as f:
            data = f.read()
        with open(os.path.join(pack, name), "wb") as f:
            f.write(data)
    for program in PROGRAMS:
        with open(os.path.join(work, "released", program), "rb") as f:
            released = f.read()
        with open(os.path.join(rebuilt, "build", program), "rb") as f:
            built = f.read()
        with open(os.path.join(pack, program), "wb") as f:
            f.write(released)
        if program in state.data.get("signed", {}):
            same = unsigned_part(released) == built
            say(f"{'' if same else 'FAIL: '}{program}: without its signature, it is "
                f"{'' if same else 'not '}the same {len(built)} bytes as {commit}'s build")
            if not same:
                state.data["problems"] += 1
            elif attach(built, signature_blob(released)) != released:
                state.problem(f"{program}: its signature is not attached as scripts/release "
                              "attaches it: the file holds other bytes besides")
            else:
                say(f"{program}: the build with this signature attached as scripts/release "
                    f"attaches it is the {len(released)} bytes released")
        elif released == built:
            say(f"{program}: it is the same {len(built)} bytes as {commit}'s build")
        else:
            state.problem(f"{program}: it is not the same bytes as {commit}'s build")
    repacked = os.path.join(work, "repacked")
    env = dict(os.environ, SOURCE_DATE_EPOCH=os.environ["SOURCE_DATE_EPOCH"])
    subprocess.run(["/usr/bin/python3", os.path.join(rebuilt, "src/tools/release/make_release.py"),
                    "--version", version, "--source", os.path.join(rebuilt, "src"),
                    "--build", pack, "--out", repacked], check=True,
                   stdout=subprocess.DEVNULL, env=env)
    for name in state.data["checked"] + ["SHA256SUMS"]:
        path = os.path.join(repacked, name)
        if not os.path.exists(path):
            state.problem(f"{name} is not part of a release")
            continue
        with open(path, "rb") as f:
            same = hashlib.sha256(f.read()).hexdigest() == state.data["hashes"][name]
        if same:
            say(f"{name}: the same bytes as packed from {commit}'s build")
        else:
            state.problem(f"{name}: not the same bytes as packed from {commit}'s build")
    state.save()
    problems = state.data["problems"]
    if problems:
        say(f"check-release: {problems} problem(s): this is not the release that {commit} makes")
        return 1
    say(f"check-release: the release is what {commit} builds, byte for byte")
    name, against = state.data.get("signer"), state.data.get("against")
    if name is not None:
        say(f"check-release: every program is signed by {name}, as --signer asks")
    elif state.data.get("signed"):
        say("check-release: the publisher was not pinned: without --signer NAME, a signature "
            f"by anyone whom {against} vouches for passes")
    else:
        say("check-release: the publisher was not pinned: the programs are unsigned, which "
            "passes without --signer NAME")
    return 0


def main(argv):
    usage = __doc__.split("\n\n")[1]
    if not argv or argv[0] not in ("form", "signatures", "compare") or argv == ["form"]:
        print(usage, file=sys.stderr)
        return 2
    step, options = argv[0], {}
    rest = argv[1:]
    if step == "form":
        options["dir"], rest = rest[0], rest[1:]
    allowed = {"form": {"--version", "--work"},
               "signatures": {"--work", "--exec-test", "--ca", "--signer"},
               "compare": {"--work", "--rebuilt", "--commit"}}[step]
    while rest:
        if len(rest) < 2 or rest[0] not in allowed:
            print(usage, file=sys.stderr)
            return 2
        options[rest[0][2:].replace("-", "_")] = rest[1]
        rest = rest[2:]
    required = {"form": ("version", "work"), "signatures": ("work", "exec_test"),
                "compare": ("work", "rebuilt", "commit")}[step]
    if any(name not in options for name in required):
        print(usage, file=sys.stderr)
        return 2
    try:
        if step == "form":
            form(options["dir"], options["version"], options["work"])
        elif step == "signatures":
            signatures(options["work"], options["exec_test"], options.get("ca"),
                       options.get("signer"))
        else:
            return compare(options["work"], options["rebuilt"], options["commit"])
    except Refused as e:
        if str(e):
            say("FAIL:", e)
        say("check-release: the download is refused")
        return 1
    except OSError as e:  # what a step could not read or write, which no check foresaw
        say("FAIL:", e.strerror or type(e).__name__, *([e.filename] if e.filename else []))
        say("check-release: the download is refused")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
