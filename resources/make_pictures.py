#!/usr/bin/python3
"""Draws every picture the windows use and writes it next to this script.

The pictures are committed, so building the player never runs this; run it
again (python3-pil) after changing a drawing here:

    resources/make_pictures.py

Each shape is drawn at eight times its size and scaled down, which gives
smooth edges without any anti-aliasing support in the drawing calls. Every
picture is written twice: at its size, and at twice its size as name@2x for
high-density screens, where Qt shows it at the same place with four times
the pixels.
"""

import os

from PIL import Image, ImageDraw, ImageFilter

HERE = os.path.dirname(os.path.abspath(__file__))
SCALE = 8
# How many output pixels a picture pixel takes in the round being written:
# 1 for name.png, 2 for name@2x.png.
FACTOR = 1

DARK_GREEN = (16, 78, 34)
DEEP_GREEN = (8, 48, 20)
LIME = (0, 255, 0)
PALE_LIME = (196, 255, 160)
PANEL_GREY = (74, 70, 70)


def canvas(width, height, background=(0, 0, 0, 0)):
    """A big transparent drawing surface for a picture of the given size."""
    image = Image.new("RGBA", (width * SCALE, height * SCALE), background)
    return image, ImageDraw.Draw(image)


def s(*values):
    """Picture coordinates to drawing coordinates."""
    return [v * SCALE for v in values]


def finish(image, width, height):
    return image.resize((width * FACTOR, height * FACTOR), Image.LANCZOS)


def output_name(name):
    if FACTOR == 1:
        return name
    stem, extension = os.path.splitext(name)
    return "%s@%dx%s" % (stem, FACTOR, extension)


def save_png(image, name):
    image.save(os.path.join(HERE, output_name(name)), optimize=True)


def save_jpeg(image, name):
    image.convert("RGB").save(os.path.join(HERE, output_name(name)), quality=92,
                              optimize=True)


