#!/usr/bin/env bash
# The layering of src/: the error model and the dispatcher core include only
# the standard library and each other, so a second device layer or toolkit
# needs no change there; the serial component never reaches into the program.
set -euo pipefail
src="$1/src"
status=0

includes() { grep -HnE '^\s*#\s*include' "$@" || true; }

# Standard headers have no extension and no slash: <mutex>, <cstdint>.
bad=$(includes "$src"/serial/core/* "$src"/serial/errors/* |
      grep -vE '#\s*include\s*<[a-z_]+>' |
      grep -vE '#\s*include\s*"serial/(core|errors)/[a-z_]+\.h"' || true)
if [ -n "$bad" ]; then
  echo "core and errors may include only the standard library and each other:"
  echo "$bad"
  status=1
fi

bad=$(includes -r "$src"/serial | grep -E '"(app|mastercard)/' || true)
if [ -n "$bad" ]; then
  echo "src/serial must not include the program or the master-card code:"
  echo "$bad"
  status=1
fi
exit $status
