#!/usr/bin/python3
"""ZOLT files in the programs that read images through gdk-pixbuf: Python's
GdkPixbuf (python3-gi), the thumbnailer entry and gio.

The files are made here byte by byte and the expected colours computed here
from the palettes written, so the check shares no code with the loader. Uses
the loader and MIME type registered (by the package, or for a build by
scripts/loader-env.sh) and the thumbnailer entry THUMBNAILER.
  pixbuf_test.py [THUMBNAILER]   (default: the installed package's)
"""
import os
import resource
import shlex
import struct
import subprocess
import sys
import tempfile

import gi
import numpy as np

gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf, GLib  # noqa: E402

TMP = tempfile.TemporaryDirectory()
THUMBNAILER = sys.argv[1] if len(sys.argv) > 1 else "/usr/share/thumbnailers/zolt.thumbnailer"
# A 6-bit component as 8 bits; only its low 6 bits count.
RGB8 = np.array([((c & 63) << 2) | ((c & 63) >> 4) for c in range(256)], dtype=np.uint8)
assert RGB8[0] == 0 and RGB8[63] == 255 and all(abs(int(RGB8[c]) - c * 255 / 63) <= 1 for c in range(64))

failures = []
checks = 0


def check(ok, what):
    global checks
    checks += 1
    if not ok:
        failures.append(what)
        print("FAIL:", what)


def zolt(width, height, indices, palette):
    return b"ZOLT" + struct.pack("<hh", width, height) + indices.tobytes() + b"RGB " + palette.tobytes()


def image(width, height, seed, block=1):
    """Random indices (in blocks of block x block pixels) and a random palette."""
    rng = np.random.default_rng(seed)
    blocks = rng.integers(0, 256, size=(-(-height // block), -(-width // block)), dtype=np.uint8)
    indices = np.kron(blocks, np.ones((block, block), dtype=np.uint8))[:height, :width]
    palette = rng.integers(0, 64, size=(256, 3), dtype=np.uint8)
    palette[8] = (64, 65, 255)
    return np.ascontiguousarray(indices), palette


def pixels(pixbuf):
    rows = pixbuf.get_pixels()
    stride, width = pixbuf.get_rowstride(), pixbuf.get_width()
    return np.array([np.frombuffer(rows, np.uint8, width * 3, y * stride)
                     for y in range(pixbuf.get_height())]).reshape(-1, width, 3)


def write_file(name, data):
    path = os.path.join(TMP.name, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


def feed(data, chunk, size=None):
    loader = GdkPixbuf.PixbufLoader.new_with_type("zolt")
    if size:
        loader.set_size(*size)
    for at in range(0, len(data), chunk):
        loader.write(data[at:at + chunk])
    loader.close()
    return loader.get_pixbuf()


def thumbnail(path, size):
    """Runs the thumbnailer entry's command, as a file manager does."""
    with open(THUMBNAILER) as f:
        command = next(line for line in f if line.startswith("Exec=")).strip()[len("Exec="):]
    out = os.path.join(TMP.name, "thumbnail.png")
    fields = {"%s": str(size), "%u": GLib.filename_to_uri(path), "%o": out}
    subprocess.run([fields.get(word, word) for word in shlex.split(command)], check=True)
    return GdkPixbuf.Pixbuf.new_from_file(out)


def reads_exactly():
    ways = [("new_from_file", lambda data, path: GdkPixbuf.Pixbuf.new_from_file(path)),
            ("chunks of 1", lambda data, path: feed(data, 1)),
            ("chunks of 4096", lambda data, path: feed(data, 4096))]
    for seed, (width, height) in enumerate([(1, 1), (20, 10), (300, 2), (37, 65), (129, 200)]):
        indices, palette = image(width, height, seed)
        data = zolt(width, height, indices, palette)
        path = write_file("in.zolt", data)
        want = RGB8[palette][indices]
        for name, way in ways:
            got = pixels(way(data, path))
            check(got.shape == want.shape and (got == want).all(), f"{width} x {height}, {name}")


def reads_scaled():
    # 8 x 8 blocks of one index each: at 1/8 the size each pixel is its block's colour.
    indices, palette = image(64, 48, 9, block=8)
    data = zolt(64, 48, indices, palette)
    path = write_file("blocks.zolt", data)
    want = RGB8[palette][indices[4::8, 4::8]]
    ways = [("new_from_file_at_size", lambda: GdkPixbuf.Pixbuf.new_from_file_at_size(path, 8, 8)),
            ("chunks of 1 at 8 x 6", lambda: feed(data, 1, (8, 6))),
            ("thumbnailer entry at 8", lambda: thumbnail(path, 8))]
    for name, way in ways:
        got = pixels(way())
        check(got.shape == want.shape and (got == want).all(), f"64 x 48 scaled, {name}")


def content_type():
    data = zolt(2, 2, *image(2, 2, 1))
    for name in ["typed.zolt", "no-extension"]:
        out = subprocess.run(["gio", "info", "-a", "standard::content-type", write_file(name, data)],
                             capture_output=True, text=True).stdout
        check("standard::content-type: image/x-zolt" in out, f"gio info {name}: {out.strip()}")


def rejects_damaged():
    """Each row fed whole at full size and in 1-byte chunks asked for 256 x 256, with
    1 GiB of address space left: a 32767 x 32767 image cannot have its 3 GiB at full
    size, and needs none of it at 256. Under AddressSanitizer (preloaded), whose
    shadow memory takes more, its allocation limit (ASAN_OPTIONS) stands in."""
    if "LD_PRELOAD" not in os.environ:
        with open("/proc/self/status") as f:
            size = next(int(line.split()[1]) for line in f if line.startswith("VmSize:")) * 1024
        resource.setrlimit(resource.RLIMIT_AS, (size + (1 << 30), resource.RLIM_INFINITY))
    indices, palette = image(20, 10, 3)
    good = zolt(20, 10, indices, palette)
    corrupt, unknown = GdkPixbuf.PixbufError.CORRUPT_IMAGE, GdkPixbuf.PixbufError.UNKNOWN_TYPE
    header = lambda w, h: b"ZOLT" + struct.pack("<hh", w, h)  # noqa: E731
    cases = [("5 bytes", good[:5], corrupt, corrupt), ("cut in the pixels", good[:100], corrupt, corrupt),
             ("cut in the palette", good[:-1], corrupt, corrupt), ("width 0", header(0, 10) + good[8:], corrupt, corrupt),
             ("height -1", header(20, -1) + good[8:], corrupt, corrupt),
             ("both negative", header(-20, -10) + good[8:], corrupt, corrupt), ("a TIFF", b"II*\0" + good[4:], unknown, unknown),
             ("32767 x 32767, cut", header(32767, 32767) + good[8:], GdkPixbuf.PixbufError.INSUFFICIENT_MEMORY, corrupt)]
    for name, data, whole, chunks in cases:
        for way, load, code in [("whole", lambda: feed(data, len(data)), whole),
                                ("chunks of 1 at 256", lambda: feed(data, 1, (256, 256)), chunks)]:
            try:
                load()
                check(False, f"{name}, {way}: loaded")
            except GLib.Error as e:
                check(e.domain == "gdk-pixbuf-error-quark" and e.code == code, f"{name}, {way}: {e.message}")


for test in [reads_exactly, reads_scaled, content_type, rejects_damaged]:  # the last limits memory
    test()
print(f"{checks - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
