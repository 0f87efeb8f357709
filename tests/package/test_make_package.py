"""Tests of tools/make-package, run as a program the way a publisher runs it.

The archive is read back with Info-ZIP's unzip and zipinfo, and with a few
lines of our own for the local headers; the checksum list with the real
sha256sum -c; the signature with osslsigncode verify against a throwaway CA,
code-signing certificate and timestamp authority made here with openssl.

Needs build/windows/Updater.exe (built with the windows preset if missing),
osslsigncode, openssl, unzip and zip. The case with a file over 4 GiB writes
a 4 GiB archive next to a sparse input and takes about a minute.
"""
import hashlib
import os
import re
import resource
import shlex
import shutil
import struct
import subprocess
import tempfile
import unittest
import zipfile
from pathlib import Path

from fixtures import EXE, ROOT, ensure_exe, make_pki

TOOL = ROOT / "tools" / "make-package"
CHECK_SIGNED = ROOT / "tests" / "pe" / "check_signed.py"
PYTHON = "/usr/bin/python3"

BASE = "harunel-update-1.01"
ARCHIVE = BASE + ".zip"
SUMS = BASE + ".sha256"
NAMES = ["Updater.exe", "data/", "data/inst.ini", "data/pac/", "data/pac/zmbin.zmk",
         "data/pac/update1.zmk"]
FILES = [n for n in NAMES if not n.endswith("/")]
DEFLATED = {"Updater.exe", "data/inst.ini"}
PAYLOAD = {
    "inst.ini": b"[version]\r\nversion=1.01\r\n",
    "pac/zmbin.zmk": b"zmbin 1.01\n",
    "pac/update1.zmk": b"update1 1.01\n",
}
PASSWORD = "open sesame 42"
SIGNING_TIME = 1700000000  # 2023-11-14 22:13:20 UTC

tmp_root = None
pki = {}  # the throwaway CA, code-signing and timestamp certificates


def setUpModule():
    global tmp_root
    ensure_exe()
    tmp_root = Path(tempfile.mkdtemp(prefix="package-test."))
    pki.update(make_pki(tmp_root / "pki", PASSWORD))


def tearDownModule():
    shutil.rmtree(tmp_root, ignore_errors=True)


def make_payload(folder, extra=()):
    for rel, data in PAYLOAD.items():
        path = folder / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
    for rel in extra:
        path = folder / rel
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(b"not part of the update\n")
    return folder


def run(*args, env=None, **kwargs):
    """Runs the tool; env adds to a copy of the environment without
    SOURCE_DATE_EPOCH and PKCS12_PASSWORD."""
    full = {k: v for k, v in os.environ.items()
            if k not in ("SOURCE_DATE_EPOCH", "PKCS12_PASSWORD")}
    full.update(env or {})
    return subprocess.run([str(TOOL), *map(str, args)], capture_output=True, text=True,
                          env=full, **kwargs)


def has_local_tsa():
    """osslsigncode 2.9 has -TSA-certs; Debian 12's own 2.5 does not."""
    p = subprocess.run(["osslsigncode", "sign", "--help"], capture_output=True, text=True)
    return "-TSA-certs" in p.stdout + p.stderr


def tool(*args, cwd=None):
    return subprocess.run(list(map(str, args)), capture_output=True, text=True, cwd=cwd)


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = Path(tempfile.mkdtemp(dir=tmp_root))
        self.addCleanup(shutil.rmtree, self.dir, ignore_errors=True)
        # The tool's private temporary files go here, to see that they go.
        self.tmpdir = self.dir / "tmp"
        self.tmpdir.mkdir()

    def make(self, payload, out, *args, env=None, ok=True, **kwargs):
        p = run(payload, "--out", out, *args, env={"TMPDIR": str(self.tmpdir), **(env or {})},
                **kwargs)
        if ok:
            self.assertEqual(p.returncode, 0, p.stderr)
        self.assertEqual(os.listdir(self.tmpdir), [], "private temporary files left behind")
        return p


