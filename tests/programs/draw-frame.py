#!/usr/bin/python3
# Draws what draw-frame.s should show, with PIL rather than the runtime, into draw-frame.after/.
# Half strength blends each channel as Qt's painter does: opacity 128 / 255 is 128 / 256.
import os
from PIL import Image, ImageDraw

def frame(width, height):
    im = Image.new('RGB', (width, height), (0, 0, 0x80))
    d = ImageDraw.Draw(im)
    d.rectangle([10, 10, 109, 59], fill=(255, 0, 0))
    d.line([(0, 200), (479, 200)], fill=(255, 255, 255))
    d.line([(400, 0), (400, 479)], fill=(255, 255, 0))
    d.rectangle([200, 100, 219, 119], fill=(0, 255, 0))
    half = tuple((s * 128 + b * 128) // 256 for s, b in zip((0, 255, 0), (0, 0, 0x80)))
    d.rectangle([300, 100, 319, 119], fill=half)
    return im

out = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'draw-frame.after')
os.makedirs(out, exist_ok=True)
frame(800, 480).save(os.path.join(out, 'landscape.png'))
frame(480, 800).save(os.path.join(out, 'portrait.png'))
