#!/usr/bin/env python3
"""Draws the resource library's small pictures into resources/bitmaps/.

The component tree's 25 images (16 x 16), its check-mark strip (four
13 x 13 images: none, unchecked, checked, partial) and the sheet's two tab
icons (24 x 24), as 24-bit bitmaps on a white ground (white is the mask
colour the controls use). Run it again after changing a picture:

    scripts/make-bitmaps.py [OUTDIR]
"""
import os
import struct
import sys

WHITE = (255, 255, 255)
BLACK = (0, 0, 0)
GREY = (128, 128, 128)
DARK = (48, 48, 48)
BLUE = (40, 90, 190)
LIGHTBLUE = (150, 190, 240)
YELLOW = (240, 200, 60)
DARKYELLOW = (170, 130, 20)
GREEN = (40, 150, 60)
RED = (200, 40, 40)
PURPLE = (130, 60, 170)
ORANGE = (230, 130, 30)
TEAL = (20, 140, 150)


class Canvas:
    def __init__(self, width, height):
        self.w, self.h = width, height
        self.px = [[WHITE] * width for _ in range(height)]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x0, y0, x1, y1, fill=None, edge=None):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                border = x in (x0, x1) or y in (y0, y1)
                if border and edge:
                    self.put(x, y, edge)
                elif fill:
                    self.put(x, y, fill)

    def hline(self, x0, x1, y, c):
        for x in range(x0, x1 + 1):
            self.put(x, y, c)

    def vline(self, x, y0, y1, c):
        for y in range(y0, y1 + 1):
            self.put(x, y, c)

    def line(self, x0, y0, x1, y1, c):
        n = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(n + 1):
            self.put(round(x0 + (x1 - x0) * i / n), round(y0 + (y1 - y0) * i / n), c)

    def bmp(self):
        stride = (self.w * 3 + 3) // 4 * 4
        rows = b""
        for y in range(self.h - 1, -1, -1):  # bottom-up
            row = b"".join(bytes((b, g, r)) for (r, g, b) in self.px[y])
            rows += row + b"\0" * (stride - len(row))
        info = struct.pack("<IiiHHIIiiII", 40, self.w, self.h, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
        head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(rows), 0, 0, 14 + len(info))
        return head + info + rows


# ---- the tree's pictures (16 x 16) ----

def page(c, ink=BLUE):
    c.rect(3, 1, 12, 14, fill=WHITE, edge=DARK)
    for y in (4, 6, 8, 10):
        c.hline(5, 10, y, ink)