def zipinfo_entries(archive):
    """{name: {field: value}} from zipinfo -v, central directory entries."""
    text = tool("zipinfo", "-v", archive).stdout
    entries = {}
    for block in re.split(r"\nCentral directory entry #\d+:\n-+\n", text)[1:]:
        lines = [l.strip() for l in block.strip().splitlines()]
        fields = dict(re.split(r":\s+", l, maxsplit=1) for l in lines[1:]
                      if re.match(r"\S.*:\s+\S", l))
        fields["subfields"] = re.findall(r"subfield with ID (0x[0-9a-f]+) .*? and (\d+) data bytes",
                                         block)
        entries[lines[0]] = fields
    return entries


def local_headers(data):
    """Walks the local headers from the start of the archive: [(name, flags,
    method, crc, compressed size, size, extra)], and where they stop."""
    out, at = [], 0
    while data[at:at + 4] == b"PK\x03\x04":
        (_, _, flags, method, _, _, crc, csize, usize, nlen,
         elen) = struct.unpack_from("<IHHHHHIIIHH", data, at)
        name = data[at + 30:at + 30 + nlen].decode("ascii")
        extra = data[at + 30 + nlen:at + 30 + nlen + elen]
        out.append((name, flags, method, crc, csize, usize, extra))
        at += 30 + nlen + elen + csize
    return out, at


class Layout(Case):
    """An unsigned package of three small text files, read back by others."""

    def setUp(self):
        super().setUp()
        self.payload = make_payload(self.dir / "payload",
                                    extra=["notes.txt", "pac/old.zmk", "sub/readme.txt"])
        self.out = self.dir / "dist"
        self.p = self.make(self.payload, self.out)
        self.archive = self.out / ARCHIVE

    def test_entries_as_zipinfo_and_unzip_read_them(self):
        self.assertEqual(tool("unzip", "-Z1", self.archive).stdout.splitlines(), NAMES)
        t = tool("unzip", "-t", self.archive)
        self.assertEqual(t.returncode, 0, t.stdout)
        self.assertIn("No errors detected", t.stdout)
        entries = zipinfo_entries(self.archive)
        self.assertEqual(list(entries), NAMES)
        for name, e in entries.items():
            with self.subTest(name):
                is_dir = name.endswith("/")
                method = "deflated" if name in DEFLATED else "none (stored)"
                self.assertEqual(e["file system or operating system of origin"],
                                 "MS-DOS, OS/2 or NT FAT")
                self.assertEqual(e["compression method"], method)
                self.assertEqual(e["file last modified on (DOS date/time)"], "1980 Feb 1 00:00:00")
                self.assertEqual(e["length of extra field"], "0 bytes")
                self.assertEqual(e["extended local header"], "no")
                self.assertEqual(e["non-MSDOS external file attributes"], "000000 hex")
                attrs = [v for k, v in e.items() if k.startswith("MS-DOS file attributes")]
                self.assertEqual(attrs, ["dir" if is_dir else "none"])
                if is_dir:
                    self.assertEqual((e["compressed size"], e["uncompressed size"]),
                                     ("0 bytes", "0 bytes"))

    def test_local_headers_match_the_central_directory(self):
        data = self.archive.read_bytes()
        headers, end = local_headers(data)
        with zipfile.ZipFile(self.archive) as z:
            central = z.infolist()
            self.assertEqual(end, z.start_dir, "something between the entries")
        self.assertEqual([h[0] for h in headers], NAMES)
        for h, c in zip(headers, central):
            with self.subTest(h[0]):
                self.assertEqual(h[1:], (c.flag_bits, c.compress_type, c.CRC, c.compress_size,
                                         c.file_size, b""))
                self.assertEqual(c.extra, b"")

    def test_unpacks_to_the_inputs_and_sha256sum_checks_them(self):
        self.assertEqual(tool("unzip", "-q", "-d", BASE, ARCHIVE, cwd=self.out).returncode, 0)
        unpacked = self.out / BASE
        found = sorted(str(p.relative_to(unpacked)) for p in unpacked.rglob("*"))
        self.assertEqual(found, ["Updater.exe", "data", "data/inst.ini", "data/pac",
                                 "data/pac/update1.zmk", "data/pac/zmbin.zmk"])
        self.assertEqual((unpacked / "Updater.exe").read_bytes(), EXE.read_bytes())
        for rel, data in PAYLOAD.items():
            self.assertEqual((unpacked / "data" / rel).read_bytes(), data, rel)

        check = tool("sha256sum", "-c", SUMS, cwd=self.out)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)
        self.assertEqual(check.stdout.splitlines(),
                         ["%s: OK" % n for n in [ARCHIVE] + [BASE + "/" + f for f in FILES]])

    def test_output_tells_what_it_made(self):
        out = self.p.stdout
        self.assertIn("%s: %d bytes" % (self.archive, self.archive.stat().st_size), out)
        for name in NAMES:
            self.assertRegex(out, r"(?m)^  %s\b" % re.escape(name))
        self.assertIn("Updater.exe: NOT SIGNED", out)
        self.assertIn("left out (not part of the update): notes.txt, pac/old.zmk, sub/readme.txt",
                      out)
        self.assertEqual(sorted(os.listdir(self.out)), [SUMS, ARCHIVE])


