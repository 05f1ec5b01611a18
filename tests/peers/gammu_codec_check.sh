#!/usr/bin/env bash
# Runs gammu_codec_check.py under a Python that has python-gammu: Debian's own interpreter, where
# the package python3-gammu installs it, else whatever python3 comes first on the path.
#
# usage: gammu_codec_check.sh <peer_codec program> <tests/data/real-world>
set -u
here=$(dirname "$0")
for python in /usr/bin/python3 python3; do
    if "$python" -c 'import gammu' > /dev/null 2>&1; then
        exec "$python" "$here/gammu_codec_check.py" "$@"
    fi
done
echo "gammu_codec_check: python-gammu is missing; install the Debian package: apt-get install python3-gammu" >&2
exit 1
