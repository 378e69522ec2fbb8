#!/usr/bin/python3
"""ZOLT files through the editors people use between zoltdec and zoltenc.

Each route takes the TIFF that zoltdec writes through a real tool (GIMP in
batch mode, ImageMagick, GraphicsMagick, Pillow, libvips, Netpbm), unchanged
and with one pixel set to an existing entry's colour, and back through
zoltenc: directly, or, where that does not give the file back, with
--palette and the original file. The result must be the original file (with
that pixel), byte for byte; where the palette gives one colour to several
entries, a route through colours can only pick one of them, and the lowest is
taken. Prints the table the README's "Editing ZOLT files" shows.
  editors.py BUILD_DIR
"""
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

from PIL import Image

build = sys.argv[1]
zoltenc, zoltdec = os.path.join(build, "zoltenc"), os.path.join(build, "zoltdec")
convert = "/usr/bin/convert"  # ImageMagick's own, not a stand-in earlier on PATH
EDIT_AT = (1, 1)


def zolt(width, height, pixels, palette):
    return (b"ZOLT" + struct.pack("<hh", width, height) + bytes(pixels) + b"RGB "
            + bytes(v for entry in palette for v in entry))


def files():
    """The five files of the user's trial: every index and every component
    value, 5 entries used, duplicate entries, a palette whose used entries are
    grey, an odd size; and a large one."""
    rng = random.Random(36)
    distinct = set()
    while len(distinct) < 256 - 64:
        distinct.add(tuple(rng.randrange(64) for _ in range(3)))
    everything = [(v, 63 - v, (v * 5) % 64) for v in range(64)] + sorted(distinct)
    rng.shuffle(everything)
    duplicates = list(everything)
    for i in range(0, 40, 2):
        duplicates[200 + i // 2] = duplicates[i]
    grey = [(v, v, v) for v in range(64)] + everything[64:]
    return {
        "all-entries": (64, 64, [i % 256 for i in range(4096)], everything),
        "five-used": (40, 30, [(7, 19, 100, 201, 255)[rng.randrange(5)] for _ in range(1200)], everything),
        "duplicates": (32, 32, [rng.choice(range(0, 40)) if k % 2 else 200 + rng.randrange(20) for k in range(1024)],
                       duplicates),
        "grey-used": (64, 64, [rng.randrange(64) for _ in range(4096)], grey),
        "odd-size": (33, 17, [rng.randrange(256) for _ in range(33 * 17)], everything),
        # Several bands of rows, which several threads decode.
        "large": (1100, 1000, [rng.randrange(256) for _ in range(1100 * 1000)], everything),
    }


def run(*args, **kw):
    return subprocess.run(list(args), capture_output=True, timeout=300, **kw)


def eight(c):
    return (c << 2) | (c >> 4)


def gimp(jobs):
    """Runs GIMP once over jobs of (in, out, index or None): loads, sets the
    pixel to the index, saves. GIMP's batch mode exits 0 even when a command
    fails: the caller checks the files."""
    script = ""
    for src, dst, index in jobs:
        edit = f"(gimp-drawable-set-pixel d {EDIT_AT[0]} {EDIT_AT[1]} 1 #({index}))" if index is not None else ""
        script += (f'(let* ((i (car (gimp-file-load RUN-NONINTERACTIVE "{src}" "{src}")))'
                   f' (d (car (gimp-image-get-active-drawable i)))) {edit}'
                   f' (gimp-file-save RUN-NONINTERACTIVE i d "{dst}" "{dst}") (gimp-image-delete i))')
    run("timeout", "240", "gimp-console-2.10", "-i", "-d", "-f", "-b", script, "-b", "(gimp-quit 0)")


def magick(tool, src, dst, colour, *options):
    draw = ["-fill", "rgb(%d,%d,%d)" % tuple(eight(c) for c in colour), "-draw", "point %d,%d" % EDIT_AT] if colour else []
    run(*tool, src, *draw, *options, dst)


def pillow(src, dst, index, via_png):
    image = Image.open(src)
    image.load()
    if index is not None:
        image.putpixel(EDIT_AT, index)
    if via_png:
        image.save(dst + ".png")
        image = Image.open(dst + ".png")
    image.save(dst)


def netpbm(src, dst, colour, work):
    with open(work + "/a.ppm", "wb") as f:
        subprocess.run(["tifftopnm", src], stdout=f, stderr=subprocess.DEVNULL, check=True)
    ppm = work + "/a.ppm"
    if colour:
        with open(work + "/dot.ppm", "wb") as f:
            subprocess.run(["ppmmake", "rgb:%02x/%02x/%02x" % tuple(eight(c) for c in colour), "1", "1"], stdout=f,
                           check=True)
        with open(work + "/e.ppm", "wb") as f:
            subprocess.run(["pnmpaste", work + "/dot.ppm", str(EDIT_AT[0]), str(EDIT_AT[1]), ppm], stdout=f, check=True)
        ppm = work + "/e.ppm"
    with open(dst, "wb") as f:
        subprocess.run(["pnmtotiff", ppm], stdout=f, stderr=subprocess.DEVNULL, check=True)


def vips(src, dst, colour, work, palette_png):
    v = work + "/a.v"
    run("vips", "copy", src, v)
    if colour:
        run("vips", "draw_rect", v, " ".join(str(eight(c)) for c in colour), str(EDIT_AT[0]), str(EDIT_AT[1]), "1", "1",
            "--fill")
    if palette_png:
        run("vips", "pngsave", v, work + "/p.png", "--palette")
        v = work + "/p.png"
    run("vips", "tiffsave", v, dst)


# Each route: a key, its name, and how it takes src to dst with the pixel
# edited (its index and colour given) or not (None); GIMP's routes run first,
# all at once.
ROUTES = [
    ("gimp", "GIMP, TIFF to TIFF", None),
    ("gimp-png", "GIMP, via PNG", None),
    ("pil", "Pillow, TIFF to TIFF", lambda s, d, i, c, w: pillow(s, d, i, False)),
    ("pil-png", "Pillow, via PNG", lambda s, d, i, c, w: pillow(s, d, i, True)),
    ("im", "ImageMagick, TIFF to TIFF", lambda s, d, i, c, w: magick([convert], s, d, c)),
    ("im-palette", "ImageMagick `-type Palette -depth 8`",
     lambda s, d, i, c, w: magick([convert], s, d, c, "-type", "Palette", "-depth", "8")),
    ("im-png", "ImageMagick, via PNG", lambda s, d, i, c, w: (magick([convert], s, d + ".png", c), run(convert, d + ".png", d))),
    ("im-16", "ImageMagick, 16-bit RGB, LZW",
     lambda s, d, i, c, w: magick([convert], s, d, c, "-type", "TrueColor", "-depth", "16", "-compress", "lzw")),
    ("im-planes", "ImageMagick, RGB in planes, Deflate",
     lambda s, d, i, c, w: magick([convert], s, d, c, "-type", "TrueColor", "-interlace", "plane", "-compress", "zip")),
    ("gm", "GraphicsMagick, TIFF to TIFF", lambda s, d, i, c, w: magick(["gm", "convert"], s, d, c)),
    ("gm-png", "GraphicsMagick, via PNG",
     lambda s, d, i, c, w: (magick(["gm", "convert"], s, d + ".png", c), run("gm", "convert", d + ".png", d))),
    ("vips", "libvips `vips copy`", lambda s, d, i, c, w: vips(s, d, c, w, False)),
    ("vips-png", "libvips `pngsave --palette`", lambda s, d, i, c, w: vips(s, d, c, w, True)),
    ("netpbm", "Netpbm `tifftopnm`, `pnmtotiff`", lambda s, d, i, c, w: netpbm(s, d, c, w)),
]


def expected(width, height, pixels, palette, edit):
    """The file the route must give back: the original, with the pixel set to
    the edit's index, and, through colours, each index the lowest of its
    colour's."""
    want = list(pixels)
    if edit is not None:
        want[EDIT_AT[1] * width + EDIT_AT[0]] = edit
    lowest = {}
    for i, entry in reversed(list(enumerate(palette))):
        lowest[entry] = i
    return zolt(width, height, want, palette), zolt(width, height, [lowest[palette[p]] for p in want], palette)


def main():
    work = tempfile.mkdtemp()
    try:
        table, failed = [], 0
        inputs = {}
        for name, (width, height, pixels, palette) in files().items():
            path = f"{work}/{name}.zolt"
            with open(path, "wb") as f:
                f.write(zolt(width, height, pixels, palette))
            subprocess.run([zoltdec, path, f"{work}/{name}.tif"], check=True)
            # The edit: the entry of the first pixel, the lowest of its colour.
            index = min(i for i, e in enumerate(palette) if e == palette[pixels[0]])
            inputs[name] = (width, height, pixels, palette, index)
        # GIMP runs once for each route and variant, over every file.
        for key in ("gimp", "gimp-png"):
            for edited in (0, 1):
                jobs = [(f"{work}/{name}.tif", f"{work}/{name}.{key}.{edited}.tif" + (".png" if key == "gimp-png" else ""),
                         inputs[name][4] if edited else None) for name in inputs]
                gimp(jobs)
                if key == "gimp-png":
                    gimp([(png, png[:-4], None) for _, png, _ in jobs])
        for key, route, how in ROUTES:
            cells = []
            for edited in (0, 1):
                matched_files, failed_before = [], failed
                for name, (width, height, pixels, palette, index) in inputs.items():
                    src, dst = f"{work}/{name}.tif", f"{work}/{name}.{key}.{edited}.tif"
                    if how is not None:
                        how(src, dst, index if edited else None, palette[index] if edited else None, work)
                    exact, by_colour = expected(width, height, pixels, palette, index if edited else None)
                    what = f"{route}, {name}{', edited' if edited else ''}"
                    out = f"{work}/out.zolt"
                    direct = run(zoltenc, dst, out) if os.path.exists(dst) else None
                    if direct and direct.returncode == 0 and open(out, "rb").read() == exact:
                        continue
                    matched = run(zoltenc, "--palette", f"{work}/{name}.zolt", dst, out) if direct else None
                    got = open(out, "rb").read() if matched and matched.returncode == 0 else b""
                    # Through colours, duplicate entries come back as the lowest.
                    if got == exact or (got == by_colour and name == "duplicates"):
                        matched_files.append(name)
                        continue
                    failed += 1
                    print(f"FAIL: {what}: " + ("the tool wrote no file" if not direct else
                          f"directly: status {direct.returncode} {direct.stderr.decode().strip()!r}; "
                          f"with --palette: status {matched.returncode} {matched.stderr.decode().strip()!r}"))
                cells.append("fails" if failed > failed_before else "exact" if not matched_files else "`--palette`" if len(matched_files) == len(inputs)
                             else "exact; `--palette` for " + ", ".join(matched_files))
            table.append((route, *cells))
        # The README's recipe for a new image on a ZOLT file's palette, as
        # printed, with the programs of this build first on PATH.
        readme = open(os.path.join(os.path.dirname(__file__), "..", "README.md")).read()
        recipe = readme.split("A new image on an existing ZOLT file's palette")[1].split("```sh\n")[1].split("```")[0]
        shutil.copy(f"{work}/all-entries.zolt", f"{work}/game.zolt")
        run(convert, "-size", "60x40", "gradient:red-blue", f"{work}/photo.jpg")
        env = dict(os.environ, PATH=os.path.abspath(build) + os.pathsep + os.environ["PATH"])
        made = subprocess.run(["sh", "-ec", recipe], cwd=work, env=env, capture_output=True)
        if made.returncode != 0 or not os.path.exists(f"{work}/photo.zolt") or open(f"{work}/photo.zolt", "rb").read()[-768:] != open(f"{work}/game.zolt", "rb").read()[-768:]:
            failed += 1
            print(f"FAIL: the README's recipe for a new image: status {made.returncode} {made.stderr.decode().strip()!r}")
        print("| route | unchanged | one pixel edited |\n|---|---|---|")
        for row in table:
            print("| " + " | ".join(row) + " |")
        print(f"{len(ROUTES) * len(inputs) * 2 + 1 - failed} passed, {failed} failed")
        return 1 if failed else 0
    finally:
        shutil.rmtree(work)


sys.exit(main())
