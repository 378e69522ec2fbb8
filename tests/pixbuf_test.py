#!/usr/bin/python3
"""ZOLT files in the programs that read images through gdk-pixbuf: Python's
GdkPixbuf (python3-gi), the thumbnailer entry and gio.

The files are made here byte by byte and the expected colours computed here
from the palettes written, so the check shares no code with the loader.
  pixbuf_test.py BUILD_DIR SOURCE_DIR   the loader and MIME type of a build
  pixbuf_test.py                        those the installed package registered
"""
import glob
import os
import resource
import shlex
import struct
import subprocess
import sys
import tempfile

import numpy as np

TMP = tempfile.TemporaryDirectory()
if len(sys.argv) == 3:
    build, source = sys.argv[1:]
    # Only this build's module besides the system's, and the MIME type in a
    # data folder of the run's own, as the package's triggers would register them.
    query = subprocess.run(["pkg-config", "--variable=gdk_pixbuf_query_loaders", "gdk-pixbuf-2.0"],
                           check=True, capture_output=True, text=True).stdout.strip()
    moduledir = subprocess.run(["pkg-config", "--variable=gdk_pixbuf_moduledir", "gdk-pixbuf-2.0"],
                               check=True, capture_output=True, text=True).stdout.strip()
    modules = sorted(glob.glob(moduledir + "/*.so")) + [os.path.join(build, "libpixbufloader-zolt.so")]
    cache = os.path.join(TMP.name, "loaders.cache")
    with open(cache, "w") as f:
        subprocess.run([query] + modules, check=True, stdout=f)
    os.makedirs(os.path.join(TMP.name, "share/mime/packages"))
    subprocess.run(["cp", os.path.join(source, "pixbuf/zolt.xml"), os.path.join(TMP.name, "share/mime/packages")],
                   check=True)
    subprocess.run(["update-mime-database", os.path.join(TMP.name, "share/mime")], check=True, capture_output=True)
    os.environ.update(GDK_PIXBUF_MODULE_FILE=cache, XDG_DATA_HOME=os.path.join(TMP.name, "share"))
    THUMBNAILER = os.path.join(source, "pixbuf/zolt.thumbnailer")
else:
    THUMBNAILER = "/usr/share/thumbnailers/zolt.thumbnailer"

import gi  # noqa: E402  (after the environment that gdk-pixbuf reads once)

gi.require_version("GdkPixbuf", "2.0")
from gi.repository import GdkPixbuf, GLib  # noqa: E402

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
    indices, palette = image(20, 10, 3)
    good = zolt(20, 10, indices, palette)
    corrupt, unknown = GdkPixbuf.PixbufError.CORRUPT_IMAGE, GdkPixbuf.PixbufError.UNKNOWN_TYPE
    header = lambda w, h: b"ZOLT" + struct.pack("<hh", w, h)  # noqa: E731
    cases = [("5 bytes", good[:5], corrupt), ("cut in the pixels", good[:100], corrupt),
             ("cut in the palette", good[:-1], corrupt), ("width 0", header(0, 10) + good[8:], corrupt),
             ("height -1", header(20, -1) + good[8:], corrupt), ("both negative", header(-20, -10) + good[8:], corrupt),
             ("a TIFF", b"II*\0" + good[4:], unknown), ("32767 x 32767, cut", header(32767, 32767) + good[8:], corrupt)]
    for name, data, code in cases:
        for way, load in [("whole", lambda: feed(data, len(data), (256, 256))), ("chunks of 1", lambda: feed(data, 1))]:
            try:
                load()
                check(False, f"{name}, {way}: loaded")
            except GLib.Error as e:
                check(e.domain == "gdk-pixbuf-error-quark" and e.code == code, f"{name}, {way}: {e.message}")


def out_of_memory():
    """A 32767 x 32767 image at full size, in a process that cannot have 3 GiB."""
    child = ("import gi, resource, struct, sys\n"
             "gi.require_version('GdkPixbuf', '2.0')\n"
             "from gi.repository import GdkPixbuf, GLib\n"
             "if 'LD_PRELOAD' not in __import__('os').environ:\n"
             "    resource.setrlimit(resource.RLIMIT_AS, (1 << 31, 1 << 31))\n"
             "loader = GdkPixbuf.PixbufLoader.new_with_type('zolt')\n"
             "try:\n"
             "    loader.write(b'ZOLT' + struct.pack('<hh', 32767, 32767))\n"
             "except GLib.Error as e:\n"
             "    sys.exit(0 if e.code == GdkPixbuf.PixbufError.INSUFFICIENT_MEMORY else 1)\n"
             "sys.exit(2)\n")
    # Under AddressSanitizer (preloaded), its own allocation limit stands in
    # for the address-space limit, which its shadow memory would exceed.
    env = dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") +
               ":allocator_may_return_null=1:max_allocation_size_mb=2048:detect_leaks=0")
    status = subprocess.run([sys.executable, "-c", child], env=env).returncode
    check(status == 0, f"3 GiB pixbuf without the memory: status {status}, not INSUFFICIENT_MEMORY")


for test in [reads_exactly, reads_scaled, content_type, rejects_damaged, out_of_memory]:
    test()
print(f"{checks - len(failures)} passed, {len(failures)} failed")
sys.exit(1 if failures else 0)
