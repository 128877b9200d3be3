#!/usr/bin/env python3
"""Checks the pages that the Windows tests printed to the CUPS PDF queue.

    check_printout.py [--skip-if FILE] RECORD...

Each record, left by one run of a Windows test, names the PDF its job became and says what the
window looked like: client area, band and button rectangles in pixels, colours, and the screen's
dpi. A record may name the area below the band where only the background shows ("grey"; by
default the whole width from the band down to the button), and a part of the band that no text
reaches ("band_plain"), for a band whose text covers more than a tenth of it, and where the text
cursor of the box with the focus was on screen ("caret"), which must not be on paper. A record
that says "skip REASON" stands for a test that could not print here; with --skip-if, a FILE that
exists holds why the Windows tests could not run here at all. Either skips the check (exit code
77), saying why. Rendered at that
dpi, the window, printed at its size on screen, must cover the same pixels it had there, from
the top left corner of the page (this queue prints to the paper's edge).
"""
import os
import subprocess
import sys
import tempfile
import time

COLOUR_TOLERANCE = 24  # PDF images may be stored lossily
SIZE_TOLERANCE = 3  # pixels, for rounding in the printer and in the renderer
WHITE = (255, 255, 255)


SKIPPED = 77  # ctest's SKIP_RETURN_CODE for this check


def fail(message):
    print("FAIL: " + message)
    sys.exit(1)


def read_record(path):
    record = {}
    with open(path) as f:
        for line in f:
            key, _, rest = line.rstrip("\n").partition(" ")
            record[key] = rest if key in ("pdf", "skip") else [int(v) for v in rest.split()]
    return record


def wait_for_queue():
    """Waits until CUPS has written every job out."""
    deadline = time.monotonic() + 60
    while True:
        jobs = subprocess.run(["lpstat", "-o", "PDF"], capture_output=True, text=True)
        if jobs.returncode == 0 and not jobs.stdout.strip():
            return
        if time.monotonic() > deadline:
            fail("the CUPS queue PDF still holds jobs after 60 s")
        time.sleep(0.2)


class Page:
    def __init__(self, ppm):
        # P6 header: magic, width, height, maxval, each ended by whitespace; the pixels fill the
        # rest of the file.
        magic, width, height, maxval = ppm.split(maxsplit=4)[:4]
        assert magic == b"P6" and maxval == b"255", "unexpected pdftoppm output"
        self.width, self.height = int(width), int(height)
        self.pixels = ppm[len(ppm) - 3 * self.width * self.height:]

    def at(self, x, y):
        i = 3 * (y * self.width + x)
        return tuple(self.pixels[i:i + 3])

    def share(self, box, colour):
        """The fraction of the pixels in box (left, top, right, bottom) near colour."""
        left, top, right, bottom = box
        points = [(x, y) for y in range(top, bottom) for x in range(left, right)]
        return sum(1 for x, y in points if near(self.at(x, y), colour)) / len(points)

    def full_dark_columns(self, box):
        """The columns of box in which nearly every pixel is dark, as a text cursor draws."""
        left, top, right, bottom = box
        dark = lambda p: sum(p) < 3 * 96
        return [x for x in range(left, right)
                if sum(dark(self.at(x, y)) for y in range(top, bottom)) >= 0.8 * (bottom - top)]

    def bounds(self, colour):
        """The smallest box holding every pixel near colour, or None."""
        hits = [(x, y) for y in range(self.height) for x in range(self.width)
                if near(self.at(x, y), colour)]
        if not hits:
            return None
        xs, ys = zip(*hits)
        return (min(xs), min(ys), max(xs) + 1, max(ys) + 1)


def render(pdf, dpi):
    """The pages, rendered at dpi."""
    with tempfile.TemporaryDirectory() as tmp:
        subprocess.run(["pdftoppm", "-r", str(dpi), pdf, os.path.join(tmp, "page")], check=True)
        pages = []
        for name in sorted(os.listdir(tmp)):
            with open(os.path.join(tmp, name), "rb") as f:
                pages.append(Page(f.read()))
        return pages


def near(a, b):
    return all(abs(p - q) <= COLOUR_TOLERANCE for p, q in zip(a, b))


def inset(box, margin=SIZE_TOLERANCE):
    left, top, right, bottom = box
    return (left + margin, top + margin, right - margin, bottom - margin)


def check(record):
    pdf, dpi = record["pdf"], record["dpi"][0]
    pages = render(pdf, dpi)
    if len(pages) != 1:
        fail("%s: %d pages printed, not one" % (pdf, len(pages)))
    page = pages[0]
    window, band, button = (tuple(record[k][:4]) for k in ("client", "band", "button"))
    band_colour, grey = tuple(record["band"][4:7]), tuple(record["background"])

    found = page.bounds(band_colour)
    if found is None:
        fail("%s: no pixel in the band colour %s" % (pdf, band_colour))
    if any(abs(f - e) > SIZE_TOLERANCE for f, e in zip(found, band)):
        fail("%s: band at %s, expected %s (the window at its size on screen, at the top left)"
             % (pdf, found, band))
    least = 0.9
    if "band_plain" in record:
        if page.share(inset(record["band_plain"]), band_colour) < 0.99:
            fail("%s: the band's part without text at %s is not all the band colour"
                 % (pdf, record["band_plain"]))
        least = 0.5
    band_share = page.share(inset(band), band_colour)
    if not least <= band_share <= 0.995:
        fail("%s: the band is %.1f%% its colour: expected most of it, and a text in it"
             % (pdf, 100 * band_share))
    below_band = record.get("grey") or (window[0], band[3], window[2], button[1])
    if page.share(inset(below_band), grey) < 0.99:
        fail("%s: the background below the band is not the window's grey %s" % (pdf, grey))
    if page.share(inset(button), grey) > 0.5:
        fail("%s: the button is missing: its place shows the background" % pdf)
    right_of_window = (window[2] + SIZE_TOLERANCE, 0, window[2] + 50, window[3])
    below_window = (0, window[3] + SIZE_TOLERANCE, window[2], window[3] + 50)
    if any(page.share(box, WHITE) < 0.99 for box in (right_of_window, below_window)):
        fail("%s: the window reaches beyond %s: printed larger than on screen" % (pdf, window))
    if "caret" in record:
        left, top, right, bottom = record["caret"]
        area = (left - SIZE_TOLERANCE, top + 1, right + SIZE_TOLERANCE, bottom - 1)
        if page.full_dark_columns(area):
            fail("%s: the text cursor is on the page, at x=%s" % (pdf, page.full_dark_columns(area)))
    print("%s at %d dpi: one page, band %s, grey below, button present" % (pdf, dpi, found))
    os.remove(pdf)  # a failing page stays for a person to look at


def main():
    paths = sys.argv[1:]
    if paths[:1] == ["--skip-if"]:
        if os.path.exists(paths[1]):
            print("SKIPPED: " + open(paths[1]).read().strip())
            sys.exit(SKIPPED)
        paths = paths[2:]
    records = [read_record(path) for path in paths]
    skipped = [r["skip"] for r in records if "skip" in r]
    if skipped:
        print("SKIPPED: " + "; ".join(skipped))
        sys.exit(SKIPPED)
    wait_for_queue()
    for record in records:
        check(record)


if __name__ == "__main__":
    main()
