#!/usr/bin/env bash
# Installs what is missing, builds, and starts the service on the software TSE
# in the demo folder ./demo (program directory with its job directory TSE).
set -euo pipefail
cd "$(dirname "$0")"
scripts/setup.sh
echo "Built: ${BUILD_DIR:-build}/bin/vok_tse"
