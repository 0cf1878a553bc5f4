#!/usr/bin/env bash
# How fast "orvanta --reprocess" remakes a sample archive, against a floor no reprocessing can
# beat by much: per scan file, decompressing it (lbzip2 -dc -n2) and writing one composite
# as a JPEG of quality 99 (cjpeg), summed and divided by the processors. Prints both, their
# ratio, how busy the processors were during the run (CPU time over wall time and cores),
# the peak memory (/usr/bin/time -v) and the load before and after.
#
# Usage: bench/reprocess.sh [ARCHIVE]
#   ARCHIVE  a directory of scan files; without it a sample archive of HOURS (default 24)
#            hours is made once with orvanta-synth under build/bench-reprocess/feed.
# ORVANTA=path another build's program. Uses build/normal; writes under build/bench-reprocess.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
orvanta="${ORVANTA:-$root/build/normal/app/orvanta}"
synth="$root/build/normal/app/orvanta-synth"
work="$root/build/bench-reprocess"
hours="${HOURS:-24}"
for tool in lbzip2 cjpeg djpeg /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "missing $tool (scripts/deps installs it)" >&2; exit 2; }
done
[[ -x "$orvanta" ]] || { echo "build first: cmake --build build/normal --target orvanta orvanta-synth" >&2; exit 2; }

archive="${1:-$work/feed}"
if [[ -z "${1:-}" && ! -f "$work/feed.done" ]]; then
  rm -rf "$work/feed"
  mkdir -p "$work/feed"
  "$synth" --out "$work/feed" --start 2019-06-21T00:00 --hours "$hours" --quiet
  touch "$work/feed.done"
fi
mapfile -t files < <(find "$archive" -type f -name 'goes15.20*.nc*' | sort)
[[ ${#files[@]} -gt 0 ]] || { echo "no scan files under $archive" >&2; exit 2; }
cores=$(nproc)

station="$work/station"
rm -rf "$station"
. "$(dirname "$0")/fresh-station.sh"
fresh_station "$station"

cpu_ticks() { awk '/^cpu /{busy=$2+$3+$4+$7+$8; print busy, busy+$5+$6}' /proc/stat; }

echo "archive: ${#files[@]} scan files, $(du -sh "$archive" | cut -f1); $cores cores"
echo "load before: $(uptime)"
read -r busy0 all0 < <(cpu_ticks)
# Exit status 1 only says some file failed (the summary names them): still measured.
status=0
/usr/bin/time -v -o "$work/time.txt" "$orvanta" --reprocess "$archive" --force >"$work/summary.txt" 2>"$work/progress.txt" || status=$?
[[ $status -le 1 ]] || { cat "$work/progress.txt" >&2; exit "$status"; }
read -r busy1 all1 < <(cpu_ticks)
echo "load after:  $(uptime)"
head -n 1 "$work/summary.txt"
wall=$(awk -F': ' '/Elapsed \(wall clock\)/{n=split($2,t,":"); s=0; for(i=1;i<=n;i++) s=s*60+t[i]; print s}' "$work/time.txt")
cpu=$(awk -F': ' '/User time/{u=$2} /System time/{s=$2} END{print u+s}' "$work/time.txt")
rss=$(awk -F': ' '/Maximum resident/{print int($2/1024)}' "$work/time.txt")

# The floor, one file after the other on a machine left to it, then shared out over the cores.
composite="$work/composite.pgm"
djpeg -grayscale -pnm "$(find "$station/images" -name '*.jpg' | sort | tail -n 1)" > "$composite"
printf '%s\n' "${files[@]}" > "$work/files.txt"
/usr/bin/time -f '%e %U %S' -o "$work/floor.txt" bash -c '
  while read -r f; do
    case "$f" in
      *.bz2) lbzip2 -dc -n2 "$f" > /dev/null ;;
      *) cat "$f" > /dev/null ;;
    esac
    cjpeg -quality 99 "$1" > /dev/null
  done < "$2"' floor "$composite" "$work/files.txt"
read -r floor_serial floor_user floor_sys < "$work/floor.txt"

awk -v w="$wall" -v c="$cpu" -v n="$cores" -v f="$floor_serial" -v fc="$(awk -v u="$floor_user" -v s="$floor_sys" 'BEGIN{print u + s}')" -v r="$rss" -v bt=$((busy1 - busy0)) -v at=$((all1 - all0)) 'BEGIN {
  floor = f / n
  printf "reprocess:  %.1f s wall, %.1f s CPU (%.0f%% of %d cores while it ran; all processes: %.0f%%)\n", w, c, 100 * c / (w * n), n, 100 * bt / at
  printf "floor:      %.1f s (lbzip2 -dc -n2 + cjpeg -quality 99 per file: %.1f s, / %d cores)\n", floor, f, n
  printf "ratio:      %.2f x the floor (wall); CPU time %.2f x the floor CPU time of %.1f s, which a busy machine does not blur\n", w / floor, c / fc, fc
  printf "peak memory: %d MB\n", r
}'
