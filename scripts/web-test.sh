#!/usr/bin/env bash
# Runs the web page's tests: the WebAssembly core against the command line in node, and the page
# in Debian's Chromium (driven by playwright-core from web/node_modules, no browser download).
#
#   scripts/web-test.sh [--require] [--docs]
#
# Needs build/lumaweave-cli (scripts/test.sh or a Release build), the web build (scripts/web.sh)
# and /usr/bin/chromium; without one of them it says why and skips, unless --require is given
# (CI), where that is a failure. --docs copies the test run's screenshot into docs/web.png.
# Screenshots go to build-web/screenshots/. Set CHROMIUM to use another Chromium binary.
set -euo pipefail
cd "$(dirname "$0")/.."
require=0
docs=0
for a in "$@"; do
  case "$a" in
    --require) require=1 ;;
    --docs) docs=1 ;;
    *) echo "usage: scripts/web-test.sh [--require] [--docs]" >&2; exit 2 ;;
  esac
done

skip() {
  if [ "$require" = 1 ]; then
    echo "web tests: $1" >&2
    exit 1
  fi
  echo "SKIP web tests: $1"
  exit 0
}
chromium=${CHROMIUM:-/usr/bin/chromium}
[ -x "$chromium" ] || skip "$chromium is missing (apt-get install chromium)"
command -v node >/dev/null || skip "node is missing (scripts/web.sh installs it)"
[ -x build/lumaweave-cli ] || skip "build/lumaweave-cli is missing (build it: scripts/test.sh)"
[ -f build-web/src/web/lumaweave_core.js ] && [ -f web/dist/lumaweave.html ] ||
  skip "the web build is missing (scripts/web.sh)"
[ -d web/node_modules/playwright-core ] || (cd web && npm ci --prefer-offline --no-audit --no-fund --loglevel=error)

export CHROMIUM="$chromium"
(cd web && node --test tests/)
if [ "$docs" = 1 ]; then
  cp build-web/screenshots/web-1366x768.png docs/web.png
  echo "copied the screenshot to docs/web.png"
fi
