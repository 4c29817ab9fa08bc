#!/usr/bin/env bash
# Sets up a fresh Debian 12 machine, builds lumaweave and converts the bundled sample pictures
# into out/ (".S02" files and their double-size "TEST_" previews), the JPEG photograph fitted to
# the screen. The desktop program is build/lumaweave. Run again, it converts them again,
# replacing what it wrote.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$(nproc)"
build/lumaweave-cli --fit --export -o out samples
ls -l out
echo "The desktop program: build/lumaweave [PICTURE ...]"
