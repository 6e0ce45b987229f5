#!/bin/sh
# Installs the browser tests' one npm package (playwright-core, which drives
# Debian's chromium; it never downloads a browser) from package-lock.json,
# unless node_modules already matches the lock file. Quiet when nothing to do.
set -eu
cd "$(dirname "$0")"
if [ -f node_modules/.package-lock.json ] && [ ! package-lock.json -nt node_modules/.package-lock.json ] \
   && [ -d node_modules/playwright-core ]; then
  exit 0
fi
PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error
