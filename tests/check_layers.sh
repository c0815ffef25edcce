#!/usr/bin/env bash
# Fails when a folder of src/ includes from a folder that comes after it in the order
# the README's layout gives (the program's own files at the top of src/ come last).
set -euo pipefail
src="$1/src"
order=(store config session recording task materials tools)
rank() { local i; for i in "${!order[@]}"; do [[ ${order[$i]} == "$1" ]] && { echo "$i"; return; }; done; echo 99; }
status=0
while IFS= read -r file; do
    folder=$(basename "$(dirname "$file")")
    [[ $(dirname "$file") == "$src" ]] && continue
    own=$(rank "$folder")
    while IFS= read -r used; do
        if (( $(rank "$used") > own )); then
            echo "$file includes from $used/, which comes after $folder/"
            status=1
        fi
    done < <(grep -oE '^#include "[a-z]+/' "$file" | sed -E 's/#include "([a-z]+)\//\1/' | sort -u)
    # The program's own headers at the top of src/ come after every folder.
    while IFS= read -r top; do
        if [[ -f "$src/$top" ]]; then
            echo "$file includes the program's $top, which comes after every folder"
            status=1
        fi
    done < <(grep -oE '^#include "[A-Za-z]+\.h"' "$file" | sed -E 's/#include "(.*)"/\1/')
done < <(find "$src" -name '*.h' -o -name '*.cpp')
exit $status
