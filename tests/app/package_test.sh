#!/usr/bin/env bash
# The Debian package as an operator's machine gets it: built from this
# build's binaries, unpacked into a temporary folder (never installed), its
# files, dependencies, menu entry and AppStream data checked, lintian asked
# for errors, and the unpacked program started on a virtual X display until
# its window with the program's caption exists.
#
#   package_test.sh BUILD_DIR
set -euo pipefail

build=$1
work=$(mktemp -d)
program_pid=""
cleanup() {
  if [ -n "$program_pid" ]; then
    kill "$program_pid" 2>/dev/null || true
    wait "$program_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# --- the package --------------------------------------------------------
if ! cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1; then
  cat "$work/cpack.log" >&2
  echo "FAIL: cpack could not build the package" >&2
  exit 1
fi
debs=("$work"/out/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "FAIL: expected one .deb, found: ${debs[*]}" >&2
  exit 1
fi
deb=${debs[0]}
[ "$(basename "$deb")" = mastercard-writer_1.0-1_amd64.deb ] ||
  [ "$(dpkg --print-architecture)" != amd64 ] ||
  fail "package file name $(basename "$deb")"

root="$work/root"
dpkg-deb -x "$deb" "$root"

# --- its files ----------------------------------------------------------
expected_files="usr/bin/mastercard-writer
usr/bin/mastercard-writer-sim
usr/share/applications/example.c_seed_da200391.MastercardWriter.desktop
usr/share/doc/mastercard-writer/README.md.gz
usr/share/doc/mastercard-writer/changelog.Debian.gz
usr/share/doc/mastercard-writer/copyright
usr/share/icons/hicolor/128x128/apps/mastercard-writer.png
usr/share/icons/hicolor/16x16/apps/mastercard-writer.png
usr/share/icons/hicolor/24x24/apps/mastercard-writer.png
usr/share/icons/hicolor/256x256/apps/mastercard-writer.png
usr/share/icons/hicolor/32x32/apps/mastercard-writer.png
usr/share/icons/hicolor/48x48/apps/mastercard-writer.png
usr/share/icons/hicolor/64x64/apps/mastercard-writer.png
usr/share/man/man1/mastercard-writer-sim.1.gz
usr/share/man/man1/mastercard-writer.1.gz
usr/share/metainfo/example.c_seed_da200391.MastercardWriter.metainfo.xml"
actual_files=$(cd "$root" && find . -type f -printf '%P\n' | LC_ALL=C sort)
if [ "$actual_files" != "$expected_files" ]; then
  fail "file list differs (expected, then actual):"
  diff <(echo "$expected_files") <(echo "$actual_files") >&2 || true
fi
for f in usr/bin/mastercard-writer usr/bin/mastercard-writer-sim; do
  [ -x "$root/$f" ] || fail "$f is not executable"
done

# Each icon is a PNG of the size its folder names.
for size in 16 24 32 48 64 128 256; do
  icon="$root/usr/share/icons/hicolor/${size}x${size}/apps/mastercard-writer.png"
  [ -f "$icon" ] || continue
  # The PNG header: signature, IHDR length and type, then width and height.
  header=$(od -An -tx1 -N24 "$icon" | tr -d ' \n')
  want=$(printf '89504e470d0a1a0a0000000d49484452%08x%08x' "$size" "$size")
  [ "$header" = "$want" ] || fail "icon ${size}x${size} has the header $header"
done

# --- what it needs from the system ---------------------------------------
depends=$(dpkg-deb -f "$deb" Depends)
for need in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 libc6 "fonts-noto-cjk | fonts-wqy-microhei"; do
  case ", $depends," in
    *", $need"[\ ,]*) ;;
    *) fail "Depends lacks $need: $depends" ;;
  esac
done
# Nothing of the build tree: no run path, and every library found on the system.
for f in usr/bin/mastercard-writer usr/bin/mastercard-writer-sim; do
  if readelf -d "$root/$f" | grep -Eq 'RPATH|RUNPATH'; then fail "$f carries a run path"; fi
  if env -u LD_LIBRARY_PATH ldd "$root/$f" | grep -q 'not found'; then
    fail "$f needs a library the system lacks"
  fi
  if readelf -S "$root/$f" | grep -Eq "\.symtab|\.debug_info"; then fail "$f is not stripped"; fi
done

# --- menu entry, AppStream data, lintian ------------------------------------
desktop="$root/usr/share/applications/example.c_seed_da200391.MastercardWriter.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate"
grep -qx 'Name\[zh_CN\]=RS232接口母卡生成程序V1.0' "$desktop" || fail "Chinese name in the menu entry"
grep -qx 'Exec=mastercard-writer' "$desktop" || fail "Exec in the menu entry"
grep -qx 'Icon=mastercard-writer' "$desktop" || fail "Icon in the menu entry"
appstreamcli validate --no-net "$root/usr/share/metainfo/example.c_seed_da200391.MastercardWriter.metainfo.xml" ||
  fail "appstreamcli validate"
if ! lintian --fail-on error "$deb" >"$work/lintian.log" 2>&1; then
  fail "lintian reports errors"
fi
cat "$work/lintian.log"

# --- the unpacked program shows its window -----------------------------------
# Its own home and an empty port folder: nothing of this user's is touched,
# and no real serial port is opened.
export HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config"
export SIO_PORT_DIR="$work/ports" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$SIO_PORT_DIR"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
unset LD_LIBRARY_PATH QT_QPA_PLATFORM QT_PLUGIN_PATH
caption='RS232接口母卡生成程序V1.0'
cat >"$work/show-window" <<'EOF'
#!/usr/bin/env bash
# Runs inside xvfb-run: starts the program, then waits until a window with
# the caption exists, the program ends, or 60 s pass.
set -u
program=$1 caption=$2 log=$3
"$program" >"$log" 2>&1 &
pid=$!
found=no
for _ in $(seq 600); do
  if xwininfo -root -tree 2>/dev/null | grep -qF "\"$caption\""; then found=yes; break; fi
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill "$pid" 2>/dev/null
wait "$pid" 2>/dev/null
[ "$found" = yes ]
EOF
chmod +x "$work/show-window"
if ! xvfb-run -a -s '-screen 0 1024x768x24' \
    "$work/show-window" "$root/usr/bin/mastercard-writer" "$caption" "$work/program.log"; then
  fail "the unpacked program showed no window \"$caption\""
fi
if [ -s "$work/program.log" ]; then
  echo "the program printed:" >&2
  cat "$work/program.log" >&2
  fail "the unpacked program printed messages"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "package $(basename "$deb"): all checks passed"
