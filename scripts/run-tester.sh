#!/usr/bin/env bash
# Opens EngineTester on the demo installation: builds the demo voice when needed
# (scripts/make-demo-voice.sh, into $RAVEK_BUILD_DIR/demo; default build), then starts the tester
# on a private session bus that starts the engine service from the build. Needs a desktop
# (DISPLAY or WAYLAND_DISPLAY); further arguments go to EngineTester.
set -euo pipefail
# --help prints the comment above.
case "${1:-}" in -h|--help) sed -n '2,/^set /p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;; esac
cd "$(dirname "$0")/.."
build=${RAVEK_BUILD_DIR:-build}
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
demo_dir=${RAVEK_DEMO_DIR:-$build/demo}
services="$build/share/dbus-1/services"
for f in "$build/bin/EngineTester" "$build/bin/RavekVoice" "$services/org.ravek.RavekVoice.service"; do
    [ -e "$f" ] || { echo "run-tester: $f is missing; build first (ninja -C $build)" >&2; exit 1; }
done
RAVEK_BUILD_DIR="$build" bash scripts/make-demo-voice.sh "$demo_dir"
export RAVEK_REGISTRY="$demo_dir/registry.reg"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/session.conf" <<CONF
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
CONF
dbus-run-session --config-file="$work/session.conf" -- "$build/bin/EngineTester" "$@"
