#!/bin/sh
# corpus.sh - builds the packing benchmark's corpus from files of a Debian machine.
#
#   bench/corpus.sh OUTDIR
#
# Four sets, each a directory of files packed one by one:
#   OUTDIR/mixed     ELF programs and libraries interleaved with text (8 MiB)
#   OUTDIR/text      licences, documentation, C headers, Perl modules (6 MiB)
#   OUTDIR/indexed8  PNG images from /usr/share as 8-bit indices into a fixed 6x6x6
#                    colour cube, NAME.WxH.idx (2 Mi pixels, 2 MiB)
#   OUTDIR/image16   the same images as little-endian 5:6:5 pixels, NAME.WxH.565
#                    (the same 2 Mi pixels, 4 MiB; sides cut to multiples of 4)
#
# Selection is deterministic: candidates are listed per source root in byte order of
# their paths, filtered by size, and taken round-robin across the roots until the set's
# budget is reached. The images are decoded by the script itself (8-bit, non-interlaced
# PNGs; others are skipped) so nothing beyond python3 is needed. OUTDIR/MANIFEST lists
# every source file with its SHA-256: two machines with the same MANIFEST have the same
# corpus.
set -eu

if [ $# -ne 1 ]; then
    echo "usage: $0 OUTDIR" >&2
    exit 2
fi
command -v python3 >/dev/null || { echo "corpus.sh: python3 is needed" >&2; exit 1; }

exec python3 - "$1" <<'PYTHON'
import glob, hashlib, os, struct, sys, zlib

out = sys.argv[1]
MiB = 1 << 20
manifest = []

def candidates(pattern, lo, hi, test=None):
    found = []
    for p in sorted(glob.glob(pattern, recursive=True)):
        if os.path.islink(p) or not os.path.isfile(p):
            continue
        n = os.path.getsize(p)
        if lo <= n <= hi and (test is None or test(p)):
            found.append(p)
    return found

def iself(p):
    with open(p, 'rb') as f:
        return f.read(4) == b'\x7fELF'

def istext(p):
    with open(p, 'rb') as f:
        head = f.read(4096)
    return b'\0' not in head and not head.startswith(b'\x1f\x8b')

def roundrobin(lists):
    lists = [list(l) for l in lists]
    while any(lists):
        for l in lists:
            if l:
                yield l.pop(0)

def safe(p):
    return p.strip('/').replace('/', '_')

def copyset(name, roots, budget):
    d = os.path.join(out, name)
    os.makedirs(d, exist_ok=True)
    total = 0
    for p in roundrobin(roots):
        n = os.path.getsize(p)
        if total + n > budget:
            continue
        with open(p, 'rb') as f:
            data = f.read()
        with open(os.path.join(d, safe(p)), 'wb') as f:
            f.write(data)
        manifest.append((name, p, hashlib.sha256(data).hexdigest()))
        total += n
    return total

# ---- PNG decoding (8-bit channels, no interlace) ----------------------------------

def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    if pa <= pb and pa <= pc:
        return a
    return b if pb <= pc else c

def readpng(path):
    with open(path, 'rb') as f:
        data = f.read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        return None
    at, idat, palette = 8, [], None
    width = height = depth = ctype = interlace = None
    while at + 8 <= len(data):
        length, kind = struct.unpack('>I4s', data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        at += 12 + length
        if kind == b'IHDR':
            width, height, depth, ctype, _, _, interlace = struct.unpack('>IIBBBBB', body)
        elif kind == b'PLTE':
            palette = [tuple(body[i:i + 3]) for i in range(0, len(body) - 2, 3)]
        elif kind == b'IDAT':
            idat.append(body)
        elif kind == b'IEND':
            break
    channels = {0: 1, 2: 3, 3: 1, 4: 2, 6: 4}.get(ctype)
    if depth != 8 or interlace != 0 or channels is None or (ctype == 3 and not palette):
        return None
    try:
        raw = zlib.decompress(b''.join(idat))
    except zlib.error:
        return None
    stride = width * channels
    if len(raw) < height * (stride + 1):
        return None
    rows, prev = [], bytearray(stride)
    for y in range(height):
        ft = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b, c = prev[i], (prev[i - channels] if i >= channels else 0)
            if ft == 1:
                line[i] = (line[i] + a) & 255
            elif ft == 2:
                line[i] = (line[i] + b) & 255
            elif ft == 3:
                line[i] = (line[i] + ((a + b) >> 1)) & 255
            elif ft == 4:
                line[i] = (line[i] + paeth(a, b, c)) & 255
        rows.append(line)
        prev = line
    pixels = []  # rows of (r, g, b), alpha composed over black
    for line in rows:
        row = []
        for x in range(width):
            px = line[x * channels:(x + 1) * channels]
            if ctype == 0:
                r = g = b = px[0]
            elif ctype == 4:
                r = g = b = px[0] * px[1] // 255
            elif ctype == 2:
                r, g, b = px
            elif ctype == 6:
                r, g, b = (v * px[3] // 255 for v in px[:3])
            else:
                r, g, b = palette[px[0]] if px[0] < len(palette) else (0, 0, 0)
            row.append((r, g, b))
        pixels.append(row)
    return width, height, pixels

def imagesets(budget):
    dirs = {k: os.path.join(out, k) for k in ('indexed8', 'image16')}
    for d in dirs.values():
        os.makedirs(d, exist_ok=True)
    pngs = candidates('/usr/share/**/*.png', 8 << 10, 4 * MiB)
    total = 0
    for p in pngs:
        img = readpng(p)
        if img is None:
            continue
        w, h, px = img
        w4, h4 = w & ~3, h & ~3
        if w4 < 16 or h4 < 16 or total + w4 * h4 > budget:
            continue
        idx, rgb565 = bytearray(), bytearray()
        for y in range(h4):
            for x in range(w4):
                r, g, b = px[y][x]
                idx.append(36 * ((r * 5 + 127) // 255) + 6 * ((g * 5 + 127) // 255)
                           + (b * 5 + 127) // 255)
                v = ((r * 31 + 127) // 255) << 11 | ((g * 63 + 127) // 255) << 5 \
                    | ((b * 31 + 127) // 255)
                rgb565 += struct.pack('<H', v)
        base = '%s.%dx%d' % (safe(p)[:-4], w4, h4)
        with open(os.path.join(dirs['indexed8'], base + '.idx'), 'wb') as f:
            f.write(idx)
        with open(os.path.join(dirs['image16'], base + '.565'), 'wb') as f:
            f.write(rgb565)
        with open(p, 'rb') as f:
            manifest.append(('images', p, hashlib.sha256(f.read()).hexdigest()))
        total += w4 * h4
    return total

textroots = [
    candidates('/usr/share/common-licenses/*', 4 << 10, MiB, istext),
    candidates('/usr/share/doc/**/*.txt', 4 << 10, MiB, istext),
    candidates('/usr/include/**/*.h', 16 << 10, MiB, istext),
    candidates('/usr/share/perl*/**/*.pm', 16 << 10, MiB, istext),
]
binroots = [
    candidates('/usr/bin/*', 64 << 10, 4 * MiB, iself),
    candidates('/usr/lib/x86_64-linux-gnu/*.so*', 64 << 10, 4 * MiB, iself),
]
os.makedirs(out, exist_ok=True)
sizes = {
    'text': copyset('text', textroots, 6 * MiB),
    'mixed': copyset('mixed', binroots + textroots[::-1], 8 * MiB),
}
pixels = imagesets(2 * MiB)
sizes['indexed8'], sizes['image16'] = pixels, 2 * pixels
with open(os.path.join(out, 'MANIFEST'), 'w') as f:
    for name, p, digest in manifest:
        f.write('%s %s %s\n' % (digest, name, p))
for k, v in sizes.items():
    print('%-9s %9d bytes' % (k, v))
PYTHON
