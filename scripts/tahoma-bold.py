#!/usr/bin/python3
# Makes the bed's Tahoma Bold from the one Debian's Wine ships, whose outlines
# are the regular face's at the bold face's widths (it draws thinner than the
# regular face). The stems are thickened by STROKE font units (120 of 2048:
# the regular's stem is 184, Windows' bold about twice that); each glyph keeps
# its advance width and left bearing, so text lays out as before.
# Usage: tahoma-bold.py SOURCE.ttf OUT.ttf [STROKE]
import sys

import fontforge


def main(source, out, stroke=120):
    font = fontforge.open(source)
    font.is_quadratic = False  # thickening works on cubic outlines
    kept = {g.glyphname: (g.width, g.boundingBox()[0]) for g in font.glyphs() if not g.foreground.isEmpty()}
    font.selection.none()
    for name in kept:
        font.selection.select(("more",), name)
    font.correctDirection()  # a contour drawn the wrong way round would grow thinner
    font.changeWeight(stroke, "LCG", 0, 0, "squish")  # counters give way: no glyph outgrows its width
    for name, (width, left) in kept.items():
        glyph = font[name]
        glyph.left_side_bearing = int(left)
        glyph.width = width
    font.generate(out)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], *[int(a) for a in sys.argv[3:]])
