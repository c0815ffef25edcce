#!/usr/bin/env bash
# Refreshes the translations from the texts in src/: new texts are added unfinished,
# changed ones marked unfinished, removed ones marked vanished, and every translation
# already made is kept. Without arguments it refreshes translations/aquilevel_*.ts;
# otherwise the .ts files named. Then translate with Qt Linguist
# (linguist translations/aquilevel_de.ts) or in an editor, and rebuild.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
lupdate="${LUPDATE:-$(command -v lupdate || true)}"
[ -n "$lupdate" ] || lupdate=/usr/lib/qt6/bin/lupdate
[ -x "$lupdate" ] || { echo "lupdate not found: install qt6-l10n-tools" >&2; exit 1; }
files=()
for f in "$@"; do files+=("$(realpath "$f")"); done
cd "$top"
if [ ${#files[@]} -eq 0 ]; then
    shopt -s nullglob
    files=("$top"/translations/aquilevel_*.ts)
fi
[ ${#files[@]} -gt 0 ] || { echo "No translations/aquilevel_*.ts to refresh" >&2; exit 1; }
# Everything a session shows; the experimenter's commands (src/tools) stay English.
# -I src: the headers are included as "session/...", which gives each text its class.
"$lupdate" -silent -locations none -I src -extensions cpp,h \
    src/store src/config src/session src/recording src/task src/materials \
    src/CommandLine.cpp src/Startup.cpp -ts "${files[@]}"
