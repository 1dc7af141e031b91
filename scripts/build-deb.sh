#!/usr/bin/env bash
# Builds the Debian package ravek-voice from the working tree and checks it with lintian.
# The tree (tracked and new files, build folders left out) is copied to build-deb/src, so
# dpkg-buildpackage writes nothing outside build-deb/; the package lands in build-deb/.
# Needs the packages of scripts/install-deps.sh (debhelper, lintian and the build libraries).
set -euo pipefail
# --help prints the comment above.
case "${1:-}" in -h|--help) sed -n '2,/^set /p' "$0" | sed '$d' | sed 's/^# \{0,1\}//'; exit 0 ;; esac
cd "$(dirname "$0")/.."
OUT=build-deb
rm -rf "$OUT"
mkdir -p "$OUT/src"
git ls-files -co --exclude-standard -z | tar --null -T - -cf - | tar -C "$OUT/src" -xf -
(cd "$OUT/src" && dpkg-buildpackage -us -uc -b -j"$(nproc)")
ls "$OUT"/ravek-voice_*.deb
# Errors fail the build; warnings are printed (the ones kept are listed in the README).
lintian --fail-on error "$OUT"/ravek-voice_*.changes
