#!/usr/bin/env bash
# End-to-end tests in a real window: starts the real program under an Xvfb of its own and
# drives it only from outside the process, with xdotool keys and clicks, as a person at
# the computer would. The stored rows are then read back through the program's export.
#
# Usage: tests/e2e/run_e2e.sh BUILD_DIR
# Needs Xvfb, xdotool and sqlcipher (scripts/setup.sh installs them).
#
# Every wait is on a condition (a window appears or goes, a row is stored, the process
# ends), with generous time limits, so a slow machine makes the suite slower, not flaky.

set -u

build=${1:?usage: run_e2e.sh BUILD_DIR}
build=$(cd "$build" && pwd)
bin="$build/aquilevel"
[ -x "$bin" ] || { echo "no program at $bin" >&2; exit 2; }
checker="$build/helper_screencheck"
[ -x "$checker" ] || { echo "no screenshot checker at $checker" >&2; exit 2; }
for tool in Xvfb xdotool sqlcipher; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (scripts/setup.sh installs it)" >&2; exit 2; }
done

readonly key="PRAGMA key = 'KwPz_*R*_t';"
readonly paced="E2E paced"
readonly timed="E2E timed"
readonly discrete="E2E discrete"
readonly german="E2E deutsch"
readonly long_wait=45   # seconds for a window, a row or the end of the process

work=$(mktemp -d "${TMPDIR:-/tmp}/aquilevel-e2e.XXXXXX")
data="$work/data"
mkdir -p "$data" "$work/runtime"
chmod 700 "$work/runtime"

xvfb_pid=""
app_pid=""
passed=0
failed=0
failures=()

