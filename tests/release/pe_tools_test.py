#!/usr/bin/python3
"""scripts/pe_tools.py against what the release scripts rely on it for.

usage: pe_tools_test.py EXE OBJDUMP   (the shipped exe, and MinGW's objdump to read it independently)
"""
import hashlib
import os
import re
import subprocess
import sys
import tempfile
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import pe_tools  # noqa: E402

EXE, OBJDUMP = None, None


class Offsets(unittest.TestCase):
    """The bytes signing-test.sh flips must be where it says they are; objdump is the referee."""

    def setUp(self):
        with open(EXE, "rb") as source:
            self.data = source.read()
        self.image = pe_tools.load(self.data)

    def objdump(self, option):
        return subprocess.run([OBJDUMP, option, EXE], check=True, capture_output=True, text=True).stdout

    def test_code_offset_is_inside_the_code_section(self):
        # Idx Name Size VMA LMA File-off Algn
        text = re.search(r"^\s*\d+\s+\.text\s+([0-9a-f]+)\s+\S+\s+\S+\s+([0-9a-f]+)", self.objdump("-h"), re.M)
        size, start = int(text.group(1), 16), int(text.group(2), 16)
        self.assertTrue(start <= pe_tools.code_offset(self.image) < start + size)

    def test_checksum_offset_holds_the_checksum(self):
        checksum = int(re.search(r"^CheckSum\s+([0-9a-f]+)", self.objdump("-p"), re.M).group(1), 16)
        at = pe_tools.checksum_offset(self.image)
        self.assertEqual(int.from_bytes(self.data[at:at + 4], "little"), checksum)

    def test_differences_are_placed(self):
        cases = [  # offset to change | where the report must place it
            (pe_tools.checksum_offset(self.image), "the PE checksum field"),
            (pe_tools.code_offset(self.image), "in .text:"),
            (2, "in headers:"),
        ]
        with tempfile.TemporaryDirectory() as work:
            for offset, place in cases:
                with self.subTest(place=place):
                    changed = bytearray(self.data)
                    changed[offset] ^= 0x01
                    given = os.path.join(work, "given.exe")
                    with open(given, "wb") as out:
                        out.write(changed)
                    report = run_tool("pe-differences", given, EXE)
                    self.assertIn(place, report)
                    self.assertIn("1 byte(s) differ", report)

    def test_a_truncated_image_is_unreadable(self):
        with self.assertRaises(pe_tools.UnreadableImage):
            pe_tools.load(self.data[:8192])


def run_tool(*arguments, stdin=""):
    return subprocess.run([sys.executable, pe_tools.__file__, *arguments], input=stdin, capture_output=True,
                          text=True).stdout


class ExpectedZip(unittest.TestCase):
    """verify-release.sh rebuilds the release zip around a signed exe: it must be the zip
    release.sh would write for that exe, byte for byte."""

    def stage(self, folder, exe_bytes):
        os.makedirs(folder)
        files = {"VELQUOR.exe": exe_bytes, "INSTALL.txt": "Instale em C:\\VELQUOR\r\n".encode()}
        files["SHA256SUMS"] = "".join(f"{hashlib.sha256(data).hexdigest()}  {name}\n"
                                      for name, data in files.items()).encode()
        for name, data in files.items():
            with open(os.path.join(folder, name), "wb") as out:
                out.write(data)
        return list(files)

    def test_expected_zip_is_what_the_release_writes(self):
        epoch = 1767225600  # 2026-01-01
        with tempfile.TemporaryDirectory() as work:
            names = self.stage(f"{work}/unsigned", b"MZ unsigned")
            self.stage(f"{work}/signed", b"MZ unsigned, then a signature")
            pe_tools.write_zip(f"{work}/unsigned.zip", epoch, f"{work}/unsigned", names)
            pe_tools.write_zip(f"{work}/signed.zip", epoch, f"{work}/signed", names)
            pe_tools.expected_zip(f"{work}/unsigned.zip", f"{work}/signed/VELQUOR.exe", f"{work}/expected.zip")
            with open(f"{work}/signed.zip", "rb") as a, open(f"{work}/expected.zip", "rb") as b:
                self.assertEqual(a.read(), b.read())

    def test_the_release_zip_carries_no_host_details(self):
        with tempfile.TemporaryDirectory() as work:
            names = self.stage(f"{work}/stage", b"MZ")
            pe_tools.write_zip(f"{work}/old.zip", 0, f"{work}/stage", names)
            with zipfile.ZipFile(f"{work}/old.zip") as bundle:
                self.assertEqual(bundle.namelist(), names)
                for info in bundle.infolist():
                    self.assertEqual((info.date_time, info.create_system, info.external_attr,
                                      info.compress_type), ((1980, 1, 1, 0, 0, 0), 0, 0o600 << 16, zipfile.ZIP_DEFLATED))


