#!/usr/bin/env python3
"""Draws the Backup page's pictures into resources/bitmaps/backup-*.bmp.

The annotation button's four states (24 x 22, named bitmaps "annotateU",
"annotateD", "annotateF" and "annotateX": normal, pressed, focused,
disabled), on the canvas of scripts/make-bitmaps.py. Run it again after
changing a picture:

    scripts/make-bitmaps-backup.py [OUTDIR]
"""
import importlib.util
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
_spec = importlib.util.spec_from_file_location("make_bitmaps", os.path.join(HERE, "make-bitmaps.py"))
mb = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(mb)

LIGHT = (225, 225, 225)
FACE = (236, 233, 216)


def note(ground, edge, paper, ink, pen, inset=0):
    """A button face with a sheet of paper and a pen writing on it."""
    c = mb.Canvas(24, 22)
    c.rect(0, 0, 23, 21, fill=ground, edge=edge)
    x0, y0 = 5 + inset, 3 + inset
    c.rect(x0, y0, x0 + 10, y0 + 14, fill=paper, edge=ink)
    for row in range(3):
        c.hline(x0 + 2, x0 + 8, y0 + 4 + 3 * row, ink)
    # The pen, slanting down to the paper's right edge.
    c.line(x0 + 16, y0 + 1, x0 + 9, y0 + 10, pen)
    c.line(x0 + 17, y0 + 2, x0 + 10, y0 + 11, pen)
    c.put(x0 + 8, y0 + 11, mb.BLACK)
    return c


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(HERE, "..", "resources", "bitmaps")
    os.makedirs(out, exist_ok=True)
    pictures = [
        ("backup-annotateU.bmp", note(FACE, mb.GREY, mb.WHITE, mb.BLUE, mb.ORANGE)),
        ("backup-annotateD.bmp", note(mb.LIGHTBLUE, mb.DARK, mb.WHITE, mb.BLUE, mb.ORANGE, inset=1)),
        ("backup-annotateF.bmp", note(FACE, mb.BLUE, mb.WHITE, mb.BLUE, mb.ORANGE)),
        ("backup-annotateX.bmp", note(LIGHT, mb.GREY, LIGHT, mb.GREY, mb.GREY)),
    ]
    for name, c in pictures:
        with open(os.path.join(out, name), "wb") as f:
            f.write(c.bmp())


if __name__ == "__main__":
    main()
