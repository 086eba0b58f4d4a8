#!/usr/bin/env python3
"""Builds the interface font NotoSansSC-Medium.ttf from the system's Noto Sans CJK collection.

The Simplified Chinese face is taken out of the collection, renamed so that it
registers as the single family "Noto Sans SC Medium" (the name every style sheet
uses), and cut down to the characters the program can show: Latin, punctuation,
the GB2312 Chinese characters and every character of the given text files
(translation sources, forms). The full face is about 16 MB; the subset a few MB.
"""
import argparse
import os
import re
import sys

try:
    from fontTools.ttLib import TTCollection
    from fontTools import subset
except ImportError:
    sys.exit("make_ui_font.py: Python module fontTools is missing "
             "(Debian package python3-fonttools)")

FAMILY = "Noto Sans SC Medium"
SUBFAMILY = "Regular"
POSTSCRIPT = "NotoSansSC-Medium"
SOURCE_FACE = "Noto Sans CJK SC"

# Blocks kept whole: Basic Latin, Latin-1, Latin Extended-A, general punctuation,
# super/subscripts, currency, letterlike symbols, number forms, arrows, math
# operators, misc technical, enclosed alphanumerics, box drawing, geometric shapes,
# CJK symbols and punctuation, full-width forms.
RANGES = [
    (0x0020, 0x007E), (0x00A0, 0x00FF), (0x0100, 0x017F),
    (0x2000, 0x206F), (0x2070, 0x209F), (0x20A0, 0x20CF), (0x2100, 0x214F),
    (0x2150, 0x218F), (0x2190, 0x21FF), (0x2200, 0x22FF), (0x2300, 0x23FF),
    (0x2460, 0x24FF), (0x2500, 0x257F), (0x25A0, 0x25FF),
    (0x3000, 0x303F), (0xFF00, 0xFFEF),
]


def gb2312_hanzi(levels):
    """The Chinese characters of GB2312: level 1 is rows 16-55, level 2 rows 56-87."""
    rows = range(16, 56) if levels == 1 else range(16, 88)
    chars = set()
    for row in rows:
        for cell in range(1, 95):
            try:
                chars.add(bytes([0xA0 + row, 0xA0 + cell]).decode("gb2312"))
            except UnicodeDecodeError:
                pass  # unassigned cells at the end of row 55
    return chars


def gb2312_symbols():
    """Rows 1-9 of GB2312: punctuation, numbers, Latin, kana, Greek, Cyrillic, pinyin, box drawing."""
    chars = set()
    for row in range(1, 10):
        for cell in range(1, 95):
            try:
                chars.add(bytes([0xA0 + row, 0xA0 + cell]).decode("gb2312"))
            except UnicodeDecodeError:
                pass
    return chars


def text_chars(paths):
    chars = set()
    for path in paths:
        with open(path, encoding="utf-8", errors="replace") as f:
            text = f.read()
        # Character references in XML (.ts, .ui) count as the character itself.
        for m in re.finditer(r"&#(x[0-9A-Fa-f]+|[0-9]+);", text):
            ref = m.group(1)
            chars.add(chr(int(ref[1:], 16) if ref[0] == "x" else int(ref)))
        chars.update(c for c in text if ord(c) >= 0x80)
    return chars


def find_face(collection_path):
    collection = TTCollection(collection_path)
    for font in collection.fonts:
        name = font["name"]
        if name.getDebugName(16) == SOURCE_FACE or name.getDebugName(1) == SOURCE_FACE + " Medium":
            return font
    sys.exit("make_ui_font.py: no '%s' face in %s" % (SOURCE_FACE, collection_path))


def rename(font):
    name = font["name"]
    # Drop every family/style/full/PostScript name, localized ones included, so
    # that font databases see exactly one family name.
    name.names = [r for r in name.names if r.nameID not in (1, 2, 3, 4, 6, 16, 17, 21, 22)]
    version = font["head"].fontRevision
    for plat, enc, lang in ((3, 1, 0x409), (1, 0, 0)):
        name.setName(FAMILY, 1, plat, enc, lang)
        name.setName(SUBFAMILY, 2, plat, enc, lang)
        name.setName("%.3f;GOOG;%s" % (version, POSTSCRIPT), 3, plat, enc, lang)
        name.setName(FAMILY, 4, plat, enc, lang)
        name.setName(POSTSCRIPT, 6, plat, enc, lang)
    cff = font["CFF "].cff
    cff.fontNames = [POSTSCRIPT]
    top = cff.topDictIndex[0]
    if hasattr(top, "FamilyName"):
        top.FamilyName = FAMILY
    if hasattr(top, "FullName"):
        top.FullName = FAMILY
    # One face per family: a regular style bit, no bold or italic.
    os2 = font["OS/2"]
    os2.fsSelection = (os2.fsSelection & ~0b1100001) | 0b1000000
    font["head"].macStyle = 0


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--collection", required=True, help="NotoSansCJK-Medium.ttc")
    ap.add_argument("--output", required=True)
    ap.add_argument("--gb2312-levels", type=int, choices=(1, 2), default=2)
    ap.add_argument("texts", nargs="*", help="files whose characters must be kept")
    args = ap.parse_args()
    if not os.path.exists(args.collection):
        sys.exit("make_ui_font.py: %s not found (Debian package fonts-noto-cjk-extra)" % args.collection)

    font = find_face(args.collection)
    cmap = font.getBestCmap()

    wanted = set()
    for lo, hi in RANGES:
        wanted.update(chr(c) for c in range(lo, hi + 1))
    wanted |= gb2312_symbols() | gb2312_hanzi(args.gb2312_levels) | text_chars(args.texts)
    unicodes = sorted(ord(c) for c in wanted if ord(c) in cmap)

    opts = subset.Options()
    opts.name_IDs = ["*"]
    opts.name_languages = ["*"]
    opts.notdef_outline = True
    opts.recalc_bounds = True
    opts.drop_tables += ["VORG", "vhea", "vmtx", "BASE"]  # horizontal text only
    subsetter = subset.Subsetter(opts)
    subsetter.populate(unicodes=unicodes)
    subsetter.subset(font)

    rename(font)
    font.save(args.output)
    print("make_ui_font.py: %d characters -> %s" % (len(unicodes), args.output))


if __name__ == "__main__":
    main()
