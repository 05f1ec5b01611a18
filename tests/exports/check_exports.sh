#!/usr/bin/env bash
# The library must export exactly the names hosts import, and nothing else: every other symbol
# is the library's own business. Usage: check_exports.sh <library> <name>...
set -euo pipefail
library=$1
shift
expected=$(printf '%s\n' "$@" | sort)
actual=$(nm -D --defined-only "$library" | awk '{print $3}' | sort)
if [ "$expected" != "$actual" ]; then
  echo "exports of $library differ from the expected list:" >&2
  diff <(echo "$expected") <(echo "$actual") >&2 || true
  exit 1
fi
echo "$library exports exactly: $(echo "$actual" | tr '\n' ' ')"
