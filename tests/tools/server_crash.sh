#!/usr/bin/env bash
# The lab server crashing in the middle of running sessions: six participants play a
# time-driven version at once, and while they play the server is stopped at once
# (pg_ctl -m immediate, as a crash or a power cut would) for 1 s and started again; then
# a second round of six with a 10 s stop. Every session must play to its end without a
# question, and store each row once: no event missing or twice, one summary per period.
#
#   server_crash.sh BUILD_DIR CLUSTER_DIR PORT
#
# It stops the shared test cluster, so it runs alone; the cluster is started again
# whatever happens.
set -euo pipefail
build=$1 cluster=$2 port=$3
app="$build/aquilevel"
db=aquilevel_crash
version="Demo time-driven"
clock_ms=300
sessions=6

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -1 || true)
if [ -z "$bin" ] || [ ! -x "$bin/pg_ctl" ]; then
  echo "skipped: PostgreSQL server binaries not found (install postgresql-15)"
  exit 0
fi
[ -S "$cluster/.s.PGSQL.$port" ] || { echo "no server socket in $cluster (is the test cluster running?)"; exit 1; }
[ -x "$app" ] || { echo "build $app first"; exit 1; }
as=()
[ "$(id -u)" -eq 0 ] && as=(runuser -u postgres --)
pg_ctl() { (cd /tmp && "${as[@]}" "$bin/pg_ctl" -D "$cluster/data" "$@"); } # from a folder its user may enter

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  for p in "${pids[@]}"; do wait "$p" 2>/dev/null || true; done
  # The cluster is shared with the other tests: it runs again, whatever happened here.
  pg_ctl status >/dev/null 2>&1 || pg_ctl -l "$cluster/server.log" -w -t 60 start >/dev/null 2>&1 ||
    echo "could not start the test cluster again" >&2
  rm -rf "$work"
}
trap cleanup EXIT
trap "exit 1" INT TERM HUP
export QT_QPA_PLATFORM=offscreen
unset AQUILEVEL_SERVER

url="postgresql:///$db?host=$cluster&port=$port&user=aquilevel"
sql() { psql -X -A -t -q -v ON_ERROR_STOP=1 -d "$url" -c "$1"; }
now_utc() { date -u +%Y-%m-%dT%H:%M:%S.%3N; }
# What a session that failed said last, its lines joined.
why() { grep -v '^period \|^Playing ' "$1" | tr '\n\t' '  ' | tr -s ' ' | sed 's/^.*aquilevel bot: //' | cut -c1-200; }

PGOPTIONS="-c client_min_messages=warning" dropdb -h "$cluster" -p "$port" -U aquilevel --if-exists "$db"
createdb -h "$cluster" -p "$port" -U aquilevel "$db"
AQUILEVEL_SERVER=$url "$app" --data "$work" init >"$work/init.log" 2>&1 || { echo "init failed:"; cat "$work/init.log"; exit 1; }
# The sessions play as a station's role, as in a lab.
AQUILEVEL_SERVER=$url "$app" --data "$work" init --station-role crash_station >>"$work/init.log" 2>&1 \
  || { echo "the station's role failed:"; cat "$work/init.log"; exit 1; }
station_url=${url/user=aquilevel/user=crash_station}
max_trial=$(sql "select \"MaxTrial\" from \"tblSetup\" where \"Version\" = '$version'")
[ -n "$max_trial" ] || { echo "no version \"$version\" on the server"; exit 1; }

bot() { # subject
  AQUILEVEL_SERVER=$station_url "$app" --data "$work" bot --version "$version" --subject "$1" --clock "$clock_ms" \
    >"$work/$1.out" 2>"$work/$1.err"
}

# An undisturbed session says how many subject and questionnaire rows a session stores.
start=$(date +%s)
bot crash-ref || { echo "the undisturbed session failed:"; tail -3 "$work/crash-ref.err"; exit 1; }
ref_subject=$(sql "select count(*) from \"datSubject\" where \"Subject\" = 'crash-ref'")
ref_questions=$(sql "select count(*) from \"datQuestionnaire\" where \"Subject\" = 'crash-ref'")
echo "undisturbed session: $(sql "select count(*) from \"datExperimentTrials\" where \"Subject\" = 'crash-ref'") event rows," \
  "$(sql "select count(*) from \"datTrialSummary\" where \"Subject\" = 'crash-ref'") period summaries," \
  "$ref_subject subject rows, $ref_questions questionnaire rows ($((  $(date +%s) - start )) s)"

