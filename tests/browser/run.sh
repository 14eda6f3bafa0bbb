#!/usr/bin/env bash
# Runs the browser tests against a program binary:
#
#   tests/browser/run.sh PATH/TO/qbcgi [FILE.test.js ...]   (default: all)
#
# Needs Debian's chromium and lighttpd, and `npm ci` run in tests/browser.
# When one is missing the tests are skipped (exit 77, which CTest reports as
# skipped), except under CI (CI set and not "false"), where that is a failure.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
program="${1:?usage: run.sh PATH/TO/qbcgi [FILE.test.js ...]}"
shift
program="$(cd "$(dirname "$program")" && pwd)/$(basename "$program")"

chromium="${CHROMIUM:-/usr/bin/chromium}"
lighttpd="${LIGHTTPD:-$(command -v lighttpd || echo /usr/sbin/lighttpd)}"

missing=()
[ -x "$chromium" ] || missing+=("chromium ($chromium; apt-get install chromium)")
[ -x "$lighttpd" ] || missing+=("lighttpd (apt-get install lighttpd)")
command -v node >/dev/null || missing+=("node (apt-get install nodejs)")
[ -d "$here/node_modules/playwright-core" ] || missing+=("node_modules (run: cd tests/browser && npm ci)")

if [ ${#missing[@]} -gt 0 ]; then
  if [ -n "${CI:-}" ] && [ "${CI:-}" != "false" ]; then
    printf 'browser tests: missing under CI: %s\n' "${missing[@]}" >&2
    exit 1
  fi
  printf 'browser tests SKIPPED: missing %s\n' "${missing[@]}"
  exit 77
fi
[ -x "$program" ] || { echo "browser tests: no program at $program" >&2; exit 1; }

cd "$here"
[ $# -gt 0 ] || set -- *.test.js
export QBCGI_PROGRAM="$program" CHROMIUM="$chromium" LIGHTTPD="$lighttpd"
exec node --test --test-concurrency=1 --test-timeout=60000 "$@"
