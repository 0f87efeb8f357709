#!/usr/bin/python3
"""Checks a built Updater.exe: PE header, imports, hardening flags and the
seven resources (icons, version block, manifest).

Reads the file with pefile and parses the resource contents here, without
using tools/ (which produced them), so both sides have to agree.

Usage: check_exe.py path/to/Updater.exe
Prints one line per check and "N passed, M failed"; exit status 1 on any
failure.
"""
import re
import struct
import sys
import xml.dom.minidom

import pefile

LANG_JA = 1041
RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24

# (type, id) -> size in bytes
RESOURCES = {
    (RT_ICON, 1): 204840,
    (RT_ICON, 2): 7336,
    (RT_ICON, 3): 3240,
    (RT_ICON, 4): 1128,
    (RT_GROUP_ICON, 101): 62,
    (RT_VERSION, 1): 792,
    (RT_MANIFEST, 1): 673,
}

# icon id -> (group width, group height, bpp, image size in pixels)
ICONS = {1: (0, 0, 24, 256), 2: (48, 48, 24, 48), 3: (32, 32, 24, 32),
         4: (16, 16, 32, 16)}

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "msvcrt.dll"}
REQUIRED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll"}

# Manifest tags in document order: (kind, name, attributes); kind is one of
# "decl", "open", "empty", "close". LINE_BREAKS: tag counts of lines 1 and 2.
COMCTL_TOKEN = "6595b64144ccf1df"
MANIFEST_TAGS = [
    ("decl", "?xml", [("version", "1.0"), ("encoding", "UTF-8"), ("standalone", "yes")]),
    ("open", "assembly", [("xmlns", "urn:schemas-microsoft-com:asm.v1"),
                          ("manifestVersion", "1.0")]),
    ("empty", "assemblyIdentity", [("version", "1.0.0.0"), ("processorArchitecture", "*"),
                                   ("name", "zmupd.exe"), ("type", "win32")]),
    ("open", "ms_asmv3:trustInfo", [("xmlns:ms_asmv3", "urn:schemas-microsoft-com:asm.v3")]),
    ("open", "security", []),
    ("open", "requestedPrivileges", []),
    ("empty", "requestedExecutionLevel", [("level", "highestAvailable")]),
    ("close", "requestedPrivileges", []),
    ("close", "security", []),
    ("close", "ms_asmv3:trustInfo", []),
    ("open", "dependency", []),
    ("open", "dependentAssembly", []),
    ("empty", "assemblyIdentity", [("type", "win32"),
                                   ("name", "Microsoft.Windows.Common-Controls"),
                                   ("version", "6.0.0.0"), ("processorArchitecture", "*"),
                                   ("publicKeyToken", COMCTL_TOKEN), ("language", "*")]),
    ("close", "dependentAssembly", []),
    ("close", "dependency", []),
    ("close", "assembly", []),
]
LINE_BREAKS = (2, 2)

VERSION = (0, 475, 0, 0)
STRINGS = [
    ("Comments", ""), ("CompanyName", ""), ("FileDescription", "ZOLMIR Updater"),
    ("FileVersion", "0, 475, 0, 0"), ("InternalName", "ZMUpdater"),
    ("LegalCopyright", ""), ("LegalTrademarks", ""),
    ("OriginalFilename", "Updater.exe"), ("PrivateBuild", ""),
    ("ProductName", "ZOLMIR Updater"), ("ProductVersion", "0, 475, 0, 0"),
    ("SpecialBuild", ""),
]


class Report:
    def __init__(self):
        self.passed = self.failed = 0

    def check(self, what, ok, got=None):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
        extra = "" if ok or got is None else "  [%s]" % (got,)
        print("%s %s%s" % ("ok  " if ok else "FAIL", what, extra))
        return ok

    def equal(self, what, got, want):
        return self.check("%s == %r" % (what, want), got == want,
                          None if got == want else "got %r" % (got,))


# ---------------------------------------------------------------- PE header

