#!/bin/bash
# Opens every VRML file under a folder in the real window, one process per
# file (a crash or a hang costs only that file), and prints what the first
# view of each showed and the figures:
#
#   scripts/realworld.sh FOLDER [RESULTS.tsv] [IMAGE_DIR]
#
# Needs the build in build/ (target realworld_views). Runs under its own
# virtual X server unless DISPLAY is set. Each result line is
#   path  loaded=..  shows|flat  share=..  geometry=..  boxes=..  left=..  text=geometry|none
# or, for a process that did not finish, path  crash=<signal> | hang.
set -u
here=$(cd "$(dirname "$0")/.." && pwd)
tool=${REALWORLD_TOOL:-$here/build/bench/realworld_views}
folder=${1:?usage: realworld.sh FOLDER [RESULTS.tsv] [IMAGE_DIR]}
results=${2:-realworld.tsv}
images=${3:-}

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$@"
fi
export LIBGL_ALWAYS_SOFTWARE=1 QT_QPA_PLATFORM=xcb
[ -n "$images" ] && mkdir -p "$images"

# Whether the text (inflated when gzipped) names a geometry node or an inline.
holds_geometry() {
    zcat -f -- "$1" 2>/dev/null | sed 's/#.*//' | grep -qwE \
        'Box|Sphere|Cone|Cylinder|IndexedFaceSet|IndexedLineSet|PointSet|ElevationGrid|Extrusion|Text|AsciiText|Cube|IndexedTriangleStripSet|IndexedTriangleSet|TriangleSet|FaceSet|QuadMesh|NurbsSurface|Inline|WWWInline'
}

: > "$results"
find "$folder" -type f \( -iname '*.wrl' -o -iname '*.wrl.gz' -o -iname '*.wrz' \) | sort | while read -r file; do
    text=none
    holds_geometry "$file" && text=geometry
    out=$(timeout -k 5 60 "$tool" ${images:+--images "$images"} "$file" 2>/dev/null < /dev/null | grep -P '\t' | tail -1)
    rc=${PIPESTATUS[0]}
    if [ "$rc" = 124 ] || [ "$rc" = 137 ]; then
        out="$file	hang"
    elif [ "$rc" -gt 128 ]; then
        out="$file	crash=$((rc - 128))"
    elif [ -z "$out" ]; then
        out="$file	exit=$rc"
    fi
    printf '%s\ttext=%s\n' "$out" "$text" | tee -a "$results"
done

awk -F'\t' '
    { total++ }
    /\ttext=geometry/ { geoAll++ }
    /\tloaded=yes/ { loaded++; if (/\ttext=geometry/) { geo++; if (/\tshows\t/) shows++ } }
    /\thang/ { hangs++ }
    /\tcrash=/ { crashes++ }
    END {
        printf "files %d, loaded %d (%.1f%%), crashes %d, hangs %d\n", total, loaded, 100 * loaded / (total ? total : 1), crashes, hangs
        printf "geometry in the text %d, of them loaded %d, shown on the first view %d (%.1f%% of loaded, %.1f%% of all)\n", geoAll, geo, shows, 100 * shows / (geo ? geo : 1), 100 * shows / (geoAll ? geoAll : 1)
    }' "$results"