class Reproducible(Case):
    def test_same_bytes_whatever_the_files_dates_modes_and_umask(self):
        a = make_payload(self.dir / "a")
        b = make_payload(self.dir / "elsewhere" / "b")
        for path in a.rglob("*"):
            os.utime(path, (1e9, 1e9))
            os.chmod(path, 0o755 if path.is_dir() else 0o644)
        for path in b.rglob("*"):
            os.chmod(path, 0o700 if path.is_dir() else 0o600)
        self.make(a, self.dir / "out-a")
        self.make(b, self.dir / "out-b", preexec_fn=lambda: os.umask(0o077))
        for name in (ARCHIVE, SUMS):
            self.assertEqual((self.dir / "out-a" / name).read_bytes(),
                             (self.dir / "out-b" / name).read_bytes(), name)

    def test_source_date_epoch_dates_the_entries(self):
        payload = make_payload(self.dir / "payload")
        for run_ in ("1", "2"):
            self.make(payload, self.dir / run_, env={"SOURCE_DATE_EPOCH": str(SIGNING_TIME + 1)})
        self.assertEqual((self.dir / "1" / ARCHIVE).read_bytes(),
                         (self.dir / "2" / ARCHIVE).read_bytes())
        dates = {e["file last modified on (DOS date/time)"]
                 for e in zipinfo_entries(self.dir / "1" / ARCHIVE).values()}
        self.assertEqual(dates, {"2023 Nov 14 22:13:20"})  # odd seconds round down


