#!/usr/bin/env python3
"""The bsbchart command as a user runs it, on the sample charts.

    command_test.py BSBCHART BSBCHART_SAMPLES VERSION [INTERRUPTING_WRITE]

INTERRUPTING_WRITE is the library tests/command_support/interrupting_write.cpp
builds, preloaded to interrupt the command in the middle of writing.
Fails when Pillow is missing: it is what reads the BMP files back.
"""
import fcntl
import json
import math
import os
import resource
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import unittest

try:
    from PIL import Image
except ImportError:
    print("Pillow is missing: apt-get install python3-pil")
    sys.exit(1)

COMMAND, GENERATOR, VERSION = sys.argv[1:4]
INTERRUPTING_WRITE = sys.argv[4] if len(sys.argv) > 4 else ""
del sys.argv[1:5]

# How the sample charts lie on the world (tools/samples/sample_charts.cpp).
WIDTH, HEIGHT = 720, 540
WEST, NORTH = -4.18, 50.37
LON_STEP, LAT_STEP = 0.00007, 0.000045
SKEW_RADIANS = 15.0 * 0.017453292522222223

# Colour indices of the samples and the colours they show as.
WHITE, BLACK, LAND, SHALLOW, MEDIUM, BUILT = 1, 2, 3, 4, 5, 12
COLOURS = {WHITE: (254, 254, 254), BLACK: (0, 0, 0), LAND: (250, 220, 144),
           SHALLOW: (154, 204, 236), MEDIUM: (200, 228, 246), BUILT: (212, 180, 110)}
# Chart pixels in the middle of wide areas of one colour on the upright charts.
KNOWN_PIXELS = {(60, 100): LAND, (230, 30): BUILT, (100, 300): SHALLOW,
                (420, 260): MEDIUM, (200, 500): WHITE, (3, 100): BLACK, (0, 0): WHITE}

USAGE_LINES = [
    "usage: bsbchart info CHART... [--json]",
    "       bsbchart window CHART --pixels LEFT,TOP,RIGHT,BOTTOM [-o OUT.bmp|-]",
    "       bsbchart window CHART --world WEST,NORTH,EAST,SOUTH [-o OUT.bmp|-]",
    "       bsbchart help [COMMAND] | --help | --version",
]
SCOPE = "bsbchart: Your requirement is beyond the scope of the image."

work = None
charts = None


def setUpModule():
    global work, charts
    work = tempfile.mkdtemp(prefix="bsbchart-command-")
    charts = os.path.join(work, "charts")
    subprocess.run([GENERATOR, charts], check=True, capture_output=True)


def tearDownModule():
    shutil.rmtree(work, ignore_errors=True)


def chart(name):
    return os.path.join(charts, name + ".kap")


def run(*args, **options):
    return subprocess.run([COMMAND, *args], capture_output=True, encoding="utf-8", **options)


def run_bytes(*args, **options):
    return subprocess.run([COMMAND, *args], capture_output=True, **options)


def fresh_dir():
    return tempfile.mkdtemp(dir=work)


def copy_chart(name, directory, as_name=None):
    target = os.path.join(directory, (as_name or name) + ".kap")
    shutil.copyfile(chart(name), target)
    return target


def upright_corner(col, row):
    return WEST + LON_STEP * col, NORTH - LAT_STEP * row


def skewed_corner(col, row):
    """The sheet turned by 15 degrees about its centre pixel (360, 270)."""
    c, s = math.cos(SKEW_RADIANS), math.sin(SKEW_RADIANS)
    lon_c, lat_c = WEST + 360 * LON_STEP, NORTH - 270 * LAT_STEP
    dc, dr = col - 360, row - 270
    return lon_c + LON_STEP * (c * dc + s * dr), lat_c - LAT_STEP * (-s * dc + c * dr)


def header_polynomial(path, key):
    """Coefficients of an order-1 record such as WPX/1,c0,c1,c2."""
    with open(path, "rb") as f:
        text = f.read().split(b"\0", 1)[0].decode("ascii")
    line = text[text.index(key):].split("\r\n", 1)[0]
    order, *coefficients = line[len(key):].split(",")
    assert order == "1"
    return [float(v) for v in coefficients]


def header_text(path):
    with open(path, "rb") as f:
        return f.read().split(b"\0", 1)[0].decode("ascii")


def header_field(header, record, field):
    """FIELD= of RECORD, its continuation lines included, as the header holds it."""
    lines = header.split("\r\n")
    start = next(i for i, line in enumerate(lines) if line.startswith(record))
    text = lines[start][len(record):]
    for line in lines[start + 1:]:
        if not line.startswith("    "):
            break
        text += "," + line.strip()
    for item in text.split(","):
        if item.startswith(field + "="):
            return item[len(field) + 1:]
    return None


def evaluate(p, x, y):
    return (p[1] * x + p[2] * y) + p[0]


def pixel_centre(col, row):
    """World coordinates of a pixel's centre on the upright charts."""
    return WEST + LON_STEP * (col + 0.5), NORTH - LAT_STEP * (row + 0.5)


def read_bmp(path):
    with open(path, "rb") as f:
        raw = f.read()
    image = Image.open(path)
    image.load()
    return raw, image


