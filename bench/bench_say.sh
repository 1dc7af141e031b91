#!/usr/bin/env bash
# Renders a 1,000-word Hebrew text of the demo voice with `ravek-say --output` and the same text
# with `espeak-ng -v he -w`, alternately in one run, and prints the wall-clock time of each run,
# the medians and the real-time factors.
#
# Usage: RAVEK_BUILD_DIR=build bash bench/bench_say.sh [RUNS]     (RUNS default 7)
# The demo installation is built (or reused) in $RAVEK_BUILD_DIR/demo.
set -euo pipefail
# --help prints the comment above.
case "${1:-}" in -h|--help) sed -n '2,/^set /p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;; esac
cd "$(dirname "$0")/.."
root=$PWD
build=${RAVEK_BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
runs=${1:-7}
demo_dir=${RAVEK_DEMO_DIR:-$build/demo}
say="$build/bin/ravek-say"
[ -x "$say" ] || { echo "bench_say: $say is missing; build first" >&2; exit 1; }

RAVEK_BUILD_DIR="$build" bash scripts/make-demo-voice.sh "$demo_dir" > /dev/null
export RAVEK_REGISTRY="$demo_dir/registry.reg"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# 1,000 single words of the demo voice, unpointed, ten to a sentence, in a fixed random order.
awk -F'\t' '!/^#/ && NF == 2 && $2 !~ / / { words[n++] = $2 }
    END { srand(7); for (i = 1; i <= 1000; i++) printf "%s%s", words[int(rand() * n)], (i % 10 ? " " : ". ") ; print "" }' \
    scripts/demo-words.txt > "$work/text.txt"
echo "bench_say: $(wc -w < "$work/text.txt") words, $runs runs of each, alternating"

now() { date +%s.%N; }
calc() { awk "BEGIN { print $1 }"; }
ravek_times=() espeak_times=()
printf '%-5s %14s %14s\n' run "ravek-say (s)" "espeak-ng (s)"
for i in $(seq 1 "$runs"); do
    t0=$(now)
    "$say" --output "$work/ravek.wav" < "$work/text.txt"
    t1=$(now)
    espeak-ng -v he -w "$work/espeak.wav" -f "$work/text.txt"
    t2=$(now)
    r=$(calc "$t1 - $t0") e=$(calc "$t2 - $t1")
    ravek_times+=("$r") espeak_times+=("$e")
    printf '%-5s %14.3f %14.3f\n' "$i" "$r" "$e"
done

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
seconds_of() { soxi -D "$1"; }
rm_=$(median "${ravek_times[@]}") em=$(median "${espeak_times[@]}")
ra=$(seconds_of "$work/ravek.wav") ea=$(seconds_of "$work/espeak.wav")
printf 'median ravek-say --output:  %.3f s for %.1f s of speech (%.0fx real time)\n' "$rm_" "$ra" "$(calc "$ra / $rm_")"
printf 'median espeak-ng -v he -w:  %.3f s for %.1f s of speech (%.0fx real time)\n' "$em" "$ea" "$(calc "$ea / $em")"
printf 'ravek-say time / espeak-ng time: %.2f\n' "$(calc "$rm_ / $em")"
