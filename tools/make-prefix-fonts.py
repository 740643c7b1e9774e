#!/usr/bin/python3
"""Writes the stand-in for Segoe UI into a Wine prefix's font folder.

Open Sans looks closest, but it lacks the arrow and the check mark the launcher's labels use, and
Wine's GDI+ draws a box for a missing glyph instead of falling back the way Windows does. So the two
glyphs are taken from DejaVu Sans (same 2048 units per em) into a family of our own.

  make-prefix-fonts.py FOLDER                    the family with the two glyphs borrowed
  make-prefix-fonts.py --without-symbols FOLDER  the same family as plain Open Sans, as a player's
                                                 substitute font would be (the symbols test uses it)
"""
import sys

from fontTools.ttLib import TTFont

OPEN_SANS = "/usr/share/fonts/truetype/open-sans/OpenSans-{}.ttf"
DEJAVU = "/usr/share/fonts/truetype/dejavu/DejaVuSans{}.ttf"
FAMILY = "Orvane Sans"
BORROWED = (0x2192, 0x2713)  # → and ✓


def merge(style, dejavu_style, out_path, borrowed=BORROWED):
    base = TTFont(OPEN_SANS.format(style))
    donor = TTFont(DEJAVU.format(dejavu_style))
    scale = base["head"].unitsPerEm / donor["head"].unitsPerEm
    donor_cmap = donor.getBestCmap()
    order = list(base.getGlyphOrder())
    for code in borrowed:
        donor_name = donor_cmap[code]
        name = "orvane%04X" % code
        glyph = donor["glyf"][donor_name]
        if glyph.isComposite():
            sys.exit(f"{donor_name} is composite")
        if scale != 1:
            glyph.coordinates.scale((scale, scale))
        base["glyf"][name] = glyph
        width, lsb = donor["hmtx"][donor_name]
        base["hmtx"][name] = (round(width * scale), round(lsb * scale))
        order.append(name)
        for table in base["cmap"].tables:
            if table.isUnicode():
                table.cmap[code] = name
    base.setGlyphOrder(order)
    base["glyf"].glyphOrder = order
    base["maxp"].numGlyphs = len(order)
    # Drop hinting and layout tables that index glyphs: the merged glyphs are plain outlines.
    for tag in ("hdmx", "LTSH", "VDMX", "GSUB", "GPOS", "GDEF", "DSIG"):
        if tag in base:
            del base[tag]
    names = base["name"]
    for record in list(names.names):
        if record.nameID in (1, 4, 6, 16, 17):
            names.removeNames(nameID=record.nameID)
    full = FAMILY if style == "Regular" else f"{FAMILY} {style}"
    names.setName(FAMILY, 1, 3, 1, 0x409)
    names.setName(style, 2, 3, 1, 0x409)
    names.setName(full, 4, 3, 1, 0x409)
    names.setName(full.replace(" ", ""), 6, 3, 1, 0x409)
    base.save(out_path)


def main():
    plain = sys.argv[1:2] == ["--without-symbols"]
    folder = sys.argv[2 if plain else 1]
    borrowed = () if plain else BORROWED
    merge("Regular", "", f"{folder}/orvane-sans.ttf", borrowed)
    merge("Bold", "-Bold", f"{folder}/orvane-sans-bold.ttf", borrowed)


if __name__ == "__main__":
    main()
