#!/usr/bin/env bash
# Prints the built-in sample page the way CUPS would and makes its preview.
#   scripts/sample.sh [BUILD_DIR] [PAGE] [RES]
# PAGE defaults to 153x102mm, RES to 300dpi. Writes out/sample.qzm480 and
# out/sample-preview/sheet-001.png (and more sheets for two-up sizes).
set -euo pipefail

build=${1:-build}
page=${2:-153x102mm}
res=${3:-300dpi}
here=$(cd "$(dirname "$0")/.." && pwd)
cd "$here"

tools="$build/src/Filters/Tools"
filter="$build/src/Filters/Common/rastertoqzm480"
ppd="$build/src/Filters/QZ-M480/QZ-M480.gz"
for f in "$tools/qzm480-sample" "$tools/qzm480-inspect" "$filter" "$ppd" \
         "$build/profiles/M480_0100.icc" "$build/profiles/ov-480-mac-251126-5.icc"; do
    if [[ ! -e $f ]]; then
        echo "sample: $f is missing; build first (make build)" >&2
        exit 1
    fi
done

out=out
root="$out/sample-root"
job=1
rm -rf "$root" "$out/sample-preview"
mkdir -p "$root/Library/ColorSync/Profiles" "$root/Library/Caches/Orvane/QZ-M480"
cp "$build/profiles/M480_0100.icc" "$build/profiles/ov-480-mac-251126-5.icc" \
   "$root/Library/ColorSync/Profiles/"
# The print-status file that the printing system writes for each job.
printf 'MEDIA_SIZE=%s\n' "$page" > "$root/Library/Caches/Orvane/QZ-M480/Print_$job.log"

"$tools/qzm480-sample" --page-size "$page" --resolution "$res" --output "$out/sample.ras"
QZM480_ROOT="$here/$root" PPD="$ppd" \
    "$filter" "$job" "${USER:-$(id -un)}" "sample page" 1 \
    "PageSize=$page Resolution=$res" "$out/sample.ras" > "$out/sample.qzm480"
"$tools/qzm480-inspect" --png "$out/sample-preview" "$out/sample.qzm480" > "$out/sample.txt"

echo "Printed the sample page ($page, $res):"
echo "  command stream: $here/$out/sample.qzm480"
echo "  packet list:    $here/$out/sample.txt"
for png in "$out"/sample-preview/sheet-*.png; do
    echo "  preview:        $here/$png"
done
