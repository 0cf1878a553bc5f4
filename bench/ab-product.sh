#!/usr/bin/env bash
# Two builds of the station side by side on the same files: each file is processed in
# single-file mode by one build, then by the other, RUNS times, and the medians of wall and
# CPU time (user + system, the worker processes included) are printed with their ratio, so
# that a change's cost is seen on a machine shared with other work. Prints figures only.
#
#   bench/ab-product.sh OLD_BUILD NEW_BUILD FILE...   (RUNS=7; the builds' app/orvanta)
set -euo pipefail
[[ $# -ge 3 ]] || { echo "usage: ab-product.sh OLD_BUILD NEW_BUILD FILE..." >&2; exit 2; }
old="$1/app/orvanta" new="$2/app/orvanta"
shift 2
runs="${RUNS:-7}"
work="$(mktemp -d /tmp/orvanta-ab.XXXXXX)"
trap 'rm -rf "$work"' EXIT
. "$(dirname "$0")/fresh-station.sh"
fresh_station "$work"

# One run: wall and CPU seconds of the whole process tree, "wall cpu".
measure() {
  local binary="$1" file="$2"
  cp "$file" "$work/one/"
  /usr/bin/time -f '%e %U %S' -o "$work/time" "$binary" --headless "$work/one/$(basename "$file")" >/dev/null 2>&1 || true
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$work/time"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

mkdir -p "$work/one"
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-40s %9s %9s %7s %9s %9s %7s\n' file "old wall" "new wall" ratio "old cpu" "new cpu" ratio
for file in "$@"; do
  : > "$work/old" && : > "$work/new"
  measure "$old" "$file" >/dev/null  # warm the page cache and the last saved images
  measure "$new" "$file" >/dev/null
  for ((i = 0; i < runs; ++i)); do
    measure "$old" "$file" >> "$work/old"
    measure "$new" "$file" >> "$work/new"
  done
  ow=$(cut -d' ' -f1 "$work/old" | median) nw=$(cut -d' ' -f1 "$work/new" | median)
  oc=$(cut -d' ' -f2 "$work/old" | median) nc=$(cut -d' ' -f2 "$work/new" | median)
  printf '%-40s %9s %9s %7.3f %9s %9s %7.3f\n' "$(basename "$file")" "$ow" "$nw" \
    "$(echo "$nw / $ow" | bc -l)" "$oc" "$nc" "$(echo "$nc / $oc" | bc -l)"
done
echo "load: $(cut -d' ' -f1-3 /proc/loadavg)"
