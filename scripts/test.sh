#!/usr/bin/env bash
# Installs the dependencies and checks the layout of the sources (clang-format). Then builds with
# warnings as errors and runs the whole test suite: once in an optimised build, once more under
# the address and undefined-behaviour sanitizers, and the tests that exercise threads a third
# time under the thread sanitizer; the tests that play real files also run under valgrind, which
# sees what the uninstrumented codec libraries write. Then checks the installed package: the
# release build installed into a scratch prefix, and programs built against it alone
# (scripts/check-package.sh). Last, the fuzz targets are built and replay their seed corpora, so
# they never rot between long fuzzing runs.
# AVI_TEST_PRESETS="release" limits the run to the listed presets.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/check-format.sh
jobs=$(nproc)
for preset in ${AVI_TEST_PRESETS:-release asan tsan}; do
  echo "== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  if [ "$preset" = tsan ]; then
    ctest --preset "$preset" -j"$jobs" -R 'Thread'
  else
    ctest --preset "$preset" -j"$jobs"
  fi
  if [ "$preset" = release ]; then
    echo "== valgrind (real files)"
    bash tests/valgrind/run.sh build/release
  fi
done
echo "== package"
bash scripts/check-package.sh
if [ -z "${AVI_TEST_PRESETS:-}" ]; then
  echo "== fuzz targets replay their seeds"
  cmake --preset fuzz >/dev/null
  targets=$(sed -n 's/^avi_add_fuzzer(\([a-z_]*\).*/\1/p' fuzz/CMakeLists.txt)
  # shellcheck disable=SC2086  # one target name per word
  cmake --build --preset fuzz -j"$jobs" --target $targets
  for t in $targets; do
    ./build/fuzz/fuzz/"$t" -runs=0 "fuzz/corpus/$t" 2>&1 | tail -n 1
  done
fi
