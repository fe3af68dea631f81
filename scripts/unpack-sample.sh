#!/usr/bin/env bash
# Unpacks the bundled DV type-1 sample into the build tree (once) and prints its path.
set -euo pipefail
cd "$(dirname "$0")/.."
out=build/samples/dv_type1.avi
if [ ! -s "$out" ] || [ samples/dv_type1.avi.xz -nt "$out" ]; then
  mkdir -p build/samples
  xz -dc samples/dv_type1.avi.xz > "$out.tmp"
  mv "$out.tmp" "$out"
fi
echo "$out"
