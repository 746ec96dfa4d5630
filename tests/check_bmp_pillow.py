"""Opens the window bitmaps that write_window_bmp saves with Pillow, as an
independent BMP reader, and checks size, mode, palette and every pixel.

Usage: check_bmp_pillow.py <write_window_bmp program>
Exits 77 (skipped) when Pillow is not installed.
"""
import subprocess
import sys
import tempfile

try:
    from PIL import Image
except ImportError:
    print("Pillow is not installed: the BMP check is skipped")
    sys.exit(77)


def read_expectations(path):
    images = []
    with open(path) as listing:
        for line in listing:
            kind, *fields = line.split()
            if kind == "bmp":
                name, width, height, bpp = fields[0], *map(int, fields[1:])
                images.append({"name": name, "size": (width, height), "bpp": bpp,
                               "palette": {}, "pixels": {}})
            elif kind == "palette":
                index, *rgb = map(int, fields)
                images[-1]["palette"][index] = tuple(rgb)
            elif kind == "pixel":
                x, y, index = map(int, fields)
                images[-1]["pixels"][(x, y)] = index
    return images


def check(directory, expected):
    failures = []
    with Image.open(f"{directory}/{expected['name']}") as image:
        image.load()
        name = expected["name"]
        if image.format != "BMP":
            failures.append(f"{name}: format {image.format}")
        if image.size != expected["size"]:
            failures.append(f"{name}: size {image.size}, expected {expected['size']}")
        entries = 1 << expected["bpp"]
        table = [expected["palette"].get(i, (0, 0, 0)) for i in range(entries)]
        black_white = expected["bpp"] == 1 and table == [(0, 0, 0), (255, 255, 255)]
        mode = "1" if black_white else "P"
        if image.mode != mode:
            failures.append(f"{name}: mode {image.mode}, expected {mode}")
            return failures
        if mode == "P":
            palette = image.getpalette()
            for index, rgb in enumerate(table):
                seen = tuple(palette[3 * index:3 * index + 3])
                if seen != rgb:
                    failures.append(f"{name}: palette entry {index} is {seen}, expected {rgb}")
        for (x, y), index in expected["pixels"].items():
            seen = image.getpixel((x, y))
            if mode == "1":
                seen = 1 if seen else 0
            if seen != index:
                failures.append(f"{name}: pixel ({x}, {y}) is {seen}, expected {index}")
    return failures


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    with tempfile.TemporaryDirectory() as directory:
        subprocess.run([sys.argv[1], directory], check=True)
        images = read_expectations(f"{directory}/expected.txt")
        if len(images) != 3:
            print(f"expected 3 bitmaps, the program listed {len(images)}")
            return 1
        failures = []
        for expected in images:
            failures += check(directory, expected)
    for failure in failures[:40]:
        print(failure)
    if failures:
        return 1
    print(f"{len(images)} window bitmaps open in Pillow with the expected pixels")
    return 0


if __name__ == "__main__":
    sys.exit(main())
