#!/usr/bin/python3
"""Draws the pictograms of the user interface.

Run by hand after changing a picture; the PNG/GIF files it writes under
srcimages/ are committed next to this script. Needs python3-pil.

Button strips hold four cells side by side: normal, hover, pressed, disabled.
"""
import math
import os
import sys

from PIL import Image, ImageDraw

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "srcimages")
SS = 4  # supersampling factor for smooth edges

NORMAL = (0xaa, 0xaa, 0xaa, 255)
WHITE = (255, 255, 255, 255)
DISABLED = (0x55, 0x55, 0x55, 255)
HOVER_BG = (0x1a, 0xbb, 0xfb, 255)
PRESSED_BG = (0x0e, 0x8a, 0xc0, 255)
CLEAR = (0, 0, 0, 0)

STRIP_CELLS = [(NORMAL, CLEAR), (WHITE, HOVER_BG), (WHITE, PRESSED_BG), (DISABLED, CLEAR)]


def save(img, rel):
    path = os.path.join(OUT, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    img.save(path, optimize=True)


def canvas(w, h, bg=CLEAR):
    img = Image.new("RGBA", (w * SS, h * SS), bg)
    return img, ImageDraw.Draw(img)


def finish(img, w, h):
    return img.resize((w, h), Image.LANCZOS)


def s(v):
    return int(round(v * SS))


def box(x0, y0, x1, y1):
    return [s(x0), s(y0), s(x1), s(y1)]


# --- glyphs, drawn into a cell whose centre is (cx, cy) -------------------

def g_close(d, cx, cy, c):
    r = 5
    d.line([s(cx - r), s(cy - r), s(cx + r), s(cy + r)], fill=c, width=s(1.6))
    d.line([s(cx - r), s(cy + r), s(cx + r), s(cy - r)], fill=c, width=s(1.6))


def g_max(d, cx, cy, c):
    d.rectangle(box(cx - 5, cy - 5, cx + 5, cy + 5), outline=c, width=s(1.4))


def g_hide(d, cx, cy, c):
    d.rectangle(box(cx - 5, cy + 3, cx + 5, cy + 4.5), fill=c)


def g_restore(d, cx, cy, c, bg=None):
    d.rectangle(box(cx - 2.5, cy - 6, cx + 6, cy + 2.5), outline=c, width=s(1.3))
    d.rectangle(box(cx - 6, cy - 2.5, cx + 2.5, cy + 6), fill=bg if bg and bg[3] else (32, 32, 32, 0),
                outline=c, width=s(1.3))


def padlock(d, cx, cy, c, scale=1.0, open_=False, bg=None):
    bw, bh = 10 * scale, 7.5 * scale
    top = cy - 0.5 * scale
    # shackle
    sw = 6.5 * scale
    sx0 = cx - sw / 2
    if open_:
        sx0 += 4 * scale
    d.arc(box(sx0, top - 7.5 * scale, sx0 + sw, top - 0.5 * scale), 180, 360, fill=c, width=s(1.5 * scale))
    d.line([s(sx0 + sw), s(top - 4 * scale), s(sx0 + sw), s(top + 0.5)], fill=c, width=s(1.5 * scale))
    left_end = top - (3.5 * scale if open_ else 0)
    d.line([s(sx0), s(top - 4 * scale), s(sx0), s(left_end + 0.5) if not open_ else s(top - 2.5 * scale)],
           fill=c, width=s(1.5 * scale))
    # body
    d.rounded_rectangle(box(cx - bw / 2, top, cx + bw / 2, top + bh), radius=s(1.2 * scale), fill=c)
    hole = bg if bg is not None else (0, 0, 0, 0)
    d.ellipse(box(cx - 1.1 * scale, top + 2.2 * scale, cx + 1.1 * scale, top + 4.4 * scale), fill=hole)


def g_unlock(d, cx, cy, c, bg=None):
    padlock(d, cx - 1.5, cy + 1.5, c, open_=True, bg=bg)


def g_lock(d, cx, cy, c, bg=None):
    padlock(d, cx, cy + 1.5, c, open_=False, bg=bg)


def strip(rel, glyph, cell_w=43, h=25):
    w = cell_w * 4
    img, d = canvas(w, h)
    for i, (fg, bg) in enumerate(STRIP_CELLS):
        x0 = i * cell_w
        if bg[3]:
            d.rectangle(box(x0, 0, x0 + cell_w, h), fill=bg)
        cx, cy = x0 + cell_w / 2, h / 2
        if glyph in (g_unlock, g_lock, g_restore):
            glyph(d, cx, cy, fg, bg=bg)
        else:
            glyph(d, cx, cy, fg)
    save(finish(img, w, h), rel)


# --- single pictures -------------------------------------------------------

def camera_icon():
    img, d = canvas(30, 30)
    body = (0x1a, 0xbb, 0xfb, 255)
    d.rounded_rectangle(box(3, 9, 21, 23), radius=s(2.5), fill=body)
    d.polygon([(s(21), s(13)), (s(28), s(9)), (s(28), s(23)), (s(21), s(19))], fill=body)
    d.ellipse(box(7, 11, 17, 21), fill=(32, 32, 32, 255))
    d.ellipse(box(9.5, 13.5, 14.5, 18.5), fill=(255, 255, 255, 255))
    d.rectangle(box(5, 6, 10, 9), fill=body)
    save(finish(img, 30, 30), "cms.png")


def cpu_icon(rel, colour):
    img, d = canvas(24, 24)
    d.rounded_rectangle(box(5, 5, 19, 19), radius=s(1.5), fill=colour)
    d.rectangle(box(9, 9, 15, 15), fill=(32, 32, 32, 255))
    for k in range(3):
        p = 8 + k * 4
        d.rectangle(box(p - 0.8, 1.5, p + 0.8, 5), fill=colour)
        d.rectangle(box(p - 0.8, 19, p + 0.8, 22.5), fill=colour)
        d.rectangle(box(1.5, p - 0.8, 5, p + 0.8), fill=colour)
        d.rectangle(box(19, p - 0.8, 22.5, p + 0.8), fill=colour)
    save(finish(img, 24, 24), rel)


def lockicon():
    img, d = canvas(30, 30)
    padlock(d, 15, 15, (0x1a, 0xbb, 0xfb, 255), scale=1.7)
    save(finish(img, 30, 30), "lockicon.png")


def message_icon():
    img, d = canvas(30, 30)
    c = (0x1a, 0xbb, 0xfb, 255)
    d.rounded_rectangle(box(3, 5, 27, 21), radius=s(4), fill=c)
    d.polygon([(s(8), s(20)), (s(14), s(20)), (s(7), s(27))], fill=c)
    for x in (9, 15, 21):
        d.ellipse(box(x - 1.6, 11.4, x + 1.6, 14.6), fill=(255, 255, 255, 255))
    save(finish(img, 30, 30), "message.png")


def tips_icon():
    img, d = canvas(30, 30)
    c = (0x1a, 0xbb, 0xfb, 255)
    d.ellipse(box(2, 2, 28, 28), fill=c)
    d.ellipse(box(13.2, 7, 16.8, 10.6), fill=WHITE)
    d.rounded_rectangle(box(13.4, 12.5, 16.6, 23), radius=s(1), fill=WHITE)
    save(finish(img, 30, 30), "tips.png")


def warning_icon():
    w, h = 41, 31
    img, d = canvas(w, h)
    c = (0xf5, 0xb0, 0x1a, 255)
    d.polygon([(s(20.5), s(1.5)), (s(39), s(29.5)), (s(2), s(29.5))], fill=c)
    d.polygon([(s(19), s(10)), (s(22), s(10)), (s(21.3), s(21)), (s(19.7), s(21))], fill=(32, 32, 32, 255))
    d.ellipse(box(19, 23, 22, 26), fill=(32, 32, 32, 255))
    save(finish(img, w, h), "warning.png")


def user_icon():
    img, d = canvas(26, 26)
    c = (0x6a, 0x6a, 0x6a, 255)
    d.ellipse(box(8.5, 3, 17.5, 12), fill=c)
    d.pieslice(box(4, 13, 22, 31), 180, 360, fill=c)
    save(finish(img, 26, 26), "general/user.png")


def password_icon():
    img, d = canvas(26, 26)
    c = (0x6a, 0x6a, 0x6a, 255)
    d.ellipse(box(3, 8, 13, 18), fill=c)
    d.ellipse(box(6, 11, 10, 15), fill=CLEAR)
    d.rectangle(box(12, 11.8, 23, 14.2), fill=c)
    d.rectangle(box(18, 14, 20, 18), fill=c)
    d.rectangle(box(21, 14, 23, 17), fill=c)
    save(finish(img, 26, 26), "general/password.png")


def check(rel, ticked):
    img, d = canvas(14, 14)
    d.rectangle(box(0.5, 0.5, 13.5, 13.5), fill=(0xd3, 0xd3, 0xd3, 255), outline=(0x80, 0x80, 0x80, 255), width=s(1))
    if ticked:
        d.line([s(3), s(7), s(6), s(10.5), s(11), s(3.5)], fill=(0x0e, 0x8a, 0xc0, 255), width=s(2), joint="curve")
    save(finish(img, 14, 14), rel)


def radio(rel, dotted):
    img, d = canvas(14, 14)
    d.ellipse(box(0.5, 0.5, 13.5, 13.5), fill=(0xd3, 0xd3, 0xd3, 255), outline=(0x80, 0x80, 0x80, 255), width=s(1))
    if dotted:
        d.ellipse(box(4, 4, 10, 10), fill=(0x0e, 0x8a, 0xc0, 255))
    save(finish(img, 14, 14), rel)


def handle(rel, direction):
    img, d = canvas(16, 16)
    c = (0x60, 0x60, 0x60, 255)
    pts = {
        "up": [(8, 5), (12, 10.5), (4, 10.5)],
        "down": [(4, 5.5), (12, 5.5), (8, 11)],
        "left": [(5, 8), (10.5, 4), (10.5, 12)],
        "right": [(5.5, 4), (11, 8), (5.5, 12)],
    }[direction]
    d.polygon([(s(x), s(y)) for x, y in pts], fill=c)
    save(finish(img, 16, 16), rel)


def dropdown():
    img, d = canvas(12, 12)
    d.line([s(2.5), s(4.5), s(6), s(8), s(9.5), s(4.5)], fill=WHITE, width=s(1.6), joint="curve")
    save(finish(img, 12, 12), "dropdown.png")


def signal_strip():
    cw, h = 60, 48
    img, d = canvas(cw * 6, h)
    on = (0x1a, 0xbb, 0xfb, 255)
    off = (0x80, 0x80, 0x80, 110)
    for level in range(6):
        x0 = level * cw
        for bar in range(5):
            bx = x0 + 8 + bar * 9.5
            top = 38 - (bar + 1) * 6.4
            d.rectangle(box(bx, top, bx + 6.5, 40), fill=on if bar < level else off)
    save(finish(img, cw * 6, h), "devsettings/signal.png")


def edit_icon():
    img, d = canvas(20, 20)
    c = WHITE
    d.polygon([(s(4), s(13)), (s(13), s(4)), (s(16), s(7)), (s(7), s(16))], fill=c)
    d.polygon([(s(4), s(13)), (s(7), s(16)), (s(3), s(17))], fill=(0xd0, 0xd0, 0xd0, 255))
    d.line([s(12), s(5), s(15), s(8)], fill=(0x69, 0x69, 0x69, 255), width=s(0.8))
    save(finish(img, 20, 20), "local/edit.png")


def delete_icon():
    img, d = canvas(20, 20)
    d.line([s(5), s(5), s(15), s(15)], fill=WHITE, width=s(2.2))
    d.line([s(5), s(15), s(15), s(5)], fill=WHITE, width=s(2.2))
    save(finish(img, 20, 20), "local/delete.png")


def wait_gif():
    size, frames, dots = 47, 12, 12
    palette = [0, 0, 0]  # index 0: transparent
    shades = []
    for k in range(dots):
        a = 0.25 + 0.75 * (k / (dots - 1))
        shades.append((int(0x1a + (255 - 0x1a) * (1 - a)), int(0xbb + (255 - 0xbb) * (1 - a)), 0xfb))
    for r, g, b in shades:
        palette += [r, g, b]
    palette += [0, 0, 0] * (256 - len(palette) // 3)
    images = []
    for f in range(frames):
        img = Image.new("P", (size, size), 0)
        img.putpalette(palette)
        d = ImageDraw.Draw(img)
        for k in range(dots):
            ang = 2 * math.pi * (k + f) / dots
            x = size / 2 + 17 * math.cos(ang)
            y = size / 2 + 17 * math.sin(ang)
            r = 2.0 + 2.0 * k / (dots - 1)
            d.ellipse([x - r, y - r, x + r, y + r], fill=1 + k)
        images.append(img)
    path = os.path.join(OUT, "wait.gif")
    images[0].save(path, save_all=True, append_images=images[1:], duration=80, loop=0,
                   transparency=0, disposal=2, optimize=False)


# --- live page ---------------------------------------------------------------

def g_play(d, cx, cy, c, r=5.0):
    d.polygon([(s(cx - r * 0.7), s(cy - r)), (s(cx - r * 0.7), s(cy + r)), (s(cx + r), s(cy))], fill=c)


def g_stop(d, cx, cy, c):
    d.rectangle(box(cx - 4.5, cy - 4.5, cx + 4.5, cy + 4.5), fill=c)


def g_previous(d, cx, cy, c):
    d.polygon([(s(cx + 4), s(cy - 5)), (s(cx + 4), s(cy + 5)), (s(cx - 3), s(cy))], fill=c)
    d.rectangle(box(cx - 5, cy - 5, cx - 3.5, cy + 5), fill=c)


def g_next(d, cx, cy, c):
    d.polygon([(s(cx - 4), s(cy - 5)), (s(cx - 4), s(cy + 5)), (s(cx + 3), s(cy))], fill=c)
    d.rectangle(box(cx + 3.5, cy - 5, cx + 5, cy + 5), fill=c)


def g_snapshot(d, cx, cy, c):
    d.rounded_rectangle(box(cx - 6, cy - 3.5, cx + 6, cy + 5), radius=s(1.5), outline=c, width=s(1.4))
    d.rectangle(box(cx - 2.5, cy - 5.5, cx + 2.5, cy - 3.5), fill=c)
    d.ellipse(box(cx - 2.5, cy - 1.5, cx + 2.5, cy + 3.5), outline=c, width=s(1.3))


def g_record(d, cx, cy, c):
    d.ellipse(box(cx - 5.5, cy - 5.5, cx + 5.5, cy + 5.5), outline=c, width=s(1.4))
    d.ellipse(box(cx - 3, cy - 3, cx + 3, cy + 3), fill=c)


def g_speaker(d, cx, cy, c, on):
    d.polygon([(s(cx - 6), s(cy - 2)), (s(cx - 3), s(cy - 2)), (s(cx + 1), s(cy - 6)),
               (s(cx + 1), s(cy + 6)), (s(cx - 3), s(cy + 2)), (s(cx - 6), s(cy + 2))], fill=c)
    if on:
        d.arc(box(cx - 2, cy - 4, cx + 5, cy + 4), -60, 60, fill=c, width=s(1.3))
    else:
        d.line([s(cx + 3), s(cy - 3), s(cx + 7), s(cy + 3)], fill=c, width=s(1.3))
        d.line([s(cx + 3), s(cy + 3), s(cx + 7), s(cy - 3)], fill=c, width=s(1.3))


def g_mic(d, cx, cy, c, on):
    d.rounded_rectangle(box(cx - 2.5, cy - 7, cx + 2.5, cy + 2), radius=s(2.5), fill=c)
    d.arc(box(cx - 5, cy - 4, cx + 5, cy + 4.5), 0, 180, fill=c, width=s(1.2))
    d.line([s(cx), s(cy + 4.5), s(cx), s(cy + 7)], fill=c, width=s(1.2))
    if not on:
        d.line([s(cx - 6), s(cy - 7), s(cx + 6), s(cy + 7)], fill=c, width=s(1.4))


def g_split(d, cx, cy, c):
    for dx in (-5, 1):
        for dy in (-5, 1):
            d.rectangle(box(cx + dx, cy + dy, cx + dx + 4, cy + dy + 4), fill=c)


def g_fullscreen(d, cx, cy, c):
    r, k = 6, 3
    for sx in (-1, 1):
        for sy in (-1, 1):
            x, y = cx + sx * r, cy + sy * r
            d.line([s(x), s(y), s(x - sx * k), s(y)], fill=c, width=s(1.4))
            d.line([s(x), s(y), s(x), s(y - sy * k)], fill=c, width=s(1.4))


def g_bell(d, cx, cy, c):
    d.pieslice(box(cx - 6, cy - 7, cx + 6, cy + 5), 180, 360, fill=c)
    d.rectangle(box(cx - 6, cy - 1, cx + 6, cy + 4), fill=c)
    d.ellipse(box(cx - 1.8, cy + 4, cx + 1.8, cy + 7.5), fill=c)


def square_strip(rel, glyph, size, cells=STRIP_CELLS):
    img, d = canvas(size * len(cells), size)
    for i, (fg, bg) in enumerate(cells):
        x0 = i * size
        if bg[3]:
            d.rounded_rectangle(box(x0, 0, x0 + size, size), radius=s(3), fill=bg)
        glyph(d, x0 + size / 2, size / 2, fg)
    save(finish(img, size * len(cells), size), rel)


def add_icon():
    img, d = canvas(16, 16)
    c = (0x3c, 0xc8, 0x50, 255)
    d.rectangle(box(7, 2, 9, 14), fill=c)
    d.rectangle(box(2, 7, 14, 9), fill=c)
    save(finish(img, 16, 16), "add.png")


def device_glyph(d, cx, cy, c, scale=1.0):
    k = scale
    d.rounded_rectangle(box(cx - 14 * k, cy - 8 * k, cx + 8 * k, cy + 8 * k), radius=s(3 * k), fill=c)
    d.polygon([(s(cx + 8 * k), s(cy - 3 * k)), (s(cx + 15 * k), s(cy - 8 * k)),
               (s(cx + 15 * k), s(cy + 8 * k)), (s(cx + 8 * k), s(cy + 3 * k))], fill=c)
    d.ellipse(box(cx - 9 * k, cy - 5 * k, cx + 1 * k, cy + 5 * k), fill=(32, 32, 32, 255))


def status_sprite():
    # Offline, connecting, logged in, playing, and the plain device picture.
    colours = [(0x80, 0x80, 0x80, 255), (0xf5, 0xb0, 0x1a, 255), (0x3c, 0xc8, 0x50, 255),
               (0x1a, 0xbb, 0xfb, 255), (0xdd, 0xdd, 0xdd, 255)]
    img, d = canvas(240, 48)
    for i, c in enumerate(colours):
        device_glyph(d, i * 48 + 24, 24, c)
        if i < 4:
            d.ellipse(box(i * 48 + 34, 32, i * 48 + 44, 42), fill=c)
    save(finish(img, 240, 48), "status.png")


def devlist_sprite():
    enabled = (0xdd, 0xdd, 0xdd, 255)
    glyphs = [
        lambda d, cx, cy, c: d.arc(box(cx - 6, cy - 6, cx + 6, cy + 6), 40, 340, fill=c, width=s(1.8)),
        g_play,
        lambda d, cx, cy, c: d.ellipse(box(cx - 6, cy - 7, cx + 6, cy + 7), outline=c, width=s(1.6)),
        lambda d, cx, cy, c: (d.ellipse(box(cx - 6, cy - 6, cx + 6, cy + 6), outline=c, width=s(2.2)),
                              d.ellipse(box(cx - 2, cy - 2, cx + 2, cy + 2), fill=c)),
        lambda d, cx, cy, c: (d.line([s(cx - 6), s(cy + 6), s(cx + 5), s(cy - 5)], fill=c, width=s(2.5)),
                              d.line([s(cx - 6), s(cy + 6), s(cx - 3), s(cy + 6)], fill=c, width=s(1.5))),
        lambda d, cx, cy, c: (d.line([s(cx - 5), s(cy - 5), s(cx + 5), s(cy + 5)], fill=c, width=s(2)),
                              d.line([s(cx - 5), s(cy + 5), s(cx + 5), s(cy - 5)], fill=c, width=s(2))),
    ]
    img, d = canvas(156, 52)
    for row, c in enumerate((enabled, DISABLED)):
        for i, glyph in enumerate(glyphs):
            glyph(d, i * 26 + 13, row * 26 + 13, c)
    save(finish(img, 156, 52), "devlistcntl.png")


def small_icon(rel, glyph, size=16, colour=WHITE):
    img, d = canvas(size, size)
    glyph(d, size / 2, size / 2, colour)
    save(finish(img, size, size), rel)


def split_icon(count):
    size = 28
    img, d = canvas(size, size)
    c = (0xdd, 0xdd, 0xdd, 255)
    d.rectangle(box(1, 1, size - 1, size - 1), outline=c, width=s(1))
    if count == 6:
        t = (size - 2) / 3
        d.line([s(1 + 2 * t), s(1), s(1 + 2 * t), s(size - 1)], fill=c, width=s(1))
        d.line([s(1), s(1 + 2 * t), s(size - 1), s(1 + 2 * t)], fill=c, width=s(1))
        d.line([s(1 + 2 * t), s(1 + t), s(size - 1), s(1 + t)], fill=c, width=s(1))
        d.line([s(1 + t), s(1 + 2 * t), s(1 + t), s(size - 1)], fill=c, width=s(1))
    else:
        n = int(round(math.sqrt(count)))
        for k in range(1, n):
            p = 1 + k * (size - 2) / n
            d.line([s(p), s(1), s(p), s(size - 1)], fill=c, width=s(1))
            d.line([s(1), s(p), s(size - 1), s(p)], fill=c, width=s(1))
    save(finish(img, size, size), "split/split%d.png" % count)


def g_zoom(d, cx, cy, c):
    d.ellipse(box(cx - 5, cy - 5, cx + 2, cy + 2), outline=c, width=s(1.4))
    d.line([s(cx + 1.5), s(cy + 1.5), s(cx + 6), s(cy + 6)], fill=c, width=s(1.8))


def g_return(d, cx, cy, c):
    d.line([s(cx - 7), s(cy), s(cx + 7), s(cy)], fill=c, width=s(2))
    d.line([s(cx - 7), s(cy), s(cx - 1), s(cy - 6)], fill=c, width=s(2))
    d.line([s(cx - 7), s(cy), s(cx - 1), s(cy + 6)], fill=c, width=s(2))


def accordion_arrow(rel, open_):
    # One 20 x 20 cell: a triangle pointing down while open, right while closed.
    img, d = canvas(20, 20)
    c = (0xc2, 0xc2, 0xc2, 255)
    if open_:
        pts = [(5, 7), (15, 7), (10, 13)]
    else:
        pts = [(7, 5), (13, 10), (7, 15)]
    d.polygon([(s(x), s(y)) for x, y in pts], fill=c)
    save(finish(img, 20, 20), rel)


def live_page_images():
    add_icon()
    square_strip("playctrl/play.png", lambda d, cx, cy, c: g_play(d, cx + 1, cy, c, r=7), 34)
    square_strip("playctrl/stop.png", g_stop, 20)
    square_strip("playctrl/previous.png", g_previous, 20)
    square_strip("playctrl/next.png", g_next, 20)
    square_strip("playctrl/snapshot.png", g_snapshot, 20)
    square_strip("playctrl/record.png", g_record, 20)
    square_strip("playctrl/speakeron.png", lambda d, cx, cy, c: g_speaker(d, cx, cy, c, True), 20)
    square_strip("playctrl/speakeroff.png", lambda d, cx, cy, c: g_speaker(d, cx, cy, c, False), 20)
    square_strip("playctrl/micon.png", lambda d, cx, cy, c: g_mic(d, cx, cy, c, True), 20)
    square_strip("playctrl/micoff.png", lambda d, cx, cy, c: g_mic(d, cx, cy, c, False), 20)
    square_strip("playctrl/split.png", g_split, 20)
    square_strip("playctrl/fullscreen.png", g_fullscreen, 20)
    # Idle, (unused), alarm: the blink alternates cells 0 and 2.
    square_strip("playctrl/alarm.png", g_bell, 24,
                 cells=[(NORMAL, CLEAR), (WHITE, HOVER_BG), ((0xe8, 0x30, 0x30, 255), CLEAR)])
    status_sprite()
    devlist_sprite()
    small_icon("viewbar/zoom.png", g_zoom)
    small_icon("viewbar/snapshot.png", g_snapshot)
    small_icon("viewbar/record.png", g_record)
    small_icon("viewbar/stop.png", g_stop)
    small_icon("viewbar/play.png", g_play)
    for count in (1, 4, 6, 9, 16, 36, 64):
        split_icon(count)


# --- PTZ and image panels -------------------------------------------------
# Each PTZ sheet has a twin ending in 1 (the hover look); a button takes the
# same cell of both.

def g_arrow(d, cx, cy, c, angle):
    """A filled arrow head pointing at angle (degrees, 0 = right, 90 = down)."""
    a = math.radians(angle)
    def at(r, da):
        return (s(cx + r * math.cos(a + da)), s(cy + r * math.sin(a + da)))
    d.polygon([at(8, 0), at(7, 2.4), at(3, math.pi), at(7, -2.4)], fill=c)


def g_sign(d, cx, cy, c, plus, r=3.5):
    d.line([s(cx - r), s(cy), s(cx + r), s(cy)], fill=c, width=s(1.6))
    if plus:
        d.line([s(cx), s(cy - r), s(cx), s(cy + r)], fill=c, width=s(1.6))


def g_focus(d, cx, cy, c):
    d.ellipse(box(cx - 6, cy - 6, cx + 6, cy + 6), outline=c, width=s(1.3))
    d.ellipse(box(cx - 2, cy - 2, cx + 2, cy + 2), fill=c)


def g_iris(d, cx, cy, c):
    d.ellipse(box(cx - 6, cy - 6, cx + 6, cy + 6), outline=c, width=s(1.3))
    for k in range(6):
        a = math.radians(60 * k)
        d.line([s(cx + 6 * math.cos(a)), s(cy + 6 * math.sin(a)),
                s(cx + 2.5 * math.cos(a + 1.6)), s(cy + 2.5 * math.sin(a + 1.6))], fill=c, width=s(1.1))


def ptz_sheets():
    from PIL import ImageFont
    font = ImageFont.load_default()
    angles = [225, 270, 315, 180, None, 0, 135, 90, 45]
    for suffix, colour in (("", NORMAL), ("1", WHITE)):
        img, d = canvas(90, 90)
        for i, angle in enumerate(angles):
            if angle is not None:
                g_arrow(d, 30 * (i % 3) + 15, 30 * (i // 3) + 15, colour, angle)
        img = finish(img, 90, 90)
        t = ImageDraw.Draw(img)
        w, h = t.textbbox((0, 0), "auto", font=font)[2:]
        t.text((45 - w / 2, 45 - h / 2), "auto", fill=colour, font=font)
        save(img, "ptz/ptzallbtns%s.png" % suffix)

        img, d = canvas(60, 90)
        for row, glyph in enumerate((g_zoom, g_focus, g_iris)):
            for col in range(2):
                cx, cy = 30 * col + 13, 30 * row + 15
                glyph(d, cx, cy, colour)
                g_sign(d, cx + 11, cy + 9, colour, col == 1, r=2.5)
        save(finish(img, 60, 90), "ptz/ptzbtnextend%s.png" % suffix)

        img, d = canvas(48, 16)
        d.polygon([(s(4), s(3)), (s(13), s(8)), (s(4), s(13))], fill=colour)  # call
        d.ellipse(box(19, 3, 29, 13), outline=colour, width=s(1.4))  # set
        d.ellipse(box(22.5, 6.5, 25.5, 9.5), fill=colour)
        g_close(d, 40, 8, colour)  # delete
        save(finish(img, 48, 16), "ptz/presetctrl%s.png" % suffix)


def speed_icon():
    img, d = canvas(22, 22)
    d.arc(box(3, 4, 19, 20), 180, 360, fill=WHITE, width=s(1.6))
    d.line([s(11), s(12), s(16), s(7)], fill=WHITE, width=s(1.6))
    d.ellipse(box(9.5, 10.5, 12.5, 13.5), fill=WHITE)
    save(finish(img, 22, 22), "ptz/speed.png")


def image_icons():
    size = 26
    c = WHITE
    def sat(d):
        d.polygon([(s(13), s(4)), (s(19), s(14)), (s(7), s(14))], fill=c)
        d.ellipse(box(7, 9, 19, 21), fill=c)
    def bright(d):
        d.ellipse(box(9, 9, 17, 17), fill=c)
        for k in range(8):
            a = math.radians(45 * k)
            d.line([s(13 + 6 * math.cos(a)), s(13 + 6 * math.sin(a)),
                    s(13 + 9 * math.cos(a)), s(13 + 9 * math.sin(a))], fill=c, width=s(1.4))
    def sharp(d):
        d.polygon([(s(13), s(4)), (s(21), s(21)), (s(5), s(21))], outline=c, width=s(1.4))
        d.line([s(13), s(8), s(13), s(21)], fill=c, width=s(1.2))
    def contrast(d):
        d.ellipse(box(5, 5, 21, 21), outline=c, width=s(1.4))
        d.pieslice(box(5, 5, 21, 21), 90, 270, fill=c)
    def mirror(d):
        d.polygon([(s(11), s(6)), (s(11), s(20)), (s(4), s(20))], fill=c)
        d.polygon([(s(15), s(6)), (s(15), s(20)), (s(22), s(20))], outline=c, width=s(1.2))
        d.line([s(13), s(3), s(13), s(23)], fill=c, width=s(1))
    for name, draw in (("saturation", sat), ("brightness", bright), ("sharpness", sharp),
                       ("contrast", contrast), ("mirror", mirror)):
        img, d = canvas(size, size)
        draw(d)
        save(finish(img, size, size), "videoimage/%s.png" % name)


def main():
    strip("buttonclose.png", g_close)
    strip("buttonmax.png", g_max)
    strip("buttonhide.png", g_hide)
    strip("buttonrestore.png", g_restore)
    strip("unlock.png", g_unlock)
    strip("lock.png", g_lock)
    camera_icon()
    cpu_icon("cpu.png", (0x3c, 0xc8, 0x50, 255))
    cpu_icon("cpu1.png", (0xf5, 0xb0, 0x1a, 255))
    cpu_icon("cpu2.png", (0xe8, 0x30, 0x30, 255))
    lockicon()
    message_icon()
    tips_icon()
    warning_icon()
    wait_gif()
    user_icon()
    password_icon()
    check("frameui/check.png", False)
    check("frameui/check1.png", True)
    radio("frameui/radio.png", False)
    radio("frameui/radio1.png", True)
    for direction in ("up", "down", "left", "right"):
        handle("handle-%s.png" % direction, direction)
    dropdown()
    signal_strip()
    square_strip("devsettings/return.png", g_return, 28)
    accordion_arrow("devsettings/accordionopen.png", True)
    accordion_arrow("devsettings/accordionclose.png", False)
    edit_icon()
    delete_icon()
    live_page_images()
    ptz_sheets()
    speed_icon()
    image_icons()
    return 0


if __name__ == "__main__":
    sys.exit(main())
