#!/usr/bin/env python3
"""The check marks and arrows of the labels ("VINCULADO  ✓", "CONTINUAR  →", "MIS CUENTAS  ✓") under a
substitute for Segoe UI that lacks both glyphs, as a player's Wine or Proton may map it: plain Open Sans.
Wine's GDI+ draws a missing glyph as an empty box; the launcher draws these symbols as strokes, so its
pictures must come out as in the project's prefix, whose font has the glyphs borrowed.

usage: with-own-wine.sh with-link-service.sh --host HOST substitute_font_test.py OrvaneGaming.exe window_probe.exe

The reference is the program's own rendering in the prefix as made (e2e_test's previews); the prefix
copy of this run then gets the font without the glyphs. Screenshots stay in build/tests/e2e-shots/
(names starting with "symbols-").
"""
import os
import shutil
import subprocess
import sys
import unittest

from double_case import DoubleCase, log_mark
from e2e_support import SHOTS, WINEPREFIX, ProgramFolder
from window_support import TOOLS, Layout, Shot, bright, overlap, prefix_env

FONTS = os.path.join(WINEPREFIX, "drive_c", "windows", "Fonts")
FONT_FILES = ("orvane-sans.ttf", "orvane-sans-bold.ttf")
SYMBOLS = (0x2713, 0x2192)
FONT_PYTHON = "/usr/bin/python3"


def label_parts(layout):
    """The labels that end in a symbol on the linked card: both link buttons and the continue button."""
    return {"steam": layout.card_part(476, 159, 184, 44), "discord": layout.card_part(476, 257, 184, 44),
            "continue": layout.card_part(40, 355, 620, 50)}


def differing_pixels(a, b):
    return round(a.differing(b) * a.width * a.height)


class SubstituteFont(DoubleCase):
    def use_font_without_symbols(self):
        saved = os.path.join(self.folder.root, "fonts")
        os.makedirs(saved)
        for name in FONT_FILES:
            shutil.copy(os.path.join(FONTS, name), saved)
        self.addCleanup(lambda: [shutil.copy(os.path.join(saved, n), FONTS) for n in FONT_FILES])
        # The font tools live with the system's Python, as for the prefix itself.
        subprocess.run([FONT_PYTHON, os.path.join(TOOLS, "make-prefix-fonts.py"), "--without-symbols", FONTS],
                       check=True)
        for name in FONT_FILES:
            codes = subprocess.run([FONT_PYTHON, "-c", "import sys; from fontTools.ttLib import TTFont; "
                                    "print(*sorted(TTFont(sys.argv[1]).getBestCmap()))", os.path.join(FONTS, name)],
                                   capture_output=True, text=True, check=True).stdout.split()
            self.assertGreater(len(codes), 200, name)
            self.assertEqual([c for c in SYMBOLS if str(c) in codes], [], f"{name} still has the symbols")

    def test_symbols_are_drawn_the_same_without_the_fonts_glyphs(self):
        self.use_font_without_symbols()

        # The program's own pictures: the same as with the glyphs, to the pixel, where the symbols are.
        folder = ProgramFolder(self)
        done = subprocess.run([os.path.join(TOOLS, "wine-run"), folder.exe, "--render-preview"], env=prefix_env(),
                              capture_output=True, timeout=120)
        self.assertEqual(done.returncode, 0, "the preview renderer failed")
        ready = Shot.load(os.path.join(folder.path, "reports", "preview-linking-ready.png"))
        os.makedirs(SHOTS, exist_ok=True)
        shutil.copy(os.path.join(folder.path, "reports", "preview-linking-ready.png"),
                    os.path.join(SHOTS, "symbols-0-preview-linking-ready.png"))
        reference = self.previews.linking_ready
        for name, box in label_parts(self.previews.layout).items():
            self.assertLessEqual(differing_pixels(ready.crop(box), reference.crop(box)), 2,
                                 f"the {name} label differs from the one drawn with the glyphs")

        # The live window: the linked card's labels have the ink of the reference's.
        mark = log_mark()
        app = self.start()
        layout = app.layout
        self.link_both_accounts(mark)
        app.click(layout.centre(layout.box(layout.W - 276, 48, 214, 44)))
        app.move(self.rest)
        card = lambda shot: self.same_as_preview(shot, layout, "linking_ready", Layout.card)
        shot = self.wait_screen(app, "symbols-1-card", card, "the linked card")
        for name, box in label_parts(layout).items():
            ink = shot.crop(box).mask(bright)
            expected = reference.crop(label_parts(self.previews.layout)[name]).mask(bright)
            self.assertGreater(overlap(ink, expected), 0.9, f"the {name} label's ink")
        self.click(app, layout.continue_button())
        app.shot_when("symbols-2-home", lambda shot: shot.accent_near(layout.tab_underline(0)))
        app.click(layout.close_button())
        self.assertEqual(app.exit_code(), 0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
