#!/usr/bin/env bash
# The terminal front end as a user sees it: the POSIX agent downloads from a
# slow-dripping mailbeacon-server on loopback inside a tmux pane of 80 x 24,
# and the pane is captured while it works. In English and in Korean:
#   - every title line is on the screen whole, each on its own row;
#   - the status line shows the whole status text and the bar, on one row
#     that is redrawn in place (nothing of it scrolls into the history) and
#     whose percentage grows;
#   - the agent hands off (exit status 0).
# Then with its output going to a file instead of a terminal: the same texts
# as plain lines and not one control byte besides the line feed.
# Usage: tests/terminal/tmux_check.sh BIN_DIR   (Mailbeacon, mailbeacon-server,
#        SwiftPatcher_Mailbeacon.exe). Needs tmux (scripts/install-deps).
set -Eeuo pipefail
bin=${1:?usage: tmux_check.sh BIN_DIR}
bin=$(cd "$bin" && pwd)
check_name=tmux-check
# shellcheck source=../script_lib.sh
source "$(dirname "$0")/../script_lib.sh"
if ! command -v tmux >/dev/null; then
  fail "tmux is missing (scripts/install-deps)"
  finish_checks
fi

work=$(mktemp -d /tmp/mb-tmux.XXXXXX)
socket=$work/tmux.sock
cleanup() {
  tmux -S "$socket" kill-server 2>/dev/null || true
  if keep_evidence; then echo "tmux-check: captures left in $work"; else rm -rf "$work"; fi
}

export LC_ALL=C.UTF-8 LANG=C.UTF-8

start_server() {  # DRIP_MS
  make_release "$work/release" N 800
  start_release_server "$bin/mailbeacon-server" "$work/release" \
    --misbehave slow-drip --misbehave-on program= --drip-ms "$1" >/dev/null 2>&1
}

# The updater the last agent started may still be at work in its install
# (the process runs in the install folder).
updater_gone() {
  local pid
  for pid in $(pgrep -f 'SwiftPatcher_Mailbeacon.exe' || true); do
    [[ "$(readlink "/proc/$pid/cwd" 2>/dev/null || true)" == "$work/inst" ]] && return 1
  done
  return 0
}

# A fresh install whose registry names only the loopback server.
fresh_install() {  # LANGUAGE
  local _
  for _ in $(seq 300); do
    if updater_gone; then break; fi
    sleep 0.1
  done
  updater_gone || script_error "the updater of the last install did not end"
  rm -rf "$work/inst"
  mkdir -p "$work/inst"
  cp "$bin/Mailbeacon" "$work/inst/"
  if [[ -f "$bin/SwiftPatcher_Mailbeacon.exe" ]]; then cp "$bin/SwiftPatcher_Mailbeacon.exe" "$work/inst/"; fi
  cat >"$work/registry.reg" <<EOF
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\\SOFTWARE\\BrightHarbor\\MailbeaconCom]
"URL"="http://127.0.0.1:$port"
"V_DIR"="/mailbeaconhome"
"Language"="$1"
"InstallType"="express"
EOF
}

agent_command="cd '$work/inst' && MAILBEACON_REGISTRY='$work/registry.reg' MAILBEACON_MAX_RUNS=5"

# The pane's rows from the top, without the blanks tmux pads them with.
capture() { tmux -S "$socket" capture-pane -p -t mb | sed 's/ *$//'; }

# A whole line of the file (the title's second Korean line ends in a blank).
# (grep -q would end the pipe early: the writer's SIGPIPE then fails it.)
has_line() { sed 's/ *$//' "$1" | grep -xF -- "$2" >/dev/null; }
no_control_bytes() { ! tr -d '\n' <"$1" | LC_ALL=C grep '[[:cntrl:]]' >/dev/null; }

