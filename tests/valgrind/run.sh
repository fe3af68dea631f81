#!/usr/bin/env bash
# Plays the real files of the tests (every codec, odd sizes) once more under valgrind's memcheck:
# the sanitizers cannot see what the uninstrumented libavcodec and libswscale write into our
# buffers. Run after the release tests, which make the media files.
# Usage: run.sh BUILD_DIR
set -euo pipefail
build=$(cd "${1:?usage: run.sh BUILD_DIR}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
export LD_LIBRARY_PATH="$build/tests/valgrind${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
runs=(
  "video/video_test FfmpegFiles/FrameAccuracyTest.*:OddSizes/*"
  "hostlib/hostlib_test FfmpegFiles/*:FfmpegStreams/*"
  "audio/audio_test Files/*:Codecs/*:Rates/*"
)
shards=$(nproc)
status=0
for run in "${runs[@]}"; do
  read -r binary filter <<<"$run"
  pids=()
  for ((i = 0; i < shards; ++i)); do
    GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$i \
      valgrind -q --error-exitcode=99 --suppressions="$here/valgrind.supp" \
      "$build/tests/$binary" --gtest_filter="$filter" --gtest_brief=1 \
      >"$build/valgrind-${binary##*/}-$i.log" 2>&1 &
    pids+=($!)
  done
  for i in "${!pids[@]}"; do
    if ! wait "${pids[$i]}"; then
      status=1
      echo "valgrind: ${binary##*/} shard $i failed" >&2
      tail -n 60 "$build/valgrind-${binary##*/}-$i.log" >&2
    fi
  done
  echo "valgrind: ${binary##*/} ($filter) done"
done
exit $status
