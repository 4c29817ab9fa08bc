#!/usr/bin/env bash
# Builds the web page: the conversion core compiled to WebAssembly with Emscripten into build-web/,
# then web/dist/lumaweave.html, one file with everything inlined (see docs/web.md). Installs
# Emscripten, node and npm through apt when they are missing (through sudo when not root).
set -euo pipefail
cd "$(dirname "$0")/.."

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v make >/dev/null || need+=(make)
command -v em++ >/dev/null || need+=(emscripten)
command -v node >/dev/null || need+=(nodejs)
command -v npm >/dev/null || need+=(npm)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -ne 0 ] && sudo="sudo"
  echo "Installing: ${need[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

# Emscripten's JavaScript optimiser loads Debian's node modules (acorn); a node that is not
# Debian's own does not look there by itself.
export NODE_PATH="${NODE_PATH:+$NODE_PATH:}/usr/share/nodejs"

build=${WEB_BUILD_DIR:-build-web}
emcmake cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release ${CMAKE_ARGS:-} >/dev/null
cmake --build "$build" -j2

# The page's one library (the zip writer) and the tests' browser driver, as the lock file says.
(cd web && npm ci --prefer-offline --no-audit --no-fund --loglevel=error)
node web/build.mjs "$build/src/web/lumaweave_core.js" web/dist/lumaweave.html