scenario_tty() {  # NAME LANGUAGE STATUS TITLE_LINES...
  local name=$1 language=$2 status=$3
  shift 3
  expect_checks $(($# + 5))
  echo "--- $name: under tmux at 80 x 24"
  local dir=$work/$name
  mkdir -p "$dir"
  start_server 10  # 800 bytes at 10 ms a byte
  fresh_install "$language"
  tmux -S "$socket" -u new-session -d -x 80 -y 24 -s mb \
    "$agent_command ./Mailbeacon </dev/null; echo \$? > '$dir/status'; sleep 600"
  local n first=-1 last=-1 seen=0
  for n in $(seq 100); do
    sleep 0.3
    capture >"$dir/pane$n.txt"
    local row percent
    row=$(grep -nF -- "$status  [" "$dir/pane$n.txt" | head -1 || true)
    if [[ -z "$row" ]]; then
      if [[ -s "$dir/status" ]]; then break; fi
      continue
    fi
    percent=$(sed -E 's/.*\] ([0-9]+)%.*/\1/' <<<"${row#*:}")
    if ((first < 0)); then first=$percent; fi
    last=$percent
    seen=$n
    if ((last > first && last < 100)); then break; fi
  done
  for _ in $(seq 100); do
    if [[ -s "$dir/status" ]]; then break; fi
    sleep 0.2
  done
  tmux -S "$socket" capture-pane -p -S - -E - -t mb | sed 's/ *$//' >"$dir/history.txt"
  tmux -S "$socket" kill-server 2>/dev/null || true
  stop_release_server

  check "$name: agent hands off (status $(cat "$dir/status" 2>/dev/null || echo none))" \
    grep -qx 0 "$dir/status"
  if ((seen == 0)); then
    fail "$name: no capture showed the status line with a bar"
    return
  fi
  local pane=$dir/pane$seen.txt line rows
  for line in "$@"; do
    check "$name: title line whole on its own row: $line" has_line "$pane" "$line"
  done
  rows=$(grep -c . "$pane" || true)
  check "$name: the title lines and one status line, nothing else ($rows rows)" \
    test "$rows" -eq $(($# + 1))
  check "$name: the status line holds the whole status text and the bar" \
    grep -qE -- "^$(sed 's/[.[\*^$]/\\&/g' <<<"$status")  \[[#-]{12,24}\] [0-9]+%" "$pane"
  check "$name: the bar grew in place ($first% -> $last%)" test "$last" -gt "$first"
  local drawn
  drawn=$(grep -cF -- "$status  [" "$dir/history.txt" || true)
  check "$name: no status line left behind in the scrollback ($drawn at most 1)" test "$drawn" -le 1
}

scenario_plain() {  # NAME LANGUAGE STATUS TITLE_LINES...
  local name=$1 language=$2 status=$3
  shift 3
  expect_checks $(($# + 3))
  echo "--- $name: output to a file"
  start_server 1
  fresh_install "$language"
  local out=$work/$name.out code=0
  (eval "$agent_command ./Mailbeacon" </dev/null >"$out" 2>&1) || code=$?
  stop_release_server
  check "$name: agent hands off (status $code)" test "$code" -eq 0
  local line
  for line in "$@" "$status"; do
    check "$name: plain line: $line" has_line "$out" "$line"
  done
  check "$name: no control byte but the line feed" no_control_bytes "$out"
}

english_title=("Mailbeacon add-in menu created" "(re)Start Microsoft® Outlook.®" "Installing newest files.." "Wait a moment...")
korean_title=("Mailbeacon의 부가기능은 Microsoft® Outlook®을 실행하시면 보입니다."
  "Microsoft® Outlook®실행중에 설치하셨다면," "이후 실행시부터 보입니다."
  "최신버전의 파일을 설치합니다." "잠시만 기다려주십시오.")

scenario_tty english ENGLISH "Downloading files.." "${english_title[@]}"
scenario_tty korean KOREAN "파일을 다운로드 받고 있습니다." "${korean_title[@]}"
scenario_plain english-plain ENGLISH "Downloading files.." "${english_title[@]}"
scenario_plain korean-plain KOREAN "파일을 다운로드 받고 있습니다." "${korean_title[@]}"

finish_checks
