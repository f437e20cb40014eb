# Shared by the scripted checks of the real programs (sourced by
# tests/wine/*.sh and tests/terminal/tmux_check.sh). The caller sets
# check_name (the word before every verdict line) and work (its temporary
# folder), and gives start_release_server the mailbeacon-server to run.
#   fail TEXT, check WHAT COMMAND...
#                 verdict lines; a failure sets failed=1
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

failed=0
server_pid=

fail() { echo "$check_name: FAIL: $*"; failed=1; }

check() {  # WHAT COMMAND...
  local what=$1
  shift
  if "$@"; then echo "$check_name: ok: $what"; else fail "$what"; fi
}

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
  rm -f "$work/port"
  "$1" --root "$2" --port-file "$work/port" --log "$work/server.log" "${@:3}" &
  server_pid=$!
  for _ in $(seq 100); do [[ -s "$work/port" ]] && break; sleep 0.1; done
  port=$(cat "$work/port")
}

stop_release_server() {
  [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
  server_pid=
}

seed_wine_settings() {  # LANGUAGE
  local key='HKCU\SOFTWARE\BrightHarbor\MailbeaconCom'
  wine reg delete "$key" /f >/dev/null 2>&1
  wine reg add "$key" /v URL /t REG_SZ /d "http://127.0.0.1:$port" /f >/dev/null
  wine reg add "$key" /v V_DIR /t REG_SZ /d /mailbeaconhome /f >/dev/null
  wine reg add "$key" /v Language /t REG_SZ /d "$1" /f >/dev/null
  wine reg add "$key" /v InstallType /t REG_SZ /d Express /f >/dev/null
}
