#!/usr/bin/python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Draws every bitmap of Glassmere's look: the skin images, the window icon,
the about banner and the preview's checkerboard tile.

Run from anywhere:  /usr/bin/python3 scripts/make_artwork.py
Needs Pillow (Debian: python3-pil) and DejaVu Sans (fonts-dejavu-core).
The output is deterministic, so re-running it leaves git clean.

Every skin image is also drawn at twice its size as name@2x.png: on a screen
with a device pixel ratio of 2 the style sheet picks that file for url(name.png)
by itself and shows it at the same logical size, so edges and letters stay sharp.

Shapes are drawn at four times their size and box-filtered down, which gives
even antialiasing on every edge. The scalable icon resources/icons/glassmere.svg
is written by hand with the same geometry as draw_icon() below.
"""

import os
import sys

from PIL import Image, ImageChops, ImageDraw, ImageFont

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RES = os.path.join(ROOT, "resources")
IMAGES = os.path.join(RES, "images")
BOLD = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf"
BOOK = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"

SS = 4  # supersampling factor
SCALE = 1  # output pixels per logical pixel: 1, or 2 while the @2x images are drawn

# The palette, shared with resources/skin.
OUTLINE = (14, 21, 35)
NAVY_HI = (50, 72, 110)
NAVY_LO = (25, 36, 58)
HILITE = (86, 110, 152)
ACCENT = (61, 139, 253)
ACCENT_DARK = (38, 104, 214)
SKY = (94, 178, 255)
BODY = (236, 240, 245)
GLYPH = (208, 219, 235)
INK = (52, 66, 90)
SUN = (255, 196, 74)


# --------------------------------------------------------------------------
# helpers


def big(w, h, fill=(0, 0, 0, 0)):
    return Image.new("RGBA", (w * SS * SCALE, h * SS * SCALE), fill)


def down(img):
    # Premultiplied, so that transparent edges do not darken.
    w, h = img.size
    return img.convert("RGBa").resize((w // SS, h // SS), Image.BOX).convert("RGBA")


def s(v):
    """Scale a coordinate or a box from logical pixels to supersampled ones."""
    if isinstance(v, tuple):
        return tuple(s(x) for x in v)
    if isinstance(v, list):
        return [s(x) for x in v]
    return round(v * SS * SCALE)


def rgba(c, a=255):
    return (c[0], c[1], c[2], a)


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(len(a)))


def vgradient(w, h, stops):
    """A vertical gradient; stops are (position 0..1, colour) pairs."""
    img = Image.new("RGBA", (w, h))
    px = img.load()
    for y in range(h):
        t = min(max(y / max(1, h - 1), stops[0][0]), stops[-1][0])
        for i in range(len(stops) - 1):
            (p0, c0), (p1, c1) = stops[i], stops[i + 1]
            if p0 <= t <= p1:
                c = mix(rgba(c0) if len(c0) == 3 else c0, rgba(c1) if len(c1) == 3 else c1,
                        (t - p0) / max(1e-9, p1 - p0))
                break
        else:
            c = rgba(stops[-1][1]) if len(stops[-1][1]) == 3 else stops[-1][1]
        for x in range(w):
            px[x, y] = c
    return img


def fill_mask(dst, mask, paint):
    """Lays paint (a colour or an image of dst's size) over dst through mask."""
    if not isinstance(paint, Image.Image):
        paint = Image.new("RGBA", dst.size, paint)
    layer = paint.copy()
    alpha = Image.composite(layer.getchannel("A"), Image.new("L", dst.size, 0), mask)
    layer.putalpha(alpha)
    dst.alpha_composite(layer)


def shape_mask(size, draw_fn):
    m = Image.new("L", size, 0)
    draw_fn(ImageDraw.Draw(m))
    return m


def fade(img, top_alpha, bottom_alpha, y0=0, y1=None):
    """Multiplies img's alpha by a ramp from top_alpha at y0 to bottom_alpha at y1."""
    w, h = img.size
    y1 = h if y1 is None else y1
    ramp = Image.new("L", (w, h), 0)
    px = ramp.load()
    for y in range(h):
        if y < y0:
            a = top_alpha
        elif y >= y1:
            a = bottom_alpha
        else:
            a = top_alpha + (bottom_alpha - top_alpha) * (y - y0) / max(1, y1 - y0)
        v = round(255 * a)
        for x in range(w):
            px[x, y] = v
    img.putalpha(ImageChops.multiply(img.getchannel("A"), ramp))
    return img


def mirror_below(layer, axis):
    """The mirror image of layer across the line between rows axis-1 and axis."""
    flipped = layer.transpose(Image.FLIP_TOP_BOTTOM)
    out = Image.new("RGBA", layer.size, (0, 0, 0, 0))
    shift = 2 * axis - layer.size[1]  # flipped row y lands on row y + shift
    if shift >= 0:
        out.alpha_composite(flipped, (0, shift))
    else:
        out.alpha_composite(flipped, (0, 0), (0, -shift))
    return out


def text_size(font, text):
    box = font.getbbox(text)
    return box[2] - box[0], box[3] - box[1], box


def save(img, name, folder=IMAGES):
    path = os.path.join(folder, name)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    img.save(path, optimize=True)
    return path


# --------------------------------------------------------------------------
# the icon: a photo card standing on a glass surface, with its faded mirror
# image below. Geometry in a 256 by 256 box (same numbers as glassmere.svg).

ICON_BOX = (16, 16, 240, 240)
ICON_RADIUS = 52
ICON_AXIS = 150  # the glass surface
CARD = (66, 44, 190, 146)
CARD_RADIUS = 14
PHOTO = (78, 56, 178, 134)
PHOTO_RADIUS = 6
MOUNTAIN = [(78, 134), (110, 90), (130, 112), (148, 96), (178, 126), (178, 134)]
SUN_CENTRE = (152, 78)
SUN_RADIUS = 11


def draw_icon(size):
    k = size / 256.0
    S = lambda v: round(v * k * SS)  # noqa: E731
    W = size * SS
    img = Image.new("RGBA", (W, W), (0, 0, 0, 0))

    # Tile: deep blue, lighter at the top.
    tile = shape_mask((W, W), lambda d: d.rounded_rectangle([S(v) for v in ICON_BOX], S(ICON_RADIUS), fill=255))
    fill_mask(img, tile, vgradient(W, W, [(0.0, (74, 112, 176)), (0.55, (38, 58, 96)), (1.0, (20, 30, 52))]))

    # The card and its picture, on a layer of their own so it can be mirrored.
    card = Image.new("RGBA", (W, W), (0, 0, 0, 0))
    cm = shape_mask((W, W), lambda d: d.rounded_rectangle([S(v) for v in CARD], S(CARD_RADIUS), fill=255))
    fill_mask(card, cm, (255, 255, 255, 255))
    pm = shape_mask((W, W), lambda d: d.rounded_rectangle([S(v) for v in PHOTO], S(PHOTO_RADIUS), fill=255))
    fill_mask(card, pm, vgradient(W, W, [(0.0, (160, 210, 255)), (0.6, (226, 241, 255)), (1.0, (226, 241, 255))]))
    sun = shape_mask((W, W), lambda d: d.ellipse([S(SUN_CENTRE[0] - SUN_RADIUS), S(SUN_CENTRE[1] - SUN_RADIUS),
                                                  S(SUN_CENTRE[0] + SUN_RADIUS), S(SUN_CENTRE[1] + SUN_RADIUS)],
                                                 fill=255))
    fill_mask(card, sun, rgba(SUN))
    mount = shape_mask((W, W), lambda d: d.polygon([(S(x), S(y)) for x, y in MOUNTAIN], fill=255))
    mount = ImageChops.multiply(mount, pm)
    fill_mask(card, mount, vgradient(W, W, [(0.0, rgba(ACCENT)), (1.0, rgba(ACCENT_DARK))]))

    # The reflection: mirrored across the surface, fading out, kept inside the tile.
    refl = mirror_below(card, S(ICON_AXIS))
    fade(refl, 0.5, 0.0, S(ICON_AXIS), S(ICON_AXIS + 70))
    refl.putalpha(ImageChops.multiply(refl.getchannel("A"), tile))
    img.alpha_composite(refl)
    img.alpha_composite(card)

    # The glass surface: a thin bright line across the tile.
    line = shape_mask((W, W), lambda d: d.rectangle([S(34), S(ICON_AXIS), S(222), S(ICON_AXIS + 2)], fill=255))
    glow = Image.new("RGBA", (W, W), (0, 0, 0, 0))
    fill_mask(glow, line, (190, 225, 255, 150))
    img.alpha_composite(glow)
    return down(img)


def icon_svg():
    """Writes the scalable icon; same geometry as draw_icon()."""
    x0, y0, x1, y1 = ICON_BOX
    cx0, cy0, cx1, cy1 = CARD
    px0, py0, px1, py1 = PHOTO
    pts = " ".join("%d,%d" % p for p in MOUNTAIN)
    return f"""<?xml version="1.0" encoding="UTF-8"?>
<!-- Glassmere: a photo card standing on a glass surface, mirrored below it. -->
<svg xmlns="http://www.w3.org/2000/svg" xmlns:xlink="http://www.w3.org/1999/xlink"
     width="256" height="256" viewBox="0 0 256 256">
  <defs>
    <linearGradient id="tile" x1="0" y1="{y0}" x2="0" y2="{y1}" gradientUnits="userSpaceOnUse">
      <stop offset="0" stop-color="#4a70b0"/>
      <stop offset="0.55" stop-color="#263a60"/>
      <stop offset="1" stop-color="#141e34"/>
    </linearGradient>
    <linearGradient id="sky" x1="0" y1="{py0}" x2="0" y2="{py1}" gradientUnits="userSpaceOnUse">
      <stop offset="0" stop-color="#a0d2ff"/>
      <stop offset="0.6" stop-color="#e2f1ff"/>
    </linearGradient>
    <linearGradient id="hill" x1="0" y1="90" x2="0" y2="{py1}" gradientUnits="userSpaceOnUse">
      <stop offset="0" stop-color="#3d8bfd"/>
      <stop offset="1" stop-color="#2668d6"/>
    </linearGradient>
    <linearGradient id="fade" x1="0" y1="{ICON_AXIS}" x2="0" y2="{ICON_AXIS + 70}" gradientUnits="userSpaceOnUse">
      <stop offset="0" stop-color="#fff" stop-opacity="0.5"/>
      <stop offset="1" stop-color="#fff" stop-opacity="0"/>
    </linearGradient>
    <clipPath id="tileClip">
      <rect x="{x0}" y="{y0}" width="{x1 - x0}" height="{y1 - y0}" rx="{ICON_RADIUS}"/>
    </clipPath>
    <clipPath id="photoClip">
      <rect x="{px0}" y="{py0}" width="{px1 - px0}" height="{py1 - py0}" rx="{PHOTO_RADIUS}"/>
    </clipPath>
    <mask id="fadeMask" maskUnits="userSpaceOnUse" x="0" y="0" width="256" height="256">
      <rect x="0" y="{ICON_AXIS}" width="256" height="{256 - ICON_AXIS}" fill="url(#fade)"/>
    </mask>
    <g id="card">
      <rect x="{cx0}" y="{cy0}" width="{cx1 - cx0}" height="{cy1 - cy0}" rx="{CARD_RADIUS}" fill="#fff"/>
      <rect x="{px0}" y="{py0}" width="{px1 - px0}" height="{py1 - py0}" rx="{PHOTO_RADIUS}" fill="url(#sky)"/>
      <circle cx="{SUN_CENTRE[0]}" cy="{SUN_CENTRE[1]}" r="{SUN_RADIUS}" fill="#ffc44a"/>
      <polygon points="{pts}" fill="url(#hill)" clip-path="url(#photoClip)"/>
    </g>
  </defs>
  <rect x="{x0}" y="{y0}" width="{x1 - x0}" height="{y1 - y0}" rx="{ICON_RADIUS}" fill="url(#tile)"/>
  <g clip-path="url(#tileClip)">
    <g mask="url(#fadeMask)">
      <use xlink:href="#card" transform="matrix(1 0 0 -1 0 {2 * ICON_AXIS})"/>
    </g>
  </g>
  <use xlink:href="#card"/>
  <rect x="34" y="{ICON_AXIS}" width="188" height="2" fill="#bee1ff" fill-opacity="0.6"/>
</svg>
"""


# --------------------------------------------------------------------------
# title bar


TITLE_H = 100


def title_stops():
    return [(0.0, rgba(NAVY_HI)), (1.0, rgba(NAVY_LO))]


def title_background():
    # 1 px outline, 1 px highlight, the gradient, and a dark last row that
    # separates the bar from the light body below.
    w, h = 8, TITLE_H
    img = vgradient(w, h, title_stops())
    d = ImageDraw.Draw(img)
    d.line([(0, 0), (w, 0)], fill=rgba(OUTLINE))
    d.line([(0, 1), (w, 1)], fill=rgba(HILITE))
    d.line([(0, h - 1), (w, h - 1)], fill=rgba(OUTLINE))
    return img


def title_side(left):
    # The title bar's outer edge: the outline column and a faint highlight.
    img = Image.new("RGBA", (3, TITLE_H), (0, 0, 0, 0))
    d = ImageDraw.Draw(img)
    xo, xh = (0, 1) if left else (2, 1)
    d.line([(xo, 0), (xo, TITLE_H)], fill=rgba(OUTLINE))
    d.line([(xh, 2), (xh, TITLE_H - 2)], fill=(255, 255, 255, 22))
    return img


def title_caption():
    # The window's own caption in the top left corner: the small icon and the name.
    w, h = 160, 28
    img = Image.new("RGBA", (w * SCALE, h * SCALE), (0, 0, 0, 0))
    ico = draw_icon(18 * SCALE)
    img.alpha_composite(ico, (9 * SCALE, 6 * SCALE))
    font = ImageFont.truetype(BOLD, 12 * SCALE)
    d = ImageDraw.Draw(img)
    d.text((33 * SCALE, 8 * SCALE), "Glassmere", font=font, fill=rgba(GLYPH, 200))
    return img


def title_glow():
    # A soft light behind the logo; lies under the right-hand button area
    # (240 by 100), whose logo sits at (60, 30, 170, 51).
    w, h = 240, TITLE_H
    img = Image.new("RGBA", (w * SCALE, h * SCALE), (0, 0, 0, 0))
    px = img.load()
    cx, cy, rx, ry = 132 * SCALE, 56 * SCALE, 106 * SCALE, 46 * SCALE
    for y in range(SCALE, (h - 1) * SCALE):
        for x in range(w * SCALE):
            r2 = ((x - cx) / rx) ** 2 + ((y - cy) / ry) ** 2
            if r2 < 1:
                a = (1 - r2) ** 2
                px[x, y] = rgba(SKY, round(52 * a))
    return img


def folder_glyph(img, ox, oy, scale=1.0):
    S_ = lambda v: s(v * scale)  # noqa: E731
    d = ImageDraw.Draw(img)
    # back of the folder with its tab
    back = [(ox + S_(0), oy + S_(4)), (ox + S_(10), oy + S_(4)), (ox + S_(13), oy + S_(7)), (ox + S_(30), oy + S_(7)),
            (ox + S_(30), oy + S_(24)), (ox + S_(0), oy + S_(24))]
    m = shape_mask(img.size, lambda dd: dd.polygon(back, fill=255))
    fill_mask(img, m, (150, 176, 214, 255))
    # front flap, tilted open
    front = [(ox + S_(4), oy + S_(11)), (ox + S_(34), oy + S_(11)), (ox + S_(30), oy + S_(24)), (ox + S_(0), oy + S_(24))]
    m = shape_mask(img.size, lambda dd: dd.polygon(front, fill=255))
    fill_mask(img, m, vgradient(img.size[0], img.size[1], [(0.0, (240, 246, 255, 255)), (1.0, (200, 216, 240, 255))]))
    del d


def save_glyph(img, ox, oy, scale=1.0):
    S_ = lambda v: s(v * scale)  # noqa: E731
    # a tray
    tray = lambda dd: (dd.rounded_rectangle([ox + S_(0), oy + S_(13), ox + S_(30), oy + S_(26)], S_(3), fill=255),  # noqa: E731
                       dd.rectangle([ox + S_(4), oy + S_(13), ox + S_(26), oy + S_(20)], fill=0))
    m = shape_mask(img.size, tray)
    fill_mask(img, m, vgradient(img.size[0], img.size[1], [(0.0, (240, 246, 255, 255)), (1.0, (200, 216, 240, 255))]))
    # a down arrow into the tray
    arrow = [(ox + S_(12), oy + S_(0)), (ox + S_(18), oy + S_(0)), (ox + S_(18), oy + S_(9)), (ox + S_(23), oy + S_(9)),
             (ox + S_(15), oy + S_(18)), (ox + S_(7), oy + S_(9)), (ox + S_(12), oy + S_(9))]
    m = shape_mask(img.size, lambda dd: dd.polygon(arrow, fill=255))
    fill_mask(img, m, rgba(SKY))


def big_button(glyph, caption, state):
    """A 64 by 64 title-bar button: glyph, caption, and the state's plate."""
    w = h = 64
    img = big(w, h)
    plate = {
        "normal": None,
        "hover": ((255, 255, 255, 30), (255, 255, 255, 60)),
        "pressed": ((0, 0, 0, 70), (255, 255, 255, 40)),
        "disabled": None,
    }[state]
    if plate:
        fill, edge = plate
        m = shape_mask(img.size, lambda d: d.rounded_rectangle(s([1, 1, 63, 63]), s(9), fill=255))
        fill_mask(img, m, edge)
        m = shape_mask(img.size, lambda d: d.rounded_rectangle(s([2, 2, 62, 62]), s(8), fill=255))
        inner = Image.new("RGBA", img.size, (0, 0, 0, 0))
        fill_mask(inner, m, fill)
        # the edge is only a ring: cut its inside out, then lay the fill
        ring = img.copy()
        ring.putalpha(Image.composite(Image.new("L", img.size, 0), ring.getchannel("A"), m))
        img = ring
        img.alpha_composite(inner)
    dy = 1 if state == "pressed" else 0
    g = big(w, h)
    glyph(g, s(15), s(9 + dy))
    d = ImageDraw.Draw(g)
    font = ImageFont.truetype(BOLD, s(10))
    tw, th, box = text_size(font, caption)
    col = (255, 255, 255, 255) if state == "hover" else rgba(GLYPH)
    d.text(((g.size[0] - tw) / 2 - box[0], s(44 + dy) - box[1]), caption, font=font, fill=col)
    if state == "disabled":
        g.putalpha(Image.eval(g.getchannel("A"), lambda v: v * 2 // 5))
    img.alpha_composite(g)
    return down(img)


def logo_button(hover):
    """The 170 by 51 logo: a small glass pane and the name, both mirrored below."""
    w, h = 170, 51
    img = big(w, h)
    base = 33  # the glass line
    ink = (255, 255, 255, 255) if hover else (236, 242, 250, 255)
    layer = big(w, h)
    # the motif: a cut glass gem standing on its tip on the glass line
    top, mid, right, left = (16, 9), (16, base - 1), (27, 20), (5, 20)
    facets = [
        ([left, top, mid], [(0.0, rgba(SKY)), (1.0, rgba(ACCENT))]),
        ([top, right, mid], [(0.0, rgba(ACCENT)), (1.0, rgba(ACCENT_DARK))]),
    ]
    for pts, stops in facets:
        m = shape_mask(layer.size, lambda d: d.polygon([(s(x), s(y)) for x, y in pts], fill=255))
        fill_mask(layer, m, vgradient(layer.size[0], layer.size[1], [(9 / h, stops[0][1]), (base / h, stops[1][1])]))
    crown = [left, top, right, (16, 20)]
    m = shape_mask(layer.size, lambda d: d.polygon([(s(x), s(y)) for x, y in crown], fill=255))
    fill_mask(layer, m, (255, 255, 255, 70))
    font = ImageFont.truetype(BOLD, s(21))
    d = ImageDraw.Draw(layer)
    tw, th, box = text_size(font, "Glassmere")
    # sit the letters on the line (the baseline lies at the font's ascent)
    ascent = font.getmetrics()[0]
    d.text((s(31), s(base) - ascent), "Glassmere", font=font, fill=ink)
    refl = mirror_below(layer, s(base + 1))
    fade(refl, 0.38 if hover else 0.30, 0.0, s(base + 1), s(base + 13))
    img.alpha_composite(refl)
    img.alpha_composite(layer)
    return down(img)


def help_button(state):
    w, h = 64, 24
    img = big(w, h)
    if state in ("hover", "pressed"):
        fill = (255, 255, 255, 34) if state == "hover" else (0, 0, 0, 60)
        m = shape_mask(img.size, lambda d: d.rounded_rectangle(s([2, 2, 62, 22]), s(4), fill=255))
        fill_mask(img, m, fill)
    col = (255, 255, 255, 255) if state == "hover" else rgba(GLYPH)
    # "?" in a ring
    m = shape_mask(img.size, lambda d: (d.ellipse(s([6, 5, 20, 19]), fill=255), d.ellipse(s([7.5, 6.5, 18.5, 17.5]), fill=0)))
    fill_mask(img, m, col)
    d = ImageDraw.Draw(img)
    qf = ImageFont.truetype(BOLD, s(10))
    tw, th, box = text_size(qf, "?")
    d.text((s(13) - tw / 2 - box[0], s(12) - th / 2 - box[1]), "?", font=qf, fill=col)
    font = ImageFont.truetype(BOLD, s(10.5))
    tw, th, box = text_size(font, "Help")
    d.text((s(24) - box[0], s(12) - th / 2 - box[1]), "Help", font=font, fill=col)
    # a small chevron: it opens a menu
    chev = [(s(53), s(10.5)), (s(59), s(10.5)), (s(56), s(14))]
    m = shape_mask(img.size, lambda dd: dd.polygon(chev, fill=255))
    fill_mask(img, m, col)
    return down(img)


def caption_button(kind, state):
    """Minimise, maximise and close, 21 by 20."""
    w, h = 21, 20
    img = big(w, h)
    if state != "normal":
        if kind == "close":
            fill = (229, 72, 77, 255) if state == "hover" else (186, 44, 50, 255)
        else:
            fill = (255, 255, 255, 40) if state == "hover" else (0, 0, 0, 70)
        m = shape_mask(img.size, lambda d: d.rounded_rectangle(s([0.5, 0.5, 20.5, 19.5]), s(4), fill=255))
        fill_mask(img, m, fill)
    col = (255, 255, 255, 255) if state != "normal" else rgba(GLYPH)
    cx, cy = 10.5, 10
    if kind == "min":
        m = shape_mask(img.size, lambda d: d.rectangle(s([cx - 4.5, cy + 2.4, cx + 4.5, cy + 3.8]), fill=255))
    elif kind == "max":
        m = shape_mask(img.size, lambda d: (d.rectangle(s([cx - 4.5, cy - 4.5, cx + 4.5, cy + 4.5]), fill=255),
                                            d.rectangle(s([cx - 3.1, cy - 2.4, cx + 3.1, cy + 3.1]), fill=0)))
    else:
        def cross(d):
            r = 4.2
            d.line(s([cx - r, cy - r, cx + r, cy + r]), fill=255, width=s(1.5))
            d.line(s([cx - r, cy + r, cx + r, cy - r]), fill=255, width=s(1.5))
        m = shape_mask(img.size, cross)
    fill_mask(img, m, col)
    return down(img)


# --------------------------------------------------------------------------
# body: border pieces


def border_piece(kind):
    # The body's colour with the window outline along the outer edge and a
    # light line just inside it.
    if kind in ("left", "right"):
        img = Image.new("RGBA", (14, 4), rgba(BODY))
        d = ImageDraw.Draw(img)
        xo, xh = (0, 1) if kind == "left" else (13, 12)
        d.line([(xo, 0), (xo, 4)], fill=rgba(OUTLINE))
        d.line([(xh, 0), (xh, 4)], fill=(250, 252, 255, 255))
    elif kind == "bottom":
        img = Image.new("RGBA", (4, 14), rgba(BODY))
        d = ImageDraw.Draw(img)
        d.line([(0, 13), (4, 13)], fill=rgba(OUTLINE))
        d.line([(0, 12), (4, 12)], fill=(224, 229, 236, 255))
    else:  # corners
        img = Image.new("RGBA", (14, 14), rgba(BODY))
        d = ImageDraw.Draw(img)
        d.line([(0, 12), (14, 12)], fill=(224, 229, 236, 255))
        d.line([(0, 13), (14, 13)], fill=rgba(OUTLINE))
        if kind == "bl":
            d.line([(1, 0), (1, 11)], fill=(250, 252, 255, 255))
            d.line([(0, 0), (0, 14)], fill=rgba(OUTLINE))
        else:
            d.line([(12, 0), (12, 11)], fill=(250, 252, 255, 255))
            d.line([(13, 0), (13, 14)], fill=rgba(OUTLINE))
    return img


# --------------------------------------------------------------------------
# controls


def check_box(checked, hover, disabled=False):
    n = 14
    img = big(n, n)
    if checked:
        edge = (150, 160, 175, 255) if disabled else rgba(ACCENT_DARK)
        fill = (170, 180, 195, 255) if disabled else (rgba(SKY) if hover else rgba(ACCENT))
    else:
        edge = (200, 206, 215, 255) if disabled else (rgba(ACCENT) if hover else (160, 172, 190, 255))
        fill = (240, 242, 245, 255) if disabled else (255, 255, 255, 255)
    m = shape_mask(img.size, lambda d: d.rounded_rectangle(s([0.5, 0.5, 13.5, 13.5]), s(3), fill=255))
    fill_mask(img, m, edge)
    m = shape_mask(img.size, lambda d: d.rounded_rectangle(s([1.5, 1.5, 12.5, 12.5]), s(2.2), fill=255))
    if checked:
        fill_mask(img, m, fill)
        m = shape_mask(img.size, lambda d: d.line(s([3.6, 7.2, 6, 9.8, 10.6, 4.4]), fill=255, width=s(1.8), joint="curve"))
        fill_mask(img, m, (255, 255, 255, 255))
    else:
        fill_mask(img, m, fill)
    return down(img)


def direction_tile(direction, checked, hover):
    """The four direction boxes form a cross of small arrow tiles."""
    n = 14
    img = big(n, n)
    if checked:
        edge = rgba(ACCENT_DARK)
        fill = rgba(SKY) if hover else rgba(ACCENT)
        ink = (255, 255, 255, 255)
    else:
        edge = rgba(ACCENT) if hover else (168, 179, 196, 255)
        fill = (255, 255, 255, 255)
        ink = rgba(ACCENT) if hover else (110, 124, 146, 255)
    m = shape_mask(img.size, lambda d: d.rounded_rectangle(s([0.5, 0.5, 13.5, 13.5]), s(3), fill=255))
    fill_mask(img, m, edge)
    m = shape_mask(img.size, lambda d: d.rounded_rectangle(s([1.5, 1.5, 12.5, 12.5]), s(2.2), fill=255))
    fill_mask(img, m, fill)
    # a triangle pointing up, turned to the direction
    tri = [(7, 3.8), (10.8, 9.4), (3.2, 9.4)]
    rot = {"up": lambda x, y: (x, y), "down": lambda x, y: (x, n - y),
           "left": lambda x, y: (y, x), "right": lambda x, y: (n - y, x)}[direction]
    pts = [tuple(s(v) for v in rot(x, y)) for x, y in tri]
    m = shape_mask(img.size, lambda d: d.polygon(pts, fill=255))
    fill_mask(img, m, ink)
    return down(img)


def slider_handle(hover, pressed=False):
    n = 16
    img = big(n, n)
    # soft shadow
    m = shape_mask(img.size, lambda d: d.ellipse(s([1, 1.8, 15, 15.8]), fill=255))
    fill_mask(img, m, (20, 30, 50, 45))
    m = shape_mask(img.size, lambda d: d.ellipse(s([1, 1, 15, 15]), fill=255))
    fill_mask(img, m, rgba(ACCENT_DARK) if pressed else rgba(ACCENT))
    m = shape_mask(img.size, lambda d: d.ellipse(s([2.4, 2.4, 13.6, 13.6]), fill=255))
    fill_mask(img, m, (255, 255, 255, 255))
    r = 2.6 if hover or pressed else 2.0
    m = shape_mask(img.size, lambda d: d.ellipse(s([8 - r, 8 - r, 8 + r, 8 + r]), fill=255))
    fill_mask(img, m, rgba(ACCENT))
    return down(img)


def scroll_handle(vertical, hover):
    # Opaque, body-coloured around the pill: the preview's checkerboard
    # reaches the scroll bars and must not show around their handles.
    w, h = (10, 16) if vertical else (16, 10)
    img = big(w, h, rgba(BODY))
    box = [2, 1, 8, 15] if vertical else [1, 2, 15, 8]
    m = shape_mask(img.size, lambda d: d.rounded_rectangle(s(box), s(3), fill=255))
    fill_mask(img, m, rgba(ACCENT) if hover else (169, 181, 198, 255))
    return down(img).convert("RGB")


def zoom_icon(kind):
    n = 20
    img = big(n, n)
    ink = rgba(INK)
    if kind in ("in", "out"):
        def glass(d):
            d.ellipse(s([2, 2, 14, 14]), fill=255)
            d.ellipse(s([3.7, 3.7, 12.3, 12.3]), fill=0)
            d.line(s([12.2, 12.2, 17.4, 17.4]), fill=255, width=s(2.6))
            d.rectangle(s([5.2, 7.3, 10.8, 8.7]), fill=255)
            if kind == "in":
                d.rectangle(s([7.3, 5.2, 8.7, 10.8]), fill=255)
        m = shape_mask(img.size, glass)
        fill_mask(img, m, ink)
    elif kind == "fit":
        def corners(d):
            w = s(1.6)
            for (x, y, dx, dy) in ((2, 2, 1, 1), (18, 2, -1, 1), (2, 18, 1, -1), (18, 18, -1, -1)):
                d.line(s([x, y + dy * 5, x, y, x + dx * 5, y]), fill=255, width=w, joint="curve")
            d.rounded_rectangle(s([6.5, 7.5, 13.5, 12.5]), s(1), fill=255)
        m = shape_mask(img.size, corners)
        fill_mask(img, m, ink)
    else:  # actual size, 1:1
        d = ImageDraw.Draw(img)
        font = ImageFont.truetype(BOLD, s(11))
        tw, th, b = text_size(font, "1:1")
        d.text((s(10) - tw / 2 - b[0], s(10) - th / 2 - b[1]), "1:1", font=font, fill=ink)
    return down(img)


def batch_icon():
    # two stacked pictures with a forward arrow: "all of them at once"
    n = 24
    img = big(n, n)
    white = (255, 255, 255, 255)
    m = shape_mask(img.size, lambda d: (d.rounded_rectangle(s([5, 2, 21, 14]), s(2), fill=255),
                                        d.rounded_rectangle(s([6.5, 3.5, 19.5, 12.5]), s(1), fill=0)))
    fill_mask(img, m, (255, 255, 255, 150))
    m = shape_mask(img.size, lambda d: d.rounded_rectangle(s([1, 6, 17, 19]), s(2), fill=255))
    fill_mask(img, m, white)
    m = shape_mask(img.size, lambda d: d.polygon(s([(3, 17), (8, 11), (11, 14), (13, 12), (15, 17)]), fill=255))
    fill_mask(img, m, rgba(ACCENT))
    m = shape_mask(img.size, lambda d: d.polygon(s([(16, 15), (22, 19), (16, 23)]), fill=255))
    fill_mask(img, m, white)
    return down(img)


def menu_check():
    return check_box(True, False)


# --------------------------------------------------------------------------
# the about banner


def about_banner():
    w, h = 372, 67
    img = big(w, h)
    img.alpha_composite(vgradient(w * SS, h * SS, [(0.0, rgba(NAVY_HI)), (1.0, rgba(NAVY_LO))]))
    # a soft sheen across the upper half, as on glass
    sheen = Image.new("RGBA", img.size, (0, 0, 0, 0))
    m = shape_mask(img.size, lambda d: d.polygon(s([(150, 0), (372, 0), (372, 22), (110, 34)]), fill=255))
    fill_mask(sheen, m, (255, 255, 255, 14))
    img.alpha_composite(sheen)
    # the icon, standing on the banner's glass line
    base = 45
    ico = draw_icon(40).resize((40 * SS, 40 * SS), Image.LANCZOS)
    layer = big(w, h)
    # the icon's own glass line (150/256 of its height) on the banner's
    layer.alpha_composite(ico, (s(16), s(base) - round(40 * SS * ICON_AXIS / 256)))
    font = ImageFont.truetype(BOLD, s(25))
    d = ImageDraw.Draw(layer)
    ascent = font.getmetrics()[0]
    d.text((s(66), s(base) - ascent), "Glassmere", font=font, fill=(255, 255, 255, 255))
    refl = mirror_below(layer, s(base + 1))
    # the icon carries its own reflection; mirror only the name
    refl_name = refl.crop((s(60), 0, w * SS, h * SS))
    holder = big(w, h)
    holder.alpha_composite(refl_name, (s(60), 0))
    fade(holder, 0.28, 0.0, s(base + 1), s(base + 14))
    img.alpha_composite(holder)
    img.alpha_composite(layer)
    d = ImageDraw.Draw(img)
    d.rectangle(s([244, 17, 244.5, 50]), fill=(255, 255, 255, 50))
    tag = ImageFont.truetype(BOOK, s(10.5))
    for i, line in enumerate(("Mirror reflections", "for your pictures")):
        d.text((s(256), s(20 + 15 * i)), line, font=tag, fill=(176, 198, 230, 255))
    # glass line and an accent rule along the bottom edge
    d.rectangle(s([0, 65, w, 67]), fill=rgba(ACCENT))
    d.rectangle(s([0, 0, w, 0.25]), fill=rgba(OUTLINE))
    out = down(img)
    return out.convert("RGB")


# --------------------------------------------------------------------------


def checkerboard():
    img = Image.new("RGB", (16, 16), (255, 255, 255))
    d = ImageDraw.Draw(img)
    d.rectangle([8, 0, 15, 7], fill=(204, 204, 204))
    d.rectangle([0, 8, 7, 15], fill=(204, 204, 204))
    return img


def pixel_art(img):
    """Pieces drawn pixel by pixel (outlines, one-pixel lines): enlarged without
    smoothing, so a line stays one logical pixel wide and sharp."""
    if SCALE == 1:
        return img
    return img.resize((img.size[0] * SCALE, img.size[1] * SCALE), Image.NEAREST)


def skin_images(w):
    """Draws every image the skin names, at the current SCALE, through w(img, name)."""
    w(pixel_art(title_background()), "title_bg.png")
    w(pixel_art(title_side(True)), "title_left.png")
    w(pixel_art(title_side(False)), "title_right.png")
    w(title_caption(), "title_caption.png")
    w(title_glow(), "title_glow.png")
    for state in ("normal", "hover", "pressed", "disabled"):
        suffix = "" if state == "normal" else "_" + state
        w(big_button(folder_glyph, "Open", state), "open%s.png" % suffix)
        w(big_button(save_glyph, "Save", state), "save%s.png" % suffix)
    w(logo_button(False), "logo.png")
    w(logo_button(True), "logo_hover.png")
    for state in ("normal", "hover", "pressed"):
        suffix = "" if state == "normal" else "_" + state
        w(help_button(state), "help%s.png" % suffix)
        for kind in ("min", "max", "close"):
            w(caption_button(kind, state), "%s%s.png" % (kind, suffix))

    for kind in ("left", "right", "bottom", "bl", "br"):
        w(pixel_art(border_piece(kind)), "border_%s.png" % kind)

    for checked in (False, True):
        for hover in (False, True):
            name = "check_%s%s.png" % ("on" if checked else "off", "_hover" if hover else "")
            w(check_box(checked, hover), name)
            for d in ("up", "down", "left", "right"):
                w(direction_tile(d, checked, hover), "dir_%s_%s%s.png" % (d, "on" if checked else "off",
                                                                         "_hover" if hover else ""))
        w(check_box(checked, False, True), "check_%s_disabled.png" % ("on" if checked else "off"))
    w(slider_handle(False), "slider_handle.png")
    w(slider_handle(True), "slider_handle_hover.png")
    w(slider_handle(True, True), "slider_handle_pressed.png")
    for vertical in (False, True):
        for hover in (False, True):
            w(scroll_handle(vertical, hover), "scroll_%s%s.png" % ("v" if vertical else "h", "_hover" if hover else ""))
    for kind in ("fit", "actual", "in", "out"):
        w(zoom_icon(kind), "zoom_%s.png" % kind)
    w(batch_icon(), "batch.png")


def main():
    global SCALE
    written = []
    w = lambda img, name, folder=IMAGES: written.append(save(img, name, folder))  # noqa: E731

    w(checkerboard(), "bg.png", RES)
    w(draw_icon(256), "ico.png", RES)
    for n in (16, 24, 32, 48, 64, 128, 256):
        w(draw_icon(n), "icons/%dx%d/glassmere.png" % (n, n), RES)
    with open(os.path.join(RES, "icons", "glassmere.svg"), "w", encoding="utf-8") as f:
        f.write(icon_svg())
    w(about_banner(), "aboutf.png", RES)

    skin_images(w)
    # The same images at twice the size, for screens with a device pixel ratio of 2.
    SCALE = 2
    skin_images(lambda img, name: w(img, name.replace(".png", "@2x.png")))
    # The preview's tile too: enlarged smoothly, its squares would blur at the edges.
    w(pixel_art(checkerboard()), "bg@2x.png", RES)
    SCALE = 1

    for p in written:
        print(os.path.relpath(p, ROOT))
    return 0


if __name__ == "__main__":
    sys.exit(main())
