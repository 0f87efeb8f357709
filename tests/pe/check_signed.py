#!/usr/bin/python3
"""Checks an Authenticode-signed Updater.exe against the unsigned one it was
made from: every check of check_exe.py still passes on the signed program,
and signing changed nothing but what it has to:

- the unsigned bytes come first, unchanged except for the header checksum
  and the certificate table's data-directory entry (then zeros up to an
  8-byte boundary);
- the certificate table follows and ends the file: WIN_CERTIFICATE entries
  (revision 2.0, PKCS#7 SignedData), each on an 8-byte boundary, and the
  directory entry points at exactly that;
- the SignedData holds the SHA-256 Authenticode digest of the unsigned
  program, so the signature is over these bytes;
- the header checksum is the file's PE checksum.

The file layout is read here with struct, not with pefile or osslsigncode.
Whether the signature itself verifies is osslsigncode's part.

Usage: check_signed.py UNSIGNED.exe SIGNED.exe
Prints one line per check and "N passed, M failed"; exit status 1 on any
failure.
"""
import array
import hashlib
import os
import struct
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_exe  # noqa: E402

SECURITY = 4  # index of the certificate table among the data directories
WIN_CERT_REVISION_2_0 = 0x0200
WIN_CERT_TYPE_PKCS_SIGNED_DATA = 2
OID_SIGNED_DATA = bytes.fromhex("06092a864886f70d010702")
# DigestInfo { AlgorithmIdentifier { sha256, NULL }, OCTET STRING (32) }
SHA256_DIGEST_INFO = bytes.fromhex("3031300d060960864801650304020105000420")


def fields(data):
    """File offsets of the header checksum and of the certificate table's
    directory entry (8 bytes: file offset, size)."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if data[pe:pe + 4] != b"PE\0\0":
        raise ValueError("no PE signature")
    opt = pe + 24
    magic = struct.unpack_from("<H", data, opt)[0]
    dirs = opt + {0x10B: 96, 0x20B: 112}[magic]
    return opt + 64, dirs + 8 * SECURITY


def pe_checksum(data, checksum_at):
    """The PE header checksum: 16-bit one's-complement sum of the file with
    the checksum field as zero, plus the file's length."""
    words = array.array("H")
    words.frombytes(data[:checksum_at] + b"\0\0\0\0" + data[checksum_at + 4:]
                    + b"\0" * (len(data) % 2))
    if sys.byteorder == "big":
        words.byteswap()
    total = sum(words)
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return (total + len(data)) & 0xFFFFFFFF


def authenticode_sha256(data, checksum_at, security_at):
    """SHA-256 over the program as Authenticode hashes an unsigned file:
    all of it but the checksum and the certificate table's entry, padded
    with zeros to an 8-byte boundary."""
    h = hashlib.sha256()
    h.update(data[:checksum_at])
    h.update(data[checksum_at + 4:security_at])
    h.update(data[security_at + 8:])
    h.update(b"\0" * (-len(data) % 8))
    return h.digest()


def der_length(blob, at):
    """(length, offset of the content) of the DER element whose tag is at `at`."""
    first = blob[at + 1]
    if first < 0x80:
        return first, at + 2
    n = first & 0x7F
    return int.from_bytes(blob[at + 2:at + 2 + n], "big"), at + 2 + n


def check_table(r, signed, start):
    """The WIN_CERTIFICATE entries from start to the end of the file; returns
    their PKCS#7 blobs."""
    blobs, at = [], start
    while at < len(signed):
        if not r.check("certificate at %#x: 8-byte header fits" % at, at + 8 <= len(signed)):
            return blobs
        length, revision, kind = struct.unpack_from("<IHH", signed, at)
        r.equal("certificate at %#x: revision, type" % at, (hex(revision), kind),
                (hex(WIN_CERT_REVISION_2_0), WIN_CERT_TYPE_PKCS_SIGNED_DATA))
        if not r.check("certificate at %#x: length %d within the file" % (at, length),
                       8 < length <= len(signed) - at):
            return blobs
        blob = signed[at + 8:at + length]
        der, content = der_length(blob, 0) if len(blob) > 2 else (0, 0)
        r.check("certificate at %#x: one DER SEQUENCE, ContentInfo of signedData" % at,
                blob[:1] == b"\x30" and content + der <= len(blob)
                and blob[content:content + len(OID_SIGNED_DATA)] == OID_SIGNED_DATA,
                blob[:16].hex())
        blobs.append(blob)
        end = at + length
        at = end + (-end % 8)
        r.check("certificate padding is zeros", not any(signed[end:at]))
    return blobs


def check_signed(r, unsigned, signed):
    try:
        checksum_at, security_at = fields(unsigned)
        signed_fields = fields(signed)
    except (ValueError, KeyError, struct.error, IndexError) as e:
        r.check("both files have a PE header", False, e)
        return
    r.equal("same header layout (checksum, certificate entry offsets)", signed_fields,
            (checksum_at, security_at))
    r.equal("unsigned: no certificate table",
            struct.unpack_from("<II", unsigned, security_at), (0, 0))

    n = len(unsigned)
    start = n + (-n % 8)
    if not r.check("signed file is longer than the unsigned one", len(signed) > start,
                   "%d vs %d" % (len(signed), n)):
        return

    def masked(data):
        b = bytearray(data[:n])
        b[checksum_at:checksum_at + 4] = bytes(4)
        b[security_at:security_at + 8] = bytes(8)
        return b

    a, b = masked(unsigned), masked(signed)
    changed = [i for i in range(n) if a[i] != b[i]] if a != b else []
    r.check("the unsigned bytes come first, unchanged but checksum and certificate entry",
            not changed, "%d bytes differ, first at %s"
            % (len(changed), ", ".join("%#x" % i for i in changed[:4])))
    r.check("zeros up to the certificate table", not any(signed[n:start]))
    r.equal("certificate entry (file offset, size)",
            struct.unpack_from("<II", signed, security_at), (start, len(signed) - start))

    blobs = check_table(r, signed, start)
    r.check("at least one certificate", blobs)
    digest = authenticode_sha256(unsigned, checksum_at, security_at)
    r.check("the signature holds the SHA-256 Authenticode digest of the unsigned program",
            any(SHA256_DIGEST_INFO + digest in b for b in blobs), digest.hex())
    got = struct.unpack_from("<I", signed, checksum_at)[0]
    r.equal("header checksum is the file's PE checksum", hex(got),
            hex(pe_checksum(signed, checksum_at)))


def main(argv):
    if len(argv) != 3:
        print("usage: check_signed.py UNSIGNED.exe SIGNED.exe", file=sys.stderr)
        return 2
    with open(argv[1], "rb") as f:
        unsigned = f.read()
    with open(argv[2], "rb") as f:
        signed = f.read()
    r = check_exe.Report()
    print("== check_exe.py on the signed program")
    check_exe.check_exe(r, argv[2])
    print("== the signature against the unsigned program")
    check_signed(r, unsigned, signed)
    print("%d passed, %d failed" % (r.passed, r.failed))
    return 1 if r.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
