#!/usr/bin/python3
"""Draw the application icon of Updater.exe.

The motif: a dark square tile (black fading into violet) with a light frame,
its upper-left corner cut off along a diagonal, and the white letters "Upd"
across its lower part.

The 256, 48 and 32 pixel images are downscaled from one master drawn at
2048 pixels; the geometry is laid out on a 1024 grid so that the frame
(64 units) covers exactly 16, 3 and 2 whole pixels at those sizes.
The 16 pixel image is drawn pixel by pixel so that the letters stay legible.

Writes res/updater.ico (4 images: 256/48/32 at 24 bpp, 16 at 32 bpp, all
uncompressed DIBs with an all-zero AND mask) and PNG previews
docs/icon-{256,48,32,16}.png.

Usage: draw_icons.py [RES_DIR DOCS_DIR]
"""
import os
import struct
import sys

from PIL import Image, ImageDraw

GRID = 1024          # design units
MASTER = 2048        # pixels of the master drawing
FRAME = 64           # frame width, design units
CUT = 300            # the corner cut runs from (CUT, 0) to (0, CUT)

OUTSIDE = (255, 255, 255)    # what is left of the cut-off corner
FRAME_RGB = (222, 212, 238)  # light lavender
EDGE_RGB = (120, 84, 168)    # thin violet line just inside the frame
TOP_RGB = (8, 5, 14)         # near black
BOTTOM_RGB = (84, 34, 138)   # violet
GLOW_RGB = (150, 80, 210)    # soft light behind the letters
LETTER_RGB = (255, 255, 255)

SIZES = (256, 48, 32)


def _sc(v):
    return round(v * MASTER / GRID)


def _chamfered(inset):
    """Tile outline inset by `inset` units, upper-left corner cut."""
    # Offsetting the 45-degree edge by `inset` moves its intercepts by
    # inset * sqrt(2); the outer cut stays at CUT.
    d = CUT + inset * 2 ** 0.5
    lo, hi = inset, GRID - inset
    pts = [(d - inset, lo), (hi, lo), (hi, hi), (lo, hi), (lo, d - inset)]
    return [(_sc(x), _sc(y)) for x, y in pts]


