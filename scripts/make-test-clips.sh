#!/bin/sh
# Regenerates the small audio clips the tests use (tests/data/clips): short sine tones of
# different pitches and lengths as MP3 (22,050 Hz mono, 56 kbit/s CBR: below that lame has no
# room for its Info/LAME tag in the first frame) and a couple of WAV files. Needs sox and lame.
set -eu
# --help prints the comment above.
case "${1:-}" in -h|--help) sed -n '2,/^set /p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;; esac
here=$(cd "$(dirname "$0")/.." && pwd)
out="$here/tests/data/clips"
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# name frequency(Hz) length(s)
mp3_tones="
tone_a_220hz_150ms 220 0.15
tone_b_330hz_200ms 330 0.20
tone_c_440hz_250ms 440 0.25
tone_d_550hz_300ms 550 0.30
tone_e_660hz_350ms 660 0.35
tone_f_770hz_400ms 770 0.40
tone_g_880hz_200ms 880 0.20
tone_h_990hz_150ms 990 0.15
"
echo "$mp3_tones" | while read -r name freq len; do
    [ -n "$name" ] || continue
    sox -n -r 22050 -c 1 -b 16 "$work/$name.wav" synth "$len" sine "$freq" fade 0.01 "$len" 0.01 vol 0.5
    lame --quiet -b 56 --cbr -m m "$work/$name.wav" "$out/$name.mp3"
done

# WAV clips: a signal sound and a plain tone.
sox -n -r 22050 -c 1 -b 16 "$out/signal_1000hz_200ms.wav" synth 0.2 sine 1000 fade 0.01 0.2 0.01 vol 0.5
sox -n -r 22050 -c 1 -b 16 "$out/tone_600hz_150ms.wav" synth 0.15 sine 600 fade 0.01 0.15 0.01 vol 0.5

ls -l "$out"
