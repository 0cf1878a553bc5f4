#!/usr/bin/env bash
# How fast and in how much memory one ABI full disk goes from its file to a JPEG, beside the
# floor (netCDF-C reading Rad alone, then cjpeg of a picture of the same size) and beside
# satpy loading the same band and saving a PNG; the 0.5 km band's peak memory; and a
# station keeping five bands with GeoTIFFs on through a ten-minute feed of one satellite (a
# full disk, two CONUS and ten mesoscale scans of each band).
#
#   bench/abi-speed.sh [BUILD_DIR]      (default build/normal; KEEP=1 keeps the work tree)
#
# FILES=DIR takes the 0.5 km full disk from DIR/vis and the ten-minute feed from DIR/feed
# when they are there (orvanta-synth takes about twenty minutes for the former on 2 cores).
#
# Give the machine's load with the figures: `uptime` is printed first and last.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$root/build/normal}"
orvanta="$build/app/orvanta"
synth="$build/app/orvanta-synth"
work="$(mktemp -d /tmp/abi-speed.XXXXXX)"
[ "${KEEP:-0}" = 1 ] || trap 'rm -rf "$work"' EXIT
uptime

# Seconds and peak resident megabytes of a command, as "s MB".
measure() {
  /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out" 2>&1 || { cat "$work/out"; return 1; }
  awk '{ printf "%.2f s, %.0f MB", $1, $2 / 1024 }' "$work/time"
}

station() { # settings dir, then the registry lines
  local dir="$1"; shift
  mkdir -p "$dir/in" "$dir/raw" "$dir/img" "$dir/config/Quillon"
  {
    printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Quillon\\orvanta]\n'
    printf '"SourcePath"="%s/in/"\n"NetCDFPath"="%s/raw/"\n"SavePath"="%s/img/"\n' "$dir" "$dir" "$dir"
    printf '%s\n' "$@"
  } >"$dir/config/Quillon/registry.reg"
}

echo "=== one 2 km full disk (band 13) to JPEG ==="
"$synth" --out "$work/fd" --abi G18 --abi-bands 13 --abi-sectors F --start 2026-12-08T12:00 --quiet
fd=$(ls "$work"/fd/*RadF*C13*.nc)
echo "file: $(basename "$fd") ($(( $(stat -c %s "$fd") / 1048576 )) MB)"
station "$work/one" '"SaveAsJPEG"=dword:00000001' '"SaveAsNetCDF"=dword:00000001'
for run in 1 2 3; do
  cp "$fd" "$work/one/in/"
  echo "orvanta, run $run: $(XDG_CONFIG_HOME="$work/one/config" XDG_STATE_HOME="$work/one/state" \
    measure "$orvanta" --headless "$work/one/in/$(basename "$fd")")"
done
jpeg=$(find "$work/one/img" -name '*-g18-c13.jpg' | head -n 1)
djpeg -grayscale "$jpeg" >"$work/grey.pgm"
echo "floor, nccopy -d0 -V Rad: $(measure nccopy -d0 -V Rad "$fd" "$work/rad.nc")"
echo "floor, cjpeg -quality 99: $(measure sh -c "cjpeg -quality 99 -grayscale '$work/grey.pgm' > '$work/floor.jpg'")"
if /usr/bin/python3 -c 'import satpy' 2>/dev/null; then
  cat >"$work/satpy_png.py" <<'PY'
import sys
import warnings
warnings.simplefilter("ignore")
from satpy import Scene
scene = Scene(reader="abi_l1b", filenames=[sys.argv[1]])
scene.load(["C13"])
scene.save_dataset("C13", filename=sys.argv[2])
PY
  echo "satpy, load C13 and save a PNG: $(measure /usr/bin/python3 "$work/satpy_png.py" "$fd" "$work/satpy.png")"
else
  echo "satpy: not installed (scripts/deps installs python3-satpy)"
fi

echo "=== the 0.5 km band's full disk (band 2), every output on ==="
if [ -n "${FILES:-}" ] && compgen -G "$FILES/vis/*RadF*C02*.nc" >/dev/null; then
  vis=$(ls "$FILES"/vis/*RadF*C02*.nc)
else
  "$synth" --out "$work/vis" --abi G18 --abi-bands 2 --abi-sectors F --start 2026-12-08T18:00 --quiet
  vis=$(ls "$work"/vis/*RadF*C02*.nc)
fi
echo "file: $(basename "$vis") ($(( $(stat -c %s "$vis") / 1048576 )) MB)"
station "$work/two" '"SaveAsJPEG"=dword:00000001' '"SaveAsPNG"=dword:00000001' '"SaveAsGeoTIFF"=dword:00000001' \
  '"Boundaries"=dword:00000001' '"ImageStamp"=dword:00000001'
cp "$vis" "$work/two/in/"
echo "orvanta: $(XDG_CONFIG_HOME="$work/two/config" XDG_STATE_HOME="$work/two/state" \
  measure "$orvanta" --headless "$work/two/in/$(basename "$vis")") (the decoding worker's peak included)"

echo "=== ten minutes of one satellite's five bands, GeoTIFF on ==="
if [ -n "${FILES:-}" ] && compgen -G "$FILES/feed/OR_ABI*.nc" >/dev/null; then
  mkdir -p "$work/feed"
  cp "$FILES"/feed/OR_ABI*.nc "$work/feed/"
else
  "$synth" --out "$work/feed" --abi G18 --abi-bands 2,7,8,13,16 --abi-sectors F,C,M1 --start 2026-12-08T12:00 \
    --hours 0.1667 --quiet
fi
echo "files: $(ls "$work/feed" | wc -l) ($(du -sm "$work/feed" | cut -f1) MB)"
station "$work/feed-station" '"SaveAsJPEG"=dword:00000001' '"SaveAsGeoTIFF"=dword:00000001' \
  '"Boundaries"=dword:00000001' '"SaveAsNetCDF"=dword:00000001'
mv "$work"/feed/*.nc "$work/feed-station/in/"
(
  export XDG_CONFIG_HOME="$work/feed-station/config" XDG_STATE_HOME="$work/feed-station/state"
  /usr/bin/time -f "%e %M" -o "$work/feed-time" "$orvanta" --headless -start >"$work/feed-log" 2>&1 &
  timer=$!
  while compgen -G "$work/feed-station/in/OR_ABI*" >/dev/null; do sleep 1; done
  sleep 1
  pkill -TERM -P "$timer" || true
  wait "$timer" || true
)
awk '{ printf "station: %.1f s for the ten minutes (%.0f %% of real time), peak %.0f MB\n", $1, $1 / 6, $2 / 1024 }' \
  "$work/feed-time"
echo "images: $(find "$work/feed-station/img" -name '*.jpg' | wc -l) JPEG, $(find "$work/feed-station/img" -name '*.tif' | wc -l) GeoTIFF"
grep -c "Processed" "$work/feed-station/state/Quillon/orvanta-process.log" | sed 's/^/files processed: /'
uptime
