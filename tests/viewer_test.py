#!/usr/bin/env python3
"""bsbchart serve in a real browser: headless Chromium driven by Selenium,
on the sample charts, with what the page shows held against what the
library itself gives for the same place (viewer_reference).

    viewer_test.py BSBCHART BSBCHART_SAMPLES VIEWER_REFERENCE

Fails, with the packages to install, when the browser, its driver, Selenium
or Pillow is missing.
"""
import http.client
import io
import json
import os
import queue
import re
import shutil
import signal
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.error
import urllib.request

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
INSTALL = "apt-get install chromium chromium-driver python3-selenium python3-pil"

missing = [path for path in (CHROMIUM, CHROMEDRIVER) if not os.access(path, os.X_OK)]
try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.actions.action_builder import ActionBuilder
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import Select
except ImportError:
    missing.append("the Python module selenium")
try:
    from PIL import Image
except ImportError:
    missing.append("the Python module PIL")
if missing:
    print("viewer test: missing " + ", ".join(missing) + "; install them with: " + INSTALL)
    sys.exit(1)

COMMAND, GENERATOR, REFERENCE = sys.argv[1:4]
del sys.argv[1:4]

# Flags of the library's window calls, and its palettes.
DOUBLED, AREA_AVERAGE = 1, 2
RGB, NIGHT = 0, 3
# The broken chart's row that does not decode.
BROKEN_ROW = 300
WINDOW = (900, 700)

work = charts = server = driver = base = None


def chart(name):
    return os.path.join(charts, name + ".kap")


def start_server(*args):
    """Starts bsbchart serve and returns (process, base URL) once it listens."""
    process = subprocess.Popen([COMMAND, "serve", *args], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                               encoding="utf-8")
    lines = queue.Queue()
    reader = threading.Thread(target=lambda: [lines.put(line) for line in process.stdout], daemon=True)
    reader.start()
    try:
        first = lines.get(timeout=20)
    except queue.Empty:
        process.kill()
        raise AssertionError("bsbchart serve printed no address")
    match = re.match(r"Serving \d+ charts? at (http://127\.0\.0\.1:\d+)/\n", first)
    if not match:
        process.kill()
        raise AssertionError("unexpected first line: %r, stderr %r" % (first, process.stderr.read()))
    process.lines, process.reader = lines, reader
    return process, match.group(1)


def stop_server(process):
    process.send_signal(signal.SIGINT)
    try:
        status = process.wait(timeout=20)
    except subprocess.TimeoutExpired:
        process.kill()
        raise
    process.reader.join(timeout=20)
    rest = []
    while not process.lines.empty():
        rest.append(process.lines.get())
    err = process.stderr.read()
    process.stdout.close()
    process.stderr.close()
    return status, "".join(rest), err


def break_row(source, target, row):
    """Copies a chart with the runs of one row (0-based) made undecodable."""
    data = bytearray(open(source, "rb").read())
    index = struct.unpack(">I", data[-4:])[0]
    start, end = struct.unpack(">II", data[index + 4 * row:index + 4 * row + 8])
    at = start
    while data[at] & 0x80:  # the row number
        at += 1
    data[at + 1:end - 1] = b"\xff" * (end - 1 - (at + 1))
    open(target, "wb").write(bytes(data))


def setUpModule():
    global work, charts, server, driver, base
    work = tempfile.mkdtemp(prefix="bsbchart-viewer-")
    charts = os.path.join(work, "charts")
    subprocess.run([GENERATOR, charts], check=True, capture_output=True)
    break_row(chart("harbour-7"), chart("broken"), BROKEN_ROW)
    server, base = start_server(chart("harbour-4"), chart("harbour-skew-4"), chart("harbour-7"), chart("broken"))
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for argument in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--user-data-dir=" + os.path.join(work, "profile"),
                     "--window-size=%d,%d" % WINDOW, "--force-device-scale-factor=1",
                     "--force-color-profile=srgb", "--hide-scrollbars"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
    driver.set_script_timeout(20)


