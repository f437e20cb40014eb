#!/usr/bin/env bash
# What a user reads on the screen: Mailbeacon.exe under Wine downloads from
# the native mailbeacon-server on loopback, dripping slowly, while this
# script takes screenshots of the Xvfb display and reads the progress
# window's own labels with OCR (tesseract). The title picture, which carries
# text of its own, is cropped away. Per run it checks:
#   - the window sits where the taskbar rules put it, and its inner area is
#     5025 x 5685 twips at the screen's pixels per inch;
#   - the bar's fill grows between two screenshots of one download;
#   - OCR finds words of every title line and of the status line.
# Runs: English in the prefix as it comes (96 dpi); Korean with a Hangul font
# copied into the prefix, under code page 1252; both again at 144 dpi
# (Wine's LogPixels), Korean then under code page 949.
# Run by scripts/test-wine, which provides WINEPREFIX, the display and:
#   MB_WIN_BIN  the cross build's bin folder (Mailbeacon.exe, mb_window_probe.exe)
#   MB_SERVER   the native mailbeacon-server
#   MB_KOREAN_LOCALE  (optional) a Unix locale that gives Wine code page 949
# On failure the screenshots, crops and OCR texts are kept and their folder
# is printed.
set -Eeuo pipefail
: "${WINEPREFIX:?}" "${MB_WIN_BIN:?}" "${MB_SERVER:?}"

work=$(mktemp -d /tmp/mb-screen.XXXXXX)
install_dir="$WINEPREFIX/drive_c/mb"
hangul_font=/usr/share/fonts/truetype/nanum/NanumGothic.ttf
agent_pid=
check_name=screen-check
# shellcheck source=../script_lib.sh
source "$(dirname "$0")/../script_lib.sh"

for tool in import convert tesseract; do
  if ! command -v "$tool" >/dev/null; then
    fail "$tool is missing (scripts/install-deps --windows)"
    finish_checks
  fi
done
for lang in eng kor; do
  if ! tesseract --list-langs 2>/dev/null | grep -x "$lang" >/dev/null; then
    fail "tesseract has no '$lang' data (tesseract-ocr-$lang)"
    finish_checks
  fi
done

cleanup() {
  if [[ -n "$agent_pid" ]]; then
    kill "$agent_pid" 2>/dev/null
    wait "$agent_pid" 2>/dev/null
  fi
  stop_release_server
  set_dpi 96
  rm -f "$WINEPREFIX/drive_c/windows/Fonts/$(basename "$hangul_font")"
  if keep_evidence; then
    echo "screen-check: screenshots, crops and OCR texts left in $work"
  else
    rm -rf "$work"
  fi
}

set_dpi() {  # PIXELS_PER_INCH
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f >/dev/null 2>&1
  wineserver -w
}

# --- The progress window's designed layout, in twips ------------------------
window_w=5085 window_h=5745  # the outer size the placement uses
inner_w=5025 inner_h=5685 frame=60
title_box=(240 3360 4575 1215)   # lblTitle: left, top, width, height in the inner area
status_box=(240 4560 4575 975)   # Picture3, the status panel with the bar and lblCurrent

px() {  # TWIPS DPI: pixels, rounded half away from zero
  awk -v t="$1" -v dpi="$2" 'BEGIN { v = t * dpi / 1440; printf "%d", (v < 0 ? v - 0.5 : v + 0.5) }'
}

# How long to wait for the progress window (a broken agent shows none).
window_wait=${MB_SCREEN_WINDOW_WAIT:-60}

# --- Server, install, agent -------------------------------------------------
start_slow_server() {  # 800 bytes at 10 ms a byte: 8 s on the screen
  make_release "$work/release" N 800
  start_release_server "$MB_SERVER" "$work/release" --codepage 1252 \
    --misbehave slow-drip --misbehave-on program= --drip-ms 10 >/dev/null 2>&1
}

# The registry names only the loopback server: the agent never reaches out.
fresh_install() {  # LANGUAGE
  rm -rf "$install_dir"
  mkdir -p "$install_dir"
  cp "$MB_WIN_BIN/Mailbeacon.exe" "$install_dir/"
  seed_wine_settings "$1"
}

# --- Reading the screen -----------------------------------------------------
crop_box() {  # SHOT OUT LEFT TOP WIDTH HEIGHT (twips in the inner area)
  local x y w h
  x=$((inner_x + $(px "$3" "$dpi_x"))) y=$((inner_y + $(px "$4" "$dpi_y")))
  w=$(px "$5" "$dpi_x") h=$(px "$6" "$dpi_y")
  convert "$1" -crop "${w}x${h}+${x}+${y}" +repage "$2"
}

