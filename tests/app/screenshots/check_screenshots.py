#!/usr/bin/python3
"""Checks the pictures scripts/screenshots.sh took: the login's dark title
band and the main window's title bar with the selected page button."""
import sys

from PIL import Image

TITLE = (32, 32, 32)
SELECTED = (0x1a, 0xbb, 0xfb)


def near(p, q, tol=3):
    return all(abs(a - b) <= tol for a, b in zip(p[:3], q))


def geometry(path):
    x, y, w, h = (int(v) for v in open(path).read().split())
    return x, y, w, h


def band_share(img, x0, x1, y):
    row = [img.getpixel((x, y)) for x in range(x0, x1)]
    return sum(near(p, TITLE) for p in row) / len(row)


def check_login(folder):
    img = Image.open(folder + "/login.png").convert("RGB")
    x, y, w, h = geometry(folder + "/login.geometry")
    assert (w, h) == (416, 248), (w, h)
    for row in range(y, y + 38):
        share = band_share(img, x, x + 416, row)
        assert share > 0.85, "row %d of the title band is %.2f dark" % (row - y, share)
    assert band_share(img, x, x + 416, y + 40) < 0.5, "the band is higher than 38 px"
    assert near(img.getpixel((x + 415, y + 20)), TITLE), "the band is narrower than 416 px"
    if x + 416 < img.width:
        assert not near(img.getpixel((x + 416, y + 20)), TITLE), "the band is wider than 416 px"


def check_main(folder):
    img = Image.open(folder + "/mainwindow.png").convert("RGB")
    x, y, w, h = geometry(folder + "/mainwindow.geometry")
    assert (w, h) == (1200, 728), (w, h)
    assert near(img.getpixel((x + 1, y + 1)), TITLE)
    assert near(img.getpixel((x + 1199, y + 37)), TITLE), "the title bar is narrower than 1200 px"
    if x + 1200 < img.width:
        assert not near(img.getpixel((x + 1200, y + 20)), TITLE), "the title bar is wider than 1200 px"
    selected = sum(near(img.getpixel((px, y + 18)), SELECTED) for px in range(x, x + 1200))
    assert selected > 100, "no selected page button in the title bar (%d px)" % selected


def main():
    folder = sys.argv[1]
    check_login(folder)
    check_main(folder)
    print("pictures look right")
    return 0


if __name__ == "__main__":
    sys.exit(main())