class Signing(Case):
    def setUp(self):
        super().setUp()
        self.payload = make_payload(self.dir / "payload")
        self.exe_before = hashlib.sha256(EXE.read_bytes()).digest()

    def tearDown(self):
        self.assertEqual(hashlib.sha256(EXE.read_bytes()).digest(), self.exe_before,
                         "the source Updater.exe changed")

    def signed_exe(self, out):
        exe = out / "signed.exe"
        exe.write_bytes(subprocess.run(["unzip", "-p", out / ARCHIVE, "Updater.exe"],
                                       capture_output=True, check=True).stdout)
        return exe

    def verify(self, exe, *args):
        return tool("osslsigncode", "verify", "-CAfile", pki["ca"], *args, "-in", exe)

    def test_signed_program_verifies_and_a_changed_byte_does_not(self):
        out = self.dir / "dist"
        p = self.make(self.payload, out, "--pkcs12", pki["p12"], "--password-file", pki["password"],
                      "--signing-time", SIGNING_TIME, "--description", "Harunel Test Updater")
        self.assertRegex(p.stdout, r"Updater.exe: SIGNED \(Authenticode, SHA-256\) by "
                                   r"CN=Package Test Publisher,O=Package Test\b")
        self.assertIn("signing time 2023-11-14 22:13:20 UTC; no timestamp", p.stdout)
        exe = self.signed_exe(out)
        v = self.verify(exe)
        self.assertEqual(v.returncode, 0, v.stdout + v.stderr)
        self.assertIn("Signature verification: ok", v.stdout)
        self.assertIn("Text description: Harunel Test Updater", v.stdout)
        self.assertIn("Signing time: Nov 14 22:13:20 2023 GMT", v.stdout)

        c = tool(PYTHON, CHECK_SIGNED, EXE, exe)
        self.assertEqual(c.returncode, 0, c.stdout)

        tampered = bytearray(exe.read_bytes())
        tampered[0x1000] ^= 0x01  # code, well inside the signed part
        bad = self.dir / "tampered.exe"
        bad.write_bytes(tampered)
        v = self.verify(bad)
        self.assertNotEqual(v.returncode, 0, v.stdout)
        self.assertNotIn("Signature verification: ok", v.stdout)

        # The list names the signed program.
        tool("unzip", "-q", "-d", BASE, ARCHIVE, cwd=out)
        self.assertEqual(tool("sha256sum", "-c", SUMS, cwd=out).returncode, 0)

    @unittest.skipUnless(has_local_tsa(), "this osslsigncode has no local timestamp authority")
    def test_timestamped_by_a_local_authority(self):
        out = self.dir / "dist"
        p = self.make(self.payload, out, "--pkcs12", pki["p12"], "--password-file", pki["password"],
                      "--tsa-cert", pki["tsa_cert"], "--tsa-key", pki["tsa_key"])
        self.assertIn("timestamped by the local authority", p.stdout)
        v = self.verify(self.signed_exe(out), "-TSA-CAfile", pki["ca"])
        self.assertEqual(v.returncode, 0, v.stdout + v.stderr)
        self.assertIn("Timestamp Server Signature verification: ok", v.stdout)
        self.assertIn("Signature verification: ok", v.stdout)

    def test_password_never_on_a_command_line_and_same_bytes_from_each_source(self):
        # osslsigncode and openssl behind wrappers that log their argument
        # lists (what ps shows), whether they see the password in their
        # environment, what kind of file -readpass names, and then run the
        # real program.
        bin_dir = self.dir / "bin"
        bin_dir.mkdir()
        log = self.dir / "calls.log"
        for name in ("osslsigncode", "openssl"):
            wrapper = bin_dir / name
            wrapper.write_text(
                '#!/bin/sh\n'
                'log=%s\n'
                'printf "%%s " "$0" "$@" >> "$log"\n'
                '[ -n "${PKCS12_PASSWORD+set}" ] && printf "(env has the password) " >> "$log"\n'
                'prev=\n'
                'for a; do\n'
                '  [ "$prev" = -readpass ] &&\n'
                '    printf "(readpass: %%s) " "$(stat -L -c %%F "$a")" >> "$log"\n'
                '  prev=$a\n'
                'done\n'
                'echo >> "$log"\n'
                'exec %s "$@"\n' % (shlex.quote(str(log)), shutil.which(name)))
            wrapper.chmod(0o755)
        path = {"PATH": "%s:%s" % (bin_dir, os.environ["PATH"])}
        sources = {
            "file": (["--password-file", pki["password"]], {}),
            "environment": ([], {"PKCS12_PASSWORD": PASSWORD}),
        }
        archives = []
        for source, (args, env) in sources.items():
            with self.subTest(source):
                log.write_text("")
                out = self.dir / source
                self.make(self.payload, out, "--pkcs12", pki["p12"], *args,
                          env={**path, **env, "SOURCE_DATE_EPOCH": str(SIGNING_TIME)})
                calls = log.read_text().splitlines()
                signing = [c for c in calls if c.startswith("%s sign" % (bin_dir / "osslsigncode"))]
                self.assertEqual(len(signing), 1, calls)
                self.assertIn("(readpass: fifo)", signing[0], "the password went through a file")
                self.assertTrue(all(PASSWORD not in c and "open sesame" not in c
                                    and "(env has" not in c for c in calls), calls)
                archives.append((out / ARCHIVE).read_bytes())
        self.assertEqual(archives[0], archives[1])


