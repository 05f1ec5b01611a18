#!/usr/bin/env bash
# The Windows deliverables, end to end: cross-builds tidewire.dll (both editions) for 32-bit and
# 64-bit Windows with mingw-w64, checks each DLL's export table, imports and version resource,
# and runs the DLLs under Wine against the simulated modem (tests/windows/run-wine-tests.sh).
#
# Usage: tools/scripts/test-windows.sh [DIR]
#   DIR gets build-win32/ and build-win64/ (default: beside the Linux build directory, that is
#   the repository root). The Linux build directory, for the simulator, is $BUILD (default
#   build), configured with $CMAKE_FLAGS as the Makefile does when it does not exist yet.
#
# Installs the Debian packages it needs when they are missing and it runs as root (the 32-bit
# Wine needs the i386 architecture); without root it says what to install and fails.
set -euo pipefail

started=$(date +%s)
repo=$(cd "$(dirname "$0")/../.." && pwd)
cd "$repo"
linux_build=${BUILD:-build}
parent=${1:-$(dirname "$linux_build")}
build32=$parent/build-win32
build64=$parent/build-win64
jobs=${JOBS:-2}

# --- Packages ---------------------------------------------------------------------------------
# The cross compilers and Wine, and what the Linux build of the simulator and the GBK locale
# need when this runs on its own rather than from make test.
packages=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64 wine wine64 wine32:i386
  cmake make g++ libgtest-dev locales)
missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  has_i386=$(dpkg --print-foreign-architectures | grep -qx i386 && echo yes || echo no)
  if [ "$(id -u)" -ne 0 ]; then
    echo "Missing Debian packages: ${missing[*]}" >&2
    [ "$has_i386" = yes ] || echo "First: sudo dpkg --add-architecture i386" >&2
    echo "Install them with: sudo apt-get update && sudo apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
  [ "$has_i386" = yes ] || dpkg --add-architecture i386
  echo "Installing Debian packages: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" > /dev/null
fi
"$repo/tools/scripts/ensure-locale.sh" zh_CN GBK zh_CN.GBK

# --- The two DLLs of each architecture ----------------------------------------------------------
build_windows() {
  local dir=$1 triplet=$2
  cmake -S "$repo" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/toolchain-$triplet.cmake" \
    -DCMAKE_BUILD_TYPE=Release > "$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; echo "configuring $dir failed" >&2; exit 1; }
  rm -f "$dir.configure.log"
  cmake --build "$dir" -j "$jobs"
}
mkdir -p "$parent"
build_windows "$build32" i686-w64-mingw32
build_windows "$build64" x86_64-w64-mingw32

# --- What each DLL exports and imports ----------------------------------------------------------
# Exactly the expected names at exactly their ordinals, and no DLL but the system's: libgcc,
# libstdc++ and winpthreads must be linked in.
system_dlls='^(kernel32|msvcrt|ntdll|user32|advapi32)\.dll$'
current_table='1 SMSGetLastError
2 SMSGetNextMessage
3 SMSQuery
4 SMSReport
5 SMSSendMessage
6 SMSSeviceStarted
7 SMSStartService
8 SMSStopSerice
9 SMSStartServiceEx
10 SMSSetTraceFile
11 SMSGetModuleInfo
12 SMSGetLastErrorCode
13 SMSGetReceivePolls
14 SMSSetOption
15 SMSQueryDelivery
16 SMSGetNextMessageEx
17 SMSAcknowledgeMessage'
legacy_table='1 SMSGetLastError
2 SMSGetNextMessage
3 SMSQuery
4 SMSReport
5 SMSSendMessage
6 SMSStartService
7 SMSStopSerice'

check_dll() {
  local objdump=$1 dll=$2 expected=$3 dump base actual imports bad
  dump=$("$objdump" -p "$dll")
  base=$(echo "$dump" | sed -n 's/^Export Address Table -- Ordinal Base \([0-9]*\).*/\1/p')
  # "[Ordinal/Name Pointer] Table" lists "[ index] name", the index counted from the base.
  actual=$(echo "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\] \(.*\)$/\1 \2/p' |
    awk -v base="${base:-0}" '{ print $1 + base, $2 }' | sort -n)
  imports=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p')
  echo "$dll"
  echo "$actual" | sed 's/^/  export @/'
  echo "$imports" | sed 's/^/  imports /'
  if [ "$actual" != "$expected" ]; then
    echo "export table of $dll differs from the expected one:" >&2
    diff <(echo "$expected") <(echo "$actual") >&2 || true
    return 1
  fi
  bad=$(echo "$imports" | grep -viE "$system_dlls" || true)
  if [ -n "$bad" ]; then
    echo "$dll depends on DLLs that are not the system's: $bad" >&2
    return 1
  fi
}
check_dll i686-w64-mingw32-objdump "$build32/tidewire.dll" "$current_table"
check_dll x86_64-w64-mingw32-objdump "$build64/tidewire.dll" "$current_table"
check_dll i686-w64-mingw32-objdump "$build32/legacy/tidewire.dll" "$legacy_table"
check_dll x86_64-w64-mingw32-objdump "$build64/legacy/tidewire.dll" "$legacy_table"

# --- Each DLL's VERSIONINFO: the project's version and the edition's description ---------------
version=$(sed -n 's/^#define TIDEWIRE_VERSION_STRING "\(.*\)"$/\1/p' "$build32/include/tidewire_version.h")
check_version() {
  local windres=$1 dll=$2 description=$3 resource
  # windres reads the resources of a PE file back as a resource script.
  resource=$("$windres" -i "$dll" -J coff -O rc)
  if ! grep -qx " FILEVERSION ${version//./, }, 0" <<<"$resource" ||
    ! grep -qx " PRODUCTVERSION ${version//./, }, 0" <<<"$resource" ||
    ! grep -qx "      VALUE \"FileVersion\", \"$version\"" <<<"$resource" ||
    ! grep -qx "      VALUE \"ProductVersion\", \"$version\"" <<<"$resource" ||
    ! grep -qx "      VALUE \"FileDescription\", \"$description\"" <<<"$resource"; then
    echo "$dll: no VERSIONINFO of version $version and \"$description\":" >&2
    echo "$resource" >&2
    return 1
  fi
  echo "$dll: version $version, \"$description\""
}
check_version i686-w64-mingw32-windres "$build32/tidewire.dll" "Tidewire SMS modem library"
check_version x86_64-w64-mingw32-windres "$build64/tidewire.dll" "Tidewire SMS modem library"
check_version i686-w64-mingw32-windres "$build32/legacy/tidewire.dll" \
  "Tidewire SMS modem library, legacy edition"
check_version x86_64-w64-mingw32-windres "$build64/legacy/tidewire.dll" \
  "Tidewire SMS modem library, legacy edition"

# --- The simulator, from the Linux build ----------------------------------------------------------
modemsim=$linux_build/tools/tidewire-modemsim
if [ ! -f "$linux_build/CMakeCache.txt" ]; then
  # shellcheck disable=SC2086 # CMAKE_FLAGS is a list of options, as in the Makefile
  cmake -S "$repo" -B "$linux_build" ${CMAKE_FLAGS:--DCMAKE_BUILD_TYPE=RelWithDebInfo}
fi
cmake --build "$linux_build" -j "$jobs" --target tidewire-modemsim

# --- Under Wine -----------------------------------------------------------------------------------
"$repo/tests/windows/run-wine-tests.sh" "$build32" "$build64" "$modemsim"
echo "test-windows: done in $(($(date +%s) - started)) s"
