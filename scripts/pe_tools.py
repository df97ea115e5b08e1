#!/usr/bin/python3
"""The launcher's PE image, its release zip and osslsigncode's verdict on a signature.

The PE headers are read with Debian's python3-pefile, so run this with /usr/bin/python3.
tests/hardening/pe_check.py imports it; the release scripts and their test run it:

  pe_tools.py code-offset EXE                 a byte inside the code (.text), as a file offset
  pe_tools.py checksum-offset EXE             the PE checksum field, as a file offset
  pe_tools.py pe-differences GIVEN EXPECTED   where two images differ: headers, section, checksum
  pe_tools.py extract ZIP DIR                 checks each entry's CRC, extracts, lists the names
  pe_tools.py write-zip OUT EPOCH DIR NAME... the release zip of DIR's files, in that order
  pe_tools.py expected-zip REFERENCE EXE OUT  the reference release with EXE in place of its exe
  pe_tools.py zip-differences GIVEN EXPECTED  entries, their fields and contents that differ
  pe_tools.py digest-matches                  osslsigncode verify's report on stdin: exit 0 when
                                              every digest it calculated is the one signed
  pe_tools.py signature-report                the same report: signer, digest and timestamp;
                                              exit 1 when the digest or the timestamp is bad
"""
import collections
import hashlib
import sys
import time
import zipfile

import pefile

RT_VERSION, RT_MANIFEST = 16, 24
FIXED_FILE_INFO_SIGNATURE = 0xFEEF04BD

Section = collections.namedtuple("Section", "name file_start file_end flags")


class UnreadableImage(ValueError):
    """The bytes are not a PE image pefile can read."""


# pefile reads on past what it cannot read and keeps a warning. These say that part of the
# image is missing or malformed, so nothing read from it can be trusted; its other warnings
# ("Suspicious ...", how many bytes are zero) are heuristics about well-formed images.
UNREADABLE_WARNINGS = ("Error", "Invalid", "Corrupt", "Failed", "Too many warnings")


# The directories read: what is checked of an image. The others (relocations above all)
# would only cost time.
DIRECTORIES = [pefile.DIRECTORY_ENTRY[name] for name in
               ("IMAGE_DIRECTORY_ENTRY_IMPORT", "IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT", "IMAGE_DIRECTORY_ENTRY_RESOURCE")]


def load(data):
    """The parsed image of DATA (bytes): its headers, sections, imports and resources."""
    try:
        image = pefile.PE(data=data, fast_load=True)
        image.parse_data_directories(directories=DIRECTORIES)
    except pefile.PEFormatError as error:
        raise UnreadableImage(error.value) from None
    unreadable = [warning for warning in image.get_warnings() if warning.startswith(UNREADABLE_WARNINGS)]
    if unreadable:
        raise UnreadableImage(unreadable[0])
    return image


def load_file(path):
    with open(path, "rb") as source:
        return load(source.read())


def sections(image):
    """The section table: name, the span of the section's data in the file, its flags."""
    return [Section(section.Name.rstrip(b"\0").decode("ascii", "replace"), section.PointerToRawData,
                    section.PointerToRawData + section.SizeOfRawData, section.Characteristics)
            for section in image.sections]


def file_spans(image):
    """(name, start, end) of the headers and of each section's data in the file."""
    return [("headers", 0, image.OPTIONAL_HEADER.SizeOfHeaders)] + \
        [(section.name, section.file_start, section.file_end) for section in sections(image)]


def checksum_offset(image):
    """Where the PE checksum field is in the file."""
    return image.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")


def code_offset(image):
    """A byte in the middle of the code section's data."""
    for section in sections(image):
        if section.name == ".text" and section.file_end > section.file_start:
            return (section.file_start + section.file_end) // 2
    raise UnreadableImage("no .text section with data in the file")


def _functions(entry):
    return [function.name.decode("ascii", "replace") if function.name else f"#{function.ordinal}"
            for function in entry.imports]


def imports(image):
    """(DLL name, [function names, or #ordinal]) of the import table, in its order."""
    return [(entry.dll.decode("ascii", "replace"), _functions(entry))
            for entry in getattr(image, "DIRECTORY_ENTRY_IMPORT", [])]


def delay_imports(image):
    """(DLL name, [function names, or #ordinal]) of the delay-import table, in its order."""
    return [(entry.dll.decode("ascii", "replace"), _functions(entry))
            for entry in getattr(image, "DIRECTORY_ENTRY_DELAY_IMPORT", [])]