class BadInput(Case):
    """Each bad input: a message, a non-zero exit, and nothing written."""

    def test_cases(self):
        def pac_is_a_file(p):
            shutil.rmtree(p / "pac")
            (p / "pac").write_text("x")

        def zmbin_is_a_folder(p):
            (p / "pac/zmbin.zmk").unlink()
            (p / "pac/zmbin.zmk").mkdir()

        def out_is_a_file(d):
            (d / "file").write_text("keep")
            return d / "file"

        def out_under_a_file(d):
            (d / "file").write_text("keep")
            return d / "file" / "dist"

        def limit_file_size():
            # Writes past 64 KB fail with EFBIG (Python ignores SIGXFSZ).
            resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 16, 1 << 16))

        def case(label, message, status=1, change=None, out=None, args=(), env=None,
                 preexec_fn=None):
            return dict(label=label, message=message, status=status, change=change, out=out,
                        args=list(args), env=env, preexec_fn=preexec_fn)

        sign = ["--pkcs12", pki["p12"]]
        bad_password = self.dir / "bad-password"
        bad_password.write_text("wrong\n")
        (self.dir / "text.exe").write_text("MZ but nothing more\n")
        big = os.urandom(1 << 20)
        cases = [
            case("no payload folder", r"the payload folder does not exist: .*payload",
                 change=shutil.rmtree),
            case("payload folder is a file", r"the payload folder is not a folder",
                 change=lambda p: (shutil.rmtree(p), p.write_text("x"))),
            case("a file missing", r"payload file pac/update1\.zmk is missing: .*pac/update1\.zmk",
                 change=lambda p: (p / "pac/update1.zmk").unlink()),
            case("a folder where a file belongs",
                 r"payload file pac/zmbin\.zmk is a folder, not a file", change=zmbin_is_a_folder),
            case("pac is a file", r"cannot read payload file pac/zmbin\.zmk .*: Not a directory",
                 change=pac_is_a_file),
            case("output folder is a file", r"the output folder is a file: .*file",
                 out=out_is_a_file),
            case("output folder under a file",
                 r"cannot make the output folder .*file/dist: Not a directory",
                 out=out_under_a_file),
            case("program missing", r"the program is missing: .*nothing\.exe",
                 args=["--exe", self.dir / "nothing.exe"]),
            case("program is not a program", r"not a Windows program \(no PE header\): .*text\.exe",
                 args=["--exe", self.dir / "text.exe"]),
            case("wrong password", r"cannot open .*sign\.p12 with the password given",
                 args=sign + ["--password-file", bad_password]),
            case("no password and no terminal",
                 r"give --password-file FILE or set PKCS12_PASSWORD \(no terminal to ask on\)",
                 args=sign),
            case("signing option without a certificate", r"--password-file without --pkcs12",
                 status=2, args=["--password-file", pki["password"]]),
            case("SOURCE_DATE_EPOCH not a number", r"SOURCE_DATE_EPOCH must be a number of seconds",
                 env={"SOURCE_DATE_EPOCH": "yesterday"}),
            case("the archive cannot be written whole",
                 r"writing the package in .* failed: File too large",
                 change=lambda p: (p / "pac/zmbin.zmk").write_bytes(big),
                 preexec_fn=limit_file_size),
        ]
        for c in cases:
            with self.subTest(c["label"]):
                folder = self.dir / re.sub(r"\W+", "-", c["label"])
                payload = make_payload(folder / "payload")
                if c["change"]:
                    c["change"](payload)
                out = c["out"](folder) if c["out"] else folder / "dist"
                before = out.read_bytes() if out.is_file() else None
                # A session of its own: no terminal to ask a password on.
                p = self.make(payload, out, *c["args"], ok=False, env=c["env"],
                              start_new_session=True, preexec_fn=c["preexec_fn"])
                self.assertEqual(p.returncode, c["status"], p.stdout + p.stderr)
                self.assertRegex(p.stderr, c["message"])
                self.assertEqual(p.stdout, "")
                if before is not None:
                    self.assertEqual(out.read_bytes(), before)
                else:
                    self.assertEqual(os.listdir(out) if out.exists() else [], [])