DIGEST = "00171AE1A32BBD1BF17831C99E9CD104A865C3479F375DAEEBAD81880275579C"
OTHER = "9C5B0AA1A32BBD1BF17831C99E9CD104A865C3479F375DAEEBAD818802755700"


def report(*digests, timestamp=None, timestamp_check="ok"):
    """An osslsigncode verify report with one signature per (current, calculated) pair."""
    text = ""
    for current, calculated in digests:
        text += (f"Message digest algorithm  : SHA256\nCurrent message digest    : {current} \n"
                 f"Calculated message digest : {calculated} \n\n")
    text += ("Signer's certificate:\n\t------------------\n\tSigner #0:\n\t\tSubject: /CN=VELQUOR Test Signer\n"
             "\t\tIssuer : /CN=VELQUOR Test Root\n")
    if timestamp:
        text += f"{timestamp}\nTimestamp Server Signature verification: {timestamp_check}\n"
    return text + "Signature verification: ok\n"


class Verdicts(unittest.TestCase):
    CASES = [  # name | report | the digest matches | the signature is valid
        ("the file's own digest", report((DIGEST, DIGEST)), True, True),
        ("another file's digest", report((DIGEST, OTHER)), False, False),
        ("no digest reported", report(), False, False),
        ("a second signature over other bytes", report((DIGEST, DIGEST), (DIGEST, OTHER)), False, False),
        ("a timestamp that fails", report((DIGEST, DIGEST), timestamp="Timestamp time: Jan  1 00:00:00 2026 GMT",
                                          timestamp_check="failed"), True, False),
    ]

    def test_verdicts(self):
        for name, text, matches, valid in self.CASES:
            with self.subTest(name):
                parsed = pe_tools.SignatureReport(text)
                self.assertEqual(parsed.digest_matches(), matches)
                self.assertEqual(parsed.valid(), valid)
                # What release.sh and verify-release.sh see: the exit status.
                command = subprocess.run([sys.executable, pe_tools.__file__, "digest-matches"], input=text,
                                         capture_output=True, text=True)
                self.assertEqual(command.returncode == 0, matches)

    def test_summary_reads_both_wordings_of_the_timestamp(self):
        for line in ("The signature is timestamped: Jan  1 00:00:00 2026 GMT",  # osslsigncode 2.5
                     "Timestamp time: Jan  1 00:00:00 2026 GMT"):                # 2.9
            with self.subTest(line):
                summary = pe_tools.SignatureReport(report((DIGEST, DIGEST), timestamp=line)).summary()
                self.assertIn("signer:    /CN=VELQUOR Test Signer (issued by /CN=VELQUOR Test Root)", summary)
                self.assertIn("digest:    SHA256", summary)
                self.assertIn("timestamp: Jan  1 00:00:00 2026 GMT", summary)
        summary = pe_tools.SignatureReport(report((DIGEST, DIGEST))).summary()
        self.assertIn("timestamp: none", summary)


if __name__ == "__main__":
    EXE, OBJDUMP = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1])
