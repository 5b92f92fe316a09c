#!/usr/bin/env bash
# Checks the Debian package as a new user meets it: builds it with
# scripts/package.sh, has lintian judge it (no error, no warning), makes a
# minimal Debian 12 with debootstrap, installs the package there with apt
# (without recommended packages: what it declares must be enough) and, on a
# virtual X server, draws thumbnails there of a textured, a gzip and a text
# world, which must equal those drawn on this machine pixel for pixel, and
# opens the gzip world in the window, whose view must show its texture.
#
#   bash scripts/check-package.sh [FOLDER]
#
# The new system goes into a fresh folder under FOLDER (default build/),
# removed at the end. Needs root and a Debian mirror: the one apt uses here,
# or DEBIAN_MIRROR. Exits 0 when everything passed, 1 on a fault, and 77 when
# the mirror could not be reached in time (then nothing past lintian ran).
set -euo pipefail
script=$(readlink -f "$0")
cd "$(dirname "$script")/.."
started=$(date +%s)
say() { echo "check-package: $*"; }
fail() { say "FAILED: $*"; exit 1; }
skip() { say "SKIPPED, the mirror could not be reached: $*"; exit 77; }
[ "$(id -u)" -eq 0 ] || fail "needs root for debootstrap and chroot"

# Every mount made below lives in a mount namespace of this script's own, so
# none outlives it, whatever ends it.
if [ -z "${QUELVIN_CHECK_NAMESPACE:-}" ]; then
  QUELVIN_CHECK_NAMESPACE=1 exec unshare --mount --propagation private bash "$script" "$@"
fi

