#!/usr/bin/env python3
"""Writes ../img/icon/waiting.gif: a 64 x 64 teal spinner, 18 frames, looping forever.

A GIF has only on/off transparency, so the anti-aliased edge is blended against
white (the waiting window is light) and pixels under half coverage are left clear.
Needs Pillow (Debian package python3-pil); run once, the GIF is committed.
"""
import math
import os
from PIL import Image, ImageDraw

SIZE = 64
SCALE = 4            # drawn 4x larger, then reduced, for smooth edges
FRAMES = 18
TEAL = (0x00, 0x4B, 0x6A)
TRACK = (0xD7, 0xE7, 0xEE)
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "img", "icon", "waiting.gif")


def arc_frame(start_deg):
    big = SIZE * SCALE
    layer = Image.new("RGBA", (big, big), (0, 0, 0, 0))
    d = ImageDraw.Draw(layer)
    width = 6 * SCALE
    inset = 6 * SCALE
    box = (inset, inset, big - inset, big - inset)
    d.ellipse(box, outline=TRACK + (255,), width=width)
    sweep = 100
    d.arc(box, start_deg, start_deg + sweep, fill=TEAL + (255,), width=width)
    # Round caps on the arc.
    r = (big - 2 * inset) / 2 - width / 2
    c = big / 2
    for a in (start_deg, start_deg + sweep):
        x = c + r * math.cos(math.radians(a))
        y = c + r * math.sin(math.radians(a))
        d.ellipse((x - width / 2, y - width / 2, x + width / 2, y + width / 2), fill=TEAL + (255,))
    return layer.resize((SIZE, SIZE), Image.LANCZOS)


def to_palette(rgba):
    white = Image.new("RGBA", rgba.size, (255, 255, 255, 255))
    flat = Image.alpha_composite(white, rgba).convert("RGB")
    alpha = rgba.getchannel("A")
    pal = flat.quantize(colors=255, method=Image.MEDIANCUT, dither=Image.NONE)
    # Palette index 255 is the transparent colour.
    palette = pal.getpalette()[:255 * 3] + [255, 255, 255]
    pal.putpalette(palette)
    px = pal.load()
    a = alpha.load()
    for y in range(SIZE):
        for x in range(SIZE):
            if a[x, y] < 128:
                px[x, y] = 255
    return pal


def main():
    frames = [to_palette(arc_frame(i * 360.0 / FRAMES - 90)) for i in range(FRAMES)]
    frames[0].save(OUT, save_all=True, append_images=frames[1:], duration=55, loop=0,
                   transparency=255, disposal=2, optimize=False)
    print("wrote", OUT, os.path.getsize(OUT), "bytes")


if __name__ == "__main__":
    main()