def tearDownModule():
    if driver:
        driver.quit()
    if server:
        stop_server(server)
    shutil.rmtree(work, ignore_errors=True)


# ---- what the library says

def reference(name, *args):
    result = subprocess.run([REFERENCE, chart(name), *map(str, args)], capture_output=True, encoding="utf-8")
    if result.returncode != 0:
        raise AssertionError("viewer_reference %s: %s" % (" ".join(map(str, args)), result.stderr))
    return result.stdout


def reference_image(name, *args):
    out = os.path.join(work, "reference.ppm")
    reference(name, *args, out)
    with Image.open(out) as image:
        return image.convert("RGB")


def pixel_to_world(name, column, row):
    return tuple(map(float, reference(name, "pixel-to-world", column, row).split()))


def world_to_pixel(name, x, y):
    return tuple(map(float, reference(name, "world-to-pixel", x, y).split()))


def palette(name, which):
    return [tuple(map(int, line.split())) for line in reference(name, "palette", which, DOUBLED).splitlines()]


# ---- HTTP as any client sends it

def fetch(path):
    """(status, headers, body) of a GET of `path` sent as it is, unnormalised."""
    host, port = base[len("http://"):].split(":")
    connection = http.client.HTTPConnection(host, int(port), timeout=20)
    try:
        connection.request("GET", path)
        response = connection.getresponse()
        return response.status, dict(response.getheaders()), response.read()
    finally:
        connection.close()


def charts_list():
    status, _, body = fetch("/api/charts")
    assert status == 200
    return json.loads(body)


# ---- the page

def open_page(fragment=""):
    """Loads the page afresh (not just a change of its address's fragment)."""
    driver.get("about:blank")
    driver.get(base + "/" + ("#" + fragment if fragment else ""))
    wait_for_tiles()


def wait_for(condition, what, timeout=30):
    end = time.time() + timeout
    while time.time() < end:
        value = condition()
        if value:
            return value
        time.sleep(0.05)
    raise AssertionError("timed out waiting for " + what)


SETTLED = """
const v = window.bsbviewer;
if (!v || !v.ready || !v.tiles || !v.tilesLoaded) return false;
if (v.map._animatingZoom || (v.map._panAnim && v.map._panAnim._inProgress)) return false;
const tiles = [...document.querySelectorAll('.leaflet-tile')];
return tiles.length > 0 && tiles.every(t => t.complete);
"""


def wait_for_tiles():
    wait_for(lambda: driver.execute_script(SETTLED), "the tiles to load")
    # Two frames, so that what was loaded is also painted.
    driver.execute_async_script(
        "const done = arguments[0]; requestAnimationFrame(() => requestAnimationFrame(() => done()));")


def screenshot():
    return Image.open(io.BytesIO(driver.get_screenshot_as_png())).convert("RGB")


def zoom():
    return driver.execute_script("return bsbviewer.map.getZoom()")


def centre():
    return tuple(driver.execute_script("const c = bsbviewer.map.getCenter(); return [c.lng, c.lat];"))


def screen_point(map_x, map_y):
    """Where a map point (chart pixels for an upright chart) is in the viewport."""
    return tuple(driver.execute_script(
        "const p = bsbviewer.map.latLngToContainerPoint([arguments[1], arguments[0]]);"
        "const r = bsbviewer.map.getContainer().getBoundingClientRect();"
        "return [p.x + r.left, p.y + r.top];", map_x, map_y))


def whole_screen_point(map_x, map_y):
    x, y = screen_point(map_x, map_y)
    assert x == int(x) and y == int(y), (x, y)
    return int(x), int(y)


def differences(shot, left, top, expected):
    """How many pixels of the screenshot at (left, top) differ from `expected`."""
    region = shot.crop((left, top, left + expected.width, top + expected.height))
    return sum(1 for a, b in zip(region.getdata(), expected.getdata()) if a != b)


