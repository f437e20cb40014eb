# shellcheck shell=bash
# Shared by every scripted check (sourced first thing, after the caller has
# set check_name, the word before every verdict line). A check that passes
# while its script errors out is worse than none, so sourcing this puts the
# script in strict mode and makes it prove that it checked what it meant to:
#   - errexit, nounset and pipefail, inherited by functions and command
#     substitutions; an unexpected failure anywhere (a failing command, a
#     command that does not exist, bash's own complaints such as a syntax
#     error in arithmetic, which bash merely skips) is a script error, and a
#     script error fails the script whatever its checks said;
#   - the script declares how many checks it means to run (expect_checks N,
#     as often as it likes) and ends with finish_checks, which fails unless
#     exactly that many ran and none failed; a script that ends any other
#     way (an error, an exit before its summary) fails.
# With MB_CHECKS_FAIL_FAST=1 the first failed check ends the script (how the
# mutant runs stay cheap: the same script against a broken program). With
# MB_CHECKS_QUIET=1 the "ok" lines go to stderr, out of a table on stdout.
#
# API
#   expect_checks N          N more checks are meant to run
#   check WHAT COMMAND...    one check: COMMAND's status is the verdict
#   fail TEXT                a failure outside a check (e.g. what could not
#                            be checked); counts as no check
#   skip WHAT WHY            a planned check whose tool truly cannot run
#                            here: counts as run, and the script ends with
#                            status 77 (CTest's SKIP_RETURN_CODE), never as
#                            passed
#   finish_checks            the summary; the script's last command
#   cleanup                  the caller may define it: run at exit, always
#   keep_evidence            true when a failed run should leave its files
#                            for a person to read (not in a mutant run)
# Test scaffolding
#   make_release DIR PAUSE [PLUG-IN BYTES]
#                 release 1.0.5 of the plug-in (one random file, 70000 bytes
#                 unless told) and 2.0.1 of the agent, a notice, a MIRROR
#   start_release_server SERVER ROOT [OPTIONS...]
#                 serves ROOT on a free loopback port (sets port and
#                 server_pid; the log goes to $work/server.log)
#   stop_release_server
#   seed_wine_settings LANGUAGE
#                 the agent's settings in the Wine registry: the loopback
#                 server on $port only, so the agent never reaches out
#   free_port     a loopback port nothing answers on
#   start_nginx DIR PORT
#                 nginx -p DIR -c nginx.conf in the foreground, until it
#                 answers on PORT (stopped at exit)

set -Eeuo pipefail
shopt -s inherit_errexit

: "${check_name:?set check_name before sourcing script_lib.sh}"
failed=0
skipped=0
server_pid=
nginx_pids=()
checks_planned=0
checks_run=0
checks_finished=0
script_lib_dir=$(mktemp -d "${TMPDIR:-/tmp}/mb-check-lib.XXXXXX")
script_errors=$script_lib_dir/errors    # one line per script error, from any subshell
script_stderr=$script_lib_dir/stderr    # everything the script wrote on stderr
: >"$script_errors"

script_error() {  # TEXT
  printf '%s: SCRIPT ERROR: %s\n' "$check_name" "$1" >&2
  printf '%s\n' "$1" >>"$script_errors"
}

on_script_error() {  # STATUS COMMAND WHERE
  script_error "\"$2\" failed with status $1 ($3)"
  exit "$1"
}
trap 'on_script_error $? "$BASH_COMMAND" "${BASH_SOURCE[0]##*/}:$LINENO${FUNCNAME[0]:+ in ${FUNCNAME[0]}}"' ERR

# Also where errexit does not reach: inside conditions, command
# substitutions used as arguments, and redirected commands.
command_not_found_handle() {
  script_error "command not found: $1"
  return 127
}

# Bash's own complaints ("SCRIPT: line N: x: unbound variable", "syntax
# error", ...) go to stderr and often abort just one command in silence;
# stderr is kept so that they can be found at the end.
exec {script_console}>&2
exec 2> >(tee -a "$script_stderr" >&"$script_console")

# Whether everything written to stderr so far has reached the kept copy:
# MARKER, written last, has arrived.
stderr_settled() {  # MARKER
  local marker="$check_name: $1"
  printf '%s\n' "$marker" >&2
  local _
  for _ in $(seq 50); do
    grep -qxF -- "$marker" "$script_stderr" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}

bash_complaints() {
  grep -E ': line [0-9]+: ' "$script_stderr" 2>/dev/null || true
}

expect_checks() {  # N
  checks_planned=$((checks_planned + $1))
}

fail() {  # TEXT
  echo "$check_name: FAIL: $*"
  failed=1
  if [[ "${MB_CHECKS_FAIL_FAST:-}" == 1 ]]; then
    echo "$check_name: stopping at the first failure (MB_CHECKS_FAIL_FAST)"
    exit 1
  fi
}

check() {  # WHAT COMMAND...
  local what=$1
  shift
  checks_run=$((checks_run + 1))
  if ! "$@"; then
    fail "$what"
  elif [[ "${MB_CHECKS_QUIET:-}" == 1 ]]; then
    echo "$check_name: ok: $what" >&2
  else
    echo "$check_name: ok: $what"
  fi
}

