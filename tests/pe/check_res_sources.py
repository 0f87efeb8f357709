#!/usr/bin/python3
"""Regenerates the generated resource files into a temporary directory and
compares them with the checked-in ones, so res/ and docs/ cannot drift from
tools/make_version_block.py and tools/draw_icons.py.

res/version.bin and res/updater.ico must match byte for byte; the PNG
previews are compared by pixels (their compressed bytes depend on zlib).

Usage: check_res_sources.py   (exit status 1 on any difference)
"""
import importlib.util
import os
import sys
import tempfile

from PIL import Image

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def load_tool(name):
    module_spec = importlib.util.spec_from_file_location(name, os.path.join(ROOT, "tools", name + ".py"))
    module = importlib.util.module_from_spec(module_spec)
    module_spec.loader.exec_module(module)
    return module


def main():
    results = []

    def check(what, ok):
        results.append(ok)
        print("%s %s" % ("ok  " if ok else "FAIL", what))

    def read(*path):
        with open(os.path.join(*path), "rb") as f:
            return f.read()

    with tempfile.TemporaryDirectory() as tmp:
        load_tool("make_version_block").main(["", os.path.join(tmp, "version.bin")])
        load_tool("draw_icons").main(["", tmp, tmp])
        for name in ("version.bin", "updater.ico"):
            check("res/%s matches its generator" % name,
                  read(tmp, name) == read(ROOT, "res", name))
        for size in (256, 48, 32, 16):
            name = "icon-%d.png" % size
            with Image.open(os.path.join(tmp, name)) as new, \
                    Image.open(os.path.join(ROOT, "docs", name)) as old:
                check("docs/%s matches its generator" % name,
                      new.size == old.size
                      and new.convert("RGBA").tobytes() == old.convert("RGBA").tobytes())

    failed = results.count(False)
    print("%d passed, %d failed" % (len(results) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