def check_header(r, pe):
    fh, oh = pe.FILE_HEADER, pe.OPTIONAL_HEADER
    r.equal("machine", hex(fh.Machine), hex(0x14C))
    r.equal("subsystem", oh.Subsystem, 2)
    r.equal("TimeDateStamp", fh.TimeDateStamp, 0)
    r.check("no COFF symbol table",
            fh.PointerToSymbolTable == 0 and fh.NumberOfSymbols == 0,
            "ptr %#x, count %d" % (fh.PointerToSymbolTable, fh.NumberOfSymbols))
    dc = oh.DllCharacteristics
    r.check("DllCharacteristics has DYNAMIC_BASE", dc & 0x40, hex(dc))
    r.check("DllCharacteristics has NX_COMPAT", dc & 0x100, hex(dc))

    dlls = {e.dll.decode("ascii").lower()
            for e in getattr(pe, "DIRECTORY_ENTRY_IMPORT", [])}
    shown = ", ".join(sorted(dlls))
    print("     imports: " + shown)
    r.check("imports only system DLLs", dlls <= ALLOWED_DLLS, shown)
    r.check("imports KERNEL32, USER32, ADVAPI32", REQUIRED_DLLS <= dlls, shown)
    r.check("no libgcc / libstdc++ / libwinpthread",
            not any(re.match(r"lib(gcc|stdc\+\+|winpthread)", d) for d in dlls), shown)


# ---------------------------------------------------------------- resources

def read_resources(pe):
    """{(type, id): [(lang, codepage, bytes)]}; named entries keep their name."""
    out = {}
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for t in root.entries if root else []:
        for n in t.directory.entries:
            key = (t.id if t.id is not None else str(t.name),
                   n.id if n.id is not None else str(n.name))
            for lang in n.directory.entries:
                e = lang.data.struct
                out.setdefault(key, []).append(
                    (lang.id, e.CodePage, pe.get_data(e.OffsetToData, e.Size)))
    return out


def check_resource_table(r, res):
    r.equal("resource (type, id) pairs", sorted(res, key=str),
            sorted(RESOURCES, key=str))
    for key, size in sorted(RESOURCES.items()):
        entries = res.get(key, [])
        what = "resource %d/%d" % key
        if not r.check(what + " has exactly one language", len(entries) == 1,
                       len(entries)):
            continue
        lang, cp, data = entries[0]
        r.check(what + ": lang 1041, code page 0, %d bytes" % size,
                (lang, cp, len(data)) == (LANG_JA, 0, size),
                "lang %s, cp %s, %d bytes" % (lang, cp, len(data)))


def one(res, key):
    entries = res.get(key)
    return entries[0][2] if entries else None


# ---------------------------------------------------------------- manifest

TAG_RE = re.compile(r'<(\?xml|/?[A-Za-z_][\w:.-]*)((?: [\w:.-]+="[^"]*")*)(/|\?)?>')
ATTR_RE = re.compile(r' ([\w:.-]+)="([^"]*)"')


def tokenize(line):
    """Tags of one line, or raises ValueError at the first text that is not
    a tag written as: one blank before each attribute, none elsewhere."""
    tags, pos = [], 0
    while pos < len(line):
        m = TAG_RE.match(line, pos)
        if not m:
            raise ValueError("unexpected text at %r" % line[pos:pos + 30])
        name, attrs, end = m.groups()
        if name == "?xml":
            kind = "decl" if end == "?" else "bad"
        elif name.startswith("/"):
            kind, name = ("close" if not attrs and not end else "bad"), name[1:]
        else:
            kind = {None: "open", "/": "empty"}.get(end, "bad")
        tags.append((kind, name, ATTR_RE.findall(attrs)))
        pos = m.end()
    return tags


