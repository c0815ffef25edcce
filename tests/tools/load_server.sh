#!/usr/bin/env bash
# The lab server under the commands: first an experiment copied from a file to the
# server and back, value by value; then N scripted participants play, as the stations' role, whole sessions into
# it at the same time while export and monitor read; then the server is stopped for a
# few seconds in the middle of a second round. Every row must be there once.
#
#   load_server.sh BUILD_DIR SERVER_URL CLUSTER_DIR [N]
set -euo pipefail
build=$1 url=$2 cluster=$3 n=${4:-32}
app="$build/aquilevel"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export QT_QPA_PLATFORM=offscreen AQUILEVEL_SERVER="$url"

# The copy: a file with a session in it, to an empty server database and back.
copy_url=${url/aquilevel_load/aquilevel_copy}
mkdir -p "$work/file"
AQUILEVEL_SERVER= "$app" --data "$work/file" init >/dev/null 2>&1
AQUILEVEL_SERVER= "$app" --data "$work/file" bot --version "Demo discrete" --subject "Zoé" --policy hold \
  --db "$work/file/Cistern.mdb" >/dev/null 2>&1
"$app" copy --from "$work/file/Cistern.mdb" --to "$copy_url" >/dev/null
if "$app" copy --from "$work/file/Cistern.mdb" --to "$copy_url" >/dev/null 2>&1; then
  echo "copy: a target that holds the tables was written again"; exit 1
fi
"$app" copy --from "$copy_url" --to "$work/back.mdb" >/dev/null
dump() {
  local queries=()
  for t in tblSetup tblScenarios tblLabels tblPasswords datSubject datExperimentTrials datTrialSummary \
           datUserTimesSummary datQuestionnaire; do queries+=("select * from $t order by rowid;"); done
  sqlcipher "$1" "PRAGMA key = 'KwPz_*R*_t';" ".mode csv" "${queries[@]}"
}
dump "$work/file/Cistern.mdb" >"$work/before.csv"
dump "$work/back.mdb" >"$work/after.csv"
cmp -s "$work/before.csv" "$work/after.csv" || { echo "copy: file -> server -> file changed values"; diff "$work/before.csv" "$work/after.csv" | head; exit 1; }
echo "copy: $(grep -c . "$work/before.csv") rows through the server and back, identical"

"$app" --data "$work" init >/dev/null 2>&1 || true # the tables may be there from another case

# A station's role: a whole session as that role, but no deleting of rows and no change
# to the configuration.
"$app" --data "$work" init --station-role station >/dev/null
station_url=${url/user=aquilevel/user=station}
AQUILEVEL_SERVER=$station_url "$app" --data "$work" bot --version "Demo discrete" --subject "role-1" --policy hold \
  >/dev/null 2>"$work/role.err" || { echo "station role: the session failed"; tail -3 "$work/role.err"; exit 1; }
for forbidden in 'delete from "datExperimentTrials"' 'update "tblSetup" set "MaxTrial" = 1' 'drop table "datSubject"'; do
  if psql -X -q -d "$station_url" -c "$forbidden" >/dev/null 2>&1; then
    echo "station role: allowed to $forbidden"; exit 1
  fi
done
echo "station role: a whole session played, deleting and changing the configuration refused"

play_round() { # round tag
  local pids=()
  for i in $(seq 1 "$n"); do
    AQUILEVEL_SERVER=$station_url "$app" --data "$work" bot --version "Demo discrete" --subject "load-$1-$i" --policy hold \
      >"$work/bot-$1-$i.out" 2>"$work/bot-$1-$i.err" &
    pids+=($!)
  done
  local failed=0
  for p in "${pids[@]}"; do wait "$p" || failed=$((failed + 1)); done
  echo "$failed"
}

count() { # SQL
  psql -X -A -t -q -d "$url" -c "$1"
}

# Round 1: everyone at once, with export and monitor reading meanwhile.
(
  for k in 1 2 3; do
    "$app" --data "$work" export "$work/export-$k" >/dev/null 2>&1 || echo "export $k failed" >&2
    "$app" --data "$work" monitor --once >/dev/null 2>&1 || echo "monitor $k failed" >&2
  done
) &
readers=$!
failed=$(play_round a)
wait "$readers"
[ "$failed" -eq 0 ] || { echo "round a: $failed sessions failed"; tail -3 "$work"/bot-a-*.err; exit 1; }
rows=$(count "select count(*) from \"datExperimentTrials\" where \"Subject\" like 'load-a-%'")
dups=$(count "select count(*) from (select 1 from \"datExperimentTrials\" where \"Subject\" like 'load-a-%' group by \"Subject\", \"EventID\" having count(*) > 1) d")
summaries=$(count "select count(*) from \"datTrialSummary\" where \"Subject\" like 'load-a-%'")
echo "round a: $n sessions, $rows event rows, $dups doubled, $summaries summary rows"
[ "$dups" -eq 0 ] && [ "$summaries" -eq $((n * 20)) ] || exit 1
# Each session stores the same rows: the same count for everyone.
per=$(count "select count(distinct c) from (select count(*) c from \"datExperimentTrials\" where \"Subject\" like 'load-a-%' group by \"Subject\") x")
[ "$per" -eq 1 ] || { echo "round a: sessions stored different numbers of rows"; exit 1; }
grep -l "asked\|Retry" "$work"/bot-a-*.err && { echo "round a: a question was shown"; exit 1; }

# Round 2: the server stops for a few seconds in the middle and starts again.
bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -1)
as=(); [ "$(id -u)" -eq 0 ] && as=(runuser -u postgres --)
n=$((n / 2))
( cd /tmp # a folder the server's user may enter
  sleep 1.5
  "${as[@]}" "$bin/pg_ctl" -D "$cluster/data" -m fast -w stop >/dev/null
  sleep 3
  "${as[@]}" "$bin/pg_ctl" -D "$cluster/data" -l "$cluster/server.log" -w start >/dev/null ) &
restarter=$!
failed=$(play_round b)
wait "$restarter"
dups=$(count "select count(*) from (select 1 from \"datExperimentTrials\" where \"Subject\" like 'load-b-%' group by \"Subject\", \"EventID\" having count(*) > 1) d")
gaps=$(count "select count(*) from (select \"Subject\" from \"datExperimentTrials\" where \"Subject\" like 'load-b-%' group by \"Subject\" having max(\"EventID\") <> count(*)) g")
echo "round b (server stopped for 3 s): $n sessions, $failed ended early, $dups doubled, $gaps with a missing event"
[ "$dups" -eq 0 ] && [ "$gaps" -eq 0 ] || exit 1
