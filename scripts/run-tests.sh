#!/bin/sh
# Sets up, builds, and runs every test under Wine.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
cd "$root/build"
ctest --output-on-failure --timeout 600
