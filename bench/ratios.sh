#!/usr/bin/env bash
# Whole-process timings of the station beside the public codec tools it has to beat, on
# files made by orvanta-synth. Each job runs side by side with its reference, pair after
# pair, and the median of the pairs' ratios is printed, so that a machine shared with other
# work skews both sides alike. Nothing here fails a build: it prints figures.
#
#   bench/ratios.sh [BUILD_DIR]   (default build/normal; RUNS=5; WORK=DIR keeps the generated
#                                  files there for the next run; BANDS="1 4" times fewer bands;
#                                  SYNTH_RUNS=3 for the feed generator, SKIP_SYNTH=1 leaves it out)
#
# Needs bzip2, lbzip2, cjpeg and djpeg (Debian: bzip2, lbzip2, libjpeg-turbo-progs).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$root/build/normal}" && pwd)"
orvanta="$build/app/orvanta"
synth="$build/app/orvanta-synth"
runs="${RUNS:-5}"
synth_runs="${SYNTH_RUNS:-3}"
for tool in bzip2 lbzip2 cjpeg djpeg; do
  command -v "$tool" >/dev/null || { echo "ratios: $tool is not installed" >&2; exit 2; }
done
[[ -x $orvanta && -x $synth ]] || { echo "ratios: build $build first" >&2; exit 2; }

work="${WORK:-$(mktemp -d /tmp/orvanta-ratios.XXXXXX)}"
mkdir -p "$work"
[[ -n ${WORK:-} ]] || trap 'rm -rf "$work"' EXIT
station="$work/station"
rm -rf "$station"
. "$root/bench/fresh-station.sh"
fresh_station "$station"

start=2019-06-21T18:00
gen() { # dir, arguments...
  local dir="$1"; shift
  [[ -d $dir ]] || "$synth" --out "$dir" --start "$start" --quiet "$@"
}
echo "generating files in $work"
gen "$work/fd" --geo
gen "$work/small" --scale 0.25 --bands 1
gen "$work/feed" --hours 3

