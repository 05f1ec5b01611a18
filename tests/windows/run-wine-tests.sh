#!/usr/bin/env bash
# Runs the Windows DLLs under Wine, as Windows hosts use them: a C host built with mingw for each
# architecture (tests/windows/host.c) loads tidewire.dll by file name and talks through it to the
# simulated modem, whose pty is linked as COM5 of a fresh Wine prefix. The script makes the
# network deliver a message before each flow and checks afterwards what the module was given to
# send.
#
# Usage: run-wine-tests.sh <32-bit build dir> <64-bit build dir> <tidewire-modemsim>
# Each build dir holds tidewire.dll and, when the legacy edition is built, legacy/tidewire.dll.
#
# Observations about Wine that the checks allow for (each is explained where it matters):
# - COMn is $WINEPREFIX/dosdevices/comN, opened and driven through termios; a pty is accepted
#   as a serial device. GetCommState, SetCommState and GetCommConfig work on it: baud rate, stop
#   bits and the XON/XOFF flags and characters survive a close; a pty has no parity, character
#   size or modem lines of its own, and Wine has no place for XonLim and XoffLim.
# - Wine does not enforce share modes on serial devices: a second open of a held port succeeds,
#   so the library's exclusive open cannot be seen failing here (Windows refuses it with
#   ERROR_ACCESS_DENIED).
# - FormatMessageA with the system default language gives Wine's Chinese message texts under
#   zh_CN.GBK, in GBK, ending in CR LF, as a Chinese Windows does.
# - A thread that starts or ends waits for the loader lock, which FreeLibrary holds while the
#   library's destructors run: the library keeps itself loaded (see src/platform/win32), and
#   the unload scenarios check that nothing hangs or crashes.
set -euo pipefail

