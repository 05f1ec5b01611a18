#!/usr/bin/env bash
# Runs the C legacy host against the simulated module on COM1. The legacy edition opens ports
# by number only (COM1 is /dev/ttyS0), so the simulator's pty is bind-mounted over /dev/ttyS0 in
# a private mount namespace that only the host sees. Needs root and an existing /dev/ttyS0;
# exits 77 (skipped) without them.
# Usage: legacy_host_check.sh <tidewire-modemsim> <legacy_host> <legacy libtidewire.so>
set -euo pipefail
modemsim=$1 host=$2 library=$3
if [ "$(id -u)" -ne 0 ] || [ ! -e /dev/ttyS0 ] || ! command -v unshare >/dev/null; then
  echo "skipped: needs root, /dev/ttyS0 and unshare"
  exit 77
fi
work=$(mktemp -d)
simulator=
cleanup() {
  [ -p "$work/ctl" ] && echo quit > "$work/ctl" 2>/dev/null &
  [ -n "$simulator" ] && { sleep 1; kill "$simulator" 2>/dev/null || true; wait "$simulator" 2>/dev/null || true; }
  rm -rf "$work"
}
trap cleanup EXIT
"$modemsim" --link "$work/modem" --control "$work/ctl" > "$work/sim.out" < /dev/null &
simulator=$!
for _ in $(seq 100); do
  grep -q '^device: ' "$work/sim.out" 2>/dev/null && [ -p "$work/ctl" ] && break
  sleep 0.1
done
device=$(sed -n 's/^device: //p' "$work/sim.out")
[ -n "$device" ] || { echo "the simulator did not start"; cat "$work/sim.out"; exit 1; }
echo "inject +8613800138000 收到了" > "$work/ctl"

LC_ALL=C.UTF-8 timeout 300 unshare --mount --propagation private \
  sh -c 'mount --bind "$1" /dev/ttyS0 && exec "$2" "$3"' sh "$device" "$host" "$library"

echo sent > "$work/ctl"
for _ in $(seq 50); do
  grep -q '老朋友你好' "$work/sim.out" && break
  sleep 0.1
done
grep -q 'hello from a legacy host' "$work/sim.out" || { echo "the ASCII message never reached the module"; exit 1; }
grep -q '老朋友你好' "$work/sim.out" || { echo "the Chinese message never reached the module"; exit 1; }
echo "legacy host check passed"
