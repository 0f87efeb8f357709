#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets (corpus/sjis, corpus/run_update).

The committed seeds are this script's output; run it again after changing the
input layout of a target.
"""
import os

HERE = os.path.dirname(os.path.abspath(__file__))

JP_DIR = b"D:\\\x83\x51\x81\x5b\x83\x80\\\x95\x5c\\"  # D:\ゲーム\表\ in code page 932
SOFT = b"\x83\x5c\x83\x74\x83\x67\\"  # ソフト\


def sjis(mode, find, put, text):
    return bytes([mode, find, put]) + text


def run_update(choices, front=b""):
    """choices: the one-byte choices in the order the target takes them; it
    takes them from the end of the input, raw Dir bytes from the front."""
    return front + bytes(reversed(choices))


def built(base=0, pieces=(), pad=0, terminator=0):
    return [base, len(pieces), pad, *pieces, terminator]


def rest(current=0, install=(0, 0, 0, 0), payload=(0, 0, 0, 0), game=0, answers=(), fail_calls=(),
         fail_functions=()):
    out = [current, *install, *payload, game, len(answers), *answers, len(fail_calls), *fail_calls,
           len(fail_functions)]
    for function, occurrence in fail_functions:
        out += [function, occurrence - 1]
    return out


def run(key=0, present=0, type_=0, dir_=None, raw=None, **kw):
    if raw is not None:
        return run_update([key, present, type_, 3, min(len(raw), 255), len(raw) - min(len(raw), 255), *rest(**kw)],
                          raw)
    return run_update([key, present, type_, 0, *(dir_ or built())] + rest(**kw))


SJIS = {
    "instance-name": sjis(2, 0, 0, b"C:\\Games\\harunel\\harunel.exe"),
    "japanese-all": sjis(3, ord("\\"), ord(":"), JP_DIR + SOFT + b"HARUNEL.EXE"),
    "lead-before-end": sjis(0x06, 0, 0, b"ABC\\\x95"),
    "lone-leads": sjis(1, ord("A"), ord("b"), b"\x81A\x81\x5cA\xfcA\x9f"),
    "katakana-e0": sjis(0x0D, ord("\\"), ord(":"), b"\xb1\\\xe0\\\xfd\\\x80\\\xa0Z"),
}

# Choice values: key 0 openable, 1 missing, 2 refusing full access; type 0
# REG_SZ .. 4 REG_BINARY; install/payload kinds 0 usual, 1 missing, 2 other
# kind, 3 read-only file; game bit 0 mutex, bit 1 window; answers 0 Yes, 1 No;
# functions 7 MessageBoxA, 8 CopyFileA.
RUN_UPDATE = {
    "success": run(),
    "japanese-dir": run(dir_=built(base=2, pieces=[23])),
    "prefix-245": run(dir_=built(base=0, pad=39)),
    "prefix-246": run(dir_=built(base=0, pad=40)),
    "dir-261-unterminated": run(raw=b"C:\\" + b"x" * 257 + b"\\"),
    "binary-dir": run(type_=4, raw=JP_DIR),
    "game-running": run(game=3),
    "japanese-game-running": run(dir_=built(base=2, pieces=[23]), game=3),
    "cancel-second": run(answers=[0, 1]),
    "read-only-target": run(install=(0, 0, 3, 0)),
    "payload-incomplete": run(payload=(0, 0, 1, 0)),
    "copy-fails": run(fail_functions=[(8, 2)]),
    "no-key": run(key=1),
}


def write(folder, seeds):
    path = os.path.join(HERE, "corpus", folder)
    os.makedirs(path, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(path, name), "wb") as f:
            f.write(data)


write("sjis", SJIS)
write("run_update", RUN_UPDATE)
