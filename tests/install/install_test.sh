#!/usr/bin/env bash
# Installs the build into a temporary prefix and uses the installed station as an operator
# would: the files are where a system expects them, the unit and the man pages pass their
# checkers, the installed program processes a generated scan, finds its data directory from
# its own location, and reports its status while it runs and after it stopped.
# Usage: install_test.sh BUILD_DIR
set -euo pipefail
build="$1"
tmp="$(mktemp -d "${TMPDIR:-/tmp}/orvanta-install-XXXXXX")"
pid=""
cleanup() {
  [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -rf "$tmp"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix="$tmp/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

for f in bin/orvanta bin/orvanta-synth share/applications/orvanta.desktop \
         share/icons/hicolor/64x64/apps/orvanta.png lib/systemd/user/orvanta.service \
         share/man/man1/orvanta.1 share/man/man1/orvanta-synth.1 share/orvanta/colour/enhanced-ir.cpt \
         share/orvanta/colour/rainbow.cpt share/orvanta/colour/water-vapour.cpt; do
  [ -e "$prefix/$f" ] || fail "not installed: $f"
done
[ -d "$prefix/share/orvanta" ] || fail "no data directory"

unit="$prefix/lib/systemd/user/orvanta.service"
grep -qx "ExecStart=$prefix/bin/orvanta --headless -start" "$unit" || fail "ExecStart does not name the installed program"
grep -qx "Type=notify" "$unit" && grep -q "^WatchdogSec=" "$unit" || fail "the unit is no Type=notify service with a watchdog"
mkdir -m 700 "$tmp/run"
XDG_RUNTIME_DIR="$tmp/run" MANPATH="$prefix/share/man" systemd-analyze --user verify "$unit" \
  || fail "systemd-analyze verify"

for page in orvanta orvanta-synth; do
  file="$prefix/share/man/man1/$page.1"
  lexgrog "$file" | grep -q "\"$page - " || fail "lexgrog finds no NAME line in $page.1"
  warnings="$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$file" 2>&1 >/dev/null)"
  [ -z "$warnings" ] || fail "man warns on $page.1: $warnings"
  for section in SYNOPSIS OPTIONS ENVIRONMENT SIGNALS "EXIT STATUS"; do
    LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$file" 2>/dev/null | grep -q "^$section\$" || fail "$page.1 has no $section"
  done
done
LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$prefix/share/man/man1/orvanta.1" 2>/dev/null | grep -q "orvanta-status.json" \
  || fail "orvanta.1 does not name the status file"

# A station in a scratch home: its settings, logs and status stay under $tmp.
export XDG_CONFIG_HOME="$tmp/config" XDG_STATE_HOME="$tmp/state"
# No coastline files: the compact map file of the data directory is the fallback.
export ORVANTA_GSHHS="$tmp/no-such-shorelines.b"
: > "$prefix/share/orvanta/Countries.dat"
mkdir -p "$tmp/in" "$tmp/raw" "$tmp/img" "$tmp/scans" "$XDG_CONFIG_HOME/Quillon"
cat > "$XDG_CONFIG_HOME/Quillon/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\Software\\Quillon\\orvanta]
"SourcePath"="$tmp/in/"
"NetCDFPath"="$tmp/raw/"
"SavePath"="$tmp/img/"
"SaveAsJPEG"=dword:00000001
REG

"$prefix/bin/orvanta-synth" --out "$tmp/scans" --bands 1 --scale 0.1 --start 2019-06-21T18:00 --quiet \
  || fail "orvanta-synth"
scan="$(ls "$tmp/scans"/goes15.*)"
"$prefix/bin/orvanta" --headless "$scan" > "$tmp/single.out" || fail "installed orvanta did not process $scan"
grep -q "Processed  2019-06-21 18:00 .*band 1" "$tmp/single.out" || fail "no Processed line"
[ -n "$(find "$tmp/img" -name '*.jpg')" ] || fail "no image saved"

# A colour table the operator put into the installed data directory is found from the
# program's own location.
cp "$prefix/share/orvanta/colour/enhanced-ir.cpt" "$prefix/share/orvanta/colour/mine.cpt"
echo '"ColourTable"="mine"' >> "$XDG_CONFIG_HOME/Quillon/registry.reg"
"$prefix/bin/orvanta-synth" --out "$tmp/ir" --bands 4 --scale 0.1 --start 2019-06-21T18:00 --quiet || fail "orvanta-synth"
"$prefix/bin/orvanta" --headless "$(ls "$tmp/ir"/goes15.*)" > "$tmp/ir.out" || fail "installed orvanta did not process band 4"
[ -n "$(find "$tmp/img" -name '*-ir-col.jpg')" ] || fail "no colour image with an installed table: $(cat "$tmp/ir.out")"

"$prefix/bin/orvanta" --status > "$tmp/status.out" && fail "--status answers 0 with no station running"
grep -q "not running" "$tmp/status.out" || fail "--status without a station: $(cat "$tmp/status.out")"

"$prefix/bin/orvanta" --headless -start > "$tmp/station.out" &
pid=$!
for _ in $(seq 300); do
  grep -q '"last_cycle": "' "$XDG_STATE_HOME/Quillon/orvanta-status.json" 2>/dev/null && break
  sleep 0.1
done
"$prefix/bin/orvanta" --status > "$tmp/status.out" || fail "--status beside a running station: $(cat "$tmp/status.out")"
grep -q "running, pid $pid" "$tmp/status.out" || fail "--status: $(cat "$tmp/status.out")"
# Coastline files of the system come before the compact map file.
if ! compgen -G "/usr/share/gshhg/gshhs_i.b" >/dev/null && ! compgen -G "/usr/share/gmt-gshhg/binned_GSHHS_*.nc" >/dev/null; then
  grep -q "Coastlines:    $prefix/share/orvanta/Countries.dat" "$tmp/status.out" \
    || fail "the installed program did not look in its data directory: $(cat "$tmp/status.out")"
fi
kill -TERM "$pid"
wait "$pid" || fail "the station did not end with status 0 on SIGTERM"
pid=""
"$prefix/bin/orvanta" --status > "$tmp/status.out" && fail "--status answers 0 after the station stopped"
grep -q "not running (closed " "$tmp/status.out" || fail "--status after SIGTERM: $(cat "$tmp/status.out")"
echo "installed station works"
