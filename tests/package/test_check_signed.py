"""tests/pe/check_signed.py passes a program as osslsigncode signs it and
fails each way a signed program can differ from what signing makes."""
import shutil
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path

from fixtures import EXE, ROOT, ensure_exe, make_pki

CHECK_SIGNED = ROOT / "tests" / "pe" / "check_signed.py"
PASSWORD = "check signed"


def sign(pki, src, dst):
    subprocess.run(["osslsigncode", "sign", "-pkcs12", pki["p12"], "-readpass", pki["password"],
                    "-h", "sha256", "-st", "1700000000", "-in", src, "-out", dst],
                   check=True, capture_output=True)


def header_offsets(data):
    """File offsets of the checksum and of the certificate table's entry."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    return pe + 24 + 64, pe + 24 + 96 + 4 * 8


class CheckSigned(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        ensure_exe()
        cls.dir = Path(tempfile.mkdtemp(prefix="check-signed-test."))
        cls.pki = make_pki(cls.dir / "pki", PASSWORD)
        cls.signed = cls.dir / "signed.exe"
        sign(cls.pki, EXE, cls.signed)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def check(self, unsigned, signed):
        return subprocess.run(["/usr/bin/python3", CHECK_SIGNED, unsigned, signed],
                              capture_output=True, text=True)

    def test_passes_what_osslsigncode_signs(self):
        p = self.check(EXE, self.signed)
        self.assertEqual(p.returncode, 0, p.stdout)
        self.assertRegex(p.stdout, r"\n[1-9]\d* passed, 0 failed\n$")

    def test_fails_each_fault(self):
        good = self.signed.read_bytes()
        checksum_at, entry_at = header_offsets(good)
        table_at, table_size = struct.unpack_from("<II", good, entry_at)

        def flip(at):
            return lambda b: b.__setitem__(at, b[at] ^ 1)

        def put(at, fmt, *values):
            return lambda b: struct.pack_into(fmt, b, at, *values)

        # Another program, signed well: one that differs in a byte no check
        # of check_exe.py looks at (the minor linker version).
        other = bytearray(EXE.read_bytes())
        pe = struct.unpack_from("<I", other, 0x3C)[0]
        other[pe + 24 + 3] ^= 1
        (self.dir / "other.exe").write_bytes(other)
        sign(self.pki, self.dir / "other.exe", self.dir / "other-signed.exe")
        other_signed = (self.dir / "other-signed.exe").read_bytes()

        cases = [
            ("a code byte changed", flip(0x1000), None,
             "FAIL the unsigned bytes come first"),
            ("the checksum changed", flip(checksum_at), None,
             "FAIL header checksum is the file's PE checksum"),
            ("bytes after the certificate table", lambda b: b.extend(b"\0" * 8), None,
             "FAIL certificate entry (file offset, size)"),
            ("the entry's size one certificate short", put(entry_at + 4, "<I", table_size - 8),
             None, "FAIL certificate entry (file offset, size)"),
            ("the certificate's type", put(table_at + 6, "<H", 1), None,
             "FAIL certificate at 0x%x: revision, type" % table_at),
            ("signed from another program", None, other_signed,
             "FAIL the signature holds the SHA-256 Authenticode digest"),
        ]
        for label, change, replacement, failure in cases:
            with self.subTest(label):
                data = bytearray(replacement if replacement else good)
                if change:
                    change(data)
                bad = self.dir / "bad.exe"
                bad.write_bytes(data)
                p = self.check(EXE, bad)
                self.assertEqual(p.returncode, 1, p.stdout)
                self.assertIn(failure, p.stdout)
        with self.subTest("signed given as the unsigned one"):
            p = self.check(self.signed, self.signed)
            self.assertEqual(p.returncode, 1, p.stdout)
            self.assertIn("FAIL unsigned: no certificate table", p.stdout)


if __name__ == "__main__":
    unittest.main()