def click_control(name):
    before = zoom()
    driver.find_element(By.CSS_SELECTOR, ".leaflet-control-zoom-" + name).click()
    wait_for(lambda: zoom() != before, "the zoom to change")
    wait_for_tiles()


def control_disabled(name):
    element = driver.find_element(By.CSS_SELECTOR, ".leaflet-control-zoom-" + name)
    return "leaflet-disabled" in element.get_attribute("class")


def move_mouse(x, y):
    actions = ActionBuilder(driver)
    actions.pointer_action.move_to_location(x, y)
    actions.perform()


def text(element_id):
    return driver.find_element(By.ID, element_id).text


POSITION = re.compile(r"(\d+)°(\d\d\.\d{3})′([NS])\s+(\d+)°(\d\d\.\d{3})′([EW])")


def shown_position():
    """The cursor's latitude and longitude as the status line shows them."""
    match = POSITION.match(text("cursor-position"))
    assert match, text("cursor-position")
    d1, m1, h1, d2, m2, h2 = match.groups()
    lat = (int(d1) + float(m1) / 60) * (1 if h1 == "N" else -1)
    lon = (int(d2) + float(m2) / 60) * (1 if h2 == "E" else -1)
    return lat, lon


# Half the last shown digit (0.001 minute), and a little for the rounding.
MINUTE_ROUNDING = 0.0005 / 60 + 1e-9


