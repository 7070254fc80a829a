#!/usr/bin/env python3
"""Checks the package a user installs from, as the i686 build wrote it.

    check_package.py listing|version|quotes --dist DIR --dll Dropline.dll --root SOURCE_ROOT

listing  the package holds exactly the tested module and the guide, in code page 932 with CRLF
version  the package's name, the module's version resource and the guide agree with common/version.h
quotes   every text the guide quotes (in 「」) is the program's own, as the user sees it, and the
         guide quotes every message and names the registry values the plug-in keeps
"""
import argparse
import pathlib
import re
import struct
import sys
import zipfile

GUIDE = "Dropline.txt"
MODULE = "Dropline.dll"
GUIDE_COLUMNS = 78


class Checks:
    def __init__(self):
        self.failures = 0

    def check(self, description, passed, detail=""):
        print(("ok   " if passed else "FAIL ") + description + ("" if passed or not detail else f": {detail}"))
        self.failures += not passed


def version_of(root):
    header = (root / "common/version.h").read_text(encoding="utf-8")
    major, minor = (int(re.search(rf"^#define DROPLINE_VERSION_{part} (\d+)$", header, re.M).group(1))
                    for part in ("MAJOR", "MINOR"))
    return major, minor


def package_path(args):
    major, minor = version_of(args.root)
    return args.dist / f"Dropline-{major}.{minor}.zip"


def guide_text(package):
    return package.read(GUIDE).decode("cp932")


def check_listing(args, checks):
    with zipfile.ZipFile(package_path(args)) as package:
        names = package.namelist()
        checks.check("the package holds Dropline.dll and Dropline.txt, nothing else",
                     sorted(names) == [MODULE, GUIDE], names)
        checks.check("every entry reads back whole (CRC)", package.testzip() is None)
        module = package.read(MODULE)
        guide = package.read(GUIDE)
    checks.check("Dropline.dll is the built and tested i686 module, byte for byte", module == args.dll.read_bytes())
    pe = struct.unpack_from("<I", module, 0x3C)[0]
    checks.check("Dropline.dll is a 32-bit module (i386)", struct.unpack_from("<H", module, pe + 4)[0] == 0x14C)

    try:
        text = guide.decode("cp932")
    except UnicodeDecodeError as error:
        checks.check("the guide is code page 932", False, str(error))
        return
    checks.check("the guide is code page 932", True)
    lone = re.search(rb"\r(?!\n)|(?<!\r)\n", guide)
    checks.check("the guide's lines end with CRLF only", lone is None and guide.endswith(b"\r\n"),
                 f"a lone line end at byte {lone.start()}" if lone else "no line end at the end")
    source = (args.root / "docs/guide/Dropline.txt").read_text(encoding="utf-8").replace("\r\n", "\n")
    checks.check("the guide is this tree's docs/guide/Dropline.txt", text == source.replace("\n", "\r\n"))
    # Notepad on a Japanese system shows a double-byte character two columns wide.
    wide = [number for number, line in enumerate(text.splitlines(), 1) if len(line.encode("cp932")) > GUIDE_COLUMNS]
    checks.check(f"the guide's lines are at most {GUIDE_COLUMNS} columns wide", not wide, f"lines {wide}")


def string_value(module, name):
    """A text of the version resource: key and value are UTF-16, the value 32-bit aligned."""
    key = (name + "\0").encode("utf-16-le")
    at = module.find(key)
    if at < 0:
        return None
    start = (at + len(key) + 3) & ~3
    end = start
    while module[end:end + 2] != b"\0\0":
        end += 2
    return module[start:end].decode("utf-16-le")


def check_version(args, checks):
    major, minor = version_of(args.root)
    version = f"{major}.{minor}"
    packages = sorted(path.name for path in args.dist.glob("Dropline-*.zip"))
    checks.check(f"the one package is named after version {version}", packages == [f"Dropline-{version}.zip"],
                 packages)
    with zipfile.ZipFile(package_path(args)) as package:
        module = package.read(MODULE)
        guide = guide_text(package)

    fixed = module.find(struct.pack("<I", 0xFEEF04BD))
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<4I", module, fixed + 8)
    checks.check(f"the version resource's numbers are {version}.0.0",
                 fixed >= 0 and (file_ms, file_ls, product_ms, product_ls) == ((major << 16) | minor, 0) * 2)
    for name in ("FileVersion", "ProductVersion"):
        value = string_value(module, name)
        checks.check(f"the version resource's {name} is {version}.0.0", value == f"{version}.0.0", value)

    texts = (args.root / "common/texts.h").read_text(encoding="utf-8")
    checks.check("the information record's version is taken from common/version.h",
                 re.search(r"kVersion\[\] = DROPLINE_VERSION_TEXT;", texts) is not None)

    lines = guide.splitlines()
    title = next((line for line in lines[:5] if "バージョン" in line), "")
    checks.check(f"the guide's title names version {version}", re.search(rf"バージョン {re.escape(version)}$", title),
                 title)
    history = lines[next((i for i, line in enumerate(lines) if "更新履歴" in line), len(lines)) + 1:]
    newest = next((line for line in history if line.startswith("バージョン")), "")
    checks.check(f"the guide's history begins with version {version}", newest == f"バージョン {version}", newest)


