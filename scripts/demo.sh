#!/usr/bin/env bash
# Installs the dependencies, builds avikit and runs it on the bundled sample.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"$(nproc)" --target avikit_cli
./build/release/cli/avikit probe samples/sample.avi
