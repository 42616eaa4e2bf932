#!/usr/bin/env bash
# TForm_Com, its handlers and the toolkit layer's own interface include no
# toolkit: they reach Qt (or, on Windows, the Win32 controls) only through
# the implementation folder under src/app/toolkit/. Only main.cpp and
# main_win32.cpp, which start the two editions, may name one.
set -euo pipefail
app="$1/src/app"
[ -f "$app/form_com.h" ] || { echo "no window sources in $app"; exit 1; }
status=0

toolkit_includes() {
  grep -HnE '^\s*#\s*include\s*(<Q|"app/toolkit/(qt|win32)/)' "$@" || true
}

bad=$(toolkit_includes $(ls "$app"/*.h "$app"/*.cpp | grep -vE '/main(_win32)?\.cpp$'))
if [ -n "$bad" ]; then
  echo "the window's logic must reach the toolkit only through the layer:"
  echo "$bad"
  status=1
fi

bad=$(toolkit_includes "$app"/toolkit/*.h "$app"/toolkit/*.cpp)
bad+=$(grep -HnE '^\s*#\s*include\s*"app/[a-z_]+\.h"' "$app"/toolkit/*.h "$app"/toolkit/*.cpp || true)
if [ -n "$bad" ]; then
  echo "the layer's interface includes no toolkit and nothing of the program:"
  echo "$bad"
  status=1
fi
exit $status