class InfoTest(unittest.TestCase):
    def info(self, name):
        text = run("info", chart(name))
        self.assertEqual((text.returncode, text.stderr), (0, ""))
        js = run("info", chart(name), "--json")
        self.assertEqual((js.returncode, js.stderr), (0, ""))
        return text.stdout, json.loads(js.stdout)

    def check_text_matches_json(self, text, data):
        lines = dict(line.split(":", 1) for line in text.splitlines())
        self.assertEqual(lines["size"].strip(), f"{data['width']} x {data['height']} pixels")
        world = [float(v) for v in lines["world"].split()[0].split(",")]
        centre = [float(v) for v in lines["centre"].split()[0].split(",")]
        w = data["world"]
        # Printed so that they read back as the very doubles the library gave.
        self.assertEqual(world, [w["west"], w["north"], w["east"], w["south"]])
        self.assertEqual(centre, [data["centre"]["x"], data["centre"]["y"]])
        self.assertEqual(data["centre"]["x"], (w["west"] + w["east"]) * 0.5)
        self.assertEqual(data["centre"]["y"], (w["north"] + w["south"]) * 0.5)

    def check_world(self, data, corners):
        lons = [lon for lon, _ in corners]
        lats = [lat for _, lat in corners]
        w = data["world"]
        for got, want in [(w["west"], min(lons)), (w["east"], max(lons)),
                          (w["north"], max(lats)), (w["south"], min(lats))]:
            self.assertAlmostEqual(got, want, places=9)

    def test_upright_charts(self):
        for name in ["harbour-4", "harbour-7"]:
            with self.subTest(name):
                text, data = self.info(name)
                self.assertEqual(text.splitlines()[:4], [
                    f"chart:   {chart(name)}",
                    "size:    720 x 540 pixels",
                    "pixels:  0,0,719,539 (left,top,right,bottom)",
                    "skewed:  no"])
                self.assertEqual(data["chart"], chart(name))
                self.assertEqual((data["width"], data["height"], data["skewed"]), (720, 540, False))
                self.assertEqual(data["pixels"], {"left": 0, "top": 0, "right": 719, "bottom": 539})
                self.check_world(data, [upright_corner(0, 0), upright_corner(719, 539)])
                self.check_text_matches_json(text, data)

    def test_skewed_charts(self):
        for name in ["harbour-skew-4", "harbour-skew-7"]:
            with self.subTest(name):
                text, data = self.info(name)
                self.assertIn("skewed:  yes", text)
                self.assertEqual((data["width"], data["height"], data["skewed"]), (720, 540, True))
                # The world rectangle bounds the four turned corners.
                self.check_world(data, [skewed_corner(c, r) for c, r in
                                        [(0, 0), (719, 0), (719, 539), (0, 539)]])
                self.check_text_matches_json(text, data)

    def test_chart_without_georeference(self):
        # Same-length edit of the header: the file's layout stays intact.
        directory = fresh_dir()
        path = os.path.join(directory, "raster-only.kap")
        with open(chart("harbour-4"), "rb") as f:
            data = f.read()
        with open(path, "wb") as f:
            f.write(data.replace(b"PWX/", b"PWQ/", 1))
        for args, want in [((), "world:   not available"), (("--json",), '"world": null')]:
            with self.subTest(args):
                result = run("info", path, *args)
                self.assertEqual(result.returncode, 1)
                # The library's message, and which record the handle found missing.
                self.assertEqual(result.stderr, "bsbchart: Error reading geographic parameters. "
                                                "(record PWX/ missing or unreadable)\n")
                self.assertIn(want, result.stdout)
                self.assertIn("720", result.stdout)


    def test_header_metadata(self):
        keys = ["RGB", "DAY", "DSK", "NGT", "NGR", "GRY", "PRC", "PRG"]
        for name, bpp in [("harbour-4", 4), ("harbour-7", 8), ("harbour-skew-4", 4), ("harbour-skew-7", 8)]:
            with self.subTest(name):
                header = header_text(chart(name))
                # The header's own records, read here independently.
                want = {"name": header_field(header, "BSB/", "NA"), "scale": header_field(header, "KNP/", "SC"),
                        "datum": header_field(header, "KNP/", "GD"), "projection": header_field(header, "KNP/", "PR"),
                        "units": header_field(header, "KNP/", "UN")}
                palettes = [key for key in keys if f"\n{key}/" in "\n" + header.replace("\r\n", "\n")]
                text, data = self.info(name)
                self.assertEqual({key: data[key] for key in want}, want)
                self.assertEqual((data["bits_per_pixel"], data["palettes"]), (bpp, palettes))
                self.assertEqual(text.splitlines()[6:], [
                    f"bits:    {bpp} per pixel",
                    "palettes: " + ", ".join(palettes),
                    f"name:    {want['name']}",
                    f"scale:   1:{want['scale']}",
                    f"datum:   {want['datum']}",
                    f"projection: {want['projection']}",
                    f"units:   {want['units']}"])
        # What the samples carry, so that the reading above cannot come up empty.
        self.assertEqual(self.info("harbour-4")[1]["palettes"], ["RGB", "DAY", "DSK", "NGT"])
        self.assertEqual(self.info("harbour-7")[1]["name"], "PORT CARREG HARBOUR")

    def test_fields_the_header_lacks(self):
        # Same-length edits: the record keys are renamed away.
        directory = fresh_dir()
        path = os.path.join(directory, "plain.kap")
        data = read(chart("harbour-7"))
        for old, new in [(b",GD=", b",GX="), (b"KNP/SC=", b"KNP/SX="), (b"NA=", b"NX=")]:
            self.assertIn(old, data)
            data = data.replace(old, new, 1)
        with open(path, "wb") as f:
            f.write(data)
        result = run("info", path, "--json")
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        fields = json.loads(result.stdout)
        self.assertEqual((fields["name"], fields["scale"], fields["datum"], fields["projection"]),
                         (None, None, None, "MERCATOR"))
        text = run("info", path).stdout.splitlines()
        for line in ["name:    not given", "scale:   not given", "datum:   not given"]:
            self.assertIn(line, text)

    def test_several_charts(self):
        names = ["harbour-4", "harbour-skew-7", "harbour-7"]
        alone = {name: (run("info", chart(name)).stdout, run("info", chart(name), "--json").stdout)
                 for name in names}
        text = run("info", *[chart(name) for name in names])
        self.assertEqual((text.returncode, text.stderr), (0, ""))
        # Blocks in the order given, a blank line between them.
        self.assertEqual(text.stdout, "\n".join(alone[name][0] for name in names))
        js = run("info", "--json", *[chart(name) for name in names])
        self.assertEqual((js.returncode, js.stderr), (0, ""))
        # One object per line.
        self.assertEqual(js.stdout, "".join(alone[name][1] for name in names))
        self.assertEqual([json.loads(line)["chart"] for line in js.stdout.splitlines()],
                         [chart(name) for name in names])

    def test_a_missing_chart_among_several(self):
        missing = os.path.join(fresh_dir(), "missing.kap")
        for args, separator in [((), "\n"), (("--json",), "")]:
            with self.subTest(args):
                result = run("info", chart("harbour-4"), missing, chart("harbour-7"), *args)
                # The others are still shown; the status tells one failed.
                self.assertEqual(result.returncode, 1)
                self.assertEqual(result.stderr, f"bsbchart: Cannot open file: {missing}. (no such file)\n")
                self.assertEqual(result.stdout, separator.join(run("info", chart(name), *args).stdout
                                                               for name in ["harbour-4", "harbour-7"]))


