#!/usr/bin/env bash
# Builds qltmsi and shows what it does on a sample product.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default >/dev/null
echo "== qltmsi built in build/default"
if [[ -x build/default/bin/qltmsi ]]; then
  build/default/bin/qltmsi --help
fi