# Pixels of the bar's colour in the status panel.
bar_pixels() {  # SHOT
  crop_box "$1" "$1.bar.png" "${status_box[@]}"
  convert "$1.bar.png" -fill black +opaque '#578448' -fill white -opaque '#578448' \
    -format '%[fx:round(mean*w*h)]' info:
}

# White text on blue: the red channel, inverted, is dark text on white; the
# bar's green turns light too. Enlarged for tesseract.
ocr_box() {  # SHOT NAME LANGS LEFT TOP WIDTH HEIGHT
  local shot=$1 out=$1.$2
  crop_box "$shot" "$out.png" "${@:4}"
  convert "$out.png" -channel R -separate +channel -negate -resize 400% -threshold 50% "$out.ocr.png"
  tesseract "$out.ocr.png" "$out" -l "$3" --psm 6 >/dev/null 2>&1
  tr -s ' \n' ' ' <"$out.txt"
}

# False when the probe left out a line (the checks would read nothing).
read_geometry() {  # PROBE_OUTPUT
  read -r _ dpi_x dpi_y < <(grep '^dpi ' "$1") &&
    read -r _ screen_w screen_h < <(grep '^screen ' "$1") &&
    read -r _ bar_l bar_t bar_r bar_b < <(grep '^taskbar ' "$1") &&
    read -r _ win_l win_t win_r win_b < <(grep '^window ' "$1") &&
    read -r _ inner_x inner_y inner_r inner_b < <(grep '^inner ' "$1") || return 1
  if [[ $bar_l == none ]]; then bar_l=0 bar_t=0 bar_r=0 bar_b=0; fi
}

# Where the taskbar rules put the window (pixels): next to the taskbar's
# end, 50 twips clear of it, then 100 twips higher.
expected_place() {
  awk -v dx="$dpi_x" -v dy="$dpi_y" -v sw="$screen_w" -v sh="$screen_h" \
    -v l="$bar_l" -v t="$bar_t" -v r="$bar_r" -v b="$bar_b" -v W="$window_w" -v H="$window_h" '
    function tw(p, d) { return int(p * 1440 / d + 0.5) }
    function even_half(v) { h = v / 2; f = int(h); return (h - f > 0.5 || (h - f == 0.5 && f % 2)) ? f + 1 : f }
    BEGIN {
      SW = tw(sw, dx); SH = tw(sh, dy); T = tw(t, dy); L = tw(l, dx); B = tw(b, dy); R = tw(r, dx)
      hw = even_half(SW); hh = even_half(SH)
      if (T > hh) { top = T - H - 50; left = R - W - 50 }
      else if (L > hw) { top = B - H - 50; left = L - W - 50 }
      else if (R < hw || B < hh) { top = SH - H - 50; left = SW - W - 50 }
      else { top = SH - H - 1000; left = SW - W - 50 }
      top -= 100
      printf "%d %d\n", int(left * dx / 1440 + 0.5), int(top * dy / 1440 + 0.5)
    }'
}

near_place() {  # X Y: the window's top-left corner, give or take a pixel
  local dx=$((win_l - $1)) dy=$((win_t - $2))
  ((dx * dx <= 1 && dy * dy <= 1))
}
inner_as_designed() {
  (((inner_r - inner_x) == $(px $inner_w "$dpi_x") && (inner_b - inner_y) == $(px $inner_h "$dpi_y")))
}
frame_as_designed() {
  (((inner_x - win_l) == $(px $frame "$dpi_x") && (inner_y - win_t) == $(px $frame "$dpi_y") &&
    inner_r == win_r && inner_b == win_b))
}
# OCR's spacing is loose: words are compared without their blanks.
has() { [[ "${1//[[:space:]]/}" == *"${2//[[:space:]]/}"* ]]; }

