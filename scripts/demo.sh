#!/usr/bin/env bash
# The spoken demo, on a built tree ($RAVEK_BUILD_DIR, default build):
#   1. builds the demo Hebrew installation (scripts/make-demo-voice.sh, into $RAVEK_BUILD_DIR/demo);
#   2. starts a private session bus that starts the engine service from the build, and speaks a
#      sentence through it with `ravek-say --events` (to the sound card, or to a silent sink where
#      the machine has none), printing the engine's events;
#   3. renders the same sentence into demo.wav at the top of the repository.
set -euo pipefail
# --help prints the comment above.
case "${1:-}" in -h|--help) sed -n '2,/^set /p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;; esac
cd "$(dirname "$0")/.."
root=$PWD
build=${RAVEK_BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$root/$build" ;; esac
demo_dir=${RAVEK_DEMO_DIR:-$build/demo}
say="$build/bin/ravek-say"
services="$build/share/dbus-1/services"
for f in "$say" "$build/bin/RavekVoice" "$services/org.ravek.RavekVoice.service"; do
    [ -e "$f" ] || { echo "demo: $f is missing; build first (ninja -C $build)" >&2; exit 1; }
done
command -v dbus-run-session >/dev/null || { echo "demo: dbus-run-session is missing (bash scripts/install-deps.sh)" >&2; exit 1; }

RAVEK_BUILD_DIR="$build" bash scripts/make-demo-voice.sh "$demo_dir"
export RAVEK_REGISTRY="$demo_dir/registry.reg"

# What each part of the sentence exercises:
#   ברוכים הבאים / תודה רבה   user recordings of whole phrases
#   בוקר טוב                  a dictionary phrase, found as written
#   שלום, הלך, עם, כלב        unpointed words matched to pointed dictionary words (smart lookup)
#   לכולם, הילד, לבית, הספר,  a prefix (ל, ה, ו) split off a dictionary word
#   וחתול, וראה
#   קנגורו                    a word nobody recorded: the pre-spell word, then its letters
sentence="ברוכים הבאים! שלום לכולם, בוקר טוב. הילד הלך לבית הספר עם כלב וחתול וראה קנגורו. תודה רבה."

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/session.conf" <<EOF
<busconfig>
  <type>session</type>
  <listen>unix:dir=$work</listen>
  <servicedir>$services</servicedir>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF

echo
echo "demo: speaking through the engine service: $sentence"
dbus-run-session --config-file="$work/session.conf" -- "$say" --events "$sentence"

echo
echo "demo: rendering the same sentence into demo.wav"
"$say" --output "$root/demo.wav" "$sentence"
if command -v soxi >/dev/null; then
    echo "demo: demo.wav: $(soxi -D "$root/demo.wav") s, $(soxi -r "$root/demo.wav") Hz, $(soxi -c "$root/demo.wav") channels"
else
    ls -l "$root/demo.wav"
fi