class ChartTilesTest(unittest.TestCase):
    """Tiles are the library's windows of the same place, at every zoom."""

    def test_one_to_one_shows_the_chart_pixels(self):
        open_page("chart=harbour-4&z=0&x=360&y=270")
        self.assertEqual(zoom(), 0)
        shot = screenshot()
        left, top = whole_screen_point(200, 150)
        expected = reference_image("harbour-4", "window", 200, 150, 519, 389, RGB, DOUBLED)
        self.assertEqual(differences(shot, left, top, expected), 0)
        # A few features by their colours: land, the town, shallow and
        # medium water, the white sea.
        box = driver.find_element(By.ID, "map").rect
        for (column, row), colour in {(230, 30): (212, 180, 110), (100, 300): (154, 204, 236),
                                      (420, 260): (200, 228, 246), (200, 500): (254, 254, 254),
                                      (150, 100): (250, 220, 144)}.items():
            x, y = whole_screen_point(column, row)
            self.assertTrue(box["x"] <= x < box["x"] + box["width"] and box["y"] <= y < box["y"] + box["height"])
            self.assertEqual(shot.getpixel((x, y)), colour, (column, row))

    def test_zoom_out_to_the_whole_sheet_and_in_to_four_times(self):
        open_page("chart=harbour-4&z=0&x=360&y=270")
        while not control_disabled("out"):
            click_control("out")
        # The whole 720 x 540 sheet in a window about 600 pixels wide: half size.
        self.assertEqual(zoom(), -1)
        size = driver.execute_script("const s = bsbviewer.map.getSize(); return [s.x, s.y];")
        for corner in ((0, 0), (720, 540)):
            x, y = driver.execute_script(
                "const p = bsbviewer.map.latLngToContainerPoint([arguments[1], arguments[0]]); return [p.x, p.y];",
                *corner)
            self.assertTrue(0 <= x <= size[0] and 0 <= y <= size[1], (corner, x, y, size))
        self.assertEqual(text("zoom-level"), "1/2 size")
        # Each screen pixel the average of the chart pixels it covers.
        left, top = whole_screen_point(0, 0)
        overview = reference_image("harbour-4", "reduced", 0, 0, 719, 539, 360, 270, RGB, DOUBLED | AREA_AVERAGE)
        self.assertEqual(differences(screenshot(), left, top, overview), 0)

        click_control("in")
        self.assertEqual(zoom(), 0)
        self.assertEqual(text("zoom-level"), "1:1")
        cx, cy = (round(v) for v in centre())
        left, top = whole_screen_point(cx - 100, cy - 80)
        expected = reference_image("harbour-4", "window", cx - 100, cy - 80, cx + 99, cy + 79, RGB, DOUBLED)
        self.assertEqual(differences(screenshot(), left, top, expected), 0)

        while not control_disabled("in"):
            click_control("in")
        self.assertEqual(zoom(), 2)
        cx, cy = (round(v) for v in centre())
        left, top = whole_screen_point(cx - 20, cy - 15)
        block = reference_image("harbour-4", "window", cx - 20, cy - 15, cx + 19, cy + 14, RGB, DOUBLED)
        enlarged = block.resize((160, 120), Image.NEAREST)
        self.assertEqual(differences(screenshot(), left, top, enlarged), 0)

    def test_skewed_chart_tiles_are_its_upright_world_windows(self):
        info = next(c for c in charts_list()["charts"] if c["id"] == "harbour-skew-4")
        frame = info["frame"]
        self.assertEqual(frame["kind"], "world")
        for z, x, y, flags in ((0, 1, 1, DOUBLED), (-1, 0, 0, DOUBLED | AREA_AVERAGE)):
            status, headers, body = fetch("/api/charts/harbour-skew-4/tiles/rgb/%d/%d/%d.png" % (z, x, y))
            self.assertEqual((status, headers["Content-Type"]), (200, "image/png"))
            tile = Image.open(io.BytesIO(body)).convert("RGBA")
            self.assertEqual(tile.size, (256, 256))
            span = 256 / 2 ** z
            west = frame["west"] + x * span * frame["unitX"]
            east = frame["west"] + (x + 1) * span * frame["unitX"]
            north = frame["north"] - y * span * frame["unitY"]
            south = frame["north"] - (y + 1) * span * frame["unitY"]
            expected = reference_image("harbour-skew-4", "reduced-world", repr(west), repr(north), repr(east),
                                       repr(south), 256, 256, RGB, flags)
            shown = [(p[:3], e) for p, e in zip(tile.getdata(), expected.getdata()) if p[3] == 255]
            clear = sum(1 for p in tile.getdata() if p[3] == 0)
            self.assertEqual(len(shown) + clear, 256 * 256)
            self.assertEqual(sum(1 for p, e in shown if p != e), 0, (z, x, y))
            # The turned sheet leaves corners of the upright frame clear.
            self.assertGreater(len(shown), 256 * 256 // 2)
            if z < 0:
                self.assertGreater(clear, 1000)

    def test_page_loads_nothing_from_elsewhere(self):
        open_page("chart=harbour-4")
        urls = driver.execute_script("return performance.getEntriesByType('resource').map(e => e.name)")
        self.assertTrue(urls)
        for url in urls:
            self.assertTrue(url.startswith(base + "/"), url)
        status, headers, _ = fetch("/")
        self.assertEqual(status, 200)
        self.assertIn("default-src 'self'", headers["Content-Security-Policy"])


class NavigationTest(unittest.TestCase):
    """Keyboard panning, the cursor's position and go to."""

    def test_arrow_keys_pan_the_map(self):
        open_page("chart=harbour-4&z=1&x=360&y=270")
        driver.execute_script("bsbviewer.map.getContainer().focus()")
        for key, dx, dy in ((Keys.ARROW_RIGHT, 40, 0), (Keys.ARROW_DOWN, 0, 40), (Keys.ARROW_LEFT, -40, 0),
                            (Keys.ARROW_UP, 0, -40)):
            before = centre()
            ActionChains(driver).send_keys(key).perform()
            wait_for(lambda: centre() != before, "the map to pan")
            wait_for_tiles()
            after = centre()
            # 80 screen pixels at 2 x: 40 chart pixels (the centre is known to
            # half a screen pixel).
            self.assertLessEqual(abs(after[0] - before[0] - dx), 0.25, key)
            self.assertLessEqual(abs(after[1] - before[1] - dy), 0.25, key)
        self.assertLessEqual(abs(centre()[0] - 360) + abs(centre()[1] - 270), 0.5)
        self.assertRegex(driver.current_url, r"#chart=harbour-4&palette=rgb&z=1&x=360\.[02]5?0?&y=270\.[02]5?0?$")

    def test_cursor_shows_the_library_position_of_the_pixel_under_it(self):
        open_page("chart=harbour-4&z=0&x=360&y=270")
        for column, row in ((100, 300), (517, 123), (359, 269)):
            move_mouse(*whole_screen_point(column, row))
            wait_for(lambda: text("cursor-pixel") == "pixel %d, %d" % (column, row), "pixel %d, %d" % (column, row))
            lon, lat = pixel_to_world("harbour-4", column, row)
            shown_lat, shown_lon = shown_position()
            self.assertLessEqual(abs(shown_lat - lat), MINUTE_ROUNDING, (column, row))
            self.assertLessEqual(abs(shown_lon - lon), MINUTE_ROUNDING, (column, row))
            self.assertTrue(text("cursor-position").startswith("50°"))

    def test_cursor_on_a_skewed_chart(self):
        open_page("chart=harbour-skew-4&z=0&x=417&y=354")
        move_mouse(*whole_screen_point(417, 354))
        wait_for(lambda: text("cursor-pixel").startswith("pixel"), "a position")
        column, row = map(int, re.match(r"pixel (\d+), (\d+)", text("cursor-pixel")).groups())
        lat, lon = shown_position()
        # The library's world -> pixel of the shown position is the pixel shown.
        back = world_to_pixel("harbour-skew-4", lon, lat)
        self.assertLess(abs(back[0] - (column + 0.5)), 1.0)
        self.assertLess(abs(back[1] - (row + 0.5)), 1.0)
        # Near the chart's centre pixel, the turned sheet's pivot.
        self.assertLess(abs(column - 360) + abs(row - 270), 4)

    def test_go_to_centres_a_marker_at_the_library_pixel(self):
        open_page("chart=harbour-4&z=0&x=360&y=270")
        box = driver.find_element(By.ID, "goto-input")
        for typed, lat, lon in (("50°21.5′N 4°09.2′W", 50 + 21.5 / 60, -(4 + 9.2 / 60)),
                                ("50.3575, -4.156", 50.3575, -4.156),
                                ("4 09 18 W 50 21 27 N", 50 + 21 / 60 + 27 / 3600, -(4 + 9 / 60 + 18 / 3600))):
            box.clear()
            box.send_keys(typed, Keys.ENTER)
            column, row = world_to_pixel("harbour-4", lon, lat)
            wait_for(lambda: text("goto-message").endswith("pixel %d, %d" % (column, row)), "go to " + typed)
            marker = driver.execute_script("const m = bsbviewer.marker.getLatLng(); return [m.lng, m.lat];")
            self.assertAlmostEqual(marker[0], column, delta=1e-9)
            self.assertAlmostEqual(marker[1], row, delta=1e-9)
            # Centred, to a screen pixel.
            self.assertLessEqual(abs(centre()[0] - marker[0]), 1.0)
            self.assertLessEqual(abs(centre()[1] - marker[1]), 1.0)
            # The marker's point sits on that pixel on the screen.
            icon = driver.find_element(By.CSS_SELECTOR, ".leaflet-marker-icon").rect
            x, y = screen_point(column, row)
            self.assertEqual((icon["x"] + 12, icon["y"] + 41), (round(x), round(y)))
        marker = driver.execute_script("const m = bsbviewer.marker.getLatLng(); return [m.lng, m.lat];")
        for typed, message in (("51N 4W", "is not on this chart."), ("north", "Give a latitude and longitude")):
            box.clear()
            box.send_keys(typed, Keys.ENTER)
            wait_for(lambda: message in text("goto-message"), "the message for " + typed)
            self.assertEqual(driver.execute_script(
                "const m = bsbviewer.marker.getLatLng(); return [m.lng, m.lat];"), marker)


class PanelTest(unittest.TestCase):
    """The side panel, the palettes and the chart list."""

    def field(self, name):
        return driver.find_element(By.CSS_SELECTOR, "#fields dd[data-field='%s']" % name).text

    def test_metadata_of_each_chart(self):
        open_page("chart=harbour-4")
        select = Select(driver.find_element(By.ID, "chart-select"))
        self.assertEqual([o.get_attribute("value") for o in select.options],
                         ["harbour-4", "harbour-skew-4", "harbour-7", "broken"])
        for name, skew in (("harbour-4", "none"), ("harbour-skew-4", "15° (shown upright)")):
            select.select_by_value(name)
            wait_for_tiles()
            fields = json.loads(reference(name, "info"))["fields"]
            self.assertEqual(text("chart-name"), fields[0])
            self.assertEqual(self.field("number"), fields[1])
            self.assertEqual(self.field("scale"), "1 : 50\u2009000")
            self.assertEqual(self.field("datum"), fields[3])
            self.assertEqual(self.field("projection"), "%s (%s)" % (fields[4], fields[5]))
            self.assertEqual(self.field("size"), "720 × 540 pixels")
            self.assertEqual(self.field("skew"), skew)
            self.assertEqual(self.field("depths"), fields[6])
            self.assertEqual(self.field("sounding-datum"), fields[7])
            self.assertIn("chart=%s&" % name, driver.current_url)
        self.assertTrue(driver.find_element(By.ID, "scale-bar").is_displayed())
        self.assertRegex(driver.find_element(By.ID, "scale-bar").text, r"^\d+ k?m\n[\d.]+ NM$")

    def test_night_palette_changes_the_tile_colours(self):
        open_page("chart=harbour-4&z=0&x=360&y=270")
        labels = [e.text for e in driver.find_elements(By.CSS_SELECTOR, "#palettes label")]
        self.assertEqual(labels, ["Standard", "Day", "Dusk", "Night"])
        self.assertTrue(driver.find_element(By.ID, "palette-section").is_displayed())
        driver.find_element(By.CSS_SELECTOR, "#palettes input[value='ngt']").click()
        wait_for(lambda: "palette=ngt" in driver.current_url, "the night palette")
        wait_for_tiles()
        left, top = whole_screen_point(200, 150)
        night = reference_image("harbour-4", "window", 200, 150, 519, 389, NIGHT, DOUBLED)
        standard = reference_image("harbour-4", "window", 200, 150, 519, 389, RGB, DOUBLED)
        shot = screenshot()
        self.assertEqual(differences(shot, left, top, night), 0)
        self.assertGreater(differences(shot, left, top, standard), 300 * 200)
        # Land at night is the NGT/ entry of its index.
        land = palette("harbour-4", NIGHT)[3]
        self.assertNotEqual(land, palette("harbour-4", RGB)[3])
        self.assertEqual(shot.getpixel(whole_screen_point(60, 100)), land)

    def test_one_palette_hides_the_switch(self):
        open_page("chart=harbour-7")
        self.assertFalse(driver.find_element(By.ID, "palette-section").is_displayed())

    def test_reload_keeps_chart_palette_and_view(self):
        open_page("chart=harbour-4&palette=ngt&z=1&x=300.00&y=200.00")
        driver.refresh()
        wait_for_tiles()
        self.assertEqual(driver.execute_script("return [bsbviewer.chart.id, bsbviewer.palette]"), ["harbour-4", "ngt"])
        self.assertEqual((zoom(), centre()), (1, (300, 200)))
        self.assertTrue(driver.find_element(By.CSS_SELECTOR, "#palettes input[value='ngt']").is_selected())
        left, top = whole_screen_point(280, 190)
        block = reference_image("harbour-4", "window", 280, 190, 319, 209, NIGHT, DOUBLED)
        self.assertEqual(differences(screenshot(), left, top, block.resize((80, 40), Image.NEAREST)), 0)


class RequestsTest(unittest.TestCase):
    """Only the named charts and the page's own files are served."""

    def test_bad_requests_get_a_short_4xx(self):
        chart_path = chart("harbour-4")
        for path, status, body in (
                ("/api/charts/nope/tiles/rgb/0/0/0.png", 404, "unknown chart"),
                ("/api/charts/4/tiles/rgb/0/0/0.png", 404, "unknown chart"),
                ("/api/charts/..%2F..%2Fetc%2Fpasswd/tiles/rgb/0/0/0.png", 404, None),
                ("/api/charts/../../../../etc/passwd", 404, "not found"),
                ("/../../../../etc/passwd", 404, "not found"),
                ("/%2e%2e/%2e%2e/etc/passwd", 404, "not found"),
                (chart_path, 404, "not found"),
                ("/harbour-4.kap", 404, "not found"),
                ("/api/charts/" + chart_path.replace("/", "%2F") + "/tiles/rgb/0/0/0.png", 404, None),
                ("/api/charts/0/tiles/rgb/0/50/50.png", 404, "tile outside the chart"),
                ("/api/charts/0/tiles/rgb/0/-1/0.png", 404, "tile outside the chart"),
                ("/api/charts/0/tiles/rgb/-9/0/0.png", 404, "no such zoom level"),
                ("/api/charts/0/tiles/rgb/3/0/0.png", 404, "no such zoom level"),
                ("/api/charts/0/tiles/rgb/0/1e3/0.png", 400, "tile numbers must be whole numbers"),
                ("/api/charts/0/tiles/rgb/0/99999999999/0.png", 400, "tile numbers must be whole numbers"),
                ("/api/charts/0/tiles/xyz/0/0/0.png", 404, "unknown palette"),
                ("/api/charts/harbour-7/tiles/ngt/0/0/0.png", 404, "the chart has no such palette"),
                ("/api/charts/0/position?mapX=abc&mapY=1", 400, "position needs the numbers mapX and mapY"),
                ("/api/charts/0/locate?lat=50", 400, "locate needs the numbers lat and lon"),
                ("/api/charts/nope/position?mapX=1&mapY=1", 404, "unknown chart")):
            got, headers, content = fetch(path)
            self.assertEqual(got, status, path)
            self.assertLess(len(content), 100, path)
            self.assertNotIn(b"root:", content, path)
            if body is not None:
                self.assertEqual(content.decode(), body + "\n", path)
        # And everything still works, in the browser too.
        got, headers, content = fetch("/api/charts/harbour-4/tiles/rgb/0/1/1.png")
        self.assertEqual((got, content[:8]), (200, b"\x89PNG\r\n\x1a\n"))
        open_page("chart=harbour-4&z=0&x=360&y=270")
        self.assertEqual(driver.execute_script("return bsbviewer.tileErrors"), 0)

    def test_a_row_that_does_not_decode_fails_its_tiles_alone(self):
        # Zoom 0 tile row 1 holds chart rows 256 ... 511.
        got, _, content = fetch("/api/charts/broken/tiles/rgb/0/0/1.png")
        self.assertEqual((got, content.decode()), (500, "row %d does not decode\n" % BROKEN_ROW))
        got, _, content = fetch("/api/charts/broken/tiles/rgb/0/0/0.png")
        self.assertEqual(got, 200)
        self.assertEqual(fetch("/api/charts")[0], 200)
        open_page("chart=broken&z=0&x=360&y=270")
        self.assertGreater(driver.execute_script("return bsbviewer.tileErrors"), 0)
        self.assertEqual(text("problem"), "Some tiles of this chart could not be made.")
        # The rows above the broken tiles are drawn.
        left, top = whole_screen_point(100, 100)
        expected = reference_image("harbour-7", "window", 100, 100, 299, 199, RGB, DOUBLED)
        self.assertEqual(differences(screenshot(), left, top, expected), 0)

    def test_tiles_come_from_the_cache_the_second_time(self):
        path = "/api/charts/harbour-skew-4/tiles/ngt/1/2/2.png"
        first = fetch(path)
        second = fetch(path)
        self.assertEqual((first[0], first[1]["X-Tile-Cache"]), (200, "miss"))
        self.assertEqual((second[0], second[1]["X-Tile-Cache"]), (200, "hit"))
        self.assertEqual(first[2], second[2])
        status = json.loads(fetch("/api/status")[2])["cache"]
        self.assertGreater(status["hits"], 0)
        self.assertLessEqual(status["bytes"], status["capacity"])


class CommandLineTest(unittest.TestCase):
    """Starting and stopping the server."""

    def test_usage_and_unusable_charts(self):
        for args, status, message in (
                ([], 2, "bsbchart: serve needs at least one CHART file"),
                ([chart("harbour-4"), "--port", "http"], 2, "bsbchart: --port takes a port number 0 ... 65535, not \"http\""),
                ([chart("harbour-4"), "--colour"], 2, "bsbchart: unknown option \"--colour\" for serve"),
                ([chart("harbour-4"), "--bind"], 2, "bsbchart: --bind needs a value"),
                ([os.path.join(work, "none.kap")], 1, "bsbchart: no such file: " + os.path.join(work, "none.kap")),
                ([chart("harbour-4"), "--bind", "192.0.2.1"], 1, "bsbchart: cannot listen on 192.0.2.1 port 0")):
            result = subprocess.run([COMMAND, "serve", *args], capture_output=True, encoding="utf-8", timeout=20)
            self.assertEqual(result.returncode, status, args)
            self.assertEqual(result.stderr.splitlines()[0], message, args)
            if status == 2:
                self.assertEqual(result.stderr.splitlines()[1],
                                 "usage: bsbchart serve CHART... [--port N] [--bind ADDRESS] [--cache MB]")
            self.assertEqual(result.stdout, "")

    def test_help(self):
        usage = "usage: bsbchart serve CHART... [--port N] [--bind ADDRESS] [--cache MB]"
        own = subprocess.run([COMMAND, "serve", "--help"], capture_output=True, encoding="utf-8")
        self.assertEqual((own.returncode, own.stdout.splitlines()[0], own.stderr), (0, usage, ""))
        self.assertIn("--bind ADDRESS    the address to listen on (default 127.0.0.1", own.stdout)
        topic = subprocess.run([COMMAND, "help", "serve"], capture_output=True, encoding="utf-8")
        self.assertEqual((topic.returncode, topic.stdout), (0, own.stdout))
        general = subprocess.run([COMMAND, "--help"], capture_output=True, encoding="utf-8").stdout
        self.assertIn("  serve     the charts as a map in the browser", general)

    def test_interrupt_stops_cleanly_and_no_cache_makes_every_tile(self):
        process, address = start_server(chart("harbour-7"), "--cache", "0")
        try:
            self.assertEqual(urllib.request.urlopen(address + "/api/charts").status, 200)
            for _ in range(2):
                with urllib.request.urlopen(address + "/api/charts/0/tiles/rgb/0/0/0.png") as response:
                    self.assertEqual(response.headers["X-Tile-Cache"], "miss")
        finally:
            status, out, err = stop_server(process)
        self.assertEqual((status, out, err), (0, "Press Ctrl-C to stop.\nStopped.\n", ""))

    def test_given_port(self):
        probe = start_server(chart("harbour-4"))
        port = int(probe[1].rsplit(":", 1)[1])
        stop_server(probe[0])
        process, address = start_server(chart("harbour-4"), "--port", str(port), "--bind", "127.0.0.1")
        try:
            self.assertEqual(address, "http://127.0.0.1:%d" % port)
            charts = json.loads(urllib.request.urlopen(address + "/api/charts").read())["charts"]
            self.assertEqual([c["id"] for c in charts], ["harbour-4"])
        finally:
            self.assertEqual(stop_server(process)[0], 0)


if __name__ == "__main__":
    unittest.main(verbosity=2)
