#!/usr/bin/python3
"""Build the VS_VERSIONINFO resource (RT_VERSION, id 1) of Updater.exe.

We write the block ourselves instead of using a VERSIONINFO statement in the
.rc file, because windres stores an empty string value as a lone NUL with
wValueLength 1. Our block stores an empty value as no characters at all with
wValueLength 0.

Layout of every node: WORD wLength, WORD wValueLength, WORD wType, key in
UTF-16LE with NUL, padding to a 32-bit boundary, the value, padding, then the
children, each starting on a 32-bit boundary. A node's wLength covers the
padding between its children but not padding after its own last byte.

Usage: make_version_block.py [OUTPUT]   (default: res/version.bin)
"""
import os
import struct
import sys

FILE_VERSION = (0, 475, 0, 0)
PRODUCT_VERSION = FILE_VERSION
LANG_CODEPAGE = (0x0411, 0x04B0)  # Japanese, Unicode

_ver_text = ", ".join(str(n) for n in FILE_VERSION)
STRINGS = [
    ("Comments", ""),
    ("CompanyName", ""),
    ("FileDescription", "ZOLMIR Updater"),
    ("FileVersion", _ver_text),
    ("InternalName", "ZMUpdater"),
    ("LegalCopyright", ""),
    ("LegalTrademarks", ""),
    ("OriginalFilename", "Updater.exe"),
    ("PrivateBuild", ""),
    ("ProductName", "ZOLMIR Updater"),
    ("ProductVersion", _ver_text),
    ("SpecialBuild", ""),
]

VS_FFI_SIGNATURE = 0xFEEF04BD
VS_FFI_STRUCVERSION = 0x00010000
VS_FFI_FILEFLAGSMASK = 0x3F
VOS_NT_WINDOWS32 = 0x00040004
VFT_APP = 1


def _pad4(b):
    return b + b"\0" * (-len(b) % 4)


def _node(key, value, value_length, wtype, children=()):
    body = _pad4(struct.pack("<HHH", 0, value_length, wtype)
                 + (key + "\0").encode("utf-16-le"))
    body += value
    for child in children:
        body = _pad4(body) + child
    return struct.pack("<H", len(body)) + body[2:]


def _text(key, value):
    # An empty value has no characters and no NUL; otherwise the NUL is
    # stored and counted (wValueLength is in WORDs for text values).
    data = (value + "\0").encode("utf-16-le") if value else b""
    return _node(key, data, len(data) // 2, 1)


def _ms_ls(v):
    return (v[0] << 16) | v[1], (v[2] << 16) | v[3]


def build():
    fixed = struct.pack(
        "<13I", VS_FFI_SIGNATURE, VS_FFI_STRUCVERSION,
        *_ms_ls(FILE_VERSION), *_ms_ls(PRODUCT_VERSION),
        VS_FFI_FILEFLAGSMASK, 0, VOS_NT_WINDOWS32, VFT_APP, 0, 0, 0)
    table_key = "%04x%04x" % LANG_CODEPAGE
    table = _node(table_key, b"", 0, 1, [_text(k, v) for k, v in STRINGS])
    sfi = _node("StringFileInfo", b"", 0, 1, [table])
    translation = struct.pack("<HH", *LANG_CODEPAGE)
    var = _node("Translation", translation, len(translation), 0)
    vfi = _node("VarFileInfo", b"", 0, 1, [var])
    return _node("VS_VERSION_INFO", fixed, len(fixed), 0, [sfi, vfi])


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    out = argv[1] if len(argv) > 1 else os.path.join(here, "..", "res", "version.bin")
    data = build()
    with open(out, "wb") as f:
        f.write(data)
    print("%s: %d bytes" % (out, len(data)))


if __name__ == "__main__":
    main(sys.argv)