failures=0
round() { # tag seconds
  local tag=$1 seconds=$2 like="crash-$1-%"
  local t0
  t0=$(date +%s)
  pids=()
  for i in $(seq 1 "$sessions"); do
    bot "crash-$tag-$i" &
    pids+=($!)
  done
  # The stop falls while every session plays: each has stored an event, none has ended.
  local seen
  while :; do
    seen=$(sql "select count(distinct \"Subject\") from \"datExperimentTrials\" where \"Subject\" like '$like'")
    [ "$seen" -lt "$sessions" ] || break
    for p in "${pids[@]}"; do
      kill -0 "$p" 2>/dev/null || { echo "round $tag: a session ended before the server was stopped"; break 2; }
    done
    sleep 0.05 # between looks, not to take the sessions' processor
  done
  local finished
  finished=$(sql "select count(*) from \"datTrialSummary\" where \"Subject\" like '$like' and \"Trial\" >= $max_trial")
  local alive=0
  for p in "${pids[@]}"; do kill -0 "$p" 2>/dev/null && alive=$((alive + 1)); done
  local stopped_at
  stopped_at=$(now_utc)
  pg_ctl -m immediate -w stop >/dev/null
  sleep "$seconds" # the outage itself
  pg_ctl -l "$cluster/server.log" -w -t 60 start >/dev/null
  local restarted_at
  restarted_at=$(now_utc)
  echo "round $tag: server stopped at $stopped_at for $seconds s with $alive of $sessions sessions running" \
    "($finished at their last period), started again at $restarted_at"

  local ended_early=0 asked=0
  for i in $(seq 1 "$sessions"); do
    local status=0
    wait "${pids[$((i - 1))]}" || status=$?
    if [ "$status" -ne 0 ]; then
      ended_early=$((ended_early + 1))
      echo "  crash-$tag-$i ended early (exit $status): $(why "$work/crash-$tag-$i.err")"
    fi
    if grep -qi 'retry' "$work/crash-$tag-$i.err"; then
      asked=$((asked + 1))
      [ "$status" -ne 0 ] || echo "  crash-$tag-$i was asked: $(grep -i -m1 retry "$work/crash-$tag-$i.err")"
    fi
  done
  pids=()

  # Row by row, for each participant of the round.
  local bad=0
  local checks
  checks=$(sql "
    with s as (select 'crash-$tag-' || g as subject from generate_series(1, $sessions) g),
    e as (select \"Subject\"::text subject, count(*) n, count(distinct \"EventID\") ids, max(\"EventID\") top,
                 count(*) filter (where \"EventTimeUtc\" > '$restarted_at') after_restart
          from \"datExperimentTrials\" where \"Subject\" like '$like' group by 1),
    t as (select \"Subject\"::text subject, count(*) n, count(distinct \"Trial\") periods
          from \"datTrialSummary\" where \"Subject\" like '$like' group by 1),
    r as (select \"Subject\"::text subject, count(*) n from \"datSubject\" where \"Subject\" like '$like' group by 1),
    q as (select \"Subject\"::text subject, count(*) n, count(distinct \"QuestionNumber\") questions
          from \"datQuestionnaire\" where \"Subject\" like '$like' group by 1)
    select s.subject, coalesce(e.n, 0), coalesce(e.ids, 0), coalesce(e.top, 0), coalesce(e.after_restart, 0),
           coalesce(t.n, 0), coalesce(t.periods, 0), coalesce(r.n, 0), coalesce(q.n, 0), coalesce(q.questions, 0)
    from s left join e using (subject) left join t using (subject) left join r using (subject)
           left join q using (subject)
    order by s.subject")
  while IFS='|' read -r subject n ids top after summaries periods subjects questions distinct_q; do
    local what=()
    [ "$n" -gt 0 ] || what+=("no event rows")
    [ "$ids" -eq "$n" ] || what+=("$((n - ids)) doubled events")
    [ "$top" -eq "$n" ] || [ "$ids" -ne "$n" ] || what+=("$((top - n)) missing events (max EventID $top, $n rows)")
    [ "$after" -gt 0 ] || what+=("no event stored after the restart")
    [ "$summaries" -eq "$max_trial" ] && [ "$periods" -eq "$max_trial" ] ||
      what+=("$summaries period summaries for $periods of $max_trial periods")
    [ "$subjects" -eq "$ref_subject" ] || what+=("$subjects subject rows (undisturbed: $ref_subject)")
    [ "$questions" -eq "$ref_questions" ] && [ "$distinct_q" -eq "$questions" ] ||
      what+=("$questions questionnaire rows for $distinct_q questions (undisturbed: $ref_questions)")
    if [ ${#what[@]} -gt 0 ]; then
      bad=$((bad + 1))
      (IFS=';'; echo "  $subject: ${what[*]}" | sed 's/;/; /g')
    fi
  done <<<"$checks"
  local mid_ok=1
  [ "$alive" -eq "$sessions" ] && [ "$finished" -eq 0 ] || mid_ok=0
  [ "$mid_ok" -eq 1 ] || echo "  the stop did not fall in the middle of every session"
  echo "round $tag (server stopped for $seconds s): $sessions sessions, $ended_early ended early, $asked asked to retry," \
    "$bad with wrong rows ($(( $(date +%s) - t0 )) s)"
  if [ "$ended_early" -gt 0 ] || [ "$asked" -gt 0 ] || [ "$bad" -gt 0 ] || [ "$mid_ok" -eq 0 ]; then
    failures=$((failures + 1))
  fi
}

round 1s 1
round 10s 10
echo "server crash: $((2 - failures)) of 2 rounds passed ($(( $(date +%s) - start )) s)"
[ "$failures" -eq 0 ]
