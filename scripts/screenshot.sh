#!/usr/bin/env bash
# Makes docs/screenshot.png, the picture at the top of the README: the real
# program on the sample scene under a virtual X server with Mesa's
# software GL, after the box that names the document.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh > /dev/null
bash scripts/setup.sh xdotool x11-apps
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# A window size a returning user would have kept, rather than the first
# start's small default.
mkdir -p "$work/.config/Kestrom"
printf '[General]\npos=@Point(0 0)\nsize=@Size(960 680)\n' > "$work/.config/Kestrom/Quelvin.conf"
export LIBGL_ALWAYS_SOFTWARE=1 QT_QPA_PLATFORM=xcb HOME="$work" XDG_CONFIG_HOME="$work/.config" XDG_RUNTIME_DIR="$work"
# Opened by its bare name from a copy of the examples, so that the location
# field shows "sample.wrl" rather than where this checkout happens to lie.
cp -r examples "$work/examples"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -e
  cd "$1/examples"
  "$2" "$3" > /dev/null &
  pid=$!
  box=$(xdotool search --sync --onlyvisible --name "^Viewer$" | head -1)
  xdotool windowfocus --sync "$box" key Return
  window=$(xdotool search --sync --onlyvisible --name "Quelvin" | head -1)
  sleep 3   # the software renderer draws the first frames
  xwd -silent -id "$window" > shot.xwd
  kill "$pid"' _ "$work" "$PWD/build/quelvin" sample.wrl
# An XWD of a TrueColor window: a header of big-endian words, the window
# name, a colour map, then padded rows of 24- or 32-bit pixels.
python3 - "$work/examples/shot.xwd" docs/screenshot.png <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
h = struct.unpack(">25I", data[:100])
size, width, height, order, bpp, stride, ncolours = h[0], h[4], h[5], h[7], h[11], h[12], h[19]
masks = h[14:17]
step = bpp // 8
assert step in (3, 4), "expected 24- or 32-bit pixels"
pixels = data[size + 12 * ncolours:]
endian = "little" if order == 0 else "big"
def channel(value, mask):
    shift = (mask & -mask).bit_length() - 1
    return (value & mask) >> shift
rows = []
for y in range(height):
    row = bytearray(b"\x00")
    for x in range(width):
        at = y * stride + step * x
        v = int.from_bytes(pixels[at:at + step], endian)
        row += bytes(channel(v, m) for m in masks)
    rows.append(bytes(row))
def chunk(tag, body):
    return struct.pack(">I", len(body)) + tag + body + struct.pack(">I", zlib.crc32(tag + body) & 0xFFFFFFFF)
png = (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
       + chunk(b"IDAT", zlib.compress(b"".join(rows), 9)) + chunk(b"IEND", b""))
open(sys.argv[2], "wb").write(png)
print("wrote", sys.argv[2], "%dx%d" % (width, height))
PY