def check_manifest(r, data):
    if not r.check("manifest present", data is not None):
        return
    r.check("manifest starts with UTF-8 BOM", data[:3] == b"\xef\xbb\xbf")
    r.equal("manifest size", len(data), 673)
    try:
        text = data[3:].decode("utf-8")
    except UnicodeDecodeError as e:
        r.check("manifest is UTF-8", False, e)
        return
    lines = text.split("\r\n")
    r.equal("manifest CRLF-separated line count", len(lines), 3)
    r.check("manifest: no other line breaks, none at the end",
            not any("\r" in l or "\n" in l for l in lines) and lines[-1] != "")
    try:
        xml.dom.minidom.parseString(data)
        r.check("manifest is well-formed XML", True)
    except Exception as e:  # expat raises its own error type
        r.check("manifest is well-formed XML", False, e)

    try:
        per_line = [tokenize(l) for l in lines]
    except ValueError as e:
        r.check("manifest consists of tags only", False, e)
        return
    r.check("manifest consists of tags only", True)
    r.equal("manifest tags on lines 1 and 2",
            tuple(len(t) for t in per_line[:2]), LINE_BREAKS)
    tags = [t for line in per_line for t in line]
    r.equal("manifest tag count", len(tags), len(MANIFEST_TAGS))
    for i, (got, want) in enumerate(zip(tags, MANIFEST_TAGS)):
        r.equal("manifest tag %d (kind, name, attributes in order)" % (i + 1), got, want)

    attrs = {name: dict(a) for _, name, a in tags if a}
    level = attrs.get("requestedExecutionLevel", {}).get("level")
    r.equal("requestedExecutionLevel level", level, "highestAvailable")
    token = tags[12][2] if len(tags) > 12 else []
    token = dict(token).get("publicKeyToken", "")
    r.check("Common-Controls publicKeyToken is 16 lowercase hex digits",
            re.fullmatch(r"[0-9a-f]{16}", token), token)


# ---------------------------------------------------------------- version

class VerNode:
    """One node of a VS_VERSIONINFO tree."""

    def __init__(self, buf, off):
        self.length, self.value_length, self.type = struct.unpack_from("<HHH", buf, off)
        self.end = off + self.length
        p = off + 6
        start = p
        while buf[p:p + 2] != b"\0\0":
            p += 2
            if p >= self.end:
                raise ValueError("key without NUL at %#x" % start)
        self.key = buf[start:p].decode("utf-16-le")
        p = (p + 2 + 3) & ~3
        size = self.value_length * (2 if self.type == 1 else 1)
        self.value = buf[p:p + size]
        self.header_end = p  # where the value starts
        p = (p + size + 3) & ~3
        self.children = []
        while p < self.end:
            child = VerNode(buf, p)
            if child.length == 0 or child.end > self.end:
                raise ValueError("bad child length at %#x" % p)
            self.children.append(child)
            p = (child.end + 3) & ~3

    def text(self):
        return self.value.decode("utf-16-le")

    def child_keys(self):
        return [c.key for c in self.children]