class Build(Case):
    def test_builds_the_program_only_when_it_is_missing(self):
        # A copy of the tool in a tree of its own, with a cmake that logs its
        # calls and "builds" by copying the real program.
        repo = self.dir / "repo"
        (repo / "tools").mkdir(parents=True)
        shutil.copy(TOOL, repo / "tools")
        bin_dir = self.dir / "bin"
        bin_dir.mkdir()
        log = self.dir / "cmake.log"
        (bin_dir / "cmake").write_text(
            '#!/bin/sh\necho "$*" >> "%s"\n'
            'case "$*" in --build*) mkdir -p build/windows && cp "%s" build/windows/ ;; esac\n'
            % (log, EXE))
        (bin_dir / "cmake").chmod(0o755)
        env = {"PATH": "%s:%s" % (bin_dir, os.environ["PATH"])}
        payload = make_payload(self.dir / "payload")
        for attempt, calls in (("first", ["--preset windows",
                                          "--build --preset windows --target Updater"]),
                               ("second", [])):
            with self.subTest(attempt):
                log.write_text("")
                p = subprocess.run([str(repo / "tools/make-package"), payload, "--out",
                                    self.dir / attempt], capture_output=True, text=True,
                                   env={**os.environ, **env})
                self.assertEqual(p.returncode, 0, p.stderr)
                self.assertEqual(log.read_text().splitlines(), calls)
                with zipfile.ZipFile(self.dir / attempt / ARCHIVE) as z:
                    self.assertEqual(z.read("Updater.exe"), EXE.read_bytes())


class Zip64(Case):
    def test_a_file_over_4_gib(self):
        size = (4 << 30) + (1 << 20)
        free = shutil.disk_usage(self.dir).free
        if free < size + (2 << 30):
            self.skipTest("needs %d GiB free, %d here" % ((size >> 30) + 2, free >> 30))
        payload = make_payload(self.dir / "payload")
        with open(payload / "pac/zmbin.zmk", "r+b") as f:  # sparse but for its last bytes
            f.truncate(size - 12)
            f.seek(0, 2)
            f.write(b"end of zmbin")
        out = self.dir / "dist"
        self.make(payload, out)
        archive = out / ARCHIVE
        self.assertLess(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss, 200 << 10,
                        "a child held more than 200 MB")

        t = tool("unzip", "-t", archive)
        self.assertEqual(t.returncode, 0, t.stdout)
        self.assertIn("No errors detected", t.stdout)
        # The 64-bit fields: sizes of the big entry, the offset of the one
        # after it, nothing for those before.
        entries = zipinfo_entries(archive)
        self.assertEqual(list(entries), NAMES)
        subfields = {n: e["subfields"] for n, e in entries.items()}
        self.assertEqual(subfields, {
            "Updater.exe": [], "data/": [], "data/inst.ini": [], "data/pac/": [],
            "data/pac/zmbin.zmk": [("0x0001", "16")],
            "data/pac/update1.zmk": [("0x0001", "8")],
        })
        self.assertEqual(entries["data/pac/zmbin.zmk"]["uncompressed size"], "%d bytes" % size)
        self.assertEqual(entries["data/pac/zmbin.zmk"]["minimum software version required "
                                                       "to extract"], "4.5")
        with zipfile.ZipFile(archive) as z:
            self.assertGreater(z.getinfo("data/pac/update1.zmk").header_offset, 1 << 32)
            self.assertEqual(z.read("data/pac/update1.zmk"), PAYLOAD["pac/update1.zmk"])
            with z.open("data/pac/zmbin.zmk") as f:
                f.seek(size - 13)
                self.assertEqual(f.read(), b"\0end of zmbin")
        # ZIP64 end of central directory record and locator before the end record.
        with open(archive, "rb") as f:
            f.seek(-22 - 20, 2)
            sig, _, z64_end, disks = struct.unpack("<IIQI", f.read(20))
            self.assertEqual((hex(sig), disks), (hex(0x07064B50), 1))
            f.seek(z64_end)
            self.assertEqual(f.read(4), b"PK\x06\x06")


if __name__ == "__main__":
    unittest.main()