if [ $# -ne 3 ]; then
  echo "usage: $0 <32-bit build dir> <64-bit build dir> <tidewire-modemsim>" >&2
  exit 2
fi
build32=$(cd "$1" && pwd)
build64=$(cd "$2" && pwd)
modemsim=$3
here=$(cd "$(dirname "$0")" && pwd)

port=5         # COM5: the simulator
missing_port=57  # COM57: a port that does not exist
run_limit=300  # seconds one host run may take; a flow takes about 10
locale_name=zh_CN.GBK

wine32=${WINE:-wine}
wine64=${WINE64:-}
if [ -z "$wine64" ]; then
  for candidate in "$(command -v wine64 || true)" /usr/lib/wine/wine64 /usr/lib64/wine/wine64; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then wine64=$candidate; break; fi
  done
fi
wineserver=${WINESERVER:-}
if [ -z "$wineserver" ]; then
  # Debian's wineserver wrapper forces the server to quit as soon as its last client has gone;
  # the binary itself can be kept running for the whole test.
  for candidate in /usr/lib/wine/wineserver64 /usr/lib/wine/wineserver32 \
    "$(command -v wineserver || true)"; do
    if [ -n "$candidate" ] && [ -x "$candidate" ]; then wineserver=$candidate; break; fi
  done
fi
for tool in "$wine32" i686-w64-mingw32-gcc-posix x86_64-w64-mingw32-gcc-posix; do
  command -v "$tool" >/dev/null || { echo "missing: $tool" >&2; exit 1; }
done
[ -n "$wine64" ] || { echo "missing: wine64" >&2; exit 1; }
[ -n "$wineserver" ] || { echo "missing: wineserver" >&2; exit 1; }
if ! locale -a | tr 'A-Z' 'a-z' | tr -d '-' | grep -qx zh_cn.gbk; then
  echo "missing: the $locale_name locale (tools/scripts/ensure-locale.sh zh_CN GBK $locale_name)" >&2
  exit 1
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/tidewire-wine.XXXXXX")
simulator=
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

cleanup() {
  if [ -n "$simulator" ]; then
    [ -p "$work/ctl" ] && timeout 5 bash -c 'echo quit > "$1"' _ "$work/ctl" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$simulator" 2>/dev/null || break; sleep 0.1; done
    kill "$simulator" 2>/dev/null || true
    wait "$simulator" 2>/dev/null || true
  fi
  [ -d "$WINEPREFIX" ] && timeout 30 "$wineserver" -k > /dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

passed=0
failed=0
pass() { passed=$((passed + 1)); echo "ok: $*"; }
fail() { failed=$((failed + 1)); echo "FAILED: $*"; }

# --- The hosts -----------------------------------------------------------------------------------
# On 32-bit the host compares the stack pointer around every call; outgoing arguments are
# stored, not pushed, so the pointer only moves by what the callee removes.
mkdir -p "$work/win32/legacy" "$work/win64/legacy"
i686-w64-mingw32-gcc-posix -std=c11 -O1 -maccumulate-outgoing-args -Wall -Wextra -Werror -static \
  -o "$work/win32/host.exe" "$here/host.c"
i686-w64-mingw32-gcc-posix -std=c11 -O1 -maccumulate-outgoing-args -Wall -Wextra -Werror -static \
  -DHOST_CALL=__cdecl -o "$work/win32/host-cdecl.exe" "$here/host.c"
x86_64-w64-mingw32-gcc-posix -std=c11 -O1 -Wall -Wextra -Werror -static \
  -o "$work/win64/host.exe" "$here/host.c"

editions=(current)
cp "$build32/tidewire.dll" "$work/win32/"
cp "$build64/tidewire.dll" "$work/win64/"
if [ -f "$build32/legacy/tidewire.dll" ] && [ -f "$build64/legacy/tidewire.dll" ]; then
  cp "$build32/legacy/tidewire.dll" "$work/win32/legacy/"
  cp "$build64/legacy/tidewire.dll" "$work/win64/legacy/"
  editions+=(legacy)
fi

# The DLL a host loads, by the Windows file name relative to its own folder.
dll_of() {
  if [ "$1" = legacy ]; then printf '%s\n' 'legacy\tidewire.dll'; else printf '%s\n' tidewire.dll; fi
}

# --- Wine --------------------------------------------------------------------------------------
echo "creating a Wine prefix in $WINEPREFIX"
mkdir -p "$WINEPREFIX"
"$wineserver" -p > /dev/null 2>&1
timeout 300 "$wine64" wineboot -i > "$work/wineboot.log" 2>&1 ||
  { cat "$work/wineboot.log"; echo "wineboot failed" >&2; exit 1; }
rm -f "$WINEPREFIX/dosdevices/com$port" "$WINEPREFIX/dosdevices/com$missing_port"

# --- The simulated modem -------------------------------------------------------------------------
"$modemsim" --link "$WINEPREFIX/dosdevices/com$port" --control "$work/ctl" \
  > "$work/sim.out" 2> "$work/sim.err" < /dev/null &
simulator=$!
for _ in $(seq 100); do
  grep -q '^device: ' "$work/sim.out" 2>/dev/null && [ -p "$work/ctl" ] && break
  sleep 0.1
done
grep -q '^device: ' "$work/sim.out" && [ -p "$work/ctl" ] ||
  { cat "$work/sim.out" "$work/sim.err"; echo "the simulator did not start" >&2; exit 1; }

control() { timeout 10 bash -c 'printf "%s\n" "$1" > "$2"' _ "$1" "$work/ctl"; }

# Runs a control command that answers with "<what>: N ..." and a line per item; prints the
# items. Waits for the answer at most 10 s.
ask() {
  local what=$1 from
  from=$(($(wc -l < "$work/sim.out") + 1))
  control "$what"
  for _ in $(seq 100); do
    tail -n +"$from" "$work/sim.out" | grep -q "^$what: " && break
    sleep 0.1
  done
  sleep 0.2  # the item lines follow the header line in the same write
  tail -n +"$from" "$work/sim.out" | sed -n "/^$what: /,\$p" | tail -n +2
}

# run_host <arch> <edition> <scenario> [dll]: runs the host under Wine in a GBK locale (or in
# $host_locale); its output goes to $work/host.out, with Wine's crash reports (if any) in
# $work/host.err.
run_host() {
  local arch=$1 edition=$2 scenario=$3 dll=${4:-$(dll_of "$2")} loader status=0
  [ "$arch" = 32 ] && loader=$wine32 || loader=$wine64
  (cd "$work/win$arch" && LC_ALL=${host_locale:-$locale_name} timeout "$run_limit" \
    "$loader" host.exe "$edition" "$dll" "$scenario" "$port" "$missing_port") \
    > "$work/host.out" 2> "$work/host.err" || status=$?
  sed 's/^/    /' "$work/host.out"
  if grep -q 'Unhandled exception\|^wine: Unhandled' "$work/host.err"; then
    grep -m3 'Unhandled' "$work/host.err" | sed 's/^/    /'
    return 99
  fi
  return "$status"
}

check_run() {
  local name=$1
  shift
  if run_host "$@"; then pass "$name"; else fail "$name (exit status $?)"; fi
}

# The messages a flow sends, as the module must have received them.
check_sent() {
  local name=$1 sent
  sent=$(ask sent)
  echo "$sent" | sed 's/^/    module: /'
  local expected=(
    'to=8613912345678 mode=text .*text="Hello from a Windows host"'
    'to=+*[0-9]*13912345678 mode=pdu .*text="你好，视窗主机"'
    'to=10086 mode=text .*text="Second run"'
  )
  local count ok=1
  count=$(echo "$sent" | grep -c 'to=' || true)
  [ "$count" -eq 3 ] || ok=0
  for line in "${expected[@]}"; do
    echo "$sent" | grep -q -- "$line" || { echo "    missing: $line"; ok=0; }
  done
  if [ $ok = 1 ]; then
    pass "$name: the module sent all three messages"
  else
    fail "$name: what the module sent"
  fi
}

for arch in 32 64; do
  for edition in "${editions[@]}"; do
    name="$edition edition, ${arch}-bit"
    echo "== $name"
    check_run "$name: export table" "$arch" "$edition" exports

    control 'clear sent'
    control 'clear store'
    control 'inject +8613800138000 短信收到了，谢谢！'
    check_run "$name: flow" "$arch" "$edition" flow
    check_sent "$name"
    # The received message was deleted from the module once it had been taken.
    if [ -z "$(ask store)" ]; then
      pass "$name: the module's store is empty"
    else
      fail "$name: messages left in the module's store"
    fi

    check_run "$name: unload with the worker alive" "$arch" "$edition" unload-running
    check_run "$name: process exit with the service running" "$arch" "$edition" exit-running
    # A Western code page (1252 under C.UTF-8): the library's texts stay GBK.
    host_locale=C.UTF-8 check_run "$name: GBK texts under code page 1252" "$arch" "$edition" texts
  done
done

# A COM port that disappears under the running service and comes back: the host says when to
# pull the module out and when to plug it back in, and checks that the service carried on.
await_host() {
  for _ in $(seq 600); do
    grep -q "^$1" "$work/host.out" 2>/dev/null && return 0
    sleep 0.1
  done
  return 1
}
for arch in 32 64; do
  name="current edition, ${arch}-bit: a module unplugged and plugged back in"
  echo "== $name"
  control 'clear sent'
  [ "$arch" = 32 ] && loader=$wine32 || loader=$wine64
  (cd "$work/win$arch" && LC_ALL=$locale_name timeout "$run_limit" "$loader" host.exe current \
    tidewire.dll reconnect "$port" "$missing_port") > "$work/host.out" 2> "$work/host.err" &
  host=$!
  await_host 'unplug now' && control 'fault hangup'
  await_host 'plug in now' || true
  control 'fault unhangup'  # whatever the host said, the next runs need the module back
  status=0
  wait "$host" || status=$?
  sed 's/^/    /' "$work/host.out"
  if [ "$status" -eq 0 ] && ask sent | grep -q 'text="Queued while the module was away"'; then
    pass "$name"
  else
    fail "$name (exit status $status)"
  fi
done

# The checks must be able to fail: a host that calls through cdecl function types (the stack
# mismatch of a DLL exporting the wrong convention), and the current edition's table expected
# of the legacy DLL (other ordinals, names missing).
echo "== the checks catch what they are for"
status=0
(cd "$work/win32" && LC_ALL=$locale_name timeout "$run_limit" "$wine32" host-cdecl.exe current \
  tidewire.dll flow "$port" "$missing_port") > "$work/host.out" 2> "$work/host.err" || status=$?
if [ "$status" -eq 3 ] && grep -q 'calling convention' "$work/host.out"; then
  pass "a host calling with the wrong convention is caught:" \
    "$(grep -m1 'calling convention' "$work/host.out")"
else
  cat "$work/host.out"
  fail "a host calling with the wrong convention was not caught (exit status $status)"
fi
if [[ " ${editions[*]} " == *" legacy "* ]]; then
  status=0
  run_host 32 current exports 'legacy\tidewire.dll' > "$work/mismatch.out" || status=$?
  if [ "$status" -ne 0 ] && grep -q 'ordinal' "$work/mismatch.out"; then
    pass "the current edition's table is not found in the legacy DLL"
  else
    cat "$work/mismatch.out"
    fail "the current edition's export table was accepted from the legacy DLL"
  fi
fi

echo "wine-tests: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
