#!/usr/bin/env python3
"""Writes the package a user installs from: the module as built, and the guide as Notepad on a
Japanese system reads it (code page 932, CRLF line ends).

    make_package.py --dll Dropline.dll --guide docs/guide/Dropline.txt --out DIR/Dropline-1.1.zip

The guide's source is UTF-8. A character that code page 932 cannot hold, or that comes back as
another character when the user's system reads the file (Python's codec takes 〜 U+301C and gives
back ～ U+FF5E), stops the packing with its line, rather than reaching the user changed. Packages of other versions in DIR are removed, so
that the folder holds the one package of this tree.
"""
import argparse
import os
import pathlib
import sys
import time
import zipfile

FILE_ATTRIBUTE_ARCHIVE = 0x20


def guide_bytes(source: pathlib.Path) -> bytes:
    text = source.read_text(encoding="utf-8").replace("\r\n", "\n")
    for number, line in enumerate(text.split("\n"), 1):
        try:
            read_back = line.encode("cp932").decode("cp932")
        except UnicodeEncodeError as error:
            sys.exit(f"{source}:{number}: {line[error.start]!r} has no code in code page 932")
        if read_back != line:
            at = next(at for at, (char, back) in enumerate(zip(line + "\0", read_back + "\0")) if char != back)
            sys.exit(f"{source}:{number}: {line[at:at + 1]!r} reads back as {read_back[at:at + 1]!r} "
                     "from code page 932")
        if "\r" in line:
            sys.exit(f"{source}:{number}: a lone carriage return")
    return text.replace("\n", "\r\n").encode("cp932")


def entry(name: str, source: pathlib.Path) -> zipfile.ZipInfo:
    # As a Windows tool writes it: DOS attributes and the file's own time.
    info = zipfile.ZipInfo(name, time.localtime(source.stat().st_mtime)[:6])
    info.create_system = 0
    info.external_attr = FILE_ATTRIBUTE_ARCHIVE
    info.compress_type = zipfile.ZIP_DEFLATED
    return info


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--dll", type=pathlib.Path, required=True)
    parser.add_argument("--guide", type=pathlib.Path, required=True)
    parser.add_argument("--out", type=pathlib.Path, required=True)
    args = parser.parse_args()

    guide = guide_bytes(args.guide)
    args.out.parent.mkdir(parents=True, exist_ok=True)
    # Written aside and renamed, so that a failed run leaves no half package under the real name.
    partial = args.out.with_name(args.out.name + ".partial")
    try:
        with zipfile.ZipFile(partial, "w") as package:
            package.writestr(entry("Dropline.dll", args.dll), args.dll.read_bytes())
            package.writestr(entry("Dropline.txt", args.guide), guide)
        os.replace(partial, args.out)
    finally:
        partial.unlink(missing_ok=True)
    for other in args.out.parent.glob("Dropline-*.zip"):
        if other != args.out:
            other.unlink()


if __name__ == "__main__":
    main()
