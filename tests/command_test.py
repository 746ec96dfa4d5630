#!/usr/bin/env python3
"""The bsbchart command as a user runs it, on the sample charts.

    command_test.py BSBCHART BSBCHART_SAMPLES VERSION

Exits 77 (skipped) when Pillow is missing.
"""
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

try:
    from PIL import Image
except ImportError:
    print("Pillow is missing: skipped")
    sys.exit(77)

COMMAND, GENERATOR, VERSION = sys.argv[1:4]
del sys.argv[1:4]

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
    "usage: bsbchart info CHART [--json]",
    "       bsbchart window CHART --pixels LEFT,TOP,RIGHT,BOTTOM [-o OUT.bmp]",
    "       bsbchart window CHART --world WEST,NORTH,EAST,SOUTH [-o OUT.bmp]",
    "       bsbchart --help | --version",
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


def run(*args):
    return subprocess.run([COMMAND, *args], capture_output=True, encoding="utf-8")


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
                self.assertEqual(result.stderr, "bsbchart: Error reading geographic parameters.\n")
                self.assertIn(want, result.stdout)
                self.assertIn("720", result.stdout)


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
        self.assertEqual(result.stderr, f"bsbchart: Cannot open file: {missing}.\n")

    def test_output_replaces_an_existing_file(self):
        directory = fresh_dir()
        out = os.path.join(directory, "out.bmp")
        with open(out, "wb") as f:
            f.write(b"old")
        self.window(chart("harbour-4"), "--pixels", "0,0,9,9", "-o", out)
        self.check_bmp(out, (10, 10), 4)
        self.assertEqual(os.listdir(directory), ["out.bmp"])


class ErrorTest(unittest.TestCase):
    def test_help_and_version(self):
        result = run("--help")
        self.assertEqual((result.returncode, result.stderr), (0, ""))
        self.assertEqual(result.stdout.splitlines()[:4], USAGE_LINES)
        result = run("--version")
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, f"bsbchart {VERSION}\n", ""))

    def test_usage_errors(self):
        c = chart("harbour-4")
        cases = [
            ([], "no command given"),
            (["chart"], 'unknown command "chart"'),
            (["--frob"], 'unknown option "--frob"'),
            (["--version", "x"], 'unexpected argument "x"'),
            (["info"], "info needs a CHART file"),
            (["info", c, c], f'unexpected argument "{c}"'),
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

    def test_failures_leave_no_file(self):
        directory = fresh_dir()
        source = copy_chart("harbour-4", directory)
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