def disabled(image):
    """The look of a glyph that cannot be used: grey, lighter and faded."""
    grey = image.convert("LA")
    pixels = []
    for value, alpha in grey.getdata():
        pixels.append((150 + value // 4,) * 3 + (alpha * 2 // 3,))
    out = Image.new("RGBA", image.size)
    out.putdata(pixels)
    return out


# --- the main window's background --------------------------------------------

def background():
    width, height = 261, 104
    # The rim shows in the rounded corners only; it matches the window colour
    # darkened, so the panel reads as set into the frame.
    image = Image.new("RGB", (width * SCALE, height * SCALE), (30, 110, 52))
    mask = Image.new("L", image.size, 0)
    ImageDraw.Draw(mask).rounded_rectangle(s(0, 0, width - 1, height - 1), radius=11 * SCALE,
                                           fill=255)
    panel = Image.new("RGB", image.size)
    draw = ImageDraw.Draw(panel)
    top, bottom = (214, 252, 168), (168, 236, 104)
    for y in range(height * SCALE):
        t = y / (height * SCALE - 1)
        colour = tuple(int(a + (b - a) * t) for a, b in zip(top, bottom))
        draw.line([(0, y), (width * SCALE, y)], fill=colour)
    # Faint horizontal lines, one every third pixel.
    for y in range(2, height, 3):
        band = panel.crop((0, y * SCALE, width * SCALE, (y + 1) * SCALE))
        band = Image.blend(band, Image.new("RGB", band.size, (120, 190, 80)), 0.22)
        panel.paste(band, (0, y * SCALE))
    image.paste(panel, (0, 0), mask)
    # A light edge along the top and a darker one along the bottom.
    edge = ImageDraw.Draw(image)
    edge.rounded_rectangle(s(0.5, 0.5, width - 1.5, height - 1.5), radius=11 * SCALE,
                           outline=(236, 255, 210), width=SCALE)
    edge.arc(s(0.5, height - 24, 23, height - 1.5), 90, 180, fill=(110, 180, 70), width=SCALE)
    edge.arc(s(width - 24, height - 24, width - 1.5, height - 1.5), 0, 90, fill=(110, 180, 70),
             width=SCALE)
    edge.line(s(11, height - 1.5, width - 12, height - 1.5), fill=(110, 180, 70), width=SCALE)
    save_jpeg(finish(image, width, height), "background.jpg")


# --- transport buttons, 28 x 28 -----------------------------------------------

def round_button():
    image, draw = canvas(28, 28)
    draw.ellipse(s(1, 1.8, 27, 27.8), fill=(0, 0, 0, 80))  # shadow
    # A dome: circles shrinking toward a highlight up and to the left.
    centre, radius, steps = 13.5, 12.5, 14
    for step in range(steps):
        t = step / (steps - 1)
        colour = tuple(int(a + (b - a) * t) for a, b in zip(DEEP_GREEN, (52, 150, 76)))
        r = radius * (1 - 0.8 * t)
        c = centre - (radius - r) * 0.3
        draw.ellipse(s(c - r, c - r, c + r, c + r), fill=colour)
    draw.ellipse(s(centre - radius, centre - radius, centre + radius, centre + radius),
                 outline=(160, 230, 140, 255), width=SCALE)
    return image, draw


def transport(name, symbol):
    image, draw = round_button()
    symbol(draw)
    save_png(finish(image, 28, 28), name)


def triangle(draw, left, top, width, height, direction=1):
    """A solid triangle pointing right (direction 1) or left (-1)."""
    if direction > 0:
        points = [(left, top), (left + width, top + height / 2), (left, top + height)]
    else:
        points = [(left + width, top), (left, top + height / 2), (left + width, top + height)]
    draw.polygon([tuple(v * SCALE for v in p) for p in points], fill=PALE_LIME)


def bar(draw, left, top, width, height):
    draw.rectangle(s(left, top, left + width, top + height), fill=PALE_LIME)


def pictures_transport():
    transport("play.png", lambda d: triangle(d, 10.5, 7.5, 10, 12))
    transport("pause.png", lambda d: (bar(d, 9, 8, 3.3, 11), bar(d, 15, 8, 3.3, 11)))
    transport("stop.png", lambda d: bar(d, 8.5, 8.5, 10, 10))
    transport("prev.png", lambda d: (bar(d, 6.8, 8.5, 2, 10), triangle(d, 9, 8.5, 6, 10, -1),
                                     triangle(d, 14.5, 8.5, 6, 10, -1)))
    transport("next.png", lambda d: (triangle(d, 6.2, 8.5, 6, 10), triangle(d, 11.7, 8.5, 6, 10),
                                     bar(d, 18, 8.5, 2, 10)))


# --- the Open button, 19 x 18 -------------------------------------------------

def open_glyph():
    image, draw = canvas(19, 18)
    outline = (90, 60, 10, 255)
    draw.rounded_rectangle(s(1, 3, 8, 6), radius=SCALE, fill=(214, 160, 40), outline=outline,
                           width=SCALE)
    draw.rectangle(s(1, 5, 17, 16), fill=(232, 184, 60), outline=outline, width=SCALE)
    draw.polygon([tuple(v * SCALE for v in p) for p in [(3.5, 8), (18.2, 8), (16, 16), (1, 16)]],
                 fill=(252, 214, 100), outline=outline)
    draw.line(s(4, 9, 17, 9), fill=(255, 240, 180), width=SCALE)
    save_png(finish(image, 19, 18), "open.png")


# --- 16 x 16 glyphs of the text buttons ---------------------------------------

def glyph16(name, drawing):
    image, draw = canvas(16, 16)
    drawing(draw)
    small = finish(image, 16, 16)
    save_png(small, name + ".png")
    save_png(disabled(small), name + "_disabled.png")


def alarm_clock(draw):
    draw.line(s(3.5, 14.5, 5, 12.5), fill=DARK_GREEN, width=int(1.5 * SCALE))
    draw.line(s(12.5, 14.5, 11, 12.5), fill=DARK_GREEN, width=int(1.5 * SCALE))
    draw.pieslice(s(0.5, 0.5, 7, 7), 180, 270, fill=(200, 40, 30))
    draw.pieslice(s(9, 0.5, 15.5, 7), 270, 360, fill=(200, 40, 30))
    draw.ellipse(s(2, 2.5, 14, 14.5), fill=(250, 250, 236), outline=DARK_GREEN,
                 width=int(1.6 * SCALE))
    draw.line(s(8, 8.5, 8, 5), fill=(20, 20, 20), width=int(1.2 * SCALE))
    draw.line(s(8, 8.5, 10.6, 9.8), fill=(20, 20, 20), width=int(1.2 * SCALE))


def playlist_lines(draw):
    for y in (3, 6.5, 10):
        draw.rectangle(s(1, y, 9.5, y + 1.6), fill=DARK_GREEN)
    draw.rectangle(s(1, 13.5, 6, 15.1), fill=DARK_GREEN)
    draw.ellipse(s(8.3, 10.8, 12.5, 14.8), fill=(200, 40, 30))
    draw.rectangle(s(11.2, 2, 12.5, 13), fill=(200, 40, 30))
    draw.polygon([tuple(v * SCALE for v in p) for p in [(12.5, 2), (15.5, 4), (15.5, 6.4),
                                                          (12.5, 4.6)]], fill=(200, 40, 30))


def eject(draw):
    draw.polygon([tuple(v * SCALE for v in p) for p in [(8, 2), (15, 9.5), (1, 9.5)]],
                 fill=DARK_GREEN)
    draw.rectangle(s(1, 11.5, 15, 14.5), fill=DARK_GREEN)


def globe(draw):
    draw.ellipse(s(1, 1, 15, 15), fill=(120, 190, 250), outline=(20, 60, 130),
                 width=int(1.2 * SCALE))
    draw.ellipse(s(5, 1.4, 11, 14.6), outline=(20, 60, 130), width=SCALE)
    draw.line(s(8, 1.5, 8, 14.5), fill=(20, 60, 130), width=SCALE)
    draw.line(s(1.5, 8, 14.5, 8), fill=(20, 60, 130), width=SCALE)
    draw.arc(s(2, -3, 14, 6), 20, 160, fill=(20, 60, 130), width=SCALE)
    draw.arc(s(2, 10, 14, 19), 200, 340, fill=(20, 60, 130), width=SCALE)
    draw.pieslice(s(3, 3, 9, 10), 160, 300, fill=(50, 160, 60))


def bell(draw):
    draw.pieslice(s(3, 1.5, 13, 13), 180, 360, fill=(230, 180, 30), outline=(110, 70, 0),
                  width=SCALE)
    draw.rectangle(s(3, 7, 13, 11.5), fill=(230, 180, 30))
    draw.line(s(3, 7, 3, 11.5), fill=(110, 70, 0), width=SCALE)
    draw.line(s(13, 7, 13, 11.5), fill=(110, 70, 0), width=SCALE)
    draw.rounded_rectangle(s(1, 11, 15, 13), radius=SCALE, fill=(200, 150, 20),
                           outline=(110, 70, 0), width=SCALE)
    draw.ellipse(s(6.5, 12.5, 9.5, 15.5), fill=(110, 70, 0))
    draw.ellipse(s(7, 0, 9, 2.4), fill=(110, 70, 0))


# --- the window icon and the about picture ------------------------------------

def icon():
    size = 64
    image, draw = canvas(size, size)
    draw.rounded_rectangle(s(2, 2, 62, 62), radius=12 * SCALE, fill=(30, 110, 52))
    draw.rounded_rectangle(s(5, 5, 59, 59), radius=10 * SCALE, fill=(190, 246, 128))
    for y in range(8, 58, 4):
        draw.line(s(7, y, 57, y), fill=(160, 222, 100), width=SCALE)
    draw.rounded_rectangle(s(10, 10, 54, 28), radius=3 * SCALE, fill=PANEL_GREY,
                           outline=(40, 38, 38), width=SCALE)
    for x, h in ((14, 6), (19, 11), (24, 8), (29, 13), (34, 5), (39, 10), (44, 7), (49, 12)):
        draw.rectangle(s(x, 25 - h, x + 3, 25), fill=LIME)
    draw.rectangle(s(10, 32, 54, 35), fill=PANEL_GREY)
    draw.rectangle(s(10, 32, 36, 35), fill=(255, 0, 0))
    draw.ellipse(s(20, 38, 44, 62), fill=DEEP_GREEN, outline=(160, 230, 140), width=SCALE)
    draw.polygon([tuple(v * SCALE for v in p) for p in [(28.5, 43), (39.5, 50), (28.5, 57)]],
                 fill=PALE_LIME)
    save_png(finish(image, size, size), "icon.png")


def about():
    width, height = 52, 48
    image, draw = canvas(width, height, (190, 246, 128, 255))
    for y in range(2, height, 3):
        draw.line(s(0, y, width, y), fill=(166, 226, 104), width=SCALE)
    draw.ellipse(s(6, 4, 46, 44), fill=DEEP_GREEN, outline=(160, 230, 140), width=SCALE)
    # A pair of quavers joined by a beam.
    note = PALE_LIME
    draw.ellipse(s(13, 29, 22, 36), fill=note)
    draw.ellipse(s(28, 26, 37, 33), fill=note)
    draw.rectangle(s(20, 13, 22, 32), fill=note)
    draw.rectangle(s(35, 10, 37, 29), fill=note)
    draw.polygon([tuple(v * SCALE for v in p) for p in [(20, 13), (37, 10), (37, 14.5),
                                                          (20, 17.5)]], fill=note)
    save_jpeg(finish(image, width, height), "about.jpg")


def main():
    global FACTOR
    for FACTOR in (1, 2):
        draw_all()


def draw_all():
    background()
    pictures_transport()
    open_glyph()
    glyph16("alarm", alarm_clock)
    glyph16("playlist", playlist_lines)
    glyph16("eject", eject)
    glyph16("webpage", globe)
    glyph16("alarmbutton", bell)
    icon()
    about()


if __name__ == "__main__":
    main()
