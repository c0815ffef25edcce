#!/usr/bin/env bash
# Installs what is missing, builds, creates the demo database beside the program if
# there is none, and starts a session. Arguments go to the program (e.g. --data DIR).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
./scripts/build.sh
database="${AQUILEVEL_DATA:-build/data}/Cistern.mdb"
[ -f "$database" ] || build/aquilevel init
exec build/aquilevel "$@"
