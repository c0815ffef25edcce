#!/usr/bin/env bash
# Where the program keeps its database when no folder is named: a copy of the program in
# a folder of its own keeps it in data/ beside itself; an installed program (run from the
# bin folder of its prefix, its menu entry in share/applications) in the user's data folder.
#
#   check_data_folder.sh BUILD_DIR
set -euo pipefail
build=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unset AQUILEVEL_DATA AQUILEVEL_SERVER
export QT_QPA_PLATFORM=offscreen HOME="$work/home" XDG_DATA_HOME="$work/home/.local/share"
fail() { echo "FAIL: $*"; exit 1; }

# A copy on a station, without a data folder yet.
mkdir -p "$work/station/aquilevel"
cp "$build/aquilevel" "$work/station/aquilevel/"
"$work/station/aquilevel/aquilevel" init >/dev/null
[ -f "$work/station/aquilevel/data/Cistern.mdb" ] || fail "a copied program did not keep its data beside it"
[ ! -e "$HOME/.local/share/aquilevel" ] || fail "a copied program wrote into the user's data folder"

# An installed program.
cmake --install "$build" --prefix "$work/prefix" >/dev/null
"$work/prefix/bin/aquilevel" init >/dev/null
[ -f "$HOME/.local/share/aquilevel/Cistern.mdb" ] || fail "an installed program did not use the user's data folder"
[ ! -e "$work/prefix/bin/data" ] || fail "an installed program wrote beside itself"
echo "a copy keeps data/ beside it; an installed program uses the user's data folder"
