#!/usr/bin/python3
# Writes layered-test.ttf, the small font of the colour glyph tests: squares drawn in layers of
# palette colours (COLR and CPAL), and one plain outline, on private-use code points.
# Needs python3-fonttools; the tests use the font as committed.
from fontTools.colorLib.builder import buildCOLR, buildCPAL
from fontTools.fontBuilder import FontBuilder
from fontTools.pens.ttGlyphPen import TTGlyphPen

ADVANCE = 600


def square(x0, y0, x1, y1):
    pen = TTGlyphPen(None)
    pen.moveTo((x0, y0))
    pen.lineTo((x0, y1))
    pen.lineTo((x1, y1))
    pen.lineTo((x1, y0))
    pen.closePath()
    return pen.glyph()


# Code point, glyph name and the palette entry of each layer; the outline glyph has none.
GLYPHS = [
    (0xE100, "red", [("block", 0)]),
    (0xE101, "grey", [("block", 1)]),
    (0xE102, "white", [("block", 2)]),
    (0xE103, "partlyGrey", [("block", 1), ("inner", 0)]),
    (0xE104, "outline", None),
]
PALETTE = [(1.0, 0.0, 0.0, 1.0), (0.5, 0.5, 0.5, 1.0), (1.0, 1.0, 1.0, 1.0)]

names = [".notdef", "space", "block", "inner"] + [name for _, name, _ in GLYPHS]
builder = FontBuilder(1000, isTTF=True)
builder.setupGlyphOrder(names)
builder.setupCharacterMap({0x20: "space", **{code: name for code, name, _ in GLYPHS}})
outlines = {".notdef": TTGlyphPen(None).glyph(), "space": TTGlyphPen(None).glyph()}
outlines["block"] = square(50, 0, 550, 700)
outlines["inner"] = square(200, 150, 400, 550)
for _, name, _ in GLYPHS:
    outlines[name] = square(50, 0, 550, 700)
builder.setupGlyf(outlines)
builder.setupHorizontalMetrics({name: (ADVANCE, 0 if name in (".notdef", "space") else 50) for name in names})
builder.setupHorizontalHeader(ascent=800, descent=-200)
builder.setupNameTable({"familyName": "Layered Test", "styleName": "Regular"})
builder.setupOS2(sTypoAscender=800, sTypoDescender=-200, usWinAscent=800, usWinDescent=200)
builder.setupPost(isFixedPitch=1)
builder.font["COLR"] = buildCOLR({name: layers for _, name, layers in GLYPHS if layers}, version=0)
builder.font["CPAL"] = buildCPAL([PALETTE])
builder.save("layered-test.ttf")
