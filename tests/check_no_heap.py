#!/usr/bin/env python3
"""Fails when the updater's own object files refer to a heap allocator.

Usage: check_no_heap.py NM FILE...  (object files or static libraries)
"""
import re
import subprocess
import sys

# C and C++ allocators (operator new in both manglings of size_t), the
# Windows heap families, and the C library's allocating string helpers.
ALLOCATORS = re.compile(
    r"^_?_?(imp_+)?_?("
    r"malloc|calloc|realloc|free|aligned_alloc|posix_memalign|memalign|valloc|pvalloc|"
    r"_aligned_malloc|strdup|_strdup|strndup|wcsdup|_wcsdup|"
    r"_Zn[wa][jmy].*|"
    r"HeapAlloc|HeapReAlloc|HeapCreate|GetProcessHeap|LocalAlloc|LocalReAlloc|"
    r"GlobalAlloc|GlobalReAlloc|VirtualAlloc|VirtualAllocEx|CoTaskMemAlloc|SysAllocString"
    r")(@\d+)?$")


def main():
    nm, files = sys.argv[1], sys.argv[2:]
    if not files:
        sys.exit("no object files given")
    found = []
    for path in files:
        out = subprocess.run([nm, "-u", path], check=True, capture_output=True, text=True).stdout
        for line in out.splitlines():
            symbol = line.split()[-1] if line.split() else ""
            if ALLOCATORS.match(symbol):
                found.append(f"{path}: {symbol}")
    for item in found:
        print("heap allocation:", item)
    print(f"checked {len(files)} file(s): {'no' if not found else len(found)} allocator reference(s)")
    sys.exit(1 if found else 0)


if __name__ == "__main__":
    main()
