#!/usr/bin/env bash
# Tidewire installed as a user installs it, and used from the install alone: cmake --install into
# a temporary prefix (not the one the build was configured for), then the installed tidewire and
# tidewire-modemsim, a C program built through pkg-config and one built through
# find_package(Tidewire CONFIG), and the Python wheel built offline and installed into a fresh
# virtual environment, each sending a message through the installed simulator; and, when it is
# built, the installed tidewire-gateway checking the installed sample configuration against the
# simulator and an SQLite file. Nothing points them at the build tree: TIDEWIRE_LIBRARY is
# unset, and the library is found by its soname.
#
# usage: install_check.sh BUILD_DIR SOURCE_DIR VERSION [gateway|no-gateway]
set -uo pipefail

build=$1
source=$2
version=$3
with_gateway=${4:-no-gateway}
major=${version%%.*}
# The interpreter Debian's python3-setuptools, python3-wheel and python3-venv belong to; a PATH
# may put another one first (pyenv does).
python=${TIDEWIRE_INSTALL_PYTHON:-/usr/bin/python3}

work=$(mktemp -d)
prefix=$work/prefix
simulator=
cleanup() {
  [ -n "$simulator" ] && { echo quit >"$work/ctl"; wait "$simulator"; } 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
unset TIDEWIRE_LIBRARY LD_LIBRARY_PATH
export LC_ALL=C.UTF-8

passed=0
failed=0
# check WHAT COMMAND...: runs the command bounded by timeout(1); its output lands in $work/log.
check() {
  local what=$1
  shift
  if timeout 300 "$@" >"$work/log" 2>&1; then
    passed=$((passed + 1))
    echo "ok: $what"
  else
    failed=$((failed + 1))
    echo "FAIL: $what"
    sed 's/^/  | /' "$work/log"
  fi
}
soname() { readelf -d "$1" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p'; }

if ! cmake --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
  cat "$work/install.log"
  echo "0 passed, 1 failed"
  exit 1
fi

# --- What is where ------------------------------------------------------------------------------
check "the current edition is libtidewire.so.$major with its real name and development link" \
  test "$(soname "$prefix/lib/libtidewire.so.$version")" = "libtidewire.so.$major" \
  -a "$(readlink "$prefix/lib/libtidewire.so")" = "libtidewire.so.$major"
check "the legacy edition loads as lib/tidewire/legacy/libtidewire.so under a soname of its own" \
  test "$(soname "$prefix/lib/tidewire/legacy/libtidewire.so")" = libtidewire.so.0
check "headers, pkg-config and CMake package files, man pages and completion are installed" \
  ls "$prefix/include/tidewire.h" "$prefix/include/tidewire_legacy.h" \
  "$prefix/include/tidewire_version.h" "$prefix/lib/pkgconfig/tidewire.pc" \
  "$prefix/lib/pkgconfig/tidewire-legacy.pc" "$prefix/lib/cmake/Tidewire/TidewireConfig.cmake" \
  "$prefix/share/man/man1/tidewire.1.gz" "$prefix/share/man/man1/tidewire-modemsim.1.gz" \
  "$prefix/share/bash-completion/completions/tidewire"

# --- The installed simulator, and the installed command line against it ------------------------
"$prefix/bin/tidewire-modemsim" --link "$work/modem" --control "$work/ctl" >"$work/sim.out" \
  2>&1 </dev/null &
simulator=$!
for _ in $(seq 1 300); do
  grep -q '^link: ' "$work/sim.out" && [ -p "$work/ctl" ] && break
  sleep 0.1
done

check "tidewire --version prints the one version" \
  bash -c '[ "$("$1" --version)" = "tidewire $2" ]' _ "$prefix/bin/tidewire" "$version"
check "the installed tidewire finds its library and sends through the installed simulator" \
  "$prefix/bin/tidewire" send 13912345678 "installed" --device "$work/modem" --timeout 60

# --- The gateway: the program, its unit and sample configuration -------------------------------
if [ "$with_gateway" = gateway ]; then
  unit=$prefix/lib/systemd/system/tidewire-gateway@.service
  check "the gateway, its man page, unit and sample configuration are installed" \
    ls "$prefix/bin/tidewire-gateway" "$prefix/share/man/man8/tidewire-gateway.8.gz" "$unit" \
    "$prefix/etc/tidewire/gateway.conf.example"
  check "the unit starts the installed gateway on the instance's configuration, in dialout" \
    bash -c 'for line in "$@"; do grep -qxF "$line" "$0" || { echo "no line $line"; exit 1; }; done' \
    "$unit" "ExecStart=$prefix/bin/tidewire-gateway --config $prefix/etc/tidewire/gateway-%i.conf" \
    SupplementaryGroups=dialout Restart=on-failure
  check "tidewire-gateway --version prints the one version" \
    bash -c '[ "$("$1" --version)" = "tidewire-gateway $2" ]' _ "$prefix/bin/tidewire-gateway" \
    "$version"
  # The sample as it is, with the device and the store given on the command line, which wins.
  check "the installed gateway finds its library and checks the sample configuration" \
    bash -c '"$1" --config "$2" --device "$3" --store "$4" --check &&
      "$1" --store "$4" --queue 13912345678 queued && "$1" --config "$2" --device "$3" \
      --store "$4" --check | grep -qx "ok: store $4: schema version [0-9]*"' _ \
    "$prefix/bin/tidewire-gateway" "$prefix/etc/tidewire/gateway.conf.example" "$work/modem" \
    "$work/sms.db"
fi

# --- Two C programs built against the install ----------------------------------------------------
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
check "a program built with pkg-config --cflags --libs tidewire sends a message" \
  bash -c 'cc -Wall -Wextra -Werror "$1" $(pkg-config --cflags --libs tidewire) -o "$2" &&
    LD_LIBRARY_PATH="$3" "$2" "$4"' _ "$source/tests/install/consumer/consumer.c" \
  "$work/pc-consumer" "$prefix/lib" "$work/modem"
check "a program built with find_package(Tidewire CONFIG) sends a message" \
  bash -c 'cmake -S "$1" -B "$2" -DCMAKE_PREFIX_PATH="$3" -DTIDEWIRE_WANTED_VERSION="$4" &&
    cmake --build "$2" && "$2/consumer" "$5"' _ "$source/tests/install/consumer" "$work/cmake" \
  "$prefix" "$version" "$work/modem"
check "a legacy host links through pkg-config tidewire-legacy and runs without a library path" \
  bash -c 'printf "#include \"tidewire_legacy.h\"\nint main(void) { return SMSStopSerice() < 0; }\n" |
    cc -x c - $(pkg-config --cflags --libs tidewire-legacy) -o "$1" && "$1" &&
    readelf -d "$1" | grep -q "NEEDED.*\[libtidewire.so.0\]"' _ "$work/legacy-host"

# --- The Python package: a wheel built offline, installed into a fresh virtual environment -------
# The source is copied so that the build leaves nothing in the checkout; setup.py reads the
# version from the CMakeLists.txt above python/.
mkdir -p "$work/src"
cp -r "$source/python" "$work/src/python"
cp "$source/CMakeLists.txt" "$work/src/"
check "the wheel builds offline and installs into a fresh virtual environment" \
  bash -c '"$1" -m pip wheel --no-build-isolation --no-deps --no-index -w "$2/wheel" \
      "$2/src/python" && "$1" -m venv "$2/venv" &&
    "$2/venv/bin/pip" install --no-index "$2/wheel/tidewire-$3-py3-none-any.whl"' \
  _ "$python" "$work" "$version"
cat >"$work/use.py" <<'EOF'
import os, sys
import tidewire
assert tidewire.__version__ == sys.argv[2], tidewire.__version__
assert os.path.exists(os.path.join(os.path.dirname(tidewire.__file__), "py.typed"))
with tidewire.Service(device=sys.argv[1]) as sms:
    message_id = sms.send("from the wheel", "13912345678")
    assert sms.wait_for(message_id, timeout=60) is True
print("sent through", tidewire.DEFAULT_LIBRARY)
EOF
check "the installed package has the version and py.typed, and finds libtidewire.so.$major" \
  env LD_LIBRARY_PATH="$prefix/lib" "$work/venv/bin/python" "$work/use.py" "$work/modem" "$version"

echo "$passed passed, $failed failed"
[ $failed = 0 ]