# One run of the agent: screenshots until the bar has grown, then the checks.
scenario() {  # NAME LANGUAGE DPI LOCALE LANGS STATUS_WORD TITLE_WORDS...
  local name=$1 language=$2 want_dpi=$3 locale=$4 langs=$5 status_word=$6
  shift 6
  expect_checks $((5 + $# + 1))
  echo "--- $name"
  local dir=$work/$name
  mkdir -p "$dir"
  set_dpi "$want_dpi"
  start_slow_server
  fresh_install "$language"
  LANG=$locale LC_ALL=$locale timeout 120 wine 'C:\mb\Mailbeacon.exe' &
  agent_pid=$!
  # Wine ends the helper's lines with CR LF.
  if ! wine "$MB_WIN_BIN/mb_window_probe.exe" Mailbeacon_Splash "$window_wait" |
    tr -d '\r' >"$dir/geometry.txt"; then
    fail "$name: the progress window never showed"
    wait "$agent_pid" || true
    agent_pid=
    stop_release_server
    return
  fi
  if ! read_geometry "$dir/geometry.txt"; then
    fail "$name: the probe left out part of the window's geometry"
    wait "$agent_pid" || true
    agent_pid=
    stop_release_server
    return
  fi
  local first=0 later=0 shot="" n
  for n in $(seq 40); do
    import -window root "$dir/shot$n.png" 2>/dev/null || continue
    local count
    count=$(bar_pixels "$dir/shot$n.png")
    if ((first == 0 && count > 0)); then
      first=$count
    elif ((first > 0 && count > first)); then
      later=$count shot=$dir/shot$n.png
      break
    fi
    sleep 0.3
  done
  local status=0
  wait "$agent_pid" || status=$?
  agent_pid=
  stop_release_server
  wineserver -w

  local want_x want_y
  read -r want_x want_y < <(expected_place)
  check "$name: window at the taskbar rules' place ($want_x,$want_y; at $win_l,$win_t)" \
    near_place "$want_x" "$want_y"
  check "$name: inner area $((inner_r - inner_x))x$((inner_b - inner_y)) px is ${inner_w}x${inner_h} twips at $dpi_x dpi" \
    inner_as_designed
  check "$name: frame at the left and top only" frame_as_designed
  check "$name: the bar's fill grew between two screenshots ($first -> $later pixels)" \
    test "$later" -gt "$first"
  check "$name: the run still hands off (status $status)" test "$status" -eq 0
  if [[ -z "$shot" ]]; then
    fail "$name: no screenshot to read"
    return
  fi
  local title text
  title=$(ocr_box "$shot" title "$langs" "${title_box[@]}")
  text=$(ocr_box "$shot" status "$langs" "${status_box[@]}")
  echo "screen-check: title reads: $title"
  echo "screen-check: status reads: $text"
  local word
  for word in "$@"; do
    check "$name: OCR finds \"$word\" in the title" has "$title" "$word"
  done
  check "$name: OCR finds \"$status_word\" in the status line" has "$text" "$status_word"
}

english_title=("Mailbeacon add-in menu created" "Start Microsoft" "Installing newest files" "Wait a moment")
# Words of the Korean title lines: 부가기능은 (line 1), 설치하셨다, 실행시부터,
# 설치합니다, 기다려주십시오 (lines 2, 3, 5, 6). At 96 dpi the six lines
# take seven, drawn small enough to fit the label, and OCR reads the first
# one's 부 as 무: there the words of the other lines are checked.
korean_line1=$(printf '\xeb\xb6\x80\xea\xb0\x80\xea\xb8\xb0\xeb\x8a\xa5\xec\x9d\x80')
korean_title=("$(printf '\xec\x84\xa4\xec\xb9\x98\xed\x95\x98\xec\x85\xa8\xeb\x8b\xa4')"
  "$(printf '\xec\x8b\xa4\xed\x96\x89\xec\x8b\x9c\xeb\xb6\x80\xed\x84\xb0')"
  "$(printf '\xec\x84\xa4\xec\xb9\x98\xed\x95\xa9\xeb\x8b\x88\xeb\x8b\xa4')"
  "$(printf '\xea\xb8\xb0\xeb\x8b\xa4\xeb\xa0\xa4\xec\xa3\xbc\xec\x8b\xad\xec\x8b\x9c\xec\x98\xa4')")
korean_status=$(printf '\xeb\x8b\xa4\xec\x9a\xb4\xeb\xa1\x9c\xeb\x93\x9c')  # 다운로드

scenario english-96dpi ENGLISH 96 C.UTF-8 eng Downloading "${english_title[@]}"
# A Hangul font in the prefix, as a user would install one.
cp "$hangul_font" "$WINEPREFIX/drive_c/windows/Fonts/"
scenario korean-96dpi KOREAN 96 C.UTF-8 kor "$korean_status" "${korean_title[@]}"
scenario english-144dpi ENGLISH 144 C.UTF-8 eng Downloading "${english_title[@]}"
if [[ -n "${MB_KOREAN_LOCALE:-}" ]]; then
  scenario korean-144dpi-cp949 KOREAN 144 "$MB_KOREAN_LOCALE" kor "$korean_status" \
    "$korean_line1" "${korean_title[@]}"
else
  echo "screen-check: skipped Korean at 144 dpi under code page 949: no Korean locale (MB_KOREAN_LOCALE)"
fi

finish_checks