def resource(image, type_id):
    """The data of the first language of the first entry of a resource type, or None."""
    root = getattr(image, "DIRECTORY_ENTRY_RESOURCE", None)
    kinds = [kind for kind in (root.entries if root else []) if kind.id == type_id]
    try:
        data = kinds[0].directory.entries[0].directory.entries[0].data.struct
    except (IndexError, AttributeError):
        return None
    try:
        return image.get_data(data.OffsetToData, data.Size)
    except pefile.PEFormatError as error:
        raise UnreadableImage(error.value) from None


def _version(most, least):
    return most >> 16, most & 0xFFFF, least >> 16, least & 0xFFFF


def version_record(image):
    """((file version), (product version)) of the fixed record, or None, and the
    {name: value} strings of its StringFileInfo; None when there is no version record."""
    if resource(image, RT_VERSION) is None:
        return None
    fixed = None
    fixed_infos = getattr(image, "VS_FIXEDFILEINFO", [])
    if fixed_infos and fixed_infos[0].Signature == FIXED_FILE_INFO_SIGNATURE:
        info = fixed_infos[0]
        fixed = (_version(info.FileVersionMS, info.FileVersionLS),
                 _version(info.ProductVersionMS, info.ProductVersionLS))
    strings = {}
    file_infos = getattr(image, "FileInfo", [])
    for block in file_infos[0] if file_infos else []:
        if block.Key == b"StringFileInfo":
            for table in block.StringTable:
                strings.update({_text(key): _text(value) for key, value in table.entries.items()})
    return fixed, strings


def _text(value):
    return value.decode("utf-8", "replace") if isinstance(value, bytes) else value


# ----- the release zip -----

# A zip's times start in 1980.
ZIP_EPOCH = 315532800
FIXED_MODE = 0o600 << 16


def _write_entries(out, entries):
    with zipfile.ZipFile(out, "w") as bundle:
        for info, data in entries:
            bundle.writestr(info, data, compresslevel=9)


def write_zip(out, epoch, folder, names):
    """The files NAMES of FOLDER, in that order, deflated, dated EPOCH (UTC), made on "FAT"
    with one fixed mode whatever the host's: the same bytes from the same files on any machine."""
    stamp = time.gmtime(max(epoch, ZIP_EPOCH))[:6]
    entries = []
    for name in names:
        info = zipfile.ZipInfo(name, date_time=stamp)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.create_system = 0
        # zipfile gives an entry of mode 0 this one (rw-------); stated so it is seen.
        info.external_attr = FIXED_MODE
        with open(f"{folder}/{name}", "rb") as source:
            entries.append((info, source.read()))
    _write_entries(out, entries)


def expected_zip(reference, exe, out):
    """The reference release with its exe replaced by EXE: entries, order, times and
    compression kept, so the bytes are what the release would be. The bill of materials
    carries the exe's hashes and SHA256SUMS every file's, so both follow the exe."""
    import release_record  # beside this file

    with open(exe, "rb") as source:
        exe_bytes = source.read()
    digests = {}
    entries = []
    with zipfile.ZipFile(reference) as source:
        for info in source.infolist():
            data = source.read(info)
            if info.filename == "VELQUOR.exe":
                data = exe_bytes
            elif info.filename == "VELQUOR.cdx.json":
                data = release_record.bom_for_exe(data, exe_bytes)
            elif info.filename == "SHA256SUMS":
                data = _sums_for(data, digests)
            digests[info.filename] = hashlib.sha256(data).hexdigest()
            entries.append((info, data))
    _write_entries(out, entries)


def _sums_for(sums, digests):
    """SHA256SUMS ("<sha256>  <name>" lines) with the digests of the files DIGESTS names."""
    lines = []
    for line in sums.decode().splitlines():
        digest, _, name = line.partition("  ")
        lines.append(f"{digests.get(name, digest)}  {name}")
    return ("\n".join(lines) + "\n").encode()


def extract(zip_path, out_dir):
    """Checks every entry's stored CRC, extracts them and prints their names."""
    with zipfile.ZipFile(zip_path) as bundle:
        try:
            bad = bundle.testzip()
        except Exception as error:  # zipfile raises what the damaged bytes lead it to
            sys.exit(f"the zip cannot be read: {error}")
        if bad:
            sys.exit(f"{bad}: its stored checksum does not match its content")
        bundle.extractall(out_dir)
        print("\n".join(bundle.namelist()))


