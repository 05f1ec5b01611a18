#!/usr/bin/env bash
# Makes sure a locale exists (the tests run hosts in zh_CN.GBK, as a Chinese Windows host
# would use code page 936). Usage: ensure-locale.sh <input> <charmap> <name>
set -euo pipefail
input=$1 charmap=$2 name=$3
wanted=$(echo "$name" | tr 'A-Z' 'a-z' | tr -d '-')
if locale -a 2>/dev/null | tr 'A-Z' 'a-z' | tr -d '-' | grep -qx "$wanted"; then
  exit 0
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "Locale $name is missing. Create it with: sudo localedef -i $input -f $charmap $name" >&2
  exit 1
fi
localedef -i "$input" -f "$charmap" "$name"
