#!/usr/bin/env python3
"""Turns texts.tsv into the language XML file the client reads.

Usage: make_langfile.py TEXTS_TSV OUTPUT_XML

Each row of the table is: page id, section id, key, text (tab separated,
UTF-8). Lines starting with '#' and empty lines are skipped. The table is
refused (exit status 1, nothing written) when a row is malformed, a
(page, section, key) repeats, a section id does not belong to its page, a key
is named like a page or section element, or a text is empty or longer than
the client reads (1023 bytes of UTF-8).
"""
import os
import re
import sys
import tempfile
from xml.sax.saxutils import escape

DIRECT = 48  # keys standing directly under the page element

PAGES = {
    33: ("commonpage", {49: "weekdays", 50: "monthitems", 51: "alarmactions"}),
    34: ("previewpage", {65: "alarmlist", 66: "deviceadd", 67: "alarmtypes"}),
    35: ("playbackpage", {81: "recordclip"}),
    36: ("localsettingspage", {97: "userauthoritys"}),
    37: ("remoteconfigurepage", {
        113: "generalpage", 114: "maintainpage", 115: "tcpippage", 116: "advnetpage",
        117: "wifipage", 118: "videopage", 119: "audiopage", 120: "imagepage",
        121: "osdpage", 122: "motionpage", 123: "storagepage", 124: "schedulepage",
        125: "userspage"}),
    38: ("tipsinfos", {}),
}

MAX_TEXT_BYTES = 1023
KEY_RE = re.compile(r"^[a-z][a-z0-9]*$")
CONTROL_RE = re.compile(r"[\x00-\x1f\x7f]")


class TableError(Exception):
    pass


def element_names():
    names = set()
    for page, sections in PAGES.values():
        names.add(page)
        names.update(sections.values())
    return names


def read_table(path):
    """Returns {page: {section: [(key, text), ...]}} in table order."""
    reserved = element_names()
    table = {page: {} for page in PAGES}
    seen = {}
    errors = []
    try:
        with open(path, encoding="utf-8", newline="") as f:
            lines = f.read().split("\n")
    except (OSError, UnicodeDecodeError) as e:
        raise TableError(f"{path}: cannot read: {e}")
    for number, line in enumerate(lines, 1):
        line = line.rstrip("\r")
        if not line or line.startswith("#"):
            continue
        where = f"{path}:{number}"
        fields = line.split("\t", 3)
        if len(fields) != 4:
            errors.append(f"{where}: expected page, section, key and text separated by tabs")
            continue
        page_s, section_s, key, text = fields
        try:
            page, section = int(page_s), int(section_s)
        except ValueError:
            errors.append(f"{where}: page and section must be numbers")
            continue
        if page not in PAGES:
            errors.append(f"{where}: unknown page id {page}")
            continue
        if section != DIRECT and section not in PAGES[page][1]:
            errors.append(f"{where}: section id {section} is not a section of page {page}")
            continue
        if not KEY_RE.match(key):
            errors.append(f"{where}: key {key!r} is not a plain lowercase word")
            continue
        if key in reserved:
            errors.append(f"{where}: key {key!r} is named like a page or section element")
            continue
        if (page, section, key) in seen:
            errors.append(f"{where}: duplicate key {key!r} (first at line {seen[(page, section, key)]})")
            continue
        if not text:
            errors.append(f"{where}: empty text for {key!r}")
            continue
        if len(text.encode("utf-8")) > MAX_TEXT_BYTES:
            errors.append(f"{where}: text of {key!r} is longer than {MAX_TEXT_BYTES} bytes")
            continue
        if CONTROL_RE.search(text):
            errors.append(f"{where}: text of {key!r} holds a control character")
            continue
        seen[(page, section, key)] = number
        table[page].setdefault(section, []).append((key, text))
    if errors:
        raise TableError("\n".join(errors))
    return table


def render(table):
    out = ['<?xml version="1.0" encoding="utf-8"?>', "<language>"]

    def keys(rows, indent):
        for key, text in rows:
            out.append(f"{indent}<{key}>{escape(text)}</{key}>")

    for page_id in sorted(PAGES):
        page, sections = PAGES[page_id]
        out.append(f"    <{page}>")
        # Direct keys first: the client's key search looks inside a section
        # before the page's own later keys, so order decides which one wins.
        keys(table[page_id].get(DIRECT, []), "        ")
        for section_id in sorted(sections):
            rows = table[page_id].get(section_id, [])
            out.append(f"        <{sections[section_id]}>")
            keys(rows, "            ")
            out.append(f"        </{sections[section_id]}>")
        out.append(f"    </{page}>")
    out.append("</language>")
    return "\n".join(out) + "\n"


def write_atomically(path, text):
    folder = os.path.dirname(os.path.abspath(path))
    os.makedirs(folder, exist_ok=True)
    fd, tmp = tempfile.mkstemp(dir=folder, prefix=".langfile-")
    try:
        with os.fdopen(fd, "w", encoding="utf-8", newline="\n") as f:
            f.write(text)
        os.chmod(tmp, 0o644)
        os.replace(tmp, path)
    except BaseException:
        os.unlink(tmp)
        raise


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    try:
        table = read_table(argv[1])
    except TableError as e:
        print(e, file=sys.stderr)
        return 1
    write_atomically(argv[2], render(table))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