cleanup() {
  [ -n "${console_pid:-}" ] && kill -9 "$console_pid" 2>/dev/null
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    kill -9 "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
  fi
  if [ -n "$xvfb_pid" ] && kill -0 "$xvfb_pid" 2>/dev/null; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- The display ------------------------------------------------------------------------

start_display() {
  local n
  for n in $(seq 99 160); do
    [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
    # No key repeat: a key held down while the machine is busy must stay one key.
    # A 1024 x 768 lab monitor: the trial screen must fit it whole. -noreset: the server
    # would otherwise reset when its last client leaves (the check below, a program that
    # ended), and refuse the next one while it does.
    Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -r -noreset >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    local deadline=$((SECONDS + 30))
    while [ $SECONDS -lt $deadline ]; do
      if ! kill -0 "$xvfb_pid" 2>/dev/null; then
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=""
        break # taken in the meantime: the next number
      fi
      if DISPLAY=":$n" xdotool getmouselocation >/dev/null 2>&1; then
        export DISPLAY=":$n"
        return 0
      fi
      sleep 0.1
    done
    if [ -n "$xvfb_pid" ]; then
      kill "$xvfb_pid" 2>/dev/null
      wait "$xvfb_pid" 2>/dev/null
      xvfb_pid=""
    fi
  done
  echo "could not start Xvfb" >&2
  return 1
}

# --- Waiting on conditions ----------------------------------------------------------------

# wait_until SECONDS COMMAND...: runs COMMAND every $poll seconds until it succeeds.
poll=0.1
wait_until() {
  local limit=$1
  shift
  local deadline=$((SECONDS + limit))
  while ! "$@"; do
    [ $SECONDS -ge $deadline ] && return 1
    sleep "$poll"
  done
}

# The visible windows titled exactly TITLE, one id a line.
visible_windows() {
  xdotool search --onlyvisible --name "^$1\$" 2>/dev/null
}

# window TITLE [EXCEPT_ID]: waits for a visible window titled TITLE (other than EXCEPT_ID)
# and prints its id.
found_window=""
find_window() {
  local id
  for id in $(visible_windows "$1"); do
    if [ "$id" != "${2:-}" ]; then
      found_window=$id
      return 0
    fi
  done
  return 1
}
window() {
  found_window=""
  if ! wait_until "$long_wait" find_window "$@"; then
    echo "no window \"$1\" appeared" >&2
    return 1
  fi
  echo "$found_window"
}

is_gone() {
  ! visible_windows "$1" | grep -qx "$2"
}
# gone TITLE ID: waits until the window ID is no longer shown.
gone() {
  wait_until "$long_wait" is_gone "$1" "$2" || { echo "window \"$1\" stayed" >&2; return 1; }
}

# focus ID: gives the window the keyboard and waits until the server confirms it.
focus() {
  xdotool windowfocus --sync "$1" >/dev/null 2>&1 || return 1
  wait_until 10 focused "$1" || { echo "focus did not reach window $1 ($(xdotool getwindowfocus 2>/dev/null))" >&2; return 1; }
}
focused() {
  [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]
}

typed() {
  xdotool type --delay 40 -- "$1"
}

keys() {
  xdotool key --delay 40 "$@"
}

# screen_check VERSION [AMOUNT]: a screenshot of the trial screen must show the tank and
# the goal line where VERSION's configuration puts them (with AMOUNT in the tank, the
# initial amount when not given). The checker grabs the screen again until it does.
screen_check() {
  local X Y WIDTH HEIGHT SCREEN WINDOW
  eval "$(xdotool getwindowgeometry --shell "$trial_window")"
  local name=${1// /-}
  QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" LANG=C.UTF-8 \
    "$checker" --db "$data/Cistern.mdb" --version "$1" --window "$X,$Y,$WIDTH,$HEIGHT" \
    ${2:+--amount "$2"} --save "$work/shot-$name.png" >"$work/shot-$name.log" 2>&1
  local rc=$?
  # AQUILEVEL_E2E_SHOTS=DIR keeps the screenshots and what was checked on them.
  if [ -n "${AQUILEVEL_E2E_SHOTS:-}" ]; then
    cp "$work/shot-$name.png" "$AQUILEVEL_E2E_SHOTS/shot-$name-$SECONDS.png" 2>/dev/null
    cp "$work/shot-$name.log" "$AQUILEVEL_E2E_SHOTS/shot-$name-$SECONDS.log"
  fi
  if [ $rc -ne 0 ]; then
    echo "screenshot of \"$1\" failed its checks:" >&2
    grep -v XDG_RUNTIME_DIR "$work/shot-$name.log" >&2
  fi
  return $rc
}

# --- The program ----------------------------------------------------------------------------

start_app() { # LOG [LANG]
  local log=$1
  QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" LANG=${2:-C.UTF-8} \
    "$bin" --data "$data" >"$log" 2>&1 &
  app_pid=$!
}

app_ended() {
  ! kill -0 "$app_pid" 2>/dev/null
}

# finish_app: waits for the program to end and keeps its exit code in app_rc.
app_rc=""
finish_app() {
  if ! wait_until "$long_wait" app_ended; then
    echo "the program did not end" >&2
    kill -9 "$app_pid" 2>/dev/null
  fi
  wait "$app_pid" 2>/dev/null
  app_rc=$?
  app_pid=""
}

kill_app() {
  if [ -n "$app_pid" ]; then
    kill -9 "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
    app_pid=""
  fi
}

sql() {
  sqlcipher "$data/Cistern.mdb" "$key" "$@" 2>&1 | grep -v '^ok$'
}

# export_rows SUBJECT VERSION: the participant's data tables into $work/out (a bot's
# participant too, which is marked a pilot).
export_rows() {
  rm -rf "$work/out"
  "$bin" --data "$data" export "$work/out" --version "$2" --subject "$1" --include-pilots \
    >"$work/export.log" 2>&1
}

# column FILE NAME: the number of the column NAME in the CSV's header.
column() {
  head -1 "$1" | tr -d '\r' | tr ',' '\n' | grep -nx "$2" | cut -d: -f1
}

# field FILE EVENT NAME: NAME of every row of event type EVENT, one a line (the exported
# values here carry no commas or quotes).
field() {
  local type_col name_col
  type_col=$(column "$1" eventType)
  name_col=$(column "$1" "$3")
  tr -d '\r' <"$1" | awk -F, -v t="$type_col" -v n="$name_col" -v e="$2" 'NR > 1 && $t == e { print $n }'
}

# values FILE NAME...: the columns NAME of every row, a row a line (no commas in them).
values() {
  local file=$1 cols=() name
  shift
  for name in "$@"; do cols+=("$(column "$file" "$name")"); done
  tr -d '\r' <"$file" | awk -F, -v c="${cols[*]}" 'NR > 1 { n = split(c, k, " "); line = "";
    for (i = 1; i <= n; i++) line = line (i > 1 ? "|" : "") $k[i]; print line }'
}

count_events() { # SUBJECT VERSION EVENT
  export_rows "$1" "$2" || { echo 0; return; }
  field "$work/out/datExperimentTrials.csv" "$3" EventID | wc -l
}

has_events() { # SUBJECT VERSION EVENT N
  [ "$(count_events "$1" "$2" "$3")" -ge "$4" ]
}

# wait_rows SUBJECT VERSION EVENT N: waits until N rows of EVENT are stored.
wait_rows() {
  local poll=0.3 # each look is a run of the export; the session under test needs the CPU
  wait_until "$long_wait" has_events "$@" || { echo "no $4 \"$3\" rows stored" >&2; return 1; }
}

# --- What a participant does ---------------------------------------------------------------

# login NAME VERSION
login() {
  local w
  w=$(window Welcome) || return 1
  focus "$w" || return 1
  typed "$1"
  keys Tab ctrl+a
  typed "$2"
  keys Return
}

register() { # NAME AGE MAJOR [CAPTION]
  local w caption=${4:-Subject Info: }
  w=$(window "$caption$1") || return 1
  focus "$w" || return 1
  typed "$2"
  keys Tab space Tab ctrl+a
  typed "$3"
  keys Tab Return
  gone "$caption$1" "$w"
}

read_instructions() { # [TITLE]
  local w title=${1:-Instructions}
  w=$(window "$title") || return 1
  focus "$w" || return 1
  keys space # ">" has the focus on the first page
  keys space # Continue, which takes the focus when the second page is shown
  gone "$title" "$w"
}

trial_window=""
find_trial_window() {
  trial_window=$(window Aquilevel) || return 1
  focus "$trial_window"
}

# order PERIOD INFLOW OUTFLOW SUBJECT VERSION: types the orders of a period, submits them
# and waits until the period is over. No click: after every period the keyboard is back
# in the inflow box.
order() {
  focus "$trial_window" || return 1
  typed "$2"
  keys Tab
  typed "$3"
  keys Return
  wait_rows "$4" "$5" "After Cost Calculation" "$1"
}

answer_questionnaire() { # with_checks(0|1) [TITLE]
  local q m title=${2:-Aquilevel Questionnaire}
  q=$(window "$title") || return 1
  focus "$q" || return 1
  if [ "$1" = 1 ]; then
    # Submit with nothing given: the first check answers.
    keys Tab Tab Tab Tab Return
    m=$(window Questionnaire) || return 1
    focus "$m" || return 1
    keys Return
    gone Questionnaire "$m" || return 1
    focus "$q" || return 1
    keys shift+Tab shift+Tab shift+Tab shift+Tab
  fi
  typed "7" # the rating moves the focus on to the reasons
  typed "hard to see"
  if [ "$1" = 1 ]; then
    # Question 2 left empty: the second check answers.
    keys Tab Tab Tab Return
    m=$(window Questionnaire) || return 1
    focus "$m" || return 1
    keys Return
    gone Questionnaire "$m" || return 1
    focus "$q" || return 1
    keys shift+Tab shift+Tab
  else
    keys Tab
  fi
  typed "watch the goal"
  keys Tab
  typed "no"
  keys Tab Return
  gone "$title" "$q"
}

# The earnings message: a box titled like the trial screen, besides it.
# With a FILE, the message's words are copied there first (Ctrl+C copies a message).
close_earnings() { # [FILE]
  local m
  m=$(window Aquilevel "$trial_window") || return 1
  focus "$m" || return 1
  if [ -n "${1:-}" ]; then
    keys ctrl+c
    QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" "$checker" --clipboard >"$1" 2>/dev/null
  fi
  keys Return
}

# amount_after SUBJECT VERSION: the amount in the tank at the end of the last period.
amount_after() {
  export_rows "$1" "$2" || return 1
  field "$work/out/datExperimentTrials.csv" "After Cost Calculation" AmountInTank | tail -1
}

# new_participant NAME VERSION AGE MAJOR LOG: starts the program, logs a new participant
# in, registers them, reads the instructions and waits for the trial screen.
new_participant() {
  start_app "$work/$5"
  login "$1" "$2" || return 1
  register "$1" "$3" "$4" || return 1
  read_instructions || return 1
  find_trial_window
}

# --- Checks --------------------------------------------------------------------------------

check_failures=()
expect() { # WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then
    check_failures+=("$1: expected [$2], got [$3]")
  fi
}

# --- The database ----------------------------------------------------------------------------

prepare_database() {
  "$bin" --data "$data" init >"$work/init.log" 2>&1 || { cat "$work/init.log" >&2; return 1; }
  local copy="MaxTrial, BaseMoney, numMarks, InitialAmountInTank, GoalLinePoisition,
    InitialBackOrder, InitialForwardDischarge, inFlowTPAfter, outFlowTPAfter, simTimeForTP,
    AfterEveryNTrials, ScenarioUsed, CostUnderFlowPerAmount, CostOverFlowPerAmount,
    BonusAmount, YUnits, graphicalMode, userDelay, envDelay, RHEIGHT, RWIDTH,
    UpperBoundFromGoal, LowerBoundFromGoal, ExperimentTimeForInstructions,
    MaxNumberOfAScenarioType, IsTimeDriven, IsBonusOnTimeGap, ShowBackOrder,
    ShowDischargeOrder, ShowTimePeriods, deltaTmeBetweenEnvUsr, TimeBetweenEnvTries, UsrMv, EnvMv"
  sql "
    INSERT INTO tblSetup (Version, $copy) SELECT '$paced', $copy FROM tblSetup WHERE Version = 'Demo continuous';
    UPDATE tblSetup SET MaxTrial = 3, userDelay = 50, envDelay = 50, UsrMv = 50, EnvMv = 50 WHERE Version = '$paced';
    INSERT INTO tblSetup (Version, $copy) SELECT '$timed', $copy FROM tblSetup WHERE Version = 'Demo time-driven';
    UPDATE tblSetup SET MaxTrial = 3, userDelay = 50, envDelay = 50, UsrMv = 50, EnvMv = 50,
      TimeBetweenEnvTries = 700 WHERE Version = '$timed';
    INSERT INTO tblSetup (Version, $copy) SELECT '$discrete', $copy FROM tblSetup WHERE Version = 'Demo discrete';
    UPDATE tblSetup SET MaxTrial = 3, userDelay = 50, envDelay = 50, UsrMv = 50, EnvMv = 50 WHERE Version = '$discrete';
    INSERT INTO tblLabels (version, LabelNumber, LabelName) SELECT '$discrete', LabelNumber, LabelName FROM tblLabels WHERE version = 'Demo discrete';
    INSERT INTO tblLabels (version, LabelNumber, LabelName) SELECT '$paced', LabelNumber, LabelName FROM tblLabels WHERE version = 'Demo continuous';
    INSERT INTO tblLabels (version, LabelNumber, LabelName) SELECT '$timed', LabelNumber, LabelName FROM tblLabels WHERE version = 'Demo time-driven';
    INSERT INTO tblSetup (Version, $copy) SELECT '$german', $copy FROM tblSetup WHERE Version = '$discrete';
    UPDATE tblSetup SET Language = 'de', CurrencySymbol = '€', CurrencyWord = 'Euro', CurrencyCents = 'Cent'
      WHERE Version = '$german';
    INSERT INTO tblLabels (version, LabelNumber, LabelName) SELECT '$german', LabelNumber, LabelName FROM tblLabels WHERE version = 'Demo discrete';
  " >"$work/sql.log" || true
  "$bin" --data "$data" check >"$work/check.log" 2>&1 || { cat "$work/sql.log" "$work/check.log" >&2; return 1; }
  grep -q "all sound" "$work/check.log" || { cat "$work/check.log" >&2; return 1; }
}

# The scenario's environment flows of PERIOD for VERSION, "in out".
scenario_flows() {
  sql "SELECT s.inFlowRateEnviron || ' ' || s.outFlowRateEnviron FROM tblScenarios s
       JOIN tblSetup t ON t.ScenarioUsed = s.Scenario WHERE t.Version = '$1' AND s.Trial = $2;"
}

same_number() { # A B: equal as numbers
  awk -v a="$1" -v b="$2" 'BEGIN { exit !(a + 0 == b + 0 && a != "" && b != "") }'
}

# --- The cases ----------------------------------------------------------------------------------

case_new_participant() {
  local subject="ada"
  new_participant "$subject" "$paced" 23 Physics app-new.log || return 1
  screen_check "$paced" || return 1
  local -a ins=(3 5 0) outs=(2 1 7)
  local p
  for p in 1 2 3; do
    if [ "$p" -lt 3 ]; then
      order "$p" "${ins[p - 1]}" "${outs[p - 1]}" "$subject" "$paced" || return 1
      # After period 2 the surface lies some 7 pixels above where it started, further
      # than the checks around it reach, so a picture left unchanged would fail.
      [ "$p" = 2 ] && { screen_check "$paced" "$(amount_after "$subject" "$paced")" || return 1; }
    else
      # The last period ends in the questionnaire.
      focus "$trial_window" || return 1
      typed "${ins[p - 1]}"
      keys Tab
      typed "${outs[p - 1]}"
      keys Return
    fi
  done
  answer_questionnaire 1 || return 1
  close_earnings || return 1
  finish_app
  expect "exit code" 0 "$app_rc"

  export_rows "$subject" "$paced" || { echo "export failed" >&2; return 1; }
  local f="$work/out/datExperimentTrials.csv"
  expect "Submit Clicked inflows" "3 5 0" "$(field "$f" "Submit Clicked" UserInFlow | xargs)"
  expect "Submit Clicked outflows" "2 1 7" "$(field "$f" "Submit Clicked" UserOutFlow | xargs)"
  expect "Submit Clicked periods" "1 2 3" "$(field "$f" "Submit Clicked" Trial | xargs)"
  expect "After Cost Calculation periods" "1 2 3" "$(field "$f" "After Cost Calculation" Trial | xargs)"
  expect "Continue Clicked rows" 1 "$(field "$f" "Continue Clicked" EventID | wc -l)"
  # Event numbers run on without gaps from the Continue row.
  local ids
  ids=$(tr -d '\r' <"$f" | awk -F, -v c="$(column "$f" EventID)" 'NR > 1 { print $c }' | sort -n | xargs)
  expect "event numbers" "$(seq 0 $(($(echo "$ids" | wc -w) - 1)) | xargs)" "$ids"
  # The environment's flows of each period are the scenario's.
  local env_in env_out
  env_in=($(field "$f" "Environment Effect" EnvInFlow))
  env_out=($(field "$f" "Environment Effect" EnvOutFlow))
  expect "Environment Effect rows" 3 "${#env_in[@]}"
  for p in 1 2 3; do
    local want
    want=($(scenario_flows "$paced" "$p"))
    same_number "${env_in[p - 1]:-}" "${want[0]:-}" ||
      expect "environment inflow of period $p" "${want[0]:-}" "${env_in[p - 1]:-}"
    same_number "${env_out[p - 1]:-}" "${want[1]:-}" ||
      expect "environment outflow of period $p" "${want[1]:-}" "${env_out[p - 1]:-}"
  done
  # The environment's step moves the tank by its flows (one simulated time unit a period).
  local before after
  before=($(field "$f" "Submit Clicked" AmountInTank))
  after=($(field "$f" "Environment Effect" AmountInTank))
  for p in 1 2 3; do
    awk -v b="${before[p - 1]:-x}" -v a="${after[p - 1]:-x}" -v i="${env_in[p - 1]:-0}" \
      -v o="${env_out[p - 1]:-0}" 'BEGIN { d = b + i - o - a; exit !(d < 1e-6 && d > -1e-6) }' ||
      expect "tank after the environment in period $p" "${before[p - 1]:-?} + ${env_in[p - 1]:-?} - ${env_out[p - 1]:-?}" "${after[p - 1]:-?}"
  done
  # A period whose deliveries both come from typed orders ends where they take the tank:
  # an order arrives inFlowTPAfter (outFlowTPAfter) - 1 periods after the one it was
  # typed in.
  local delays closing in_from out_from
  delays=($(sql "SELECT inFlowTPAfter || ' ' || outFlowTPAfter FROM tblSetup WHERE Version = '$paced';"))
  closing=($(field "$f" "After Cost Calculation" AmountInTank))
  local typed_periods=0
  for p in 1 2 3; do
    in_from=$((p - ${delays[0]:-1} + 1))
    out_from=$((p - ${delays[1]:-1} + 1))
    [ "$in_from" -ge 1 ] && [ "$out_from" -ge 1 ] || continue
    typed_periods=$((typed_periods + 1))
    awk -v b="${before[p - 1]:-x}" -v a="${closing[p - 1]:-x}" -v i="${env_in[p - 1]:-0}" \
      -v o="${env_out[p - 1]:-0}" -v ui="${ins[in_from - 1]}" -v uo="${outs[out_from - 1]}" \
      'BEGIN { d = b + i - o + ui - uo - a; exit !(d < 1e-6 && d > -1e-6) }' ||
      expect "tank at the end of period $p" \
        "${before[p - 1]:-?} + ${env_in[p - 1]:-?} - ${env_out[p - 1]:-?} + ${ins[in_from - 1]} - ${outs[out_from - 1]}" \
        "${closing[p - 1]:-?}"
  done
  # The version's delays must leave at least one such period, or nothing was compared.
  [ "$typed_periods" -ge 1 ] || expect "periods whose deliveries were typed" "at least 1" 0
  # The first period starts from the configured amount.
  same_number "${before[0]:-}" "$(sql "SELECT InitialAmountInTank FROM tblSetup WHERE Version = '$paced';")" ||
    expect "amount at the first Submit" "initial amount" "${before[0]:-}"

  local q="$work/out/datQuestionnaire.csv"
  expect "questionnaire rows" 3 "$(($(tr -d '\r' <"$q" | wc -l) - 1))"
  expect "questionnaire answers" '1,"7, hard to see"|2,watch the goal|3,no' \
    "$(tr -d '\r' <"$q" | awk -F, 'NR > 1' | cut -d, -f3- | sed 's/,[^,]*,[^,]*$//' | paste -sd'|')"
  local s="$work/out/datSubject.csv"
  expect "subject row" "1 23 Female Physics" \
    "$(tr -d '\r' <"$s" | awk -F, -v a="$(column "$s" Age)" -v g="$(column "$s" Gender)" \
      -v m="$(column "$s" Major)" 'NR > 1 { n++; r = $a " " $g " " $m } END { print n, r }')"
  expect "trial summary rows" 3 "$(($(tr -d '\r' <"$work/out/datTrialSummary.csv" | wc -l) - 1))"
  [ ${#check_failures[@]} -eq 0 ]
}

case_exit_with_password() {
  local subject="bert"
  new_participant "$subject" "$paced" 31 Music app-exit.log || return 1
  order 1 4 4 "$subject" "$paced" || return 1

  focus "$trial_window" || return 1
  keys ctrl+x
  local w g m
  w=$(window "Exit Application") || return 1
  focus "$w" || return 1
  keys Return # Yes
  g=$(window Authentication) || return 1
  focus "$g" || return 1
  typed experimenter
  keys Tab
  typed wrong-password
  keys Tab space # Exit Application
  m=$(window "Password Incorrect") || return 1
  focus "$m" || return 1
  keys Return
  gone "Password Incorrect" "$m" || return 1
  app_ended && { echo "the program ended on a wrong password" >&2; return 1; }
  focus "$g" || return 1
  # The boxes were cleared and the user name box has the focus again.
  typed experimenter
  keys Tab
  typed Tank-demo-2026
  keys Tab space
  finish_app
  expect "exit code" 0 "$app_rc"

  export_rows "$subject" "$paced" || { echo "export failed" >&2; return 1; }
  local f="$work/out/datExperimentTrials.csv"
  expect "Submit Clicked rows" 1 "$(field "$f" "Submit Clicked" EventID | wc -l)"
  expect "After Cost Calculation periods" 1 "$(field "$f" "After Cost Calculation" Trial | xargs)"
  expect "questionnaire rows" 0 "$(($(tr -d '\r' <"$work/out/datQuestionnaire.csv" | wc -l) - 1))"
  [ ${#check_failures[@]} -eq 0 ]
}

case_resume_after_kill() {
  local subject="cleo"
  new_participant "$subject" "$paced" 45 Art app-kill.log || return 1
  order 1 6 1 "$subject" "$paced" || return 1
  # Period 2 has begun (the screen waits for its orders): the computer goes down.
  kill_app

  export_rows "$subject" "$paced" || return 1
  local f="$work/out/datExperimentTrials.csv"
  local last
  last=$(tr -d '\r' <"$f" | awk -F, -v c="$(column "$f" EventID)" 'NR > 1 && $c > m { m = $c } END { print m + 0 }')

  start_app "$work/app-resume.log"
  # Taken up again, and killed again in the middle of period 2: after its environment
  # step, before its user step.
  login "$subject" "$paced" || return 1
  local w
  w=$(window "Login $subject already used") || return 1
  focus "$w" || return 1
  keys Return # Yes: continue with period 2
  gone "Login $subject already used" "$w" || return 1
  find_trial_window || return 1
  expect "instructions for a returning participant" "" "$(visible_windows Instructions)"
  focus "$trial_window" || return 1
  typed 2
  keys Tab
  typed 3
  keys Return
  wait_rows "$subject" "$paced" "Environment Effect" 2 || return 1
  kill_app
  start_app "$work/app-resume2.log"
  login "$subject" "$paced" || return 1
  w=$(window "Login $subject already used") || return 1
  focus "$w" || return 1
  keys Return # Yes: period 2 is finished at the login, then period 3
  gone "Login $subject already used" "$w" || return 1
  find_trial_window || return 1
  order 3 4 0 "$subject" "$paced" || return 1
  answer_questionnaire 0 || return 1
  close_earnings || return 1
  finish_app

  # The same orders, never interrupted, by the scripted participant.
  printf '6,1\n2,3\n4,0\n' >"$work/orders.csv"
  "$bin" --data "$data" bot --version "$paced" --subject "$subject-whole" --db "$data/Cistern.mdb" \
    --orders "$work/orders.csv" >"$work/bot.log" 2>&1 || { cat "$work/bot.log" >&2; return 1; }
  local name whole resumed
  for name in Trial GoalAmount AmountInTank CurrentCost TotCost CurrentBonus TotBonus TotalBackOrder TotalForwardDischarge; do
    export_rows "$subject-whole" "$paced" || return 1
    whole=$(field "$f" "After Cost Calculation" "$name" | xargs)
    export_rows "$subject" "$paced" || return 1
    resumed=$(field "$f" "After Cost Calculation" "$name" | xargs)
    expect "$name at the end of each period, against an uninterrupted session" "$whole" "$resumed"
  done
  expect "questionnaire rows" 3 "$(($(tr -d '\r' <"$work/out/datQuestionnaire.csv" | wc -l) - 1))"
  expect "summary rows" "1 2 3" "$(tr -d '\r' <"$work/out/datTrialSummary.csv" | awk -F, -v c="$(column "$work/out/datTrialSummary.csv" Trial)" 'NR > 1 { print $c }' | xargs)"

  export_rows "$subject" "$paced" || return 1
  expect "Submit Clicked periods" "1 2 3" "$(field "$f" "Submit Clicked" Trial | xargs)"
  expect "the resumed Submit's event number" "$((last + 1))" "$(field "$f" "Submit Clicked" EventID | sed -n 2p)"
  expect "event numbers stored twice" "" "$(tr -d '\r' <"$f" | awk -F, -v c="$(column "$f" EventID)" 'NR > 1 { print $c }' | sort -n | uniq -d | xargs)"
  expect "registrations" 1 "$(($(tr -d '\r' <"$work/out/datSubject.csv" | wc -l) - 1))"
  [ ${#check_failures[@]} -eq 0 ]
}

case_time_driven_left_alone() {
  local subject="dora"
  start_app "$work/app-timed.log"
  login "$subject" "$timed" || return 1
  register "$subject" 52 History || return 1
  read_instructions || return 1
  trial_window=$(window Aquilevel) || return 1
  # Nobody touches the screen: the clock runs the periods and then asks the questionnaire.
  answer_questionnaire 0 || return 1
  close_earnings || return 1
  finish_app
  expect "exit code" 0 "$app_rc"

  export_rows "$subject" "$timed" || { echo "export failed" >&2; return 1; }
  local f="$work/out/datExperimentTrials.csv"
  # The clock closes every period with its cost rows, all three periods and no more.
  expect "periods with After Cost Calculation rows" "1 2 3" \
    "$(field "$f" "After Cost Calculation" Trial | sort -un | xargs)"
  expect "Environment Effect periods" "1 2 3" "$(field "$f" "Environment Effect" Trial | xargs)"
  expect "Submit Clicked rows" 0 "$(field "$f" "Submit Clicked" EventID | wc -l)"
  expect "questionnaire rows" 3 "$(($(tr -d '\r' <"$work/out/datQuestionnaire.csv" | wc -l) - 1))"
  [ ${#check_failures[@]} -eq 0 ]
}

case_discrete_display() {
  local subject="emil"
  new_participant "$subject" "$discrete" 38 Chemistry app-discrete.log || return 1
  screen_check "$discrete" || return 1
  order 1 9 2 "$subject" "$discrete" || return 1
  local amount
  amount=$(amount_after "$subject" "$discrete")
  # The number of blocks must have changed, or a picture left unchanged would pass.
  awk -v a="$amount" -v i="$(sql "SELECT InitialAmountInTank FROM tblSetup WHERE Version = '$discrete';")" \
    'BEGIN { exit !(a != "" && int(a + 0.5) != int(i + 0.5)) }' ||
    expect "blocks after period 1" "other than at the start" "$amount"
  screen_check "$discrete" "$amount" || return 1
  [ ${#check_failures[@]} -eq 0 ]
}

# A lab day at one station: a German keyboard, a second copy of the program asking for
# the same participant, the operating system asking the program to end.
case_lab_station() {
  local subject="fritz"
  start_app "$work/app-lab.log" de_DE.UTF-8
  login "$subject" "$paced" || return 1
  register "$subject" 27 Biology || return 1
  read_instructions || return 1
  find_trial_window || return 1
  screen_check "$paced" || return 1

  # Another copy, as on the next computer, is refused the same participant: a message,
  # and its login stays open.
  local first=$app_pid w m
  start_app "$work/app-second.log"
  local second=$app_pid
  login "Fritz" "$paced" || return 1
  m=$(window Aquilevel "$trial_window") || return 1
  focus "$m" || return 1
  keys Return
  gone Aquilevel "$m" || return 1
  w=$(window Welcome) || { echo "the second login closed" >&2; return 1; }
  expect "registrations after the refused login" 1 "$(sql "SELECT count(*) FROM datSubject WHERE Subject = '$subject';")"
  kill -9 "$second" 2>/dev/null
  wait "$second" 2>/dev/null
  app_pid=$first

  # Typed without a click, with the comma of the locale: 2,5 is 2.5, never 25.
  order 1 "2,5" 1 "$subject" "$paced" || return 1
  order 2 3 0 "$subject" "$paced" || return 1
  export_rows "$subject" "$paced" || return 1
  expect "orders stored" "2.5 3" "$(field "$work/out/datExperimentTrials.csv" "Submit Clicked" UserInFlow | xargs)"

  # Every signal that would end the program is a close request on the trial screen: the
  # experimenter's gate opens, and Cancel keeps the session going. SIGPIPE is ignored:
  # the gate of the SIGTERM after it shows that the program is still there.
  local g sig
  kill -PIPE "$app_pid"
  for sig in TERM QUIT USR1 ALRM; do
    kill -"$sig" "$app_pid"
    g=$(window Authentication) || { echo "no gate on SIG$sig" >&2; return 1; }
    focus "$g" || return 1
    keys Tab Tab Tab space # Cancel
    gone Authentication "$g" || return 1
    app_ended && { echo "the program ended on SIG$sig" >&2; return 1; }
  done

  # The trial window destroyed from outside: the program ends (status 1) rather than
  # staying with only its splash, and what was played stays stored.
  xdotool windowclose "$trial_window"
  finish_app
  expect "exit code after the window was destroyed" 1 "$app_rc"
  export_rows "$subject" "$paced" || return 1
  expect "periods stored" "1 2" "$(field "$work/out/datExperimentTrials.csv" "After Cost Calculation" Trial | xargs)"
  [ ${#check_failures[@]} -eq 0 ]
}

# One whole session on the lab's server instead of the file (AQUILEVEL_E2E_SERVER names
# an empty server database): the experiment is copied there first, the program and the
# export then run as a station's role with --server's environment variable, and the rows
# are read back from the server.
case_on_the_server() {
  "$bin" copy --from "$data/Cistern.mdb" --to "$AQUILEVEL_E2E_SERVER" >"$work/copy.log" 2>&1 \
    || { cat "$work/copy.log" >&2; return 1; }
  # The session plays as a station's role, which may do only what a station does.
  "$bin" --server "$AQUILEVEL_E2E_SERVER" init --station-role e2e_station >"$work/role.log" 2>&1 \
    || { cat "$work/role.log" >&2; return 1; }
  local subject="grace" rc=0 t=$'\t'
  # The lab's console on the server, under the lab's own login.
  QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" LANG=C.UTF-8 AQUILEVEL_SERVER="$AQUILEVEL_E2E_SERVER" \
    "$bin" console >"$work/app-console.log" 2>&1 &
  console_pid=$!
  console_window=$(window "Aquilevel lab console") || return 1
  export AQUILEVEL_SERVER=${AQUILEVEL_E2E_SERVER/user=aquilevel/user=e2e_station}
  {
    start_app "$work/app-server.log" &&
      console_waits_for "the station at the login" "${t}waiting at the login$" &&
      login "$subject" "$paced" && register "$subject" 31 Biology && read_instructions && find_trial_window &&
      order 1 4 1 "$subject" "$paced" &&
      order 2 0 2 "$subject" "$paced" &&
      focus "$trial_window" && typed 2 && keys Tab && typed 0 && keys Return &&
      answer_questionnaire 0 && close_earnings
  } || rc=1
  [ "$rc" = 0 ] && finish_app
  [ "$rc" = 0 ] && { export_rows "$subject" "$paced" || rc=1; }
  unset AQUILEVEL_SERVER
  [ "$rc" = 0 ] || return 1
  console_waits_for "$subject finished" "${t}$subject${t}$paced${t}3 of 3$t.*${t}finished$" || return 1
  expect "exit code" 0 "$app_rc"
  local f="$work/out/datExperimentTrials.csv"
  expect "Submit Clicked inflows on the server" "4 0 2" "$(field "$f" "Submit Clicked" UserInFlow | xargs)"
  expect "periods closed on the server" "1 2 3" "$(field "$f" "After Cost Calculation" Trial | xargs)"
  expect "questionnaire rows on the server" 4 "$(grep -c . "$work/out/datQuestionnaire.csv")"
  expect "nothing of it in the file" 0 "$(sql "select count(*) from datExperimentTrials where Subject = '$subject';")"
  # What an analysis reads of the session, under the lab's own login.
  "$bin" --server "$AQUILEVEL_E2E_SERVER" export "$work/analysis" --analysis --version "$paced" \
    --subject "$subject" >"$work/analysis.log" 2>&1 || { cat "$work/analysis.log" >&2; return 1; }
  local p="$work/analysis/periods.csv"
  expect "orders typed, in periods.csv" "1|4|1 2|0|2 3|2|0" "$(values "$p" Period OrderedInflow OrderedOutflow | xargs)"
  expect "decision times in milliseconds" 3 "$(values "$p" DecisionMs | grep -Ec '^[0-9]+$')"
  expect "registration and rating in participants.csv" "31|Biology|7|hard to see" \
    "$(values "$work/analysis/participants.csv" Age Major DifficultyRating DifficultyReasons)"
  "$bin" --server "$AQUILEVEL_E2E_SERVER" analyze --version "$paced" >"$work/analyze.log" 2>&1
  expect "analyze names the session too short to fit" 1 "$(grep -c "^Not fitted .*$subject ($paced)" "$work/analyze.log")"
  "$bin" --server "$AQUILEVEL_E2E_SERVER" report --version "$paced" --pdf "$work/report.pdf" >"$work/report.log" 2>&1
  expect "the version's PDF report from the server" "%PDF" "$(head -c 4 "$work/report.pdf" 2>/dev/null)"
}

# A German lab paying in euros: the version's language makes every window after the login
# German, a comma is the decimal point, and what is stored is what an English station stores.
case_german_station() {
  local subject="jonas"
  start_app "$work/app-german.log"
  login "$subject" "$german" || return 1
  register "$subject" 27 Physik "Angaben zur Person: " || return 1
  read_instructions Anleitung || return 1
  find_trial_window || return 1
  order 1 "2,5" 1 "$subject" "$german" || return 1
  order 2 0 "1,5" "$subject" "$german" || return 1
  focus "$trial_window" && typed 1 && keys Tab && typed 0 && keys Return || return 1
  answer_questionnaire 0 Aquilevel-Fragebogen || return 1
  close_earnings "$work/earnings.txt" || return 1
  finish_app
  expect "exit code" 0 "$app_rc"
  grep -q "^Das Spiel ist beendet. Sie haben [0-9]*,[0-9][0-9] Euro verdient" "$work/earnings.txt" ||
    check_failures+=("earnings message: $(cat "$work/earnings.txt")")
  export_rows "$subject" "$german" || return 1
  local f="$work/out/datExperimentTrials.csv"
  expect "inflows typed with a comma" "2.5 0 1" "$(field "$f" "Submit Clicked" UserInFlow | xargs)"
  expect "outflows typed with a comma" "1 1.5 0" "$(field "$f" "Submit Clicked" UserOutFlow | xargs)"
  expect "gender stored as on any station" "Female" "$(sql "select Gender from datSubject where Subject = '$subject';")"
  expect "questionnaire rows" 4 "$(grep -c . "$work/out/datQuestionnaire.csv")"
}

# The lab console beside the stations: it reads the file while they write it.
console_pid=""
console_window=""
# console_shows REGEX: a line of the console's stations table, as Ctrl+C copies it (cells
# between tabs), matches.
console_shows() {
  focus "$console_window" || return 1
  keys ctrl+c
  QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" "$checker" --clipboard 2>/dev/null >"$work/console.txt"
  grep -Eq "$1" "$work/console.txt"
}
console_waits_for() { # WHAT REGEX [SECONDS]
  wait_until "${3:-$long_wait}" console_shows "$2" && return 0
  echo "the console did not show $1; it showed:" >&2
  sed 's/^/      /' "$work/console.txt" >&2
  return 1
}

case_lab_console() {
  QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime" LANG=C.UTF-8 \
    "$bin" --data "$data" console >"$work/app-console.log" 2>&1 &
  console_pid=$!
  console_window=$(window "Aquilevel lab console") || return 1
  local t=$'\t'

  # A station that goes down in its second period: the console marks it once its hold
  # has stood still for the stale time, while the others play.
  new_participant ivan "$paced" 33 Physics app-crash.log || return 1
  order 1 3 1 ivan "$paced" || return 1
  kill_app

  # A station at the login is shown before anyone sits down at it.
  start_app "$work/app-station.log"
  window Welcome >/dev/null || return 1
  console_waits_for "a station waiting at the login" "${t}waiting at the login$" || return 1

  # Two bots play into the same file meanwhile, as pilots.
  local policy
  for policy in hold anchor; do
    "$bin" --data "$data" bot --version "$paced" --subject "bot-$policy" --db "$data/Cistern.mdb" \
      --policy "$policy" >"$work/bot-$policy.log" 2>&1 || { cat "$work/bot-$policy.log" >&2; return 1; }
  done

  login jane "$paced" || return 1
  register jane 24 Law || return 1
  read_instructions || return 1
  find_trial_window || return 1
  order 1 4 0 jane "$paced" || return 1
  console_waits_for "jane playing" "^[^$t]*${t}jane${t}$paced${t}1 of 3$t.*${t}(playing|idle)$" || return 1
  order 2 2 2 jane "$paced" || return 1
  order 3 1 3 jane "$paced" || return 1
  answer_questionnaire 0 || return 1
  close_earnings || return 1
  finish_app

  console_waits_for "jane finished" "${t}jane${t}$paced${t}3 of 3$t.*${t}finished$" || return 1
  for policy in hold anchor; do
    console_waits_for "bot-$policy finished" "${t}bot-$policy \\(pilot\\)${t}$paced${t}3 of 3$t.*${t}finished$" || return 1
  done
  console_waits_for "ivan possibly crashed" "${t}ivan${t}$paced${t}.*${t}idle \\(possibly crashed\\)$" 120 || return 1
  kill "$console_pid" 2>/dev/null
  wait "$console_pid" 2>/dev/null
  console_pid=""
  [ ${#check_failures[@]} -eq 0 ]
}

run_case() {
  local name=$1
  # AQUILEVEL_E2E_ONLY=case_x runs that case alone, while mending it.
  [ -z "${AQUILEVEL_E2E_ONLY:-}" ] || [ "$name" = "$AQUILEVEL_E2E_ONLY" ] || return 0
  local started=$SECONDS
  check_failures=()
  trial_window=""
  if "$name" 2>"$work/case.err" && [ ${#check_failures[@]} -eq 0 ]; then
    passed=$((passed + 1))
    echo "PASS $name ($((SECONDS - started)) s)"
  else
    failed=$((failed + 1))
    failures+=("$name")
    echo "FAIL $name ($((SECONDS - started)) s)"
    sed 's/^/    /' "$work/case.err"
    local c
    for c in "${check_failures[@]}"; do echo "    $c"; done
    echo "    windows shown:"
    xdotool search --onlyvisible --name '.' 2>/dev/null | while read -r id; do
      echo "      $(xdotool getwindowname "$id" 2>/dev/null)"
    done
    for log in "$work"/app-*.log; do
      [ -s "$log" ] && grep -v XDG_RUNTIME_DIR "$log" | sed "s|^|    $(basename "$log"): |"
    done
  fi
  kill_app
  if [ -n "$console_pid" ]; then
    kill -9 "$console_pid" 2>/dev/null
    wait "$console_pid" 2>/dev/null
    console_pid=""
  fi
  rm -f "$work"/app-*.log
}

start_display || exit 2
prepare_database || { echo "could not prepare the database" >&2; exit 2; }

run_case case_new_participant
run_case case_exit_with_password
run_case case_resume_after_kill
run_case case_time_driven_left_alone
run_case case_discrete_display
run_case case_lab_station
run_case case_german_station
run_case case_lab_console
if [ -n "${AQUILEVEL_E2E_SERVER:-}" ]; then run_case case_on_the_server; fi

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
