# shellcheck shell=bash
# Shared by the conformance scripts (sourced): comparing the answers of the
# POSIX layer with Windows' own, leaving out the known differences.
#   known_for LIST CODE-PAGE   the listed prefixes for one code page: untagged
#                              lines and those tagged "cpNNN:" for it
#   verdict NAME CODE-PAGE WHAT POSIX-FILE WINDOWS-FILE
#                              diffs the two answer files (minus the known
#                              prefixes in $known), prints the outcome,
#                              fails on a difference or when either side
#                              gave no answers

known_for() {  # LIST CODE-PAGE
  grep -v '^#' "$1" | grep -v '^$' |
    sed -n -e "/^cp$2:/{s/^cp$2://;p;d}" -e '/^cp[0-9]*:/d' -e p || true
}

drop_known() {  # FILE
  if [[ -n "$known" ]]; then grep -v -F -f <(printf '%s\n' "$known") "$1"; else cat "$1"; fi
}

verdict() {  # NAME CODE-PAGE WHAT POSIX-FILE WINDOWS-FILE
  local answers diff
  answers=$(wc -l <"$5")
  if [[ $answers -eq 0 ]]; then
    echo "$1 (code page $2): the Windows probe printed nothing"
    return 1
  fi
  if [[ ! -s "$4" ]]; then
    echo "$1 (code page $2): the POSIX probe printed nothing"
    return 1
  fi
  diff=$(mktemp)
  if diff -u <(drop_known "$4") <(drop_known "$5") >"$diff"; then
    echo "$1 (code page $2): $answers answers agree ($(printf '%s\n' "$known" | grep -c . || true) known differences left out)"
    rm -f "$diff"
  else
    echo "$1 (code page $2): $3 differ:"
    cat "$diff"
    rm -f "$diff"
    return 1
  fi
}
