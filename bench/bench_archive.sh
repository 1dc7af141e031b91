#!/usr/bin/env bash
# Times BackupRecordings and RestoreRecordings against Debian's zip -r and unzip on 10,000 WAVE
# recordings of about 20 KB each (about 200 MB) in 100 folders, and prints the figures and one
# "TARGET ... PASS|MISS" line per program (each must take no longer than its Debian counterpart).
#
#   bench/bench_archive.sh [BUILD_DIR]      (default build-bench; a Release build of the two programs)
#
# Build first:
#   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DRAVEK_TESTS=OFF
#   ninja -C build-bench BackupRecordings RestoreRecordings
# The files are made in a fresh folder under $TMPDIR (or /tmp) and removed at the end.
set -euo pipefail
case "${1:-}" in -h|--help) sed -n '2,/^set /p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;; esac
BUILD="${1:-build-bench}"
BACKUP="$BUILD/bin/BackupRecordings"
RESTORE="$BUILD/bin/RestoreRecordings"
for program in "$BACKUP" "$RESTORE"; do
  [ -x "$program" ] || { echo "bench_archive: $program is missing (see --help)" >&2; exit 2; }
done
command -v zip >/dev/null && command -v unzip >/dev/null || { echo "bench_archive: zip and unzip are needed" >&2; exit 2; }
BACKUP="$(realpath "$BACKUP")"
RESTORE="$(realpath "$RESTORE")"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/bench-archive.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT
ROOT="$WORK/MyRecords"
mkdir -p "$ROOT/Dan"
cat > "$WORK/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Nls\\Language]
"Default"="0409"

[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]
"MyRecordsPath"="$ROOT"

[HKEY_LOCAL_MACHINE\\Software\\RavekVoice\\EN]
"MaleVoiceName"="Dan"
"FemaleVoiceName"="Noa"
REG
export RAVEK_REGISTRY="$WORK/registry.reg"

# 10,000 mono 16-bit 22,050 Hz WAVE files of 20,044 bytes: a tone with noise, as speech-like
# as cheap generation allows (it compresses a little, like real recordings).
python3 - "$ROOT/Dan" <<'PY'
import math, os, random, struct, sys
root = sys.argv[1]
random.seed(7)
samples = 10000
pool = bytearray()
for i in range(samples * 8):
    value = int(6000 * math.sin(i * 0.07) * math.sin(i * 0.0011) + random.gauss(0, 900))
    pool += struct.pack("<h", max(-32768, min(32767, value)))
header = lambda n: (b"RIFF" + struct.pack("<I", 36 + n) + b"WAVEfmt " + struct.pack("<IHHIIHH", 16, 1, 1, 22050, 44100, 2, 16)
                    + b"data" + struct.pack("<I", n))
for f in range(10000):
    folder = os.path.join(root, "set%03d" % (f // 100))
    os.makedirs(folder, exist_ok=True)
    start = (f * 997) % (len(pool) - 2 * samples)
    start -= start % 2
    with open(os.path.join(folder, "word%05d.wav" % f), "wb") as out:
        out.write(header(2 * samples) + pool[start:start + 2 * samples])
PY
echo "bench_archive: $(find "$ROOT/Dan" -type f | wc -l) files, $(du -sm "$ROOT/Dan" | cut -f1) MB in $ROOT/Dan"

seconds() { local start end; start=$(date +%s.%N); "$@" >/dev/null; end=$(date +%s.%N); echo "$end - $start" | bc; }
# Peak resident memory of one run, in MB (needs GNU time; "?" without it).
peak_mb() {
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -f '%M' -o "$WORK/peak" "$@" >/dev/null 2>&1 || true
    echo $(( $(cat "$WORK/peak") / 1024 ))
  else
    echo "?"
  fi
}
sync
ours_backup=$(seconds "$BACKUP" --voice Dan --output "$WORK/ours.zip")
debian_backup=$(seconds bash -c "cd '$ROOT/Dan' && zip -qr '$WORK/debian.zip' .")
sync
ours_restore=$(seconds "$RESTORE" --archive "$WORK/ours.zip" --voice Noa --mode all)
mkdir -p "$WORK/unzipped"
sync
debian_restore=$(seconds unzip -q "$WORK/debian.zip" -d "$WORK/unzipped")
# RestoreRecordings flushes what it wrote to the disk before it reports success; unzip does not.
# The time of a sync right after unzip gives the figure of an equally durable unzip.
debian_flush=$(seconds sync)
[ "$(find "$ROOT/Noa" -type f | wc -l)" = 10000 ] || { echo "bench_archive: restore incomplete" >&2; exit 1; }

printf 'backup   BackupRecordings %6.2f s   zip -r  %6.2f s   archives %s / %s MB\n' "$ours_backup" "$debian_backup" \
  "$(du -m "$WORK/ours.zip" | cut -f1)" "$(du -m "$WORK/debian.zip" | cut -f1)"
printf 'restore  RestoreRecordings %5.2f s   unzip   %6.2f s   unzip + sync %6.2f s\n' "$ours_restore" "$debian_restore" \
  "$(echo "$debian_restore + $debian_flush" | bc)"
# Memory, apart from the timed runs: a second backup and restore into fresh places.
backup_mb=$(peak_mb "$BACKUP" --voice Dan --output "$WORK/again.zip")
restore_mb=$(peak_mb "$RESTORE" --archive "$WORK/ours.zip" --voice Noa --mode all)
echo "peak resident memory: BackupRecordings ${backup_mb} MB, RestoreRecordings ${restore_mb} MB"
verdict() { if (( $(echo "$1 <= $2" | bc) )); then echo PASS; else echo MISS; fi; }
echo "TARGET backup no slower than zip -r: $(verdict "$ours_backup" "$debian_backup")"
echo "TARGET restore no slower than unzip: $(verdict "$ours_restore" "$debian_restore")"
echo "TARGET restore no slower than unzip + sync: $(verdict "$ours_restore" "$(echo "$debian_restore + $debian_flush" | bc)")"
