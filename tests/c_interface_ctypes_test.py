#!/usr/bin/python3
"""Drives the C interface from Python through ctypes, as a script host would:
open, metadata, a conversion each way, a window, statuses and their texts.

Usage: c_interface_ctypes_test.py LIBRARY (the path of libbsbchart.so).
The chart is written here: 24 x 6 pixels at 8 bits (compression type 7),
pixel (x, y) of colour 1 + (x // 4 + y) % 5, at world (x / 4 + 10, 50 - y / 4).
"""
import ctypes
import os
import struct
import sys
import tempfile
import unittest

WIDTH, HEIGHT = 24, 6

HEADER = (
    "VER/3.0\r\n"
    "BSB/NA=PYTHON CHART,NU=PY-7,RA=24,6,DU=200\r\n"
    "KNP/SC=12000,GD=WGS84,PR=TRANSVERSE MERCATOR,PP=0.0,SK=0.0\r\n"
    "CPH/0.0\r\n"
    + "".join("RGB/%d,%d,%d,%d\r\n" % (i, 10 * i, 20 * i, 30 * i) for i in range(1, 6))
    + "DAY/1,1,2,3\r\n"
    "PWX/1,10.0,0.25,0.0\r\nPWY/1,50.0,0.0,-0.25\r\n"
    "WPX/1,-40.0,4.0,0.0\r\nWPY/1,200.0,0.0,-4.0\r\n"
)


