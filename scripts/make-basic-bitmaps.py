#!/usr/bin/env python3
"""Draws the Basic page's pictures into resources/bitmaps/basic-*.bmp.

A handheld beside a storage card with a green arrow from the handheld to the
card (backup) or a red one back (restore); 48 x 48, and 40 x 40 for square
screens. Uses the canvas of scripts/make-bitmaps.py:

    scripts/make-basic-bitmaps.py [OUTDIR]
"""
import importlib.util
import os
import sys

_here = os.path.dirname(os.path.abspath(__file__))
_module_def = importlib.util.spec_from_file_location("make_bitmaps", os.path.join(_here, "make-bitmaps.py"))
mb = importlib.util.module_from_spec(_module_def)
_module_def.loader.exec_module(mb)


def handheld(c, x0, y0, w, h):
    c.rect(x0, y0, x0 + w, y0 + h, fill=mb.GREY, edge=mb.DARK)
    c.rect(x0 + 2, y0 + 3, x0 + w - 2, y0 + h * 2 // 3, fill=mb.LIGHTBLUE, edge=mb.DARK)
    for k in range(3):
        bx = x0 + 2 + k * (w - 4) // 3
        c.rect(bx + 1, y0 + h - 5, bx + (w - 4) // 3 - 1, y0 + h - 3, fill=mb.DARK)


def storage_card(c, x0, y0, w, h):
    c.rect(x0, y0, x0 + w, y0 + h, fill=mb.BLUE, edge=mb.DARK)
    for k in range(0, w - 3, 3):
        c.vline(x0 + 2 + k, y0 + 1, y0 + 4, mb.YELLOW)
    c.rect(x0 + 2, y0 + h // 2, x0 + w - 2, y0 + h - 2, fill=mb.WHITE, edge=mb.DARK)


def arrow(c, x0, x1, y, colour, to_right):
    for dy in (-1, 0, 1):
        c.hline(x0, x1, y + dy, colour)
    tip, back = (x1, -1) if to_right else (x0, 1)
    for k in range(1, 5):
        c.vline(tip + back * k, y - k - 1, y + k + 1, colour)


def picture(size, backup):
    c = mb.Canvas(size, size)
    unit = size / 48
    handheld(c, round(2 * unit), round(6 * unit), round(18 * unit), round(34 * unit))
    storage_card(c, round(30 * unit), round(14 * unit), round(15 * unit), round(20 * unit))
    y = round(24 * unit)
    arrow(c, round(18 * unit), round(32 * unit), y, mb.GREEN if backup else mb.RED, backup)
    return c


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(_here, "..", "resources", "bitmaps")
    os.makedirs(out, exist_ok=True)
    for name, size, backup in (("basic-backup.bmp", 48, True), ("basic-restore.bmp", 48, False),
                               ("basic-backup-square.bmp", 40, True), ("basic-restore-square.bmp", 40, False)):
        with open(os.path.join(out, name), "wb") as f:
            f.write(picture(size, backup).bmp())


if __name__ == "__main__":
    main()
