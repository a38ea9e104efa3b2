#!/usr/bin/env python3
"""Copies a UTF-8 source file, writing every non-ASCII character as octal
escapes of its code page 932 bytes. Compilers that only know UTF-8 (clang,
Emscripten) then put the same message bytes into the program that gcc's
-fexec-charset=CP932 gives. Octal escapes take at most three digits, so a
digit behind one never joins it; escapes in comments are harmless.

Usage: cp932_escape.py IN OUT
"""
import os
import sys


def escape(text: str) -> str:
    out = []
    for ch in text:
        if ord(ch) < 0x80:
            out.append(ch)
        else:
            out.append("".join("\\%03o" % b for b in ch.encode("cp932")))
    return "".join(out)


def main() -> int:
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    with open(sys.argv[1], encoding="utf-8") as f:
        text = f.read()
    os.makedirs(os.path.dirname(os.path.abspath(sys.argv[2])), exist_ok=True)
    with open(sys.argv[2], "w", encoding="ascii", newline="") as f:
        f.write(escape(text))
    return 0


if __name__ == "__main__":
    sys.exit(main())