# Pixel counts of a PNG or of the virtual screen (Xvfb's XWD frame buffer),
# and a key press sent to the screen, with Python's standard library only.
pixels() {
  python3 - "$@" <<'EOF'
import ctypes, struct, sys, zlib

def png(path):
    data, pos, idat = open(path, 'rb').read(), 8, b''
    while pos < len(data):
        size, kind = struct.unpack('>I4s', data[pos:pos + 8])
        if kind == b'IHDR':
            width, height, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', data[pos + 8:pos + 21])
        elif kind == b'IDAT':
            idat += data[pos + 8:pos + 8 + size]
        pos += 12 + size
    assert depth == 8 and interlace == 0 and colour in (2, 6)
    n = 4 if colour == 6 else 3
    raw, stride, prev, out = zlib.decompress(idat), width * n, bytearray(width * n), []
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a, b = line[i - n] if i >= n else 0, prev[i]
            c = prev[i - n] if i >= n else 0
            if kind == 4:
                p = a + b - c
                a = a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c
            line[i] = (line[i] + (0, a, b, (a + b) // 2, a)[kind]) & 255
        out += [tuple(line[x:x + n]) + (255,) * (4 - n) for x in range(0, stride, n)]
        prev = line
    return out

def screen(path):
    data = open(path, 'rb').read()
    head = struct.unpack('>25I', data[:100])
    start, width, height, line = head[0] + 12 * head[19], head[4], head[5], head[12]
    assert head[11] == 32 and head[7] == 0
    return [(p[2], p[1], p[0], 255) for y in range(height)
            for p in struct.iter_unpack('4B', data[start + y * line:start + y * line + width * 4])]

red = lambda p: p[0] > 140 and p[1] < 90 and p[2] < 90 and p[3] > 0
blue = lambda p: p[2] > p[0] + 60 and p[3] > 0
lit = lambda p: p[:3] != (0, 0, 0)
if sys.argv[1] == 'compare':
    a, b = png(sys.argv[2]), png(sys.argv[3])
    print(sum(p != q for p, q in zip(a, b)) if len(a) == len(b) else len(a), sum(map(red, a)), sum(map(blue, a)))
elif sys.argv[1] == 'screen':
    a = screen(sys.argv[2])
    print(sum(map(lit, a)), sum(map(red, a)))
else:
    x11, xtst = ctypes.CDLL('libX11.so.6'), ctypes.CDLL('libXtst.so.6')
    x11.XOpenDisplay.restype = ctypes.c_void_p
    display = ctypes.c_void_p(x11.XOpenDisplay(None))
    key = x11.XKeysymToKeycode(display, ctypes.c_ulong(0xff0d))
    xtst.XTestFakeKeyEvent(display, key, 1, 0)
    xtst.XTestFakeKeyEvent(display, key, 0, 0)
    x11.XCloseDisplay(display)
EOF
}

bash scripts/setup.sh lintian debootstrap libxtst6 || skip "lintian and debootstrap could not be installed"
parent=$(readlink -f "${1:-build}")
mkdir -p "$parent"
scratch=$(mktemp -d "$parent/check-package.XXXXXX")
root=$scratch/root
xvfb=""
viewer=""
cleanup() {
  set +e
  for pid in $viewer $xvfb; do
    kill "$pid" 2> /dev/null
    wait "$pid" 2> /dev/null
  done
  findmnt -rn -o TARGET | grep "^$root/" | sort -r | xargs -r -n 1 umount -l
  rm -rf --one-file-system "$scratch"
  say "took $(($(date +%s) - started)) s"
}
trap cleanup EXIT
trap 'exit 1' TERM INT HUP

say "building the package"
bash scripts/package.sh > "$scratch/package.log" 2>&1 || { tail -n 30 "$scratch/package.log"; fail "scripts/package.sh"; }
deb=$(tail -n 1 "$scratch/package.log")
say "lintian $deb"
lintian --fail-on error,warning --display-info "$deb" || fail "lintian has errors or warnings"

say "thumbnails on this machine"
mkdir -p "$scratch/worlds/textures" "$scratch/screen"
mkdir -m 700 "$scratch/here"
cp examples/textures/checker.png "$scratch/worlds/textures/"
cat > "$scratch/worlds/textured.wrl" <<'EOF'
#VRML V2.0 utf8
Viewpoint { position 0 0 2.6 }
Shape { appearance Appearance { material Material { diffuseColor 1 1 1 }
    texture ImageTexture { url "textures/checker.png" } }
  geometry Box { size 2 2 2 } }
EOF
gzip -n -9 -c "$scratch/worlds/textured.wrl" > "$scratch/worlds/gzip.wrz"
cat > "$scratch/worlds/text.wrl" <<'EOF'
#VRML V2.0 utf8
Viewpoint { position 0 0 7 }
Shape { appearance Appearance { material Material { diffuseColor 0.1 0.3 0.9 } }
  geometry Text { string [ "Quelvin" "0.1" ] fontStyle FontStyle { justify "MIDDLE" size 1.4 } } }
EOF
worlds=(textured.wrl gzip.wrz text.wrl)
display=90
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x1024x24 -nolisten tcp -fbdir "$scratch/screen" > "$scratch/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 50); do [ -S "/tmp/.X11-unix/X$display" ] && break; sleep 0.2; done
[ -S "/tmp/.X11-unix/X$display" ] || { cat "$scratch/xvfb.log"; fail "Xvfb did not start"; }
export DISPLAY=":$display"
for world in "${worlds[@]}"; do
  HOME="$scratch/here" XDG_RUNTIME_DIR="$scratch/here" timeout 60 build/quelvin-thumbnailer \
    "$scratch/worlds/$world" "$scratch/here/$world.png" 128 || fail "thumbnailer on $world here"
done

say "a minimal Debian 12 with debootstrap"
sources=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' | sort -u)
mirror=${DEBIAN_MIRROR:-$(awk '$2 == "bookworm" { print $1; exit }' <<< "$sources")}
mirror=${mirror:-http://deb.debian.org/debian}
security=$(awk '$2 == "bookworm-security" { print $1; exit }' <<< "$sources")
timeout 600 debootstrap --variant=minbase bookworm "$root" "$mirror" > "$scratch/debootstrap.log" 2>&1 \
  || { tail -n 5 "$scratch/debootstrap.log"; skip "debootstrap from $mirror"; }
{
  echo "deb $mirror bookworm main"
  echo "deb $mirror bookworm-updates main"
  [ -z "$security" ] || [ -n "${DEBIAN_MIRROR:-}" ] || echo "deb $security bookworm-security main"
} > "$root/etc/apt/sources.list"
mount -t proc proc "$root/proc"
mkdir -m 700 "$root/tmp/home"
inside=(chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/tmp/home XDG_RUNTIME_DIR=/tmp/home
        DISPLAY="$DISPLAY" DEBIAN_FRONTEND=noninteractive)
timeout 300 chroot "$root" apt-get update -qq --error-on=any || skip "apt-get update there"
before=$("${inside[@]}" dpkg-query -W -f '${Package}\n' | wc -l)

say "installing the package there with apt"
cp "$deb" "$root/tmp/"
if ! timeout 600 chroot "$root" env DEBIAN_FRONTEND=noninteractive \
     apt-get install -y -q --no-install-recommends "/tmp/$(basename "$deb")" > "$scratch/apt.log" 2>&1; then
  tail -n 20 "$scratch/apt.log"
  grep -q -E 'Failed to fetch|Could not resolve|Unable to connect' "$scratch/apt.log" && skip "apt-get install there"
  fail "apt-get install of the package"
fi
grep -E '^(Need to get|After this operation)' "$scratch/apt.log" || true
dev=$("${inside[@]}" dpkg-query -W -f '${Package}\n' | grep -E -- '-dev$' || true)
[ -z "$dev" ] || fail "development packages pulled in: $dev"
say "$(($("${inside[@]}" dpkg-query -W -f '${Package}\n' | wc -l) - before)) packages added, none of them -dev"

say "thumbnails there"
cp -r "$scratch/worlds" "$root/tmp/worlds"
mkdir "$root/tmp/out"
for world in "${worlds[@]}"; do
  "${inside[@]}" timeout 60 quelvin-thumbnailer "/tmp/worlds/$world" "/tmp/out/$world.png" 128 \
    || fail "thumbnailer on $world in the new system"
  read -r differ red blue < <(pixels compare "$root/tmp/out/$world.png" "$scratch/here/$world.png")
  say "$world: $differ pixels differ from this machine's; $red red, $blue blue"
  [ "$differ" -eq 0 ] || fail "the thumbnail of $world differs from this machine's"
  case $world in
    text.wrl) [ "$blue" -gt 300 ] || fail "no text in the thumbnail of $world" ;;
    *) [ "$red" -gt 3000 ] || fail "no texture in the thumbnail of $world" ;;
  esac
done

say "the window there"
# A box names the document before the window shows it: Return closes it.
mkdir -p "$root/tmp/window"
"${inside[@]}" timeout 120 sh -c 'cd /tmp/window && exec quelvin /tmp/worlds/gzip.wrz' > "$scratch/window.log" 2>&1 &
viewer=$!
shown=0
pressed=0
for _ in $(seq 30); do
  kill -0 "$viewer" 2> /dev/null || { cat "$scratch/window.log"; fail "the window closed by itself"; }
  read -r lit red < <(pixels screen "$scratch/screen/Xvfb_screen0")
  [ "$red" -gt 20000 ] && { shown=1; break; }
  if [ "$lit" -gt 0 ] && [ "$pressed" -eq 0 ]; then
    sleep 1
    pixels key
    pressed=1
  fi
  sleep 1
done
[ "$shown" -eq 1 ] || fail "the window does not show the textured gzip world"
sleep 3
kill -0 "$viewer" 2> /dev/null || { cat "$scratch/window.log"; fail "the window closed by itself"; }
[ -s "$root/tmp/window/quelvinViewer.log" ] || fail "the window wrote no quelvinViewer.log"
say "the window shows the world ($red red pixels on screen) and runs"
say "passed"
