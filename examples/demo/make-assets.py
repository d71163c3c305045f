#!/usr/bin/python3
# Makes the demo's two pictures with PIL: font.png, a bitmap font of the printable ASCII
# characters cut from DejaVu Sans Bold (fonts-dejavu-core), and sprite.png, the ball the
# arrow keys move. The PNGs are committed; run this only to change them.
#
# A bitmap font image holds the glyphs side by side from column 1 on, white on black (the
# blue channel is the coverage). Its bottom row marks where each glyph ends: a glyph runs from
# the previous mark (column 1 for the first, which is the space) up to its own mark. Column 0
# is lit for the rows above the baseline, which gives the font's ascent.
import os
from PIL import Image, ImageDraw, ImageFont

HERE = os.path.dirname(os.path.abspath(__file__))
face = ImageFont.truetype("/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf", 18)
ascent, descent = face.getmetrics()
height = ascent + descent
characters = [chr(c) for c in range(32, 127)]
widths = [max(1, round(face.getlength(c))) + 1 for c in characters]

font = Image.new("RGB", (2 + sum(widths), height + 1), (0, 0, 0))
draw = ImageDraw.Draw(font)
x = 1
for character, width in zip(characters, widths):
    # Each glyph in a cell of its own, so that overhangs (the dot of "j") stay in it.
    cell = Image.new("RGB", (width, height), (0, 0, 0))
    ImageDraw.Draw(cell).text((max(0, -face.getbbox(character)[0]), 0), character, font=face,
                              fill=(255, 255, 255))
    font.paste(cell, (x, 0))
    x += width
draw.line([(0, height), (font.width - 1, height)], fill=(0, 0, 0))
draw.line([(0, 0), (0, height)], fill=(0, 0, 0))
for row in range(ascent):
    font.putpixel((0, row), (255, 255, 255))
x = 1
for width in widths:
    x += width
    font.putpixel((x, height), (255, 255, 255))
font.save(os.path.join(HERE, "font.png"))

size = 48
sprite = Image.new("RGBA", (size, size), (0, 0, 0, 0))
draw = ImageDraw.Draw(sprite)
draw.ellipse([1, 1, size - 2, size - 2], fill=(255, 200, 40, 255), outline=(120, 60, 0, 255), width=3)
draw.ellipse([14, 14, 20, 22], fill=(40, 20, 0, 255))
draw.ellipse([28, 14, 34, 22], fill=(40, 20, 0, 255))
draw.arc([12, 18, 36, 38], 20, 160, fill=(40, 20, 0, 255), width=3)
sprite.save(os.path.join(HERE, "sprite.png"))
