#!/usr/bin/env python3
"""Checks the pages that the Windows tests printed to the CUPS PDF queue.

    check_printout.py RECORD...

Each record, left by one run of a Windows test, names the PDF its job became
and says what the window looked like: client area, band and button rectangles
in pixels, colours, and the screen's dpi. A record may name the area below the
band where only the background shows ("grey"; by default the whole width from
the band down to the button), and a part of the band that no text reaches
("band_plain"), for a band whose text covers more than a tenth of it. Rendered at that dpi, the window,
printed at its size on screen, must cover the same pixels it had there, from
the top left corner of the page (this queue prints to the paper's edge).
"""
import os
import subprocess
import sys
import tempfile
import time

COLOUR_TOLERANCE = 24  # PDF images may be stored lossily
SIZE_TOLERANCE = 3  # pixels, for rounding in the printer and in the renderer


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def read_record(path):
    record = {}
    with open(path) as f:
        for line in f:
            key, _, rest = line.rstrip("\n").partition(" ")
            record[key] = rest if key == "pdf" else [int(v) for v in rest.split()]
    return record


def queue_drained():
    jobs = subprocess.run(["lpstat", "-o", "PDF"], capture_output=True, text=True)
    return jobs.returncode == 0 and not jobs.stdout.strip()


def wait_for_queue():
    """Waits until CUPS has written every job out."""
    deadline = time.monotonic() + 60
    while not queue_drained():
        if time.monotonic() > deadline:
            fail("the CUPS queue PDF still holds jobs after 60 s")
        time.sleep(0.2)


def render(pdf, dpi):
    """The pages as (width, height, rows of RGB bytes), one per page."""
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["pdftoppm", "-r", str(dpi), pdf, os.path.join(tmp, "page")], check=True)
        pages = []
        for name in sorted(os.listdir(tmp)):
            with open(os.path.join(tmp, name), "rb") as f:
                data = f.read()
            # P6 header: magic, width, height, maxval, each ended by one
            # whitespace byte; the pixels follow at once.
            fields, end = [], 0
            for _ in range(4):
                start = end
                while data[start:start + 1].isspace():
                    start += 1
                end = start
                while not data[end:end + 1].isspace():
                    end += 1
                fields.append(data[start:end])
                end += 1
            assert fields[0] == b"P6" and fields[3] == b"255", "unexpected pdftoppm output"
            width, height = int(fields[1]), int(fields[2])
            pages.append((width, height, data[end:end + 3 * width * height]))
        return pages


class Page:
    def __init__(self, width, height, pixels):
        self.width, self.height, self.pixels = width, height, pixels

    def at(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.pixels[i:i + 3])

    def share(self, box, colour):
        """The fraction of the pixels in box (left, top, right, bottom) near colour."""
        left, top, right, bottom = box
        points = [(x, y) for y in range(top, bottom) for x in range(left, right)]
        hits = sum(1 for x, y in points if near(self.at(x, y), colour))
        return hits / len(points)

    def bounds(self, colour):
        """The smallest box holding every pixel near colour, or None."""
        xs, ys = [], []
        for y in range(self.height):
            row = self.pixels[3 * y * self.width:3 * (y + 1) * self.width]
            for x in range(self.width):
                if near(tuple(row[3 * x:3 * x + 3]), colour):
                    xs.append(x)
                    ys.append(y)
        return (min(xs), min(ys), max(xs) + 1, max(ys) + 1) if xs else None


def near(a, b):
    return all(abs(p - q) <= COLOUR_TOLERANCE for p, q in zip(a, b))


def inset(box, margin):
    left, top, right, bottom = box
    return (left + margin, top + margin, right - margin, bottom - margin)


def check(record_path):
    record = read_record(record_path)
    pdf = record["pdf"]
    pages = render(pdf, record["dpi"][0])
    if len(pages) != 1:
        fail("%s: %d pages printed, not one" % (pdf, len(pages)))
    page = Page(*pages[0])

    band_colour = tuple(record["band"][4:7])
    grey = tuple(record["background"])
    white = (255, 255, 255)
    window = tuple(record["client"])
    band = tuple(record["band"][:4])
    button = tuple(record["button"])

    found = page.bounds(band_colour)
    if found is None:
        fail("%s: no pixel in the band colour %s" % (pdf, band_colour))
    if any(abs(f - e) > SIZE_TOLERANCE for f, e in zip(found, band)):
        fail("%s: band at %s, expected %s (the window at its size on screen, at the top left)"
             % (pdf, found, band))
    band_share = page.share(inset(band, SIZE_TOLERANCE), band_colour)
    least = 0.9
    if "band_plain" in record:
        if page.share(inset(record["band_plain"], SIZE_TOLERANCE), band_colour) < 0.99:
            fail("%s: the band's part without text at %s is not all the band colour"
                 % (pdf, record["band_plain"]))
        least = 0.5
    if not least <= band_share <= 0.995:
        fail("%s: the band is %.1f%% its colour: expected most of it, and a text in it"
             % (pdf, 100 * band_share))
    below_band = tuple(record.get("grey") or (window[0], band[3], window[2], button[1]))
    if page.share(inset(below_band, SIZE_TOLERANCE), grey) < 0.99:
        fail("%s: the background below the band is not the window's grey %s" % (pdf, grey))
    if page.share(inset(button, SIZE_TOLERANCE), grey) > 0.5:
        fail("%s: the button is missing: its place shows the background" % pdf)
    right_of_window = (window[2] + SIZE_TOLERANCE, 0, window[2] + 50, window[3])
    below_window = (0, window[3] + SIZE_TOLERANCE, window[2], window[3] + 50)
    for box in (right_of_window, below_window):
        if page.share(box, white) < 0.99:
            fail("%s: the window reaches beyond %s: printed larger than on screen"
                 % (pdf, window))
    print("%s at %d dpi: one page, band %s, grey below, button present"
          % (pdf, record["dpi"][0], found))
    os.remove(pdf)  # a failing page stays for a person to look at


def main():
    wait_for_queue()
    for record_path in sys.argv[1:]:
        check(record_path)


if __name__ == "__main__":
    main()