def folder(c, open_=False):
    c.rect(1, 3, 6, 4, fill=YELLOW, edge=DARKYELLOW)
    c.rect(1, 4, 14, 13, fill=YELLOW, edge=DARKYELLOW)
    if open_:
        for y in range(7, 14):
            c.hline(3 + (13 - y) // 2, 15 - (13 - y) // 2, y, (250, 225, 120))
        c.line(3, 7, 15, 7, DARKYELLOW)


def device(c):
    c.rect(3, 0, 12, 15, fill=GREY, edge=DARK)
    c.rect(5, 2, 10, 9, fill=LIGHTBLUE, edge=DARK)
    c.rect(6, 11, 9, 13, fill=DARK)


def cylinder(c, body, top):
    c.rect(3, 3, 12, 13, fill=body)
    c.hline(4, 11, 2, DARK)
    c.hline(4, 11, 14, DARK)
    c.vline(2, 3, 13, DARK)
    c.vline(13, 3, 13, DARK)
    c.hline(3, 12, 4, top)
    c.hline(4, 11, 5, DARK)


def registry(c):
    for (x, y, col) in ((1, 1, RED), (8, 1, GREEN), (1, 8, BLUE), (8, 8, YELLOW)):
        c.rect(x, y, x + 6, y + 6, fill=col, edge=DARK)


def mail(c):
    c.rect(1, 3, 14, 12, fill=WHITE, edge=DARK)
    c.line(1, 3, 7, 8, DARK)
    c.line(14, 3, 8, 8, DARK)


def card(c):
    c.rect(3, 1, 12, 14, fill=(60, 60, 70), edge=DARK)
    c.line(3, 4, 6, 1, WHITE)
    for x in (5, 7, 9, 11):
        c.vline(x, 2, 4, YELLOW)
    c.rect(5, 7, 10, 12, fill=LIGHTBLUE)


def documents(c):
    folder(c)
    c.rect(6, 6, 12, 12, fill=WHITE, edge=BLUE)
    c.hline(7, 11, 8, BLUE)
    c.hline(7, 11, 10, BLUE)


def record(c):
    c.rect(2, 3, 13, 12, fill=(235, 240, 250), edge=BLUE)
    c.hline(2, 13, 6, BLUE)
    c.vline(6, 3, 12, BLUE)


def badge(colour, mark):
    def draw(c):
        c.rect(2, 2, 13, 13, fill=colour, edge=DARK)
        mark(c)
    return draw


def mark_plus(c):
    c.hline(5, 10, 7, WHITE)
    c.hline(5, 10, 8, WHITE)
    c.vline(7, 5, 10, WHITE)
    c.vline(8, 5, 10, WHITE)


def mark_bars(c):
    for x in (5, 8, 11):
        c.vline(x, 5, 10, WHITE)


def mark_dot(c):
    c.rect(6, 6, 9, 9, fill=WHITE)


def mark_x(c):
    c.line(5, 5, 10, 10, WHITE)
    c.line(10, 5, 5, 10, WHITE)


def database_volume(c):
    cylinder(c, (120, 160, 220), LIGHTBLUE)
    c.rect(9, 9, 14, 14, fill=GREY, edge=DARK)


def database(c):
    cylinder(c, ORANGE, (250, 190, 120))


def files(c):
    c.rect(5, 1, 13, 11, fill=WHITE, edge=GREY)
    page(c)


# Image-list index -> (bitmap id, picture).
TREE = [
    (212, page),                          # 0 a file
    (213, lambda c: folder(c)),           # 1 a folder
    (214, lambda c: folder(c, True)),     # 2 an open folder
    (265, device),                        # 3 the device (root)
    (267, database_volume),               # 4 database volumes
    (270, database),                      # 5 databases
    (266, registry),                      # 6 the registry
    (269, badge(TEAL, mark_dot)),         # 7
    (268, badge(PURPLE, mark_bars)),      # 8
    (272, badge(GREEN, mark_plus)),       # 9
    (264, record),                        # 10 a database record
    (271, files),                         # 11 the file system
    (275, mail),                          # 12 mail
    (281, badge(RED, mark_x)),            # 13
    (280, badge(BLUE, mark_dot)),         # 14
    (277, badge(ORANGE, mark_bars)),      # 15
    (276, badge(GREY, mark_plus)),        # 16
    (278, badge(TEAL, mark_bars)),        # 17
    (279, documents),                     # 18
    (282, documents),                     # 19 the documents folder
    (283, badge(PURPLE, mark_dot)),       # 20
    (284, card),                          # 21 a storage card
    (287, badge(GREEN, mark_x)),          # 22
    (285, badge(BLUE, mark_plus)),        # 23
    (286, badge(RED, mark_bars)),         # 24
]


def state_strip():
    """Four 13 x 13 check marks: none, unchecked, checked, partial."""
    c = Canvas(52, 13)
    for i in (1, 2, 3):
        x0 = 13 * i
        c.rect(x0 + 1, 1, x0 + 11, 11, fill=(254, 254, 254), edge=DARK)
        if i == 2:
            for k, (x, y) in enumerate(((3, 6), (4, 7), (5, 8), (6, 7), (7, 6), (8, 5), (9, 4))):
                c.vline(x0 + x, y, y + 1, BLACK)
        if i == 3:
            c.rect(x0 + 3, 3, x0 + 9, 9, fill=GREY)
    return c


def box_with_document(arrow_colour, arrow_top, arrow_bottom):
    """24 x 24: a document above an open box, an arrow between them."""
    c = Canvas(24, 24)
    c.rect(2, 12, 21, 22, fill=(200, 160, 100), edge=DARK)
    c.hline(2, 21, 15, DARK)
    c.rect(8, 1, 15, 9, fill=WHITE, edge=BLUE)
    for y in (3, 5, 7):
        c.hline(10, 13, y, BLUE)
    c.vline(11, arrow_top, arrow_bottom, arrow_colour)
    c.vline(12, arrow_top, arrow_bottom, arrow_colour)
    return c


def tab_backup():
    """24 x 24: a document going into a box (backup)."""
    c = box_with_document(GREEN, 9, 13)
    c.line(9, 11, 11, 13, GREEN)
    c.line(14, 11, 12, 13, GREEN)
    return c


def tab_restore():
    """24 x 24: a document coming out of a box (restore)."""
    c = box_with_document(RED, 10, 14)
    c.line(9, 12, 11, 10, RED)
    c.line(14, 12, 12, 10, RED)
    return c


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "resources", "bitmaps")
    os.makedirs(out, exist_ok=True)
    files_written = []
    for index, (rid, draw) in enumerate(TREE):
        c = Canvas(16, 16)
        draw(c)
        files_written.append((f"tree{index:02d}.bmp", c))
    files_written.append(("checks.bmp", state_strip()))
    files_written.append(("tab-backup.bmp", tab_backup()))
    files_written.append(("tab-restore.bmp", tab_restore()))
    for name, c in files_written:
        with open(os.path.join(out, name), "wb") as f:
            f.write(c.bmp())


if __name__ == "__main__":
    main()
