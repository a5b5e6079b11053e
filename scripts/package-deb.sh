#!/bin/bash
# Builds the Debian package (installs what is missing, builds in build/) and prints its path
# as the last line. Install it with: sudo apt install ./build/KORVAVorAdf_<version>_amd64.deb
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
bash "$root/scripts/build.sh" "$root/build" >&2
cd "$root/build"
cpack -G DEB >&2
ls -t "$root"/build/KORVAVorAdf_*_*.deb | head -1
