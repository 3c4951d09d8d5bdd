#!/usr/bin/env bash
# Starts the status window under Xvfb with sample printer-information files
# and saves a PNG of the window in each of three states: online, offline and
# an error (paper jam).
#
#   scripts/status-window-screenshots.sh <StatusInfoQZ-M480 program> <output folder>
#
# Exits 77 when Xvfb, xwininfo or ImageMagick's import is missing.
set -euo pipefail

program=${1:?usage: $0 <StatusInfoQZ-M480 program> <output folder>}
out=${2:?usage: $0 <StatusInfoQZ-M480 program> <output folder>}

for tool in Xvfb xwininfo import; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "SKIP: $tool is not installed" >&2
    exit 77
  fi
done

mkdir -p "$out"
root=$(mktemp -d "${TMPDIR:-/tmp}/qzm480-shots-XXXXXX")
xvfb_pid=""
window_pid=""
cleanup() {
  [ -n "$window_pid" ] && kill "$window_pid" 2>/dev/null && wait "$window_pid" 2>/dev/null
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$root"
}
trap cleanup EXIT

cache="$root/Library/Caches/Orvane/QZ-M480"
mkdir -p "$cache"

# An information file as the daemon writes it.
write_info() {  # serial status message size initial remain total
  printf '%s\n' '#PRINTER_INFORMATION' 'MODEL="QZ-M480"' \
    "PRINTER_STATUS=\"$2\"" "PRINTER_MESSAGE=\"$3\"" 'PRINTER_VERSION="1.05"' \
    "PRINTER_SERIAL_NO=\"$1\"" '' '#MEDIA_INFORMATION' "MEDIA_SIZE=\"$4\"" \
    "MEDIA_INITIAL=\"$5\"" "MEDIA_REMAIN=\"$6\"" '' '#COUNTER_INFORMATION' \
    "TOTAL_COUNT=\"$7\"" '' >"$cache/QZ-M480_$1.log"
}
write_info "OV%20240101" 00000 00001 301 00350 00200 0001234
write_info "OV%20240103" 01300 00104 210 00350 00085 0005678
# The disconnected form.
printf '%s\n' '#PRINTER_INFORMATION' 'MODEL=""' 'PRINTER_STATUS="99999"' \
  'PRINTER_MESSAGE="00006"' 'PRINTER_VERSION=""' 'PRINTER_SERIAL_NO=""' '' \
  '#MEDIA_INFORMATION' 'MEDIA_SIZE=""' 'MEDIA_INITIAL=""' 'MEDIA_REMAIN=""' \
  'MEDIA_REMAIN_HALF=""' '' '#COUNTER_INFORMATION' 'TOTAL_COUNT=""' '' \
  >"$cache/QZ-M480_OV%20240102.log"

# Xvfb picks a free display number and writes it to the given descriptor; it
# must not reset when its last client leaves, or the next window may find no
# server between two pictures.
Xvfb -displayfd 3 -screen 0 640x480x24 -nolisten tcp -noreset 3>"$root/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [ -s "$root/display" ] && break
  sleep 0.1
done
if [ ! -s "$root/display" ]; then
  echo "Xvfb did not start" >&2
  exit 1
fi
display=":$(head -n1 "$root/display")"

mkdir -m 0700 "$root/run"
export DISPLAY="$display" QT_QPA_PLATFORM=xcb QZM480_ROOT="$root" XDG_RUNTIME_DIR="$root/run"
# No print server: the presence check is skipped, the window stays open.
export CUPS_SERVER="$root/no-cupsd.sock"

shoot() {  # serial picture
  "$program" "$1" "Orvane QZ-M480" &
  window_pid=$!
  # Wait for the window however busy the machine is (import would wait for
  # a click on a window that is not there), then for its first poll, which
  # runs one second after it is shown.
  for _ in $(seq 300); do
    xwininfo -name "Orvane QZ-M480" >/dev/null 2>&1 && break
    sleep 0.1
  done
  if ! xwininfo -name "Orvane QZ-M480" >/dev/null 2>&1; then
    echo "the window did not appear" >&2
    exit 1
  fi
  sleep 2
  import -window "Orvane QZ-M480" "$out/$2"
  kill "$window_pid"
  wait "$window_pid" 2>/dev/null || true
  window_pid=""
}
shoot "OV%20240101" status-window-online.png
shoot "OV%20240102" status-window-offline.png
shoot "OV%20240103" status-window-error.png
echo "saved the screenshots in $out"
