#!/usr/bin/env bash
# Two builds of the station on the same sample feed, every output on: each processes the feed
# as a headless station into a tree of its own, and every file written is compared between the
# two trees. A change that should alter nothing the station writes is checked with it.
#
#   bench/ab-outputs.sh OLD_ORVANTA NEW_ORVANTA [HOURS]   (the feed is made by the new build's
#                                                          orvanta-synth, beside NEW_ORVANTA;
#                                                          KEEP=1 keeps the trees in /tmp)
# PNG files are compared by their chunks without tIME, which holds the time of writing; the
# log, the page, the status and the metrics without their times, free space and durations. Prints the differences; exits 1 when there are any.
set -euo pipefail
[[ $# -ge 2 ]] || { echo "usage: ab-outputs.sh OLD_ORVANTA NEW_ORVANTA [HOURS]" >&2; exit 2; }
old="$(realpath "$1")" new="$(realpath "$2")" hours="${3:-2}"
synth="$(dirname "$new")/orvanta-synth"
work="$(mktemp -d /tmp/orvanta-ab-outputs.XXXXXX)"
[[ -n "${KEEP:-}" ]] || trap 'rm -rf "$work"' EXIT
"$synth" --out "$work/feed" --start 2019-06-21T23:00 --hours "$hours" --quiet

. "$(dirname "$0")/fresh-station.sh"
run() {  # name binary
  local s="$work/$1"
  fresh_station "$s"
  cat >> "$s/config/Quillon/registry.reg" <<'REG'
"SaveAsPNG"=dword:00000001
"SaveAsNetCDF"=dword:00000001
"SaveAsGeoTIFF"=dword:00000001
"ImageStamp"=dword:00000001
"Boundaries"=dword:00000001
"WebPage"=dword:00000001
"ColourTable"="4=enhanced-ir,3=water-vapour"
REG
  cp "$work/feed/"* "$s/incoming/"
  "$2" --headless -start >"$s/out.txt" 2>&1 &
  local pid=$!
  while kill -0 "$pid" 2>/dev/null && compgen -G "$s/incoming/goes15.20*nc*" >/dev/null; do sleep 1; done
  sleep 2
  kill -TERM "$pid" 2>/dev/null || true
  wait "$pid" || true
}
run old "$old"
run new "$new"

python3 - "$work/old" "$work/new" <<'PY'
import os, re, struct, sys
old, new = sys.argv[1:3]
def png_chunks(data):
    out, i = [], 8
    while i + 8 <= len(data):
        n, kind = struct.unpack('>I4s', data[i:i + 8])
        if kind != b'tIME':
            out.append(data[i:i + 12 + n])
        i += 12 + n
    return out
# Times of the run (today's, to the minute or finer); an image's own time stays compared.
today = __import__('datetime').date.today().isoformat()
times = re.compile(today + r'[ T]\d\d:\d\d(:\d\d(\.\d+)?)?Z?|\d{4}-\d\d-\d\d[ T]\d\d:\d\d:\d\d(\.\d+)?Z?|\b\d\d:\d\d:\d\d\b|"(started|last_cycle|last_file|written|closed|pid|process_start_ticks|seconds)[^,}]*')
def text(path, root):
    body = open(path, errors='replace').read().replace(root, '<station>')
    # Free space and durations are the machine's, not the station's.
    return [re.sub(r'\d+', '<n>', l) if re.search(r'free|_seconds|MB', l) else times.sub('<t>', l)
            for l in body.splitlines()]
def show(a, b):
    for x, y in [(x, y) for x, y in zip(a, b) if x != y][:3]:
        print('   old:', x[:200]); print('   new:', y[:200])
def files(root):
    return {os.path.relpath(os.path.join(d, f), root) for d, _, fs in os.walk(root) for f in fs}
differ = 0
for tree in ('images', 'raw'):
    a, b = files(os.path.join(old, tree)), files(os.path.join(new, tree))
    for f in sorted(a ^ b):
        print(f'only in {"old" if f in a else "new"}: {tree}/{f}'); differ += 1
    for f in sorted(a & b):
        x = open(os.path.join(old, tree, f), 'rb').read()
        y = open(os.path.join(new, tree, f), 'rb').read()
        same = png_chunks(x) == png_chunks(y) if f.endswith('.png') else x == y
        if f.endswith(('.html', '.json', '.prom')) and not same:
            same = text(os.path.join(old, tree, f), old) == text(os.path.join(new, tree, f), new)
        if not same:
            print(f'differs: {tree}/{f}'); differ += 1
            if f.endswith(('.html', '.json', '.prom')):
                show(text(os.path.join(old, tree, f), old), text(os.path.join(new, tree, f), new))
    print(f'{tree}: {len(a & b)} files compared')
for f in ['out.txt'] + sorted('state/' + f for f in files(os.path.join(old, 'state'))):
    if not os.path.exists(os.path.join(new, f)) or text(os.path.join(old, f), old) != text(os.path.join(new, f), new):
        print(f'differs: {f}'); differ += 1
        if os.path.exists(os.path.join(new, f)):
            show(text(os.path.join(old, f), old), text(os.path.join(new, f), new))
sys.exit(1 if differ else 0)
PY