class WindowTest(unittest.TestCase):
    def window(self, *args):
        result = run("window", *args)
        self.assertEqual((result.returncode, result.stderr), (0, ""), result)
        path = result.stdout.rsplit(": ", 1)[0]
        return result.stdout, path

    def check_bmp(self, path, size, bpp):
        raw, image = read_bmp(path)
        table = 4 << bpp
        self.assertEqual(raw[:2], b"BM")
        self.assertEqual(int.from_bytes(raw[2:6], "little"), len(raw))
        self.assertEqual(int.from_bytes(raw[10:14], "little"), 14 + 40 + table)
        # The library's bitmap follows as it came: top-down, uncompressed.
        self.assertEqual(int.from_bytes(raw[14:18], "little"), 40)
        self.assertEqual(int.from_bytes(raw[22:26], "little", signed=True), -size[1])
        self.assertEqual(int.from_bytes(raw[28:30], "little"), bpp)
        stride = (bpp * size[0] + 31) // 32 * 4
        self.assertEqual(len(raw), 14 + 40 + table + stride * size[1])
        self.assertEqual((image.size, image.mode), (size, "P"))
        palette = image.getpalette()
        for index, rgb in COLOURS.items():
            self.assertEqual(tuple(palette[3 * index:3 * index + 3]), rgb, index)
        return image

    def test_png_output_shows_the_same_pixels_as_the_bmp(self):
        for name, window in [("harbour-4", ("--pixels", "40,180,599,539")),
                             ("harbour-7", ("--pixels", "3,5,200,99")),
                             ("harbour-skew-4", ("--world", "-4.170,50.3658,-4.139,50.3499"))]:
            with self.subTest(name):
                directory = fresh_dir()
                bmp = os.path.join(directory, "w.bmp")
                png = os.path.join(directory, "w.PNG")
                self.window(chart(name), *window, "-o", bmp)
                out, path = self.window(chart(name), *window, "-o", png)
                self.assertEqual(path, png)
                with open(png, "rb") as f:
                    self.assertEqual(f.read(8), b"\x89PNG\r\n\x1a\n")
                as_bmp, as_png = Image.open(bmp), Image.open(png)
                self.assertEqual(as_png.size, as_bmp.size)
                self.assertEqual(list(as_png.convert("RGB").getdata()),
                                 list(as_bmp.convert("RGB").getdata()))

    def full_chart(self, name):
        directory = fresh_dir()
        out = os.path.join(directory, "full.bmp")
        self.window(chart(name), "--pixels", "0,0,719,539", "-o", out)
        return Image.open(out).load()

    def test_pixel_window_next_to_the_chart(self):
        for name, bpp in [("harbour-4", 4), ("harbour-7", 8)]:
            with self.subTest(name):
                directory = fresh_dir()
                source = copy_chart(name, directory)
                stdout, path = self.window(source, "--pixels", "50,100,249,199")
                expected = os.path.join(directory, name + ".px-50-100-249-199.bmp")
                self.assertEqual(stdout, f"{expected}: 200 x 100 pixels, {bpp} bits per pixel\n")
                self.assertEqual(sorted(os.listdir(directory)),
                                 sorted([name + ".kap", os.path.basename(expected)]))
                image = self.check_bmp(expected, (200, 100), bpp).load()
                for (x, y), index in KNOWN_PIXELS.items():
                    if 50 <= x <= 249 and 100 <= y <= 199:
                        self.assertEqual(image[x - 50, y - 100], index, (x, y))

    def test_known_pixels_of_the_whole_chart_at_both_depths(self):
        four, seven = self.full_chart("harbour-4"), self.full_chart("harbour-7")
        for (x, y), index in KNOWN_PIXELS.items():
            self.assertEqual((four[x, y], seven[x, y]), (index, index), (x, y))
        differing = [(x, y) for y in range(0, HEIGHT, 7) for x in range(0, WIDTH, 5)
                     if four[x, y] != seven[x, y]]
        self.assertEqual(differing, [])

    def test_world_window_of_an_upright_chart_is_its_pixel_window(self):
        full = self.full_chart("harbour-4")
        directory = fresh_dir()
        source = copy_chart("harbour-4", directory)
        west, north = pixel_centre(100, 60)
        east, south = pixel_centre(339, 259)
        rect = f"{west!r},{north!r},{east!r},{south!r}"
        stdout, path = self.window(source, "--world", rect)
        name = (f"harbour-4.world-{-west!r}W-{north!r}N-{-east!r}W-{south!r}N.bmp")
        self.assertEqual(path, os.path.join(directory, name))
        self.assertTrue(stdout.endswith(": 240 x 200 pixels, 4 bits per pixel\n"), stdout)
        image = self.check_bmp(path, (240, 200), 4).load()
        wrong = [(i, j) for j in range(200) for i in range(240) if image[i, j] != full[100 + i, 60 + j]]
        self.assertEqual(wrong, [])

    def test_world_window_of_a_skewed_chart_comes_back_upright(self):
        # The harbour entrance, well inside the turned sheet.
        rect = (-4.170, 50.3658, -4.139, 50.3499)
        arg = ",".join(repr(v) for v in rect)
        directory = fresh_dir()
        upright_out = os.path.join(directory, "upright.bmp")
        self.window(chart("harbour-4"), "--world", arg, "-o", upright_out)
        upright = Image.open(upright_out)
        for name, bpp in [("harbour-skew-4", 4), ("harbour-skew-7", 8)]:
            with self.subTest(name):
                out = os.path.join(directory, name + ".bmp")
                self.window(chart(name), "--world", arg, "-o", out)
                wpx = header_polynomial(chart(name), "WPX/")
                wpy = header_polynomial(chart(name), "WPY/")
                corners = [(rect[0], rect[1]), (rect[2], rect[1]), (rect[0], rect[3])]
                px = [evaluate(wpx, x, y) for x, y in corners]
                py = [evaluate(wpy, x, y) for x, y in corners]
                w = int(math.hypot(px[1] - px[0], py[1] - py[0]) + 1.5)
                h = int(math.hypot(px[2] - px[0], py[2] - py[0]) + 1.5)
                image = self.check_bmp(out, (w, h), bpp)
                # Each output pixel is the chart pixel one turned step on.
                chart_pixels = self.full_chart(name)
                pixels = image.load()
                c, s = math.cos(SKEW_RADIANS), math.sin(SKEW_RADIANS)
                x0, y0 = int(px[0]), int(py[0])
                for j in range(0, h, 11):
                    for i in range(0, w, 13):
                        x = int(c * i + (x0 - s * j))
                        y = int(s * i + (c * j + y0))
                        self.assertEqual(pixels[i, j], chart_pixels[x, y], (i, j))
                # And it shows the ground the upright chart shows there.
                size = (min(w, upright.size[0]), min(h, upright.size[1]))
                same = sum(1 for j in range(size[1]) for i in range(size[0])
                           if pixels[i, j] == upright.getpixel((i, j)))
                self.assertGreater(same / (size[0] * size[1]), 0.85)

    def test_non_ascii_chart_name(self):
        directory = fresh_dir()
        source = copy_chart("harbour-skew-4", directory, "Hafen Ærø 港")
        info = run("info", source, "--json")
        self.assertEqual((info.returncode, info.stderr), (0, ""))
        self.assertEqual(json.loads(info.stdout)["chart"], source)
        stdout, path = self.window(source, "--pixels", "0,0,99,49")
        self.assertEqual(path, os.path.join(directory, "Hafen Ærø 港.px-0-0-99-49.bmp"))
        self.check_bmp(path, (100, 50), 4)
        missing = os.path.join(directory, "Kein Hafen ß.kap")
        result = run("info", missing)
        self.assertEqual(result.stderr, f"bsbchart: Cannot open file: {missing}. (no such file)\n")

    def test_chart_name_that_is_not_utf8(self):
        # A valid Linux name: its bytes reach the handle interface as they are.
        directory = fresh_dir()
        utf8 = copy_chart("harbour-skew-4", directory, "utf8")
        name = os.path.join(os.fsencode(directory), b"Hafen \xe6r\xf8")  # Latin-1 "Ærø"
        shutil.copyfile(utf8, name + b".kap")
        info = run_bytes("info", name + b".kap", "--json")
        self.assertEqual((info.returncode, info.stderr), (0, b""))
        data, reference = json.loads(info.stdout), json.loads(run("info", utf8, "--json").stdout)
        # JSON stays UTF-8: the bytes that are not show as U+FFFD.
        self.assertEqual(data.pop("chart"), name.decode("utf-8", "replace") + ".kap")
        reference.pop("chart")
        self.assertEqual(data, reference)
        text = run_bytes("info", name + b".kap")
        self.assertEqual((text.returncode, text.stderr), (0, b""))
        self.assertEqual(text.stdout.splitlines()[0], b"chart:   " + name + b".kap")
        self.assertEqual(text.stdout.splitlines()[1:], run("info", utf8).stdout.encode().splitlines()[1:])
        # Windows hold the bytes the four calls give for the same chart.
        for args, suffix in [(["--pixels", "10,20,299,199"], b".px-10-20-299-199.bmp"),
                             (["--world", "-4.170,50.3658,-4.139,50.3499"],
                              b".world-4.17W-50.3658N-4.139W-50.3499N.bmp")]:
            with self.subTest(args=args):
                result = run_bytes("window", name + b".kap", *args)
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                self.assertTrue(result.stdout.startswith(name + suffix + b": "), result.stdout)
                reference = run_bytes("window", utf8, *args, "-o", "-").stdout
                self.assertEqual(read(name + suffix), reference)
        for args, message in [
                (["window", name + b".kap", "--pixels", "0,0,0,0"], b"bsbchart: window outside the chart\n"),
                (["info", name + b"-missing.kap"], b"bsbchart: no such file: " + name + b"-missing.kap\n")]:
            with self.subTest(args=args):
                result = run_bytes(*args)
                self.assertEqual((result.returncode, result.stdout, result.stderr), (1, b"", message))

    def test_world_window_touching_a_skewed_chart(self):
        # Inside the box around the turned sheet but off the sheet itself:
        # its north-west corner of the box is open sea beyond the chart.
        wpx = header_polynomial(chart("harbour-skew-4"), "WPX/")
        wpy = header_polynomial(chart("harbour-skew-4"), "WPY/")
        box = json.loads(run("info", chart("harbour-skew-4"), "--json").stdout)["world"]
        off = (box["west"], box["north"], box["west"] + 0.003, box["north"] - 0.002)
        corners = [(off[0], off[1]), (off[2], off[1]), (off[2], off[3]), (off[0], off[3])]
        rows = [evaluate(wpy, x, y) for x, y in corners]
        self.assertTrue(all(row < 0 for row in rows), rows)  # above the sheet's top row
        # Overlapping the sheet's west corner: kept.
        columns = [evaluate(wpx, x, y) for x, y in corners]
        self.assertTrue(all(column < 720 for column in columns))
        edge = (box["west"] - 0.002, 50.3600, box["west"] + 0.004, 50.3550)
        directory = fresh_dir()
        for rect, status in [(off, 1), (edge, 0)]:
            with self.subTest(rect=rect):
                out = os.path.join(directory, "out.bmp")
                result = run("window", chart("harbour-skew-4"), "--world", ",".join(repr(v) for v in rect),
                             "-o", out)
                self.assertEqual(result.returncode, status, result)
                self.assertEqual(os.path.exists(out), status == 0)
                if status:
                    self.assertEqual(result.stderr, "bsbchart: the window lies outside the chart\n")

    def test_output_replaces_an_existing_file(self):
        directory = fresh_dir()
        out = os.path.join(directory, "out.bmp")
        with open(out, "wb") as f:
            f.write(b"old")
        self.window(chart("harbour-4"), "--pixels", "0,0,9,9", "-o", out)
        self.check_bmp(out, (10, 10), 4)
        self.assertEqual(os.listdir(directory), ["out.bmp"])


