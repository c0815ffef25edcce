#!/usr/bin/env bash
# A connection to the lab server lost right after a write was committed, before its
# answer came back: at every write of a whole session in turn. The program must find
# out what the server kept and go on, so that each cut session stores exactly the rows
# of an uncut one: none missing, none twice, and nobody asked whether to retry.
#
#   cut_after_commit.sh BUILD_DIR CLUSTER_DIR PORT
#
# The sessions go through helper_cutproxy (127.0.0.1, plain text so that it can read the
# server's answers). One uncut session first tells how many committed writes W a session
# makes; then for N = 1..W a session under another name is played through a proxy that
# cuts the connection at its N-th committed write, and its rows are compared table by
# table with the uncut session's, leaving out what differs by nature (the name, the
# moments rows were written, the station, rowid).
#
# AQUILEVEL_CUT_DRY=1 plays every session uncut (--cut 0): the comparison itself must
# then find every session the same.
set -euo pipefail
build=$1 cluster=$2 port=$3
app="$build/aquilevel"
proxy="$build/helper_cutproxy"
socket="$cluster/.s.PGSQL.$port"
db=aquilevel_cut
version="Demo discrete"
dry=${AQUILEVEL_CUT_DRY:-0}

if ! ls -d /usr/lib/postgresql/*/bin >/dev/null 2>&1; then
  echo "skipped: PostgreSQL server binaries not found (install postgresql-15)"
  exit 0
fi
[ -S "$socket" ] || { echo "no server socket at $socket (is the test cluster running?)"; exit 1; }
[ -x "$app" ] && [ -x "$proxy" ] || { echo "build $app and $proxy first"; exit 1; }

work=$(mktemp -d)
proxy_pid=""
bot_pid=""
cleanup() {
  [ -z "$bot_pid" ] || kill "$bot_pid" 2>/dev/null || true
  if [ -n "$proxy_pid" ]; then kill "$proxy_pid" 2>/dev/null || true; wait "$proxy_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM HUP
export QT_QPA_PLATFORM=offscreen PGGSSENCMODE=disable
unset AQUILEVEL_SERVER

direct="postgresql:///$db?host=$cluster&port=$port&user=aquilevel"
sql() { psql -X -A -t -q -v ON_ERROR_STOP=1 -d "$direct" "$@"; }
# What a session that failed said last, its lines joined.
why() { grep -v '^period \|^Playing ' "$1" | tr '\n\t' '  ' | tr -s ' ' | sed 's/^.*aquilevel bot: //' | cut -c1-200; }

PGOPTIONS="-c client_min_messages=warning" dropdb -h "$cluster" -p "$port" -U aquilevel --if-exists "$db"
createdb -h "$cluster" -p "$port" -U aquilevel "$db"
AQUILEVEL_SERVER=$direct "$app" --data "$work" init >"$work/init.log" 2>&1 || { echo "init failed:"; cat "$work/init.log"; exit 1; }
# The sessions play as a station's role, as in a lab.
AQUILEVEL_SERVER=$direct "$app" --data "$work" init --station-role cut_station >>"$work/init.log" 2>&1 \
  || { echo "the station's role failed:"; cat "$work/init.log"; exit 1; }

# Starts a proxy cutting at $1 (0: never), counting into $work/count; sets proxy_port.
start_proxy() {
  rm -f "$work/count" "$work/proxy.out"
  "$proxy" "$socket" --cut "$1" --count "$work/count" >"$work/proxy.out" 2>"$work/proxy.err" &
  proxy_pid=$!
  local waited=0
  until grep -q '^port ' "$work/proxy.out" 2>/dev/null; do
    kill -0 "$proxy_pid" 2>/dev/null || { echo "the proxy did not start:"; cat "$work/proxy.err"; exit 1; }
    waited=$((waited + 1))
    [ "$waited" -lt 1000 ] || { echo "the proxy printed no port"; exit 1; }
    sleep 0.01
  done
  proxy_port=$(awk '/^port /{print $2; exit}' "$work/proxy.out")
}
stop_proxy() {
  kill "$proxy_pid" 2>/dev/null || true
  wait "$proxy_pid" 2>/dev/null || true
  proxy_pid=""
}

# Plays one whole session as $1 through the proxy; its exit status is the bot's.
play() {
  local url="postgresql://cut_station@127.0.0.1:$proxy_port/$db?sslmode=disable"
  AQUILEVEL_SERVER=$url "$app" --data "$work" bot --version "$version" --subject "$1" --policy hold \
    >"$work/$1.out" 2>"$work/$1.err" &
  bot_pid=$!
  local status=0
  wait "$bot_pid" || status=$?
  bot_pid=""
  return "$status"
}

# The tables compared, each with the column that orders its rows first.
tables=(datSubject:Version datExperimentTrials:EventID datTrialSummary:Trial datUserTimesSummary:Trial
        datQuestionnaire:QuestionNumber datSubjectMark:Mark)
# Columns that differ between two sessions by nature.
skip="'Subject','Date','Time','startTime','endTime','SubmitClickTime','EventTimeUtc','Station','rowid','SubjectKey','VersionKey','WriteToken'"
declare -A select_of
for entry in "${tables[@]}"; do
  table=${entry%%:*} key=${entry#*:}
  cols=$(sql -c "select string_agg(quote_ident(column_name), ',' order by ordinal_position)
                 from information_schema.columns
                 where table_schema = current_schema() and table_name = '$table'
                   and column_name not in ($skip) and column_name <> '$key'")
  [ -n "$cols" ] || { echo "table $table not found in $db"; exit 1; }
  select_of[$table]="select $(printf '%s' "\"$key\""),$cols from \"$table\" where \"Subject\" = :'subject'
                     order by \"$key\",$cols"
done

# One file per table with the session's rows, as text, read in one visit to the server.
dump() { # subject folder
  mkdir -p "$2"
  local script=""
  for entry in "${tables[@]}"; do
    table=${entry%%:*}
    script+="\\o $2/$table
${select_of[$table]};
"
  done
  sql -v subject="$1" -F '|' <<<"$script"
}

start=$(date +%s)
start_proxy 0
play cut-uncut || { echo "the uncut session failed:"; tail -5 "$work/cut-uncut.err"; exit 1; }
stop_proxy
writes=$(cat "$work/count")
dump cut-uncut "$work/uncut"
summary=""
for entry in "${tables[@]}"; do summary+=" ${entry%%:*} $(grep -c . "$work/uncut/${entry%%:*}" || true),"; done
echo "uncut session: $writes committed writes; rows:${summary%,}"
[ "$writes" -gt 0 ] || { echo "the proxy counted no committed write"; exit 1; }
grep -q . "$work/uncut/datExperimentTrials" || { echo "the uncut session stored no event rows"; exit 1; }

differed=0
for n in $(seq 1 "$writes"); do
  subject="cut-$n"
  cut=$n
  [ "$dry" = 1 ] && cut=0
  start_proxy "$cut"
  status=0
  play "$subject" || status=$?
  stop_proxy
  problems=()
  [ "$status" -eq 0 ] || problems+=("exit $status: $(why "$work/$subject.err")")
  if [ "$status" -eq 0 ] && grep -qi 'retry' "$work/$subject.err"; then problems+=("a retry question: $(grep -i -m1 retry "$work/$subject.err")"); fi
  if [ "$cut" -gt 0 ] && ! grep -q "cut at committed write $n " "$work/proxy.err"; then
    problems+=("not cut: only $(cat "$work/count" 2>/dev/null || echo 0) committed writes")
  fi
  dump "$subject" "$work/$subject"
  for entry in "${tables[@]}"; do
    table=${entry%%:*} key=${entry#*:}
    diff "$work/uncut/$table" "$work/$subject/$table" >"$work/diff" || true
    missing=$(grep '^<' "$work/diff" | cut -c3- | cut -d'|' -f1 | sort -n | uniq | paste -sd, || true)
    extra=$(grep '^>' "$work/diff" | cut -c3- | cut -d'|' -f1 | sort -n | uniq | paste -sd, || true)
    n_missing=$(grep -c '^<' "$work/diff" || true)
    n_extra=$(grep -c '^>' "$work/diff" || true)
    [ "$n_extra" -eq 0 ] || problems+=("$table $n_extra extra ($key $extra)")
    [ "$n_missing" -eq 0 ] || problems+=("$table $n_missing missing ($key $missing)")
  done
  if [ ${#problems[@]} -eq 0 ]; then
    echo "cut at write $n: same rows"
  else
    differed=$((differed + 1))
    printf 'cut at write %s: ' "$n"
    (IFS=';'; echo "${problems[*]}" | sed 's/;/; /g')
  fi
  rm -rf "${work:?}/$subject"
done

mode="cut at each"
[ "$dry" = 1 ] && mode="played uncut (dry run) for each"
echo "$((writes - differed)) of $writes sessions $mode of $writes committed writes stored the uncut session's rows; $differed differed ($(( $(date +%s) - start )) s)"
[ "$differed" -eq 0 ]