skip() {  # WHAT WHY
  checks_run=$((checks_run + 1))
  skipped=$((skipped + 1))
  echo "$check_name: SKIPPED: $1 ($2)"
}

keep_evidence() { ((failed)) && [[ "${MB_CHECKS_FAIL_FAST:-}" != 1 ]]; }

# The verdict, then the exit; the exit trap re-checks what cleanup did.
finish_checks() {
  if ! stderr_settled "$checks_run checks ran"; then script_error "stderr could not be read back"; fi
  local complaints
  complaints=$(bash_complaints)
  [[ -z "$complaints" ]] || script_error "bash complained: $complaints"
  if ((checks_run != checks_planned)); then
    fail "ran $checks_run checks of the $checks_planned planned"
  fi
  if ((checks_planned == 0)); then fail "no check was planned"; fi
  if [[ -s "$script_errors" ]]; then failed=1; fi
  checks_finished=1
  if ((failed)); then
    echo "$check_name: FAILED ($checks_run of $checks_planned checks ran)"
    exit 1
  fi
  if ((skipped)); then
    echo "$check_name: skipped $skipped of $checks_run checks, the rest passed"
    exit 77
  fi
  echo "$check_name: passed ($checks_run checks)"
  exit 0
}

on_exit() {
  local status=$?
  trap - ERR
  set +e
  if declare -F cleanup >/dev/null; then cleanup; fi
  stop_release_server
  stop_nginx
  if ((!checks_finished)); then
    echo "$check_name: FAIL: the script ended before its summary (status $status)"
    status=1
  elif ! stderr_settled "cleaned up" || [[ -n "$(bash_complaints)" ]] || [[ -s "$script_errors" && status -eq 0 ]]; then
    echo "$check_name: FAIL: a script error during clean-up: $(bash_complaints)"
    status=1
  fi
  rm -rf "$script_lib_dir"
  exit "$status"
}
trap on_exit EXIT

# --- Test scaffolding ---------------------------------------------------------

make_release() {  # DIR PAUSE [PLUG-IN BYTES]
  local rel=$1
  rm -rf "$rel"
  mkdir -p "$rel/ORG/express" "$rel/ORG/agent" "$rel/MIRROR"
  printf '%s\r\n' "$2" >"$rel/pause.txt"
  printf 'Release notes of 1.0.5\r\n' >"$rel/notice.txt"
  head -c "${3:-70000}" /dev/urandom >"$rel/ORG/express/MailbeaconExpress.dll"
  printf '[RELEASE]\r\nLAST_VERSION=1.0.5\r\n' >"$rel/ORG/express/release.ini"
  printf 'agent data\r\n' >"$rel/ORG/agent/agent_data.txt"
  printf '[RELEASE]\r\nLAST_VERSION=2.0.1\r\n' >"$rel/ORG/agent/release.ini"
}

start_release_server() {  # SERVER ROOT [OPTIONS...]
  stop_release_server
  : "${work:?set work, the temporary folder, before starting a server}"
  rm -f "$work/port"
  "$1" --root "$2" --port-file "$work/port" --log "$work/server.log" "${@:3}" &
  server_pid=$!
  local _
  for _ in $(seq 300); do  # 30 s: a loaded machine starts it slowly
    if [[ -s "$work/port" ]] || ! kill -0 "$server_pid" 2>/dev/null; then break; fi
    sleep 0.1
  done
  [[ -s "$work/port" ]] || { script_error "mailbeacon-server did not start"; return 1; }
  port=$(cat "$work/port")
}

stop_release_server() {
  if [[ -n "$server_pid" ]]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  server_pid=
}

free_port() {
  local candidate
  while :; do
    candidate=$((20000 + RANDOM % 20000))
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
      echo "$candidate"
      return 0
    fi
  done
}

start_nginx() {  # DIR PORT
  mkdir -p "$1/logs"
  nginx -p "$1" -c nginx.conf -e logs/error.log -g 'daemon off;' &
  nginx_pids+=($!)
  local _
  for _ in $(seq 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$2") 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  script_error "nginx did not start: $(cat "$1/logs/error.log")"
  return 1
}

stop_nginx() {
  local pid
  for pid in "${nginx_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${nginx_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  nginx_pids=()
}

seed_wine_settings() {  # LANGUAGE
  : "${port:?start the loopback server before seeding the settings}"
  local key='HKCU\SOFTWARE\BrightHarbor\MailbeaconCom'
  wine reg delete "$key" /f >/dev/null 2>&1 || true
  wine reg add "$key" /v URL /t REG_SZ /d "http://127.0.0.1:$port" /f >/dev/null
  wine reg add "$key" /v V_DIR /t REG_SZ /d /mailbeaconhome /f >/dev/null
  wine reg add "$key" /v Language /t REG_SZ /d "$1" /f >/dev/null
  wine reg add "$key" /v InstallType /t REG_SZ /d Express /f >/dev/null
}