def check_version(r, data, pe):
    if not r.check("version block present", data is not None):
        return
    try:
        root = VerNode(data, 0)
    except (ValueError, struct.error, UnicodeDecodeError) as e:
        r.check("version block parses", False, e)
        return
    r.equal("VS_VERSIONINFO wLength", root.length, len(data))
    r.equal("VS_VERSIONINFO key", root.key, "VS_VERSION_INFO")
    r.equal("VS_FIXEDFILEINFO size", len(root.value), 52)
    fixed = {}
    if len(root.value) == 52:
        f = struct.unpack("<13I", root.value)
        fixed = {key: (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
                 for key, ms, ls in (("FileVersion", f[2], f[3]),
                                     ("ProductVersion", f[4], f[5]))}
        ms = (VERSION[0] << 16) | VERSION[1]
        ls = (VERSION[2] << 16) | VERSION[3]
        r.equal("fixed: signature, struct version",
                (hex(f[0]), hex(f[1])), (hex(0xFEEF04BD), hex(0x10000)))
        r.equal("fixed: file version MS/LS", (f[2], f[3]), (ms, ls))
        r.equal("fixed: product version MS/LS", (f[4], f[5]), (ms, ls))
        r.equal("fixed: flags mask, flags", (hex(f[6]), f[7]), (hex(0x3F), 0))
        r.equal("fixed: file OS", hex(f[8]), hex(0x40004))
        r.equal("fixed: type, subtype, date", f[9:13], (1, 0, 0, 0))
    r.equal("top-level blocks", root.child_keys(), ["StringFileInfo", "VarFileInfo"])
    if root.child_keys() != ["StringFileInfo", "VarFileInfo"]:
        return
    sfi, vfi = root.children

    vars_ = vfi.children
    r.equal("VarFileInfo children", [v.key for v in vars_], ["Translation"])
    trans = vars_[0].value if vars_ else b""
    pair = struct.unpack("<HH", trans) if len(trans) == 4 else trans
    r.equal("Translation", pair, (0x0411, 0x04B0))
    r.equal("StringTable keys", sfi.child_keys(),
            ["%04x%04x" % pair] if len(trans) == 4 else ["041104b0"])
    if len(sfi.children) != 1:
        return
    strings = sfi.children[0].children
    r.equal("string keys in order", [s.key for s in strings], [k for k, _ in STRINGS])
    for s, (key, want) in zip(strings, STRINGS):
        if want:
            # stored with its NUL, which wValueLength counts
            r.equal("%s value, wValueLength" % key, (s.type, s.value, s.value_length),
                    (1, (want + "\0").encode("utf-16-le"), len(want) + 1))
        else:
            # no characters at all, not even the NUL
            r.equal("%s empty: wValueLength, value bytes after the key" % key,
                    (s.value_length, max(0, s.end - s.header_end)), (0, 0))
    values = {s.key: s.text().rstrip("\0") for s in strings}
    for key in ("FileVersion", "ProductVersion"):
        try:
            parsed = tuple(int(x) for x in values.get(key, "").split(", "))
        except ValueError:
            parsed = None
        r.equal("%s string as numbers" % key, parsed, VERSION)
        r.check("%s string matches the fixed part" % key,
                parsed == fixed.get(key), "%s vs %s" % (parsed, fixed.get(key)))

    # Second opinion from pefile's own version parser.
    seen = {}
    for fi in getattr(pe, "FileInfo", []):
        for block in fi:
            for table in getattr(block, "StringTable", []):
                seen.update({k.decode(): v.decode() for k, v in table.entries.items()})
    r.equal("pefile reads the same strings", seen, dict(STRINGS))


# ---------------------------------------------------------------- icons

def check_icons(r, res):
    group = one(res, (RT_GROUP_ICON, 101))
    if not r.check("icon group 101 is 6 + 4 * 14 bytes", group is not None and len(group) == 62):
        return
    r.equal("icon group header (reserved, type, count)", struct.unpack_from("<HHH", group), (0, 1, 4))
    for i in range(4):
        e = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
        icon_id = i + 1
        gw, gh, bpp, _ = ICONS[icon_id]
        image = one(res, (RT_ICON, icon_id))
        size = len(image) if image is not None else None
        r.equal("icon group entry %d" % (i + 1), e, (gw, gh, 0, 0, 1, bpp, size, icon_id))

    for icon_id, (_, _, bpp, n) in sorted(ICONS.items()):
        dib = one(res, (RT_ICON, icon_id))
        what = "icon %d (%dx%d, %d bpp)" % (icon_id, n, n, bpp)
        if dib is None or len(dib) < 40:
            r.check(what + " present", False)
            continue
        row = ((n * bpp + 31) // 32) * 4
        mask_row = ((n + 31) // 32) * 4
        hdr = struct.unpack_from("<IiiHHIIiiII", dib)
        r.equal(what + " BITMAPINFOHEADER", hdr,
                (40, n, 2 * n, 1, bpp, 0, n * (row + mask_row), 0, 0, 0, 0))
        mask = dib[40 + n * row:]
        r.check(what + " AND mask all zero", len(mask) == n * mask_row and not any(mask))
        if bpp == 32:
            colour = dib[40:40 + n * row]
            r.check(what + " alpha 0xFF everywhere", set(colour[3::4]) == {0xFF})


# ---------------------------------------------------------------- main

def check_exe(r, path):
    """Every check of this script on the executable at path."""
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY[d] for d in (
        "IMAGE_DIRECTORY_ENTRY_IMPORT", "IMAGE_DIRECTORY_ENTRY_RESOURCE")])
    check_header(r, pe)
    res = read_resources(pe)
    check_resource_table(r, res)
    check_manifest(r, one(res, (RT_MANIFEST, 1)))
    check_version(r, one(res, (RT_VERSION, 1)), pe)
    check_icons(r, res)

    whole = len(pe.__data__)
    rsrc = sum(s.SizeOfRawData for s in pe.sections if s.Name.rstrip(b"\0") == b".rsrc")
    print("sizes: file %d, .rsrc %d, rest %d" % (whole, rsrc, whole - rsrc))


def main(argv):
    if len(argv) != 2:
        print("usage: check_exe.py path/to/Updater.exe", file=sys.stderr)
        return 2
    r = Report()
    check_exe(r, argv[1])
    print("%d passed, %d failed" % (r.passed, r.failed))
    return 1 if r.failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
