#!/usr/bin/env bash
# The Windows edition end to end under Wine, on a virtual display of its own
# without a window manager, in a fresh prefix:
#   - the installer, run silently, installs the program, the README, the
#     uninstaller, the Start-menu entry and the uninstall entry (the files
#     are checked, not the installer's exit code);
#   - the installed program, started from its Start-menu entry, shows its
#     window with a client area of 771 x 562 (without a window manager
#     Wine's X window is the client area); a screenshot is saved;
#   - through the real window (mouse clicks at client coordinates), with
#     the writer-sim on COM3 linked to a pseudo-terminal: " AUTO " finds it
#     and the generate button ends in "生成母卡执行成功" with the exact
#     26-byte frame on the wire; a silent port fails the open; status FF
#     fails the generation;
#   - the uninstaller, run silently and waited for, leaves nothing.
#
#   wine_window_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1
build=$2
work=$build/wine-window
rm -rf "$work"
mkdir -p "$work"
display=("$src/tests/app/test-display" "$work/display")
run=("${display[@]}" "$src/tests/wine/wine-run" --root "$work/wine" --preload "$build/libpty_modem_lines.so")
prefix=$work/wine/prefix
caption='RS232接口母卡生成程序V1.0'
program_dir="$prefix/drive_c/Program Files/MastercardWriter"
shortcut="$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/$caption.lnk"
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\MastercardWriter'
sims=()
window_pid=

fail() { echo "FAIL: $*" >&2; exit 1; }
cleanup() {
  for pid in "${sims[@]}" $window_pid; do kill "$pid" 2>/dev/null || true; done
  "${run[@]}" --stop >/dev/null 2>&1 || true
  "${display[@]}" --stop || true
}
trap cleanup EXIT

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
  local limit=$(( $1 * 10 ))
  shift
  for _ in $(seq "$limit"); do "$@" && return 0; sleep 0.1; done
  return 1
}
x() { "${display[@]}" xdotool "$@"; }
window_of() { x search --name "^$1\$" 2>/dev/null | head -n1; }
has_window() { [ -n "$(window_of "$1")" ]; }
no_window() { [ -z "$(window_of "$1")" ]; }

# Clicks the window `caption` at client point ($2, $3).
click() {
  local id
  id=$(window_of "$caption")
  x mousemove --window "$id" "$1" "$2" click 1
}

# Answers the message box captioned $1 with Enter.
answer_box() {
  wait_for 20 has_window "$1" || fail "no message box \"$1\""
  x windowfocus --sync "$(window_of "$1")" key Return
  wait_for 20 no_window "$1" || fail "message box \"$1\" stayed"
}

# Starts the writer-sim on COM$1 with the options after it.
start_sim() {
  local com=$1
  shift
  "$build/writer-sim" --port-dir "$prefix/dosdevices" --com "$com" "$@" >"$work/sim$com.log" 2>&1 &
  sims+=($!)
  wait_for 20 grep -q '^ready' "$work/sim$com.log" || fail "writer-sim on COM$com did not start"
}
stop_sims() {
  for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true; done
  sims=()
}

"${display[@]}" --start
"${run[@]}" --start
"${run[@]}" reg add 'HKCU\Software\Wine\Fonts\Replacements' /v SimSun /d 'Noto Sans CJK SC' /f >/dev/null

# ---- Installing ----
"${run[@]}" "$build/mastercard-writer-1.0-setup.exe" /S || true
cmp "$program_dir/mastercard-writer.exe" "$build/src/app/mastercard-writer.exe" || fail "program not installed"
cmp "$program_dir/README.md" "$src/README.md" || fail "README not installed"
[ -f "$program_dir/uninstall.exe" ] || fail "no uninstaller"
[ -f "$shortcut" ] || fail "no Start-menu entry"
"${run[@]}" reg query "$uninstall_key" /v UninstallString | grep -q 'MastercardWriter\\uninstall.exe' \
  || fail "no uninstall entry"

# ---- The installed program's window ----
"${run[@]}" start /unix "$shortcut"
wait_for 60 has_window "$caption" || fail "no window \"$caption\""
geometry=$(x getwindowgeometry "$(window_of "$caption")")
echo "$geometry"
grep -q 'Geometry: 771x562' <<<"$geometry" || fail "client area is not 771x562"
# Drawn once the controls have painted: the window's first idle moment.
sleep 1
"${display[@]}" import -window "$(window_of "$caption")" "$build/window-windows.png"
x windowfocus --sync "$(window_of "$caption")" key alt+F4
wait_for 20 no_window "$caption" || fail "the window did not close"

# ---- Generation through the real window ----
# Button1 "打开端口(&S)" and Button_genMcard, at their centres in the client area.
open_button=(75 61)
generate_button=(75 299)
messages="$work/messages.txt"
start_window() {
  : >"$messages"
  "${run[@]}" "$build/tests/app/app_wine_window.exe" "$(winepath_of "$messages")" &
  window_pid=$!
  wait_for 60 grep -qx 'shown|' "$messages" || fail "no test window"
}
stop_window() {
  x windowfocus --sync "$(window_of "$caption")" key alt+F4
  wait "$window_pid" || true
  window_pid=
}
winepath_of() { echo "Z:${1//\//\\}"; }
# Opens " AUTO " with the writer-sim on COM3, then generates and answers the
# outcome's box.
generate() {
  click "${open_button[@]}"
  wait_for 20 grep -q 'handshake' "$work/sim3.log" || fail "no handshake"
  # The generate button is enabled at the window's next idle moment.
  for _ in 1 2 3 4 5; do
    click "${generate_button[@]}"
    wait_for 3 grep -q '信息提示' "$messages" && break
  done
  answer_box 信息提示
}

start_sim 3
start_window
generate
grep -qx '信息提示|生成母卡执行成功' "$messages" || fail "generation: $(cat "$messages")"
# The default settings' frame, byte for byte, and nothing after the status.
grep -qx 'recv AA 20 15 01 81 00 00 00 FF FF FF FF FF FF 40 00 08 00 CC 6E 2B 94 D1 00 9B 03: frame' \
  "$work/sim3.log" || fail "not the frame expected: $(cat "$work/sim3.log")"
[ "$(tail -n1 "$work/sim3.log")" = 'send 20 00 00 00 03' ] || fail "not the status expected"
stop_window
stop_sims

start_sim 3 --status FF
start_window
generate
grep -qx '信息提示|生成母卡执行失败' "$messages" || fail "status FF: $(cat "$messages")"
stop_window
stop_sims

start_sim 3 --silent
start_window
click "${open_button[@]}"
answer_box 错误提示
grep -qx '错误提示|串口通信错误 ' "$messages" || fail "silent port: $(cat "$messages")"
stop_window
stop_sims

# ---- Uninstalling: silently, and waited for ----
# "_?=" must reach it unquoted, as the end of its command line, which Wine
# would quote for the blank in the folder; a batch file passes it verbatim.
printf '"C:\\Program Files\\MastercardWriter\\uninstall.exe" /S _?=C:\\Program Files\\MastercardWriter\r\n' \
  >"$work/uninstall.bat"
"${run[@]}" cmd /c "$(winepath_of "$work/uninstall.bat")" || true
# Run in place, the uninstaller cannot delete itself: it is all that is left.
left=$(ls -A "$program_dir" 2>/dev/null || true)
[ "$left" = uninstall.exe ] || fail "left behind: $left"
[ ! -e "$shortcut" ] || fail "Start-menu entry left behind"
if "${run[@]}" reg query "$uninstall_key" >/dev/null 2>&1; then fail "uninstall entry left behind"; fi
echo "PASS"