now() { echo "${EPOCHREALTIME/./}"; }  # microseconds
TIMES=()
# Runs a command line, adds its wall time in microseconds to TIMES.
timed() {
  local t0 t1
  t0=$(now)
  "$@" >/dev/null 2>&1 || { echo "ratios: failed: $*" >&2; exit 1; }
  t1=$(now)
  TIMES+=($((t1 - t0)))
}
median() { printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {print (NR%2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

# The station on one file, as an operator runs it, from the incoming directory (STAGE copies
# it there before the clock starts).
station_file() { # file, extra switches...
  local file="$1"; shift
  "$orvanta" --headless "$@" "$station/incoming/$(basename "$file")"
}
floor() { # file: the decode and the one JPEG encode no product can skip
  lbzip2 -dc -n2 "$1" >/dev/null && cjpeg -quality 99 "$work/composite.pgm" >/dev/null
}
REPORT=()
# pair NAME -- A... -- B...: RUNS pairs, prints median seconds of each and the median ratio A/B.
pair() {
  local name="$1"; shift; shift
  local a=() b=()
  while [[ $1 != -- ]]; do a+=("$1"); shift; done
  shift; b=("$@")
  local ratios=() ta=() tb=() i
  for ((i = 0; i < runs; i++)); do
    TIMES=()
    [[ -z ${STAGE:-} ]] || eval "$STAGE"
    timed "${a[@]}"
    timed "${b[@]}"
    ta+=("${TIMES[0]}"); tb+=("${TIMES[1]}")
    ratios+=("$(awk -v x="${TIMES[0]}" -v y="${TIMES[1]}" 'BEGIN {printf "%.3f", x / y}')")
  done
  local line
  line=$(awk -v n="$name" -v a="$(median "${ta[@]}")" -v b="$(median "${tb[@]}")" -v r="$(median "${ratios[@]}")" \
    -v lo="$(printf '%s\n' "${ratios[@]}" | sort -g | head -1)" -v hi="$(printf '%s\n' "${ratios[@]}" | sort -g | tail -1)" \
    'BEGIN {printf "%-44s %7.3f s %7.3f s  ratio %5.2f (%.2f-%.2f)", n, a / 1e6, b / 1e6, r, lo, hi}')
  echo "$line"
  REPORT+=("$line")
}

# A warm-up run of every band, so the station has a last image of each channel to restore.
for f in "$work"/fd/goes15.*_[0-9].nc.bz2; do cp "$f" "$station/incoming/"; station_file "$f" >/dev/null 2>&1 || true; done
djpeg -grayscale -pnm "$(ls "$station"/images/*/*/*/*.jpg | head -1)" > "$work/composite.pgm"

echo "uptime before: $(uptime)"
printf '%-44s %9s %9s\n' "job (median of $runs pairs)" "A" "B"
for band in ${BANDS:-1 2 3 4 6}; do
  f="$(ls "$work"/fd/goes15.*_"$band".nc.bz2)"
  STAGE="cp '$f' '$station/incoming/'"
  pair "full disk band $band vs bzip2 -dc" -- station_file "$f" -- bzip2 -dc "$f"
  pair "full disk band $band vs lbzip2 -dc -n2" -- station_file "$f" -- lbzip2 -dc -n2 "$f"
  pair "full disk band $band vs floor" -- station_file "$f" -- floor "$f"
done
geo="$(ls "$work"/fd/goes15.*_geo.nc.bz2)"
STAGE="cp '$geo' '$station/incoming/'"
pair "geolocation -geo vs lbzip2 -dc -n2" -- station_file "$geo" -geo -- lbzip2 -dc -n2 "$geo"
small="$(ls "$work"/small/goes15.*.nc.bz2)"
STAGE="cp '$small' '$station/incoming/'"
pair "1/16-size scan vs bzip2 -dc (fixed costs)" -- station_file "$small" -- bzip2 -dc "$small"

# The feed: every file of three hours in the incoming directory, one headless station taking
# them in its first cycle; it is stopped once the cycle reports all done.
feed_files=("$work"/feed/goes15.*.nc.bz2)
station_feed() {
  local out="$work/feed.out" done="Progress: ${#feed_files[@]} of ${#feed_files[@]} done"
  : > "$out"
  local t0 t1
  t0=$(now)
  # The station itself is the background job, so the signal reaches it (a wrapper such as
  # time(1) would die of it and leave the station running).
  "$orvanta" --headless -start > "$out" 2>&1 &
  local pid=$!
  local stat=() hwm=0
  while ! grep -q "$done" "$out" && kill -0 "$pid" 2>/dev/null; do sleep 0.02; done
  t1=$(now)
  # CPU ticks (user + system, with the decoding workers it has waited for) and peak RSS
  # while the station is still there to ask.
  read -r -a stat < "/proc/$pid/stat" || true
  hwm=$(awk '/VmHWM/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo 0)
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" || true
  local ticks=$(( ${stat[13]:-0} + ${stat[14]:-0} + ${stat[15]:-0} + ${stat[16]:-0} ))
  echo "$(( t1 - t0 )) $ticks $(getconf CLK_TCK) ${hwm:-0}" > "$work/feed.cpu"
}
lbzip2_loop() { for f in "${feed_files[@]}"; do lbzip2 -dc -n2 "$f" >/dev/null; done; }
floor_loop() { for f in "${feed_files[@]}"; do floor "$f"; done; }
STAGE='cp "${feed_files[@]}" "$station/incoming/"'
pair "${#feed_files[@]}-file feed vs lbzip2 loop" -- station_feed -- lbzip2_loop
read -r us ticks hz kb < "$work/feed.cpu" || true
echo "  feed (last run): $(awk -v us="${us:-1}" -v t="${ticks:-0}" -v hz="${hz:-100}" 'BEGIN {printf "%.2f of 2 cores used", t / hz / (us / 1e6)}'), peak RSS $((${kb:-0} / 1024)) MB"
pair "${#feed_files[@]}-file feed vs lbzip2 loop + JPEG each" -- station_feed -- floor_loop
STAGE=

# Peak memory of a full-disk scan, the largest band.
biggest="$(ls -S "$work"/fd/goes15.*_[0-9].nc.bz2 | head -1)"
cp "$biggest" "$station/incoming/"
/usr/bin/time -f "%M" -o "$work/fd.rss" "$orvanta" --headless "$station/incoming/$(basename "$biggest")" >/dev/null 2>&1 || true
echo "full disk peak RSS: $(($(cat "$work/fd.rss") / 1024)) MB"

if [[ -z ${SKIP_SYNTH:-} ]]; then
  runs="$synth_runs"
  synth_feed() { rm -rf "$work/synth"; "$synth" --out "$work/synth" --start "$start" --hours 3 --quiet "$@"; }
  pair "orvanta-synth 3-hour feed vs --no-bz2" -- synth_feed -- synth_feed --no-bz2
  rm -rf "$work/synth"
fi
echo "uptime after: $(uptime)"