def c_literals(code):
    escapes = {"n": "\n", "t": "\t"}
    return "".join(re.sub(r"\\(.)", lambda m: escapes.get(m.group(1), m.group(1)), body)
                   for body in re.findall(r'"((?:[^"\\]|\\.)*)"', code))


def program_texts(root):
    """texts.h by constant (and the constants of its Messages block), and the .rc's captions and
    control texts."""
    header = (root / "common/texts.h").read_text(encoding="utf-8")
    declaration = re.compile(r'inline constexpr char (k\w+)\[\] =\s*((?:"(?:[^"\\]|\\.)*"\s*)+);')
    texts = {name: c_literals(code) for name, code in declaration.findall(header)}
    block = next(block for block in header.split("\n\n") if block.lstrip().startswith("// Messages"))
    messages = [name for name, _ in declaration.findall(block)]
    rc = (root / "resources/dropline.rc").read_text(encoding="utf-8")
    texts.update((f"dropline.rc: {text}", text.replace('""', '"'))
                 for text in re.findall(r'^\s*(?:CAPTION|CONTROL)\s+"((?:[^"]|"")*)"', rc, re.M))
    return texts, messages


def as_shown(text):
    # A message box breaks lines where the text says; a label shows "&C" as an underlined C.
    return re.sub(r"&(&?)", r"\1", text.replace("\n", ""))


def quotes(guide):
    """(line number, text) of every outermost 「…」 of the guide, and the lines whose brackets do not pair.
    A quote too long for a line goes on in the next, less its indent."""
    lines = []
    for number, line in enumerate(guide.splitlines(), 1):
        if lines and lines[-1][1].count("「") > lines[-1][1].count("」") and line.strip():
            lines[-1] = (lines[-1][0], lines[-1][1] + line.lstrip(" "))
        else:
            lines.append((number, line))
    found, unpaired = [], []
    for number, line in lines:
        depth, start = 0, 0
        for at, char in enumerate(line):
            if char == "「":
                depth += 1
                if depth == 1:
                    start = at + 1
            elif char == "」":
                depth -= 1
                if depth == 0:
                    found.append((number, line[start:at]))
                if depth < 0:
                    break
        if depth != 0:
            unpaired.append(number)
    return found, unpaired


def check_quotes(args, checks):
    with zipfile.ZipFile(package_path(args)) as package:
        guide = guide_text(package)
    texts, messages = program_texts(args.root)
    shown = {as_shown(text) for text in texts.values()}
    found, unpaired = quotes(guide)
    checks.check("the guide's 「」 pair up on every line", not unpaired, f"lines {unpaired}")
    foreign = [f"line {number}: 「{text}」" for number, text in found if text not in shown]
    checks.check(f"each of the guide's {len(found)} quotes is a text of texts.h or dropline.rc, as shown",
                 not foreign, "; ".join(foreign))
    quoted = {text for _, text in found}
    missing = [name for name in messages if as_shown(texts[name]) not in quoted]
    checks.check(f"the guide quotes each of the {len(messages)} messages", not missing, missing)

    store = (args.root / "settings/settings_store.h").read_text(encoding="utf-8")
    values = set(re.findall(r'"(DL\w+)"', store))
    key = re.search(r'kHostSettingsKey\[\] = "([^"]+)"', store).group(1).replace("\\\\", "\\")
    checks.check("the guide names the settings key", f"HKEY_CURRENT_USER\\{key}" in guide and f"HKCU\\{key}" in guide)
    named = set(re.findall(r"\bDL\w+", guide))
    checks.check("the guide names exactly the four values the plug-in keeps", named == values and len(values) == 4,
                 sorted(named ^ values))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("check", choices=["listing", "version", "quotes"])
    parser.add_argument("--dist", type=pathlib.Path, required=True)
    parser.add_argument("--dll", type=pathlib.Path, required=True)
    parser.add_argument("--root", type=pathlib.Path, required=True)
    args = parser.parse_args()
    if not package_path(args).is_file():
        sys.exit(f"FAIL no package {package_path(args)} (the i686 build writes it)")
    checks = Checks()
    {"listing": check_listing, "version": check_version, "quotes": check_quotes}[args.check](args, checks)
    sys.exit(1 if checks.failures else 0)


if __name__ == "__main__":
    main()
