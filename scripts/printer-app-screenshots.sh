#!/usr/bin/env bash
# Web page screenshots of the printer application, taken with headless
# chromium against the test build on an emulated printer.
#   scripts/printer-app-screenshots.sh BUILD_DIR OUT_DIR
set -euo pipefail
build=${1:-build}
out=${2:-docs}
build=$(cd "$build" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)

if ! command -v chromium >/dev/null 2>&1; then
  sudo_cmd=()
  if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends chromium
fi

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

port=18481
export QZM480_ROOT="$work/root" TMPDIR="$work" QZM480_EMULATOR_SOCKET="$work/emu.sock"
mkdir -p "$QZM480_ROOT"
"$build/src/StatusControllers/Emulator/qzm480-emulator" "$QZM480_EMULATOR_SOCKET" 0 QZ0001 >/dev/null &
pids+=($!)
sleep 0.5
"$build/src/PrinterApp/qzm480-printer-app-emulated" server -o server-port=$port \
  -o state-file="$work/state" -o spool-directory="$work/spool" -o log-file="$work/app.log" &
pids+=($!)
for _ in $(seq 50); do
  ipptool -q "ipp://localhost:$port/" get-printers.test 2>/dev/null && break
  sleep 0.2
done
cat > "$work/create.test" <<'TEST'
{
  NAME "Create the printer"
  OPERATION Create-Printer
  GROUP operation-attributes-tag
  ATTR charset attributes-charset utf-8
  ATTR naturalLanguage attributes-natural-language en
  ATTR uri system-uri $uri
  ATTR keyword printer-service-type print
  ATTR keyword smi55357-driver qzm480
  ATTR uri smi55357-device-uri "qzm480://usb/QZ-M480?serial=QZ0001"
  GROUP printer-attributes-tag
  ATTR name printer-name QZ-M480
  STATUS successful-ok
}
TEST
ipptool -q "ipp://localhost:$port/ipp/system" "$work/create.test"
# Let the status callback read the printer once.
ipptool -q "ipp://localhost:$port/ipp/print/QZ-M480" get-printer-attributes.test || true
sleep 1

shot() {
  chromium --headless --no-sandbox --disable-gpu --hide-scrollbars --window-size=1100,900 \
    --user-data-dir="$work/chromium" --screenshot="$out/$1" "http://localhost:$port$2" \
    >/dev/null 2>&1
}
shot printer-app-status.png /QZ-M480/
shot printer-app-supplies.png /QZ-M480/supplies
shot printer-app-media.png /QZ-M480/media
shot printer-app-options.png /QZ-M480/printing
echo "screenshots in $out"
