#!/usr/bin/env bash
# Fails when a text a session shows has no finished translation in a shipped language:
# refreshes a copy of each .ts from the sources, as scripts/update-translations.sh does,
# and looks for texts that are new or changed (unfinished) or no longer used (vanished).
set -euo pipefail
top="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$top"/translations/aquilevel_*.ts "$work"/
bash "$top/scripts/update-translations.sh" "$work"/aquilevel_*.ts >/dev/null
status=0
for ts in "$work"/aquilevel_*.ts; do
    name=$(basename "$ts")
    for kind in unfinished vanished obsolete; do
        count=$(grep -c "type=\"$kind\"" "$ts" || true)
        if [ "$count" -gt 0 ]; then
            echo "$name: $count $kind text(s); run scripts/update-translations.sh and translate them:"
            grep -B3 "type=\"$kind\"" "$ts" | grep -o '<source>.*' | head -20
            status=1
        fi
    done
done
[ $status -eq 0 ] && echo "Every text is translated."
exit $status