def colour(x, y):
    return 1 + (x // 4 + y) % 5


def encode_row(y):
    """Row number, one byte per run of four pixels (colour, then length 4), 0."""
    out = bytearray([y + 1])
    for x in range(0, WIDTH, 4):
        out += bytes([0x80 | colour(x, y), 3])
    out.append(0)
    return bytes(out)


def chart_bytes():
    data = bytearray(HEADER.encode("ascii") + b"\0" + bytes([7]))
    offsets = []
    for y in range(HEIGHT):
        offsets.append(len(data))
        data += encode_row(y)
    table = len(data)
    for offset in offsets:
        data += struct.pack(">I", offset)
    data += struct.pack(">I", table)
    return bytes(data)


class Error(ctypes.Structure):
    _fields_ = [("status", ctypes.c_int32), ("row", ctypes.c_int32),
                ("record", ctypes.c_char * 8), ("system_error", ctypes.c_int32)]


class Info(ctypes.Structure):
    _fields_ = [("width", ctypes.c_int32), ("height", ctypes.c_int32),
                ("compression_type", ctypes.c_int32), ("bits_per_pixel", ctypes.c_int32),
                ("has_skew", ctypes.c_int32), ("skewed", ctypes.c_int32),
                ("skew_angle", ctypes.c_double), ("has_cph", ctypes.c_int32),
                ("cph", ctypes.c_double), ("georeferenced", ctypes.c_int32),
                ("palettes", ctypes.c_uint32)]


class Rect(ctypes.Structure):
    _fields_ = [("left", ctypes.c_int32), ("top", ctypes.c_int32),
                ("right", ctypes.c_int32), ("bottom", ctypes.c_int32)]


def load(path):
    lib = ctypes.CDLL(path)
    c_double_p = ctypes.POINTER(ctypes.c_double)
    handle_p = ctypes.c_void_p
    lib.bsbchart_open.argtypes = [ctypes.c_char_p, ctypes.c_void_p, ctypes.POINTER(handle_p),
                                  ctypes.POINTER(Error)]
    lib.bsbchart_open.restype = ctypes.c_int
    lib.bsbchart_close.argtypes = [handle_p]
    lib.bsbchart_close.restype = None
    lib.bsbchart_get_info.argtypes = [handle_p, ctypes.POINTER(Info)]
    lib.bsbchart_get_info.restype = ctypes.c_int
    lib.bsbchart_get_field.argtypes = [handle_p, ctypes.c_int32]
    lib.bsbchart_get_field.restype = ctypes.c_char_p
    lib.bsbchart_pixel_to_world.argtypes = [handle_p, ctypes.c_double, ctypes.c_double, c_double_p,
                                            c_double_p, ctypes.POINTER(Error)]
    lib.bsbchart_pixel_to_world.restype = ctypes.c_int
    lib.bsbchart_world_to_pixel.argtypes = lib.bsbchart_pixel_to_world.argtypes
    lib.bsbchart_world_to_pixel.restype = ctypes.c_int
    lib.bsbchart_pixel_window.argtypes = [handle_p, Rect, ctypes.c_int32, ctypes.c_uint32,
                                          ctypes.c_void_p, ctypes.POINTER(ctypes.c_void_p),
                                          ctypes.POINTER(Error)]
    lib.bsbchart_pixel_window.restype = ctypes.c_int
    lib.bsbchart_free.argtypes = [ctypes.c_void_p]
    lib.bsbchart_free.restype = None
    lib.bsbchart_strerror.argtypes = [ctypes.c_int32]
    lib.bsbchart_strerror.restype = ctypes.c_char_p
    lib.bsbchart_error_text.argtypes = [ctypes.POINTER(Error), ctypes.c_char_p, ctypes.c_char_p,
                                        ctypes.c_size_t]
    lib.bsbchart_error_text.restype = ctypes.c_size_t
    lib.bsbchart_version.argtypes = []
    lib.bsbchart_version.restype = ctypes.c_char_p
    return lib


class CInterfaceThroughCtypes(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.lib = load(LIBRARY)
        cls.dir = tempfile.TemporaryDirectory()
        cls.path = os.path.join(cls.dir.name, "python.kap").encode()
        with open(cls.path, "wb") as f:
            f.write(chart_bytes())

    @classmethod
    def tearDownClass(cls):
        cls.dir.cleanup()

    def open(self, path):
        handle = ctypes.c_void_p()
        error = Error()
        status = self.lib.bsbchart_open(path, None, ctypes.byref(handle), ctypes.byref(error))
        if handle.value:
            self.addCleanup(self.lib.bsbchart_close, handle)
        return status, handle, error

    def test_version_and_texts(self):
        self.assertEqual(self.lib.bsbchart_version(), b"1.1.0")
        self.assertEqual(self.lib.bsbchart_strerror(5), b"chart in use")

    def test_missing_file_has_a_status_and_a_text(self):
        missing = os.path.join(self.dir.name, "missing.kap").encode()
        status, handle, error = self.open(missing)
        self.assertEqual(status, 3)
        self.assertIsNone(handle.value)
        self.assertEqual(error.status, 3)
        text = ctypes.create_string_buffer(200)
        length = self.lib.bsbchart_error_text(ctypes.byref(error), missing, text, len(text))
        self.assertEqual(text.value, b"no such file: " + missing)
        self.assertEqual(length, len(text.value))

    def test_metadata(self):
        status, handle, _ = self.open(self.path)
        self.assertEqual(status, 0)
        info = Info()
        self.assertEqual(self.lib.bsbchart_get_info(handle, ctypes.byref(info)), 0)
        self.assertEqual((info.width, info.height), (WIDTH, HEIGHT))
        self.assertEqual((info.compression_type, info.bits_per_pixel), (7, 8))
        self.assertEqual((info.skewed, info.georeferenced), (0, 1))
        self.assertEqual(info.palettes, 0b11)  # RGB/ and DAY/
        self.assertEqual(self.lib.bsbchart_get_field(handle, 0), b"PYTHON CHART")
        self.assertEqual(self.lib.bsbchart_get_field(handle, 1), b"PY-7")
        self.assertEqual(self.lib.bsbchart_get_field(handle, 4), b"TRANSVERSE MERCATOR")
        self.assertIsNone(self.lib.bsbchart_get_field(handle, 9))  # no CED/

    def test_conversions(self):
        status, handle, _ = self.open(self.path)
        self.assertEqual(status, 0)
        x, y = ctypes.c_double(), ctypes.c_double()
        self.assertEqual(self.lib.bsbchart_pixel_to_world(handle, 8.0, 2.0, ctypes.byref(x),
                                                          ctypes.byref(y), None), 0)
        self.assertEqual((x.value, y.value), (12.0, 49.5))
        column, row = ctypes.c_double(), ctypes.c_double()
        self.assertEqual(self.lib.bsbchart_world_to_pixel(handle, 12.0, 49.5, ctypes.byref(column),
                                                          ctypes.byref(row), None), 0)
        self.assertEqual((column.value, row.value), (8.0, 2.0))
        self.assertEqual(self.lib.bsbchart_pixel_to_world(handle, 1.0, 1.0, None, ctypes.byref(y),
                                                          None), 1)

    def test_window(self):
        status, handle, _ = self.open(self.path)
        self.assertEqual(status, 0)
        bitmap = ctypes.c_void_p()
        error = Error()
        rect = Rect(2, 1, 13, 4)
        self.assertEqual(self.lib.bsbchart_pixel_window(handle, rect, 0, 1, None, ctypes.byref(bitmap),
                                                        ctypes.byref(error)), 0)
        self.assertIsNotNone(bitmap.value)
        try:
            head = ctypes.string_at(bitmap, 40)
            size, width, height, planes, bpp = struct.unpack("<IiiHH", head[:16])
            self.assertEqual((size, width, height, planes, bpp), (40, 12, -4, 1, 8))
            stride = 12
            table = ctypes.string_at(bitmap.value + 40, 1024)
            for i in range(1, 6):  # blue, green, red, doubled modulo 256
                self.assertEqual(table[4 * i:4 * i + 4],
                                 bytes([60 * i % 256, 40 * i % 256, 20 * i % 256, 0]))
            pixels = ctypes.string_at(bitmap.value + 40 + 1024, stride * 4)
            for j in range(4):
                expected = bytes(colour(2 + i, 1 + j) for i in range(12))
                self.assertEqual(pixels[j * stride:(j + 1) * stride], expected, "row %d" % j)
        finally:
            self.lib.bsbchart_free(bitmap)
        outside = Rect(20, 0, 24, 5)
        self.assertEqual(self.lib.bsbchart_pixel_window(handle, outside, 0, 1, None,
                                                        ctypes.byref(bitmap), ctypes.byref(error)), 15)
        self.assertIsNone(bitmap.value)
        self.assertEqual(error.status, 15)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: c_interface_ctypes_test.py LIBRARY")
    LIBRARY = sys.argv.pop(1)
    unittest.main(verbosity=2)
