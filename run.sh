#!/usr/bin/env bash
# Installs what is missing, builds, and runs the program.
set -euo pipefail
cd "$(dirname "$0")"
scripts/deps.sh
scripts/build.sh default
exec build/default/bin/crvtool "${@:---help}"
