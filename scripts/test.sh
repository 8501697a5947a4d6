#!/usr/bin/env bash
# Sets up, builds and runs every test: native unit tests, the art check, and the end-to-end
# tests of the real program under Wine (on Xvfb when there is no display).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-debian.sh
bash scripts/build.sh
cd build/native
ctest --output-on-failure --timeout 900 -j2 "$@"