def read(path):
    with open(path, "rb") as f:
        return f.read()


class OutputTest(unittest.TestCase):
    """Where the command writes, and that a failed or interrupted write leaves nothing."""

    WINDOW = ["--pixels", "0,0,719,539"]

    def reference(self, name="harbour-4"):
        out = os.path.join(fresh_dir(), "reference.bmp")
        result = run("window", chart(name), *self.WINDOW, "-o", out)
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        return read(out)

    def test_standard_output(self):
        for name in ["harbour-4", "harbour-skew-7"]:
            with self.subTest(name):
                directory = fresh_dir()
                result = run_bytes("window", chart(name), *self.WINDOW, "-o", "-", cwd=directory)
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                # The same bytes the file would hold, and no file named "-".
                self.assertEqual(result.stdout, self.reference(name))
                self.assertEqual(os.listdir(directory), [])
        world = run_bytes("window", chart("harbour-skew-4"), "--world", "-4.170,50.3658,-4.139,50.3499",
                          "--output=-")
        self.assertEqual((world.returncode, world.stderr, world.stdout[:2]), (0, b"", b"BM"))

    def test_full_standard_output_is_an_error(self):
        c = chart("harbour-4")
        full = "bsbchart: cannot write standard output: No space left on device\n"
        cases = [["info", c], ["info", "--json", c, chart("harbour-7")], ["--help"], ["--version"],
                 ["help", "window"], ["window", c, "--pixels", "0,0,9,9", "-o", "-"]]
        before = sorted(os.listdir(charts))
        for args in cases:
            with self.subTest(args=args):
                with open("/dev/full", "w") as stdout:
                    result = subprocess.run([COMMAND, *args], stdout=stdout, stderr=subprocess.PIPE,
                                            encoding="utf-8")
                self.assertEqual((result.returncode, result.stderr), (1, full))
        self.assertEqual(sorted(os.listdir(charts)), before)

    def test_never_over_the_chart_being_read(self):
        directory = fresh_dir()
        source = copy_chart("harbour-4", directory)
        original = read(source)
        hard_link = os.path.join(directory, "same.bmp")
        os.link(source, hard_link)
        symbolic = os.path.join(directory, "link.bmp")
        os.symlink(source, symbolic)
        relative = os.path.join(directory, ".", "harbour-4.kap")
        for output in [source, hard_link, symbolic, relative]:
            with self.subTest(output=output):
                result = run("window", source, *self.WINDOW, "-o", output)
                self.assertEqual((result.returncode, result.stdout), (1, ""))
                self.assertEqual(result.stderr, f"bsbchart: cannot write {output}: it is the chart being read\n")
        # Standard output opened on the chart itself (appending, so that the
        # shell's redirection has not emptied it).
        with open(source, "ab") as stdout:
            result = subprocess.run([COMMAND, "window", source, *self.WINDOW, "-o", "-"], stdout=stdout,
                                    stderr=subprocess.PIPE, encoding="utf-8")
        self.assertEqual((result.returncode, result.stderr),
                         (1, "bsbchart: cannot write standard output: it is the chart being read\n"))
        self.assertEqual(read(source), original)
        self.assertEqual(sorted(os.listdir(directory)), ["harbour-4.kap", "link.bmp", "same.bmp"])

    def test_file_size_limit_is_a_write_error(self):
        directory = fresh_dir()
        out = os.path.join(directory, "out.bmp")
        existing = os.path.join(directory, "kept.bmp")
        with open(existing, "wb") as f:
            f.write(b"kept")

        def limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
        for target in [out, existing]:
            with self.subTest(target=target):
                # Without SIGXFSZ ignored the command would die by it, its
                # temporary file left behind.
                result = run("window", chart("harbour-4"), *self.WINDOW, "-o", target, preexec_fn=limit)
                self.assertEqual((result.returncode, result.stdout), (1, ""))
                self.assertEqual(result.stderr, f"bsbchart: cannot write {target}: File too large\n")
                self.assertEqual(os.listdir(directory), ["kept.bmp"])
                self.assertEqual(read(existing), b"kept")

    @unittest.skipUnless(INTERRUPTING_WRITE, "needs the preloaded interrupting write")
    def test_interrupted_write_leaves_nothing(self):
        directory = fresh_dir()
        existing = os.path.join(directory, "kept.bmp")
        with open(existing, "wb") as f:
            f.write(b"kept")
        out = os.path.join(directory, "out.bmp")
        environment = dict(os.environ, LD_PRELOAD=INTERRUPTING_WRITE)
        # A sanitizer runtime would otherwise insist on coming first.
        environment["ASAN_OPTIONS"] = (environment.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0").lstrip(":")
        for number in [signal.SIGINT, signal.SIGTERM, signal.SIGHUP]:
            for target in [out, existing]:
                with self.subTest(signal=number.name, target=target):
                    environment["BSBCHART_TEST_SIGNAL"] = str(int(number))
                    result = run("window", chart("harbour-7"), *self.WINDOW, "-o", target, env=environment)
                    self.assertEqual((result.returncode, result.stdout), (1, ""))
                    self.assertEqual(result.stderr, f"bsbchart: cannot write {target}: interrupted\n")
                    self.assertEqual(os.listdir(directory), ["kept.bmp"])
                    self.assertEqual(read(existing), b"kept")
        # The same preloaded write lets an uninterrupted run through.
        del environment["BSBCHART_TEST_SIGNAL"]
        result = run("window", chart("harbour-7"), *self.WINDOW, "-o", out, env=environment)
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        self.assertEqual(read(out), self.reference("harbour-7"))

    def test_planted_link_at_the_old_temporary_name(self):
        # The name the command once wrote to, .NAME.part-PID, planted as a
        # symbolic link to another user's file before the command starts
        # (exec keeps the shell's process id).
        directory = fresh_dir()
        victim = os.path.join(fresh_dir(), "victim.txt")
        with open(victim, "wb") as f:
            f.write(b"not yours")
        out = os.path.join(directory, "out.bmp")
        script = 'ln -s "$1" "$2/.out.bmp.part-$$" && shift 2 && exec "$@"'
        result = subprocess.run(["sh", "-c", script, "sh", victim, directory, COMMAND, "window",
                                 chart("harbour-4"), *self.WINDOW, "-o", out],
                                capture_output=True, encoding="utf-8")
        self.assertEqual((result.returncode, result.stderr), (0, ""), result)
        self.assertEqual(read(victim), b"not yours")
        self.assertFalse(os.path.islink(out))
        self.assertEqual(read(out), self.reference())
        planted = [name for name in os.listdir(directory) if name != "out.bmp"]
        self.assertEqual(len(planted), 1)
        self.assertTrue(os.path.islink(os.path.join(directory, planted[0])))

    def test_output_permissions_follow_the_umask(self):
        directory = fresh_dir()
        for mask, mode in [(0o022, 0o644), (0o077, 0o600), (0o002, 0o664)]:
            with self.subTest(umask=oct(mask)):
                out = os.path.join(directory, f"out-{mask:o}.bmp")
                result = run("window", chart("harbour-4"), "--pixels", "0,0,9,9", "-o", out,
                             preexec_fn=lambda: os.umask(mask))
                self.assertEqual((result.returncode, result.stderr), (0, ""))
                self.assertEqual(stat.S_IMODE(os.stat(out).st_mode), mode)


class ErrorTest(unittest.TestCase):
    def test_help_and_version(self):
        result = run("--help")
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        self.assertEqual(result.stdout.splitlines()[:4], USAGE_LINES)
        result = run("--version")
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, f"bsbchart {VERSION}\n", ""))

    def test_help_of_each_command(self):
        c = chart("harbour-4")
        general = run("--help").stdout
        info = run("help", "info").stdout
        window = run("help", "window").stdout
        self.assertEqual(info.splitlines()[0], "usage: bsbchart info CHART... [--json]")
        self.assertEqual(window.splitlines()[:2], ["usage: " + USAGE_LINES[1].strip(), USAGE_LINES[2]])
        self.assertNotEqual(info, window)
        # Pixel windows are at least 2 x 2; a world window may be one pixel.
        self.assertIn("at least 2 x 2 pixels", window)
        self.assertIn("as small as one pixel", window)
        self.assertIn("- writes it to standard output", window)
        self.assertIn("--json", info)
        cases = [
            (["help"], general),
            (["-h"], general),
            (["info", "--help"], info),
            (["info", "-h"], info),
            (["info", c, "--json", "--help"], info),
            (["window", "--help"], window),
            # Asking for help wins over what else is wrong on the line.
            (["window", c, "--pixels", "1,2,x", "--help"], window),
            (["window", "-h", "--frob"], window),
            (["help", "help"], run("help", "help").stdout),
        ]
        for args, want in cases:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual((result.returncode, result.stdout, result.stderr), (0, want, ""))
        self.assertTrue(run("help", "help").stdout.startswith("usage: bsbchart help [COMMAND]\n"))
        # After "--" a "--help" is a chart's name.
        result = run("info", "--", "--help")
        self.assertEqual((result.returncode, result.stderr), (1, "bsbchart: Cannot open file: --help. (no such file)\n"))

    def test_usage_errors(self):
        c = chart("harbour-4")
        cases = [
            ([], "no command given"),
            (["chart"], 'unknown command "chart"'),
            (["--frob"], 'unknown option "--frob"'),
            (["--version", "x"], 'unexpected argument "x"'),
            (["info"], "info needs a CHART file"),
            (["help", "frob"], 'unknown command "frob"'),
            (["help", "info", "window"], 'unexpected argument "window"'),
            (["info", c, "--json=yes"], 'unknown option "--json=yes" for info'),
            (["window", c, c, "--pixels", "0,0,9,9"], f'unexpected argument "{c}"'),
            (["info", c, "--pixels", "0,0,9,9"], 'unknown option "--pixels" for info'),
            (["window", c], "window needs --pixels or --world"),
            (["window", c, "--json", "--pixels", "0,0,9,9"], 'unknown option "--json" for window'),
            (["window", c, "--pixels"], "--pixels needs a value"),
            (["window", c, "--pixels", "1,2,x"], 'takes four integers LEFT,TOP,RIGHT,BOTTOM, not "1,2,x"'),
            (["window", c, "--pixels", "1,2,x,4"], '--pixels: "x" is not an integer'),
            (["window", c, "--pixels", "1,2,3.5,4"], '--pixels: "3.5" is not an integer'),
            (["window", c, "--pixels", "1,,3,4"], '--pixels: "" is not an integer'),
            (["window", c, "--pixels", "0,0,9,4294967296"], "--pixels: 4294967296 is out of range"),
            (["window", c, "--world", "-4.17,50.36,-4.15"], "takes four numbers WEST,NORTH,EAST,SOUTH"),
            (["window", c, "--world", "-4.17,north,-4.15,50.35"], '--world: "north" is not a number'),
            (["window", c, "--world", "-4.17,nan,-4.15,50.35"], '--world: "nan" is not a number'),
            (["window", c, "--world", "-4.15,50.36,-4.17,50.35"], "WEST -4.15 lies east of EAST -4.17"),
            (["window", c, "--world", "-4.17,50.35,-4.15,50.36"], "SOUTH 50.36 lies north of NORTH 50.35"),
            (["window", c, "--pixels", "0,0,9,9", "--world", "-4.17,50.36,-4.15,50.35"],
             "give one of --pixels and --world"),
            (["window", c, "--pixels", "0,0,9,9", "-o"], "-o needs a value"),
            (["window", c, "--pixels", "0,0,9,9", "-o", "a.bmp", "-o", "b.bmp"], "-o given twice"),
        ]
        before = sorted(os.listdir(charts))
        for args, message in cases:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual((result.returncode, result.stdout), (2, ""))
                lines = result.stderr.splitlines()
                self.assertEqual(len(lines), 2, result.stderr)
                self.assertTrue(lines[0].startswith("bsbchart: "), lines[0])
                self.assertIn(message, lines[0])
                self.assertTrue(lines[1].startswith("usage: bsbchart "), lines[1])
        self.assertEqual(sorted(os.listdir(charts)), before)

    def test_open_failures_give_the_reason(self):
        directory = fresh_dir()
        source = copy_chart("harbour-4", directory)
        empty = os.path.join(directory, "empty.kap")
        open(empty, "wb").close()
        missing = os.path.join(directory, "missing.kap")

        def held(lock):
            """A reader of the chart in another process holding it."""
            holder = open(source, "rb")
            fcntl.flock(holder, lock)
            return holder
        cases = [
            (missing, None, f"Cannot open file: {missing}. (no such file)"),
            (directory, None, f"Cannot open file: {directory}. (not a regular file)"),
            (empty, None, "Error reading header. (header missing or truncated)"),
            (source, fcntl.LOCK_EX, f"Cannot open file: {source}. (chart in use)"),
            # A handle's shared lock lets other handles in but no exclusive call.
            (source, fcntl.LOCK_SH, f"Cannot open file: {source}. (chart in use)"),
        ]
        for path, lock, message in cases:
            for args in [["info", path], ["window", path, "--pixels", "0,0,9,9", "-o", "-"]]:
                with self.subTest(args=args, lock=lock):
                    holder = held(lock) if lock else None
                    try:
                        result = run(*args)
                    finally:
                        if holder:
                            holder.close()
                    self.assertEqual((result.returncode, result.stdout, result.stderr),
                                     (1, "", f"bsbchart: {message}\n"))
        # Each chart's own message names it when info shows several.
        result = run("info", source, empty, missing)
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stderr.splitlines(), [
            f"bsbchart: {empty}: Error reading header. (header missing or truncated)",
            f"bsbchart: Cannot open file: {missing}. (no such file)"])

    def test_failures_leave_no_file(self):
        directory = fresh_dir()
        source = copy_chart("harbour-4", directory)
        skewed = copy_chart("harbour-skew-4", directory)
        missing = os.path.join(directory, "missing.kap")
        blocker = os.path.join(directory, "not-a-directory")
        with open(blocker, "w") as f:
            f.write("a file")
        existing = os.path.join(directory, "keep.bmp")
        with open(existing, "wb") as f:
            f.write(b"kept")
        east_of_chart = "-4.10,50.36,-4.09,50.35"
        cases = [
            (["info", missing], f"bsbchart: Cannot open file: {missing}."),
            (["window", missing, "--pixels", "0,0,9,9"], f"bsbchart: Cannot open file: {missing}."),
            (["window", source, "--pixels", "0,0,720,539"], SCOPE),
            (["window", source, "--pixels", "5,5,5,9"], SCOPE),
            (["window", source, "--pixels", "-1,0,9,9"], SCOPE),
            (["window", source, "--pixels", "0,0,720,539", "-o", existing], SCOPE),
            (["window", source, "--world", east_of_chart], SCOPE),
            # A skewed chart would give a bitmap of one colour (158 MB here).
            (["window", skewed, "--world", "10,10,11,9"], "bsbchart: the window lies outside the chart\n"),
            (["window", skewed, "--world", "-4.30,50.40,-4.20,50.38"],
             "bsbchart: the window lies outside the chart\n"),
            (["window", source, "--pixels", "0,0,9,9", "-o", os.path.join(blocker, "out.bmp")],
             f"bsbchart: cannot write {os.path.join(blocker, 'out.bmp')}: "),
            (["window", source, "--pixels", "0,0,9,9", "-o", os.path.join(directory, "no", "out.bmp")],
             f"bsbchart: cannot write {os.path.join(directory, 'no', 'out.bmp')}: "),
        ]
        before = sorted(os.listdir(directory))
        for args, message in cases:
            with self.subTest(args=args):
                result = run(*args)
                self.assertEqual((result.returncode, result.stdout), (1, ""))
                self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
                self.assertTrue(result.stderr.startswith(message), result.stderr)
                self.assertEqual(sorted(os.listdir(directory)), before)
        with open(existing, "rb") as f:
            self.assertEqual(f.read(), b"kept")


if __name__ == "__main__":
    unittest.main(verbosity=1)
