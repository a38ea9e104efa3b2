#!/usr/bin/env python3
"""Writes the web player template: the page (kmovsp.html) with the player's
script (Emscripten's output, its WebAssembly inline) in place of the
"<!-- kmov player -->" line.

Usage: make_page.py PAGE SCRIPT OUT
"""
import sys


def main() -> int:
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        return 2
    page_path, script_path, out_path = sys.argv[1:]
    with open(page_path, encoding="utf-8") as f:
        page = f.read()
    with open(script_path, encoding="utf-8") as f:
        script = f.read()
    # The script would end its element early.
    if "</script" in script.lower():
        print(f"{script_path}: holds '</script'", file=sys.stderr)
        return 1
    if page.count("<!-- kmov player -->\n") != 1:
        print(f"{page_path}: needs one '<!-- kmov player -->' line", file=sys.stderr)
        return 1
    page = page.replace("<!-- kmov player -->\n", "<script>\n" + script + "\n</script>\n")
    with open(out_path, "w", encoding="utf-8", newline="\n") as f:
        f.write(page)
    return 0


if __name__ == "__main__":
    sys.exit(main())
