#!/usr/bin/env bash
# Builds a demo Hebrew installation of RavekVoice in DIR, with recordings made by espeak-ng:
#   registry.reg                 the registry file (point $RAVEK_REGISTRY at it)
#   app/RavekParams.ini          INI file: missing words are spelled out
#   app/RavekDictionary/         dictionary voices Galev (male) and Sevra (female) of the words in
#                                scripts/demo-words.txt, and the lookup database with its prefixes
#   MyRecords/Dan, MyRecords/Noa a few user recordings (whole phrases and a name)
#   system/Dan, system/Noa       the 27 letter forms, a signal sound, the pre-spell word and the
#                                sounds of the prefixes
#   log/                         the engine's log
#   clips/                       cache of the recorded clips (kept between builds)
# Nothing is rebuilt when DIR already holds an installation made from the same inputs.
#
# Usage: scripts/make-demo-voice.sh DIR
# Needs espeak-ng, lame, sox, iconv and ravek-voicepack ($RAVEK_VOICEPACK, else
# $RAVEK_BUILD_DIR/bin/ravek-voicepack, else build/bin/ravek-voicepack).
set -euo pipefail

usage() { sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; }
if [ $# -eq 1 ] && { [ "$1" = "--help" ] || [ "$1" = "-h" ]; }; then usage; exit 0; fi
if [ $# -ne 1 ]; then usage >&2; exit 2; fi

here=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1"
dir=$(cd "$1" && pwd)
words_file="$here/scripts/demo-words.txt"
voicepack=${RAVEK_VOICEPACK:-${RAVEK_BUILD_DIR:-$here/build}/bin/ravek-voicepack}
case "$voicepack" in /*) ;; *) voicepack="$here/$voicepack" ;; esac
for tool in espeak-ng lame sox iconv sha1sum xargs; do
    command -v "$tool" >/dev/null || { echo "make-demo-voice: $tool is missing (bash scripts/install-deps.sh)" >&2; exit 1; }
done
[ -x "$voicepack" ] || { echo "make-demo-voice: $voicepack not found; build first (ninja -C build)" >&2; exit 1; }

# ---- up to date? ----
stamp_of_inputs() {
    { cat "$0" "$words_file"; echo "$dir"; sha1sum < "$voicepack"; } | sha1sum | cut -d' ' -f1
}
stamp=$(stamp_of_inputs)
if [ -f "$dir/.stamp" ] && [ "$(cat "$dir/.stamp")" = "$stamp" ] && [ -f "$dir/registry.reg" ]; then
    echo "make-demo-voice: $dir is up to date"
    exit 0
fi
rm -f "$dir/.stamp"

male=Dan female=Noa                # recordings voices (user and system recordings folders)
male_espeak="-v he"                # espeak-ng voice of the male recordings
female_espeak="-v he+f3 -p 60"     # and of the female ones
pre_spell="איות"

# ---- the clips to record: one job a line, <clip name> TAB <espeak options> TAB <text> ----
clips="$dir/clips"
mkdir -p "$clips"
jobs="$dir/.jobs"
: > "$jobs"
# Clips are named after what they hold, so an unchanged recording is never made twice.
clip_for() {  # espeak options, text -> clip file name (also queues the job)
    local name
    name=$(printf '%s\t%s' "$1" "$2" | sha1sum | cut -c1-16).mp3
    [ -f "$clips/$name" ] || printf '%s\t%s\t%s\n' "$name" "$1" "$2" >> "$jobs"
    echo "$name"
}

letters=(
    "א|אלף" "ב|בית" "ג|גימל" "ד|דלת" "ה|הא" "ו|וו" "ז|זין" "ח|חית" "ט|טית" "י|יוד" "ך|כף סופית"
    "כ|כף" "ל|למד" "ם|מם סופית" "מ|מם" "ן|נון סופית" "נ|נון" "ס|סמך" "ע|עין" "ף|פא סופית" "פ|פא"
    "ץ|צדי סופית" "צ|צדי" "ק|קוף" "ר|ריש" "ש|שין" "ת|תו"
)
# Prefix sounds are given as phonemes: a lone Hebrew letter has no reading of its own.
prefixes=(  # prefix|sound file|phonemes
    "וְ|ve.mp3|ve" "הַ|ha.mp3|ha" "בְּ|be.mp3|be" "לְ|le.mp3|le" "מִ|mi.mp3|mi" "שֶׁ|she.mp3|Se" "כְּ|ke.mp3|ke"
    "ו|ve.mp3|ve" "ה|ha.mp3|ha" "ב|be.mp3|be" "ל|le.mp3|le" "מ|mi.mp3|mi" "ש|she.mp3|Se" "כ|ke.mp3|ke"
)
user_recordings=("ברוכים הבאים" "תודה רבה" "רבקה")

src="$dir/.src"
rm -rf "$src"
mkdir -p "$src"
# Per voice: the voicepack word list, the system recordings and the user recordings (target
# file TAB clip), all naming clips of the cache.
for sex in male female; do
    if [ $sex = male ]; then opts=$male_espeak; else opts=$female_espeak; fi
    while IFS=$'\t' read -r word spoken; do
        case "$word" in ''|'#'*) continue ;; esac
        printf '%s\t%s\n' "$word" "$clips/$(clip_for "$opts" "$spoken")" >> "$src/words-$sex.tsv"
    done < "$words_file"
    for entry in "${letters[@]}"; do
        printf '%s.mp3\t%s\n' "${entry%%|*}" "$(clip_for "$opts" "${entry#*|}")" >> "$src/system-$sex.tsv"
    done
    printf '%s.mp3\t%s\n' "$pre_spell" "$(clip_for "$opts" "$pre_spell")" >> "$src/system-$sex.tsv"
    for entry in "${prefixes[@]}"; do
        IFS='|' read -r _ file phonemes <<< "$entry"
        printf '%s\t%s\n' "$file" "$(clip_for "$opts" "[[$phonemes]]")" >> "$src/system-$sex.tsv"
    done
    for phrase in "${user_recordings[@]}"; do
        printf '%s.mp3\t%s\n' "$phrase" "$(clip_for "$opts" "$phrase")" >> "$src/user-$sex.tsv"
    done
done
priority=1
for entry in "${prefixes[@]}"; do
    IFS='|' read -r prefix file _ <<< "$entry"
    printf '%s\t%s\t%d\n' "$prefix" "$file" "$priority" >> "$src/prefixes.tsv"
    priority=$((priority + 1))
done

# ---- record what the cache lacks: espeak-ng -> trimmed WAV -> MP3 (22,050 Hz mono, 56 kbit/s
# CBR so that the first frame has room for the LAME tag that gives the exact length) ----
record() {
    local name opts text tmp
    IFS=$'\t' read -r name opts text <<< "$1"
    tmp=$(mktemp -d)
    # shellcheck disable=SC2086  # the options are words on purpose
    espeak-ng $opts -w "$tmp/raw.wav" "$text"
    # Cut espeak's leading and trailing silence, leave a short pause after the word.
    sox "$tmp/raw.wav" -r 22050 -c 1 "$tmp/cut.wav" silence 1 0.01 0.3% reverse silence 1 0.01 0.3% reverse pad 0 0.04 \
        || cp "$tmp/raw.wav" "$tmp/cut.wav"
    [ "$(soxi -s "$tmp/cut.wav" 2>/dev/null || echo 0)" -gt 0 ] || cp "$tmp/raw.wav" "$tmp/cut.wav"
    lame --quiet -b 56 --cbr -m m --resample 22.05 "$tmp/cut.wav" "$tmp/clip.mp3"
    mv "$tmp/clip.mp3" "$CLIPS/$name"
    rm -rf "$tmp"
}
export -f record
sort -u "$jobs" -o "$jobs"
count=$(wc -l < "$jobs")
if [ "$count" -gt 0 ]; then
    echo "make-demo-voice: recording $count clips with espeak-ng"
    CLIPS="$clips" xargs -d '\n' -n 1 -P 2 bash -c 'record "$1"' _ < "$jobs"
fi
rm -f "$jobs"
# The signal sound: a short beep, as a WAVE file.
[ -f "$clips/signal.wav" ] || sox -n -r 22050 -c 1 -b 16 "$clips/signal.wav" synth 0.25 sine 880 fade 0.01 0.25 0.02 vol 0.5

# ---- the installation ----
rm -rf "$dir/app" "$dir/MyRecords" "$dir/system" "$dir/log" "$dir/registry.reg"
mkdir -p "$dir/app/RavekDictionary" "$dir/log"
for sex in male female; do
    if [ $sex = male ]; then voice=Galev name=$male; else voice=Sevra name=$female; fi
    "$voicepack" --voice "$voice" --sex "$sex" --data-version "1.0:demo" --words "$src/words-$sex.tsv" \
        --prefixes "$src/prefixes.tsv" --out "$dir/app/RavekDictionary" > /dev/null
    mkdir -p "$dir/system/$name" "$dir/MyRecords/$name"
    while IFS=$'\t' read -r file clip; do cp "$clips/$clip" "$dir/system/$name/$file"; done < "$src/system-$sex.tsv"
    cp "$clips/signal.wav" "$dir/system/$name/signal.wav"
    while IFS=$'\t' read -r file clip; do cp "$clips/$clip" "$dir/MyRecords/$name/$file"; done < "$src/user-$sex.tsv"
done

printf '[General]\r\nMissingWordPolicy=spell\r\nMissingWordSignal=signal\r\nPreSpellWord=%s\r\n[TXRS]\r\nsentences=46,63,33\r\nwords=32,44\r\n' \
    "$pre_spell" | iconv -f UTF-8 -t CP1255 > "$dir/app/RavekParams.ini"

reg_path() { printf '%s' "$1" | sed 's/\\/\\\\/g; s/"/\\"/g'; }
root=$(reg_path "$dir")
cat > "$dir/registry.reg" <<EOF
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Nls\\Language]
"Default"="040d"

[HKEY_LOCAL_MACHINE\\Software\\RavekVoice]
"ApplicationPath"="$root/app"
"ParametersINIFileName"="RavekParams.ini"
"MyRecordsPath"="$root/MyRecords"
"SystemVoicePath"="$root/system"
"LogLocation"="$root/log"
"LogLevel"=dword:00000000
"SequenceLen"=dword:00000004
"TimeBetweenMyFoldersCheck"=dword:0000003c
"MaleVoiceName"="$male"
"FemaleVoiceName"="$female"
"MaleVoiceName1"="Galev"
"FemaleVoiceName1"="Sevra"
"PlaybackAccelerationRate"=dword:00000000
"ConvertMP32WAV"="0"
"AvoidShortNames"="0"
EOF

words=$(grep -c $'\t' "$src/words-male.tsv")
echo "$stamp" > "$dir/.stamp"
echo "make-demo-voice: demo installation in $dir ($words dictionary words per voice); RAVEK_REGISTRY=$dir/registry.reg"