def zip_differences(given, expected):
    with zipfile.ZipFile(given) as a, zipfile.ZipFile(expected) as b:
        names_a, names_b = a.namelist(), b.namelist()
        if names_a != names_b:
            print(f"  the zip holds {names_a}; the build's holds {names_b}")
        for name in [n for n in names_a if n in names_b]:
            ia, ib = a.getinfo(name), b.getinfo(name)
            fields = ("date_time", "compress_type", "external_attr", "create_system", "comment", "extra")
            changed = [f for f in fields if getattr(ia, f) != getattr(ib, f)]
            if changed:
                print(f"  {name}: its zip entry differs in {', '.join(changed)}")
            if a.read(name) != b.read(name):
                print(f"  {name}: its content differs")
        if a.comment != b.comment:
            print("  the zip's comment differs")
    print("  (the zip's bytes differ from the build's)")


# ----- where two images differ -----

def _place(spans, checksum_at, offset):
    if checksum_at <= offset < checksum_at + 4:
        return "the PE checksum field, which does not match the rest of the file"
    for name, start, end in spans:
        if start <= offset < end:
            return name
    return "past the sections (the signature's table)"


def pe_differences(given, expected):
    with open(given, "rb") as a_file, open(expected, "rb") as b_file:
        a, b = a_file.read(), b_file.read()
    if len(a) != len(b):
        print(f"  VELQUOR.exe is {len(a)} bytes; the build's is {len(b)}")
    try:
        image = load(b)
        spans, checksum_at = file_spans(image), checksum_offset(image)
    except UnreadableImage:
        spans, checksum_at = [], -1
    places = {}
    for offset in (i for i in range(min(len(a), len(b))) if a[i] != b[i]):
        places.setdefault(_place(spans, checksum_at, offset), []).append(offset)
    for place, found in places.items():
        shown = ", ".join(f"0x{o:x} ({a[o]:#04x} here, {b[o]:#04x} in the build)" for o in found[:4])
        more = f" and {len(found) - 4} more" if len(found) > 4 else ""
        print(f"  VELQUOR.exe: {len(found)} byte(s) differ in {place}: {shown}{more}")


# ----- osslsigncode's verdict -----

class SignatureReport:
    """What `osslsigncode verify` says of a signature. Its 2.5 (Debian 12) and 2.9 word the
    timestamp differently; both are read."""

    def __init__(self, text):
        self.signer = self.issuer = self.digest = self.timestamp = None
        self.digests_checked = 0
        self.digests_differ = False
        self.timestamp_fails = False
        in_signer, current = False, None
        for line in text.splitlines():
            value = line.split(":", 1)[1].strip() if ":" in line else ""
            if line.startswith("Signer's certificate:"):
                in_signer = True
            elif in_signer and "Subject:" in line and self.signer is None:
                self.signer = value
            elif in_signer and "Issuer :" in line and self.issuer is None:
                self.issuer = value
            elif line.startswith("Message digest algorithm") and self.digest is None:
                self.digest = value
            elif line.startswith("Current message digest"):
                current = "".join(value.split())
            elif line.startswith("Calculated message digest"):
                self.digests_checked += 1
                self.digests_differ |= "".join(value.split()) != current
            elif (line.startswith("The signature is timestamped:") or "Timestamp time:" in line) \
                    and self.timestamp is None:
                self.timestamp = value
            elif line.startswith("Timestamp Server Signature verification:") and value != "ok":
                self.timestamp_fails = True

    def digest_matches(self):
        """Every digest osslsigncode calculated is the one signed, and it calculated one."""
        return self.digests_checked > 0 and not self.digests_differ

    def valid(self):
        return self.digest_matches() and not self.timestamp_fails

    def summary(self):
        stamp = self.timestamp or "none (valid only while the certificate is)"
        return (f"  signer:    {self.signer or ''} (issued by {self.issuer or ''})\n"
                f"  digest:    {self.digest or ''}\n"
                f"  timestamp: {stamp}")


def _digest_matches():
    return 0 if SignatureReport(sys.stdin.read()).digest_matches() else 1


def _signature_report():
    report = SignatureReport(sys.stdin.read())
    print(report.summary())
    return 0 if report.valid() else 1


def _print_offset(where):
    def run(exe):
        print(where(load_file(exe)))
    return run


COMMANDS = {
    "code-offset": _print_offset(code_offset),
    "checksum-offset": _print_offset(checksum_offset),
    "pe-differences": pe_differences,
    "extract": extract,
    "write-zip": lambda out, epoch, folder, *names: write_zip(out, int(epoch), folder, names),
    "expected-zip": expected_zip,
    "zip-differences": zip_differences,
    "digest-matches": _digest_matches,
    "signature-report": _signature_report,
}


def main(arguments):
    if not arguments or arguments[0] not in COMMANDS:
        sys.exit(__doc__)
    try:
        return COMMANDS[arguments[0]](*arguments[1:]) or 0
    except UnreadableImage as error:
        sys.exit(f"unreadable PE image: {error}")


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
