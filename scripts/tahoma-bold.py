#!/usr/bin/python3
# Makes the bed's Tahoma Bold from the one Debian's Wine ships, whose outlines
# are the regular face's at the bold face's widths (it draws thinner than the
# regular face). The stems are thickened by STROKE font units (120 of 2048:
# the regular's stem is 184, Windows' bold about twice that); each glyph keeps
# its advance width and left bearing, so text lays out as before. Where one
# part of a glyph stands above another (the dot of "!" and "i", the dots of
# ":"), each part keeps its height, so the gap between them stays open.
# Usage: tahoma-bold.py SOURCE.ttf OUT.ttf [STROKE]
import sys

import fontforge


def boxes(glyph):
    return [contour.boundingBox() for contour in glyph.foreground]


def has_stacked_parts(parts):
    """Some two contours overlap across and lie one above the other, apart."""
    for i, a in enumerate(parts):
        for b in parts[i + 1:]:
            across = min(a[2], b[2]) - max(a[0], b[0])
            if across > 0 and (a[3] < b[1] or b[3] < a[1]):
                return True
    return False


def keep_heights(glyph, parts):
    """Each contour scaled back to the height of the original part nearest it."""
    layer = glyph.foreground
    for k in range(len(layer)):
        contour = layer[k]
        x0, y0, x1, y1 = contour.boundingBox()
        if y1 <= y0:
            continue
        cx, cy = (x0 + x1) / 2, (y0 + y1) / 2
        o = min(parts, key=lambda p: ((p[0] + p[2]) / 2 - cx) ** 2 + ((p[1] + p[3]) / 2 - cy) ** 2)
        scale = (o[3] - o[1]) / (y1 - y0)
        contour.transform((1, 0, 0, scale, 0, (o[1] + o[3]) / 2 - cy * scale))
        layer[k] = contour
    glyph.foreground = layer


def main(source, out, stroke=120):
    font = fontforge.open(source)
    font.is_quadratic = False  # thickening works on cubic outlines
    kept = {g.glyphname: (g.width, g.boundingBox()[0]) for g in font.glyphs() if not g.foreground.isEmpty()}
    parts = {name: boxes(font[name]) for name in kept}
    font.selection.none()
    for name in kept:
        font.selection.select(("more",), name)
    font.correctDirection()  # a contour drawn the wrong way round would grow thinner
    font.changeWeight(stroke, "LCG", 0, 0, "squish")  # counters give way: no glyph outgrows its width
    for name, (width, left) in kept.items():
        glyph = font[name]
        if len(glyph.foreground) == len(parts[name]) and has_stacked_parts(parts[name]):
            keep_heights(glyph, parts[name])
        glyph.left_side_bearing = int(left)
        glyph.width = width
    font.generate(out)


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2], *[int(a) for a in sys.argv[3:]])
