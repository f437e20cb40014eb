#!/usr/bin/env bash
# The service files of server/deploy as a vendor installs them:
#   - the systemd unit that `cmake --install` puts beside the docs starts the
#     program where that install put it, and systemd-analyze verify accepts
#     it as it is (it also finds a program that is not there);
#   - a prefix under /home or /tmp keeps the program visible to the service
#     (ProtectHome=read-only, PrivateTmp=no), /usr/local keeps both on;
#   - the logrotate file names the user the docs make, and logrotate -d
#     accepts it once that user exists (here: this user, the paths moved
#     into a temporary folder).
# A tool that is installed but truly cannot run here (no systemd-analyze
# verify in this container, say) skips its checks: the script then ends
# with status 77, never as passed.
# Usage: tests/docs/service_files.sh BUILD_DIR
# MB_UNIT_AS_SHIPPED=1 puts the unit of the source tree where the install put
# its own, as installs did before: the mutant run, which must fail.
set -Eeuo pipefail
check_name=service-files
# shellcheck source=../script_lib.sh
source "$(dirname "$0")/../script_lib.sh"
build=${1:?usage: service_files.sh BUILD_DIR}
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/mb-service.XXXXXX)
cleanup() { rm -rf "$work"; }

unit_below() {  # PREFIX_ROOT -> the installed unit
  echo "$1/share/doc/Mailbeacon/server/deploy/mailbeacon-server.service"
}
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null
unit=$(unit_below "$prefix")
if [[ "${MB_UNIT_AS_SHIPPED:-}" == 1 ]]; then cp "$source_dir/server/deploy/mailbeacon-server.service" "$unit"; fi
DESTDIR=$work/home-stage cmake --install "$build" --prefix /home/vendor/.local >/dev/null
DESTDIR=$work/usr-stage cmake --install "$build" --prefix /usr/local >/dev/null
home_unit=$(unit_below "$work/home-stage/home/vendor/.local")
usr_unit=$(unit_below "$work/usr-stage/usr/local")

has_line() { grep -qxF -- "$2" "$1"; }
sandbox_kept() { has_line "$1" ProtectHome=yes && has_line "$1" PrivateTmp=yes; }
starts() { grep -q "^ExecStart=$2 " "$1"; }

expect_checks 6
check "the installed unit starts the installed program" starts "$unit" "$prefix/bin/mailbeacon-server"
check "a prefix under /tmp is not hidden from it (PrivateTmp=no)" has_line "$unit" "PrivateTmp=no"
check "installed under ~/.local it starts that program" \
  starts "$home_unit" "/home/vendor/.local/bin/mailbeacon-server"
check "... which ProtectHome=read-only leaves it" has_line "$home_unit" "ProtectHome=read-only"
check "installed under /usr/local it starts /usr/local/bin/mailbeacon-server" \
  starts "$usr_unit" "/usr/local/bin/mailbeacon-server"
check "... with ProtectHome=yes and PrivateTmp=yes" \
  sandbox_kept "$usr_unit"

# A tool runs here when it accepts a file that is surely good.
tool_runs() {  # COMMAND... (the good file last)
  "$@" >"$work/tool.txt" 2>&1
}
# Accepted without a word: systemd-analyze warns about a line it ignores
# and still ends with status 0.
verify_clean() {  # UNIT
  mkdir -p "$work/units"
  cp "$1" "$work/units/mailbeacon-server.service"
  if systemd-analyze verify "$work/units/mailbeacon-server.service" >"$work/verify.txt" 2>&1 &&
    [[ ! -s "$work/verify.txt" ]]; then
    return 0
  fi
  sed 's/^/    | /' "$work/verify.txt"
  return 1
}

expect_checks 1
command -v systemd-analyze >/dev/null || fail "no systemd-analyze (scripts/install-deps installs it)"
printf '[Service]\nExecStart=/bin/true\n' >"$work/good.service"
if tool_runs systemd-analyze verify "$work/good.service"; then
  check "systemd-analyze verify accepts the installed unit without a word" verify_clean "$unit"
else
  skip "systemd-analyze verify of the installed unit" "it cannot verify even a trivial unit here: $(head -c 200 "$work/tool.txt")"
fi

# The logrotate file, its user and paths those of this machine.
rotate_user=$(awk '$1 == "su" {print $2; exit}' "$source_dir/server/deploy/mailbeacon-server.logrotate")
local_logrotate() {
  mkdir -p "$work/logs"
  echo "a line" >"$work/logs/warnings.log"
  sed -e "s#/var/log/mailbeacon#$work/logs#g" \
    -e "s/ $rotate_user $rotate_user\$/ $(id -un) $(id -gn)/" \
    "$source_dir/server/deploy/mailbeacon-server.logrotate" >"$work/logrotate.conf"
}
rotation_accepted() {
  if logrotate -d -s "$work/state" "$work/logrotate.conf" >"$work/rotate.txt" 2>&1 &&
    ! grep -q '^error:' "$work/rotate.txt" && grep -q 'Handling 1 logs' "$work/rotate.txt"; then
    return 0
  fi
  sed 's/^/    | /' "$work/rotate.txt"
  return 1
}

expect_checks 3
check "logrotate's su user is the unit's User (\"$rotate_user\")" \
  has_line "$source_dir/server/deploy/mailbeacon-server.service" "User=$rotate_user"
check "... and the user DEPLOY.md makes" \
  grep -qE "useradd .*[[:space:]]$rotate_user\$" "$source_dir/docs/DEPLOY.md"
command -v logrotate >/dev/null || fail "no logrotate (scripts/install-deps installs it)"
printf '%s/none.log {\n    missingok\n}\n' "$work" >"$work/good.conf"
if tool_runs logrotate -d -s "$work/good-state" "$work/good.conf"; then
  local_logrotate
  check "logrotate -d accepts the logrotate file" rotation_accepted
else
  skip "logrotate -d of the logrotate file" "it cannot read even a trivial file here"
fi
finish_checks