def _gradient_tile():
    """Vertical near-black to violet gradient with a glow low down."""
    ramp = Image.linear_gradient("L").resize((MASTER, MASTER), Image.BILINEAR)
    ramp = ramp.point(lambda v: int(255 * (v / 255) ** 1.4))
    tile = Image.composite(Image.new("RGB", (MASTER, MASTER), BOTTOM_RGB),
                           Image.new("RGB", (MASTER, MASTER), TOP_RGB), ramp)
    # radial_gradient is 0 in the centre, 255 at the rim; invert and place
    # it as a wide ellipse behind the letters.
    glow = Image.radial_gradient("L").point(lambda v: max(0, 150 - v) * 255 // 150 * 2 // 5)
    glow = glow.resize((_sc(1100), _sc(560)), Image.BILINEAR)
    gmask = Image.new("L", (MASTER, MASTER), 0)
    gmask.paste(glow, (_sc(512 - 550), _sc(690 - 280)))
    return Image.composite(Image.new("RGB", (MASTER, MASTER), GLOW_RGB), tile, gmask)


def _letters_mask():
    """'U', 'p', 'd' drawn as strokes of width W into an L mask."""
    m = Image.new("L", (MASTER, MASTER), 0)
    d = ImageDraw.Draw(m)
    W = 78
    A, X, B, D = 436, 574, 814, 918   # ascender, x-height, baseline, descender
    box = lambda x0, y0, x1, y1: [_sc(x0), _sc(y0), _sc(x1) - 1, _sc(y1) - 1]

    # U: two bars ending in a half ring
    u0, u1 = 122, 370
    r = (u1 - u0) / 2
    d.pieslice(box(u0, B - 2 * r, u1, B), 0, 180, fill=255)
    d.pieslice(box(u0 + W, B - 2 * r + W, u1 - W, B - W), 0, 180, fill=0)
    d.rectangle(box(u0, A, u0 + W, B - r + 1), fill=255)
    d.rectangle(box(u1 - W, A, u1, B - r + 1), fill=255)

    # p: bowl with the stem on the left, going below the baseline
    p0, p1 = 428, 648
    d.ellipse(box(p0, X, p1, B), fill=255)
    d.ellipse(box(p0 + W, X + W, p1 - W, B - W), fill=0)
    d.rectangle(box(p0, X, p0 + W, D), fill=255)

    # d: bowl with the stem on the right, rising to the ascender line
    q0, q1 = 688, 908
    d.ellipse(box(q0, X, q1, B), fill=255)
    d.ellipse(box(q0 + W, X + W, q1 - W, B - W), fill=0)
    d.rectangle(box(q1 - W, A, q1, B), fill=255)
    return m


def draw_master():
    img = Image.new("RGB", (MASTER, MASTER), OUTSIDE)
    d = ImageDraw.Draw(img)
    d.polygon(_chamfered(0), fill=FRAME_RGB)
    d.polygon(_chamfered(FRAME), fill=EDGE_RGB)
    inner = Image.new("L", (MASTER, MASTER), 0)
    ImageDraw.Draw(inner).polygon(_chamfered(FRAME + 10), fill=255)
    img.paste(_gradient_tile(), (0, 0), inner)
    img.paste(Image.new("RGB", (MASTER, MASTER), LETTER_RGB), (0, 0), _letters_mask())
    return img


# The 16 pixel image. Frame and corner follow the big picture; the letters
# are placed by hand: '#' white, '+' light grey for rounded corners.
SMALL_LETTERS = [
    "................",
    "................",
    "................",
    "................",
    "................",
    "................",
    "..#..#.......#..",
    "..#..#.......#..",
    "..#..#.......#..",
    "..#..#.##+.+##..",
    "..#..#.#.#.#.#..",
    "..#..#.#.#.#.#..",
    "..+##+.###.###..",
    ".......#........",
    ".......#........",
    "................",
]


def draw_small():
    n = 16
    img = Image.new("RGBA", (n, n))
    px = img.load()
    cut = 5  # pixels with x + y < cut are outside, x + y == cut is frame
    for y in range(n):
        for x in range(n):
            if x + y < cut:
                c = OUTSIDE
            elif x + y == cut or x in (0, n - 1) or y in (0, n - 1):
                c = FRAME_RGB
            else:
                t = ((y - 1) / (n - 3)) ** 1.4
                c = tuple(round(a + (b - a) * t) for a, b in zip(TOP_RGB, BOTTOM_RGB))
            ch = SMALL_LETTERS[y][x]
            if ch == "#":
                c = LETTER_RGB
            elif ch == "+":
                c = tuple((a + 2 * b) // 3 for a, b in zip(c, LETTER_RGB))
            px[x, y] = c + (255,)
    return img


def dib(img, bpp):
    """Icon-form DIB: BITMAPINFOHEADER, bottom-up colour rows, zero AND mask."""
    w, h = img.size
    img = img.convert("RGBA" if bpp == 32 else "RGB")
    row_len = (w * bpp // 8 + 3) & ~3
    mask_len = ((w + 31) // 32) * 4
    raw = img.tobytes()
    step = w * (bpp // 8)
    rows = []
    for y in range(h - 1, -1, -1):
        line = bytearray(raw[y * step:(y + 1) * step])
        # RGB(A) -> BGR(A)
        for i in range(0, len(line), bpp // 8):
            line[i], line[i + 2] = line[i + 2], line[i]
        rows.append(bytes(line) + b"\0" * (row_len - step))
    image_bytes = h * (row_len + mask_len)
    header = struct.pack("<IiiHHIIiiII", 40, w, 2 * h, 1, bpp, 0,
                         image_bytes, 0, 0, 0, 0)
    return header + b"".join(rows) + b"\0" * (h * mask_len)


def ico(images):
    """images: list of (PIL image, bpp)."""
    out = struct.pack("<HHH", 0, 1, len(images))
    blobs = [dib(im, bpp) for im, bpp in images]
    offset = 6 + 16 * len(images)
    for (im, bpp), blob in zip(images, blobs):
        w, h = im.size
        out += struct.pack("<BBBBHHII", w % 256, h % 256, 0, 0, 1, bpp,
                           len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


def build():
    """Returns the icon file bytes and {size: image} for the previews."""
    master = draw_master()
    images = {s: master.resize((s, s), Image.LANCZOS) for s in SIZES}
    images[16] = draw_small()
    data = ico([(images[256], 24), (images[48], 24), (images[32], 24),
                (images[16], 32)])
    return data, images


def main(argv):
    here = os.path.dirname(os.path.abspath(__file__))
    res_dir = argv[1] if len(argv) > 2 else os.path.join(here, "..", "res")
    docs_dir = argv[2] if len(argv) > 2 else os.path.join(here, "..", "docs")
    os.makedirs(docs_dir, exist_ok=True)
    data, images = build()
    with open(os.path.join(res_dir, "updater.ico"), "wb") as f:
        f.write(data)
    for s, im in images.items():
        im.convert("RGB").save(os.path.join(docs_dir, "icon-%d.png" % s), optimize=True)
    print("updater.ico: %d bytes" % len(data))


if __name__ == "__main__":
    main(sys.argv)
