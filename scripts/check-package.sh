#!/usr/bin/env bash
# Checks avikit as a user gets it. Installs the release build into a scratch prefix, then builds
# and runs programs against that prefix alone, never against the build tree:
#   - the installed tool runs from bin/ through its RUNPATH and probes the bundled sample;
#   - every installed header compiles on its own, warning-free under the project's warnings, and
#     all of them together beside a host's own global Image, SoundFrame, VideoPlayer...;
#   - every player the library exports has its header installed;
#   - examples/host builds with find_package(avikit) and probes, steps frames and pulls sound
#     from the sample;
#   - the same program builds with pkg-config's flags and prints the same.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
cmake --preset release >/dev/null
cmake --build --preset release -j"$jobs"
sample=$PWD/$(bash scripts/unpack-sample.sh)

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
root=$scratch/root
cmake --install build/release --prefix "$root" >/dev/null
fail() { echo "check-package: $*" >&2; exit 1; }
# Nothing may come from the build tree or a library path set by the caller.
unset LD_LIBRARY_PATH
warnings=(-Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wsign-conversion -Werror)

echo "== installed tool"
"$root/bin/avikit" probe "$sample" | tee "$scratch/probe.txt"
grep -q '^type: Microsoft DV-Type 1$' "$scratch/probe.txt" || fail "the sample is not DV type-1"
loads_installed_lib() { [[ $(ldd "$1") == *"libavikit.so.0 => $root/"* ]]; }
loads_installed_lib "$root/bin/avikit" || fail "bin/avikit does not load the installed libavikit"

echo "== installed headers, each on its own"
headers=$(cd "$root/include/avikit" && find . -name '*.h' | sed 's|^\./||' | sort)
for h in $headers; do
  echo "#include <avikit/$h>" |
    c++ -std=c++20 "${warnings[@]}" -fsyntax-only -I"$root/include" -x c++ - ||
    fail "$h does not compile on its own"
done
echo "$(wc -w <<<"$headers") headers"
# Every public name is in namespace avikit: a host's own names of the same spelling do not clash.
{
  for h in $headers; do echo "#include <avikit/$h>"; done
  for name in Image SoundFrame VideoPlayer AudioPlayer VideoInfo AudioInfo SMPTE_TimeCode \
    AviFileInfo AviVideoPlayer AviAudioPlayer BitmapInfoHeader CutSegment; do
    echo "struct $name {};"
  done
} | c++ -std=c++20 "${warnings[@]}" -fsyntax-only -I"$root/include" -x c++ - ||
  fail "an installed header puts a name in the global namespace"
echo "no global names"
lib=$(find "$root" -name 'libavikit.so.0')
for player in AviVideoPlayer AviAudioPlayer; do
  if [[ $(nm -DC --defined-only "$lib") == *"$player::$player()"* ]]; then
    grep -rqw "class $player" "$root/include/avikit" ||
      fail "libavikit exports $player but no installed header declares it:" \
        "its header belongs under include/avikit/"
    echo "$player: exported and declared"
  fi
done

echo "== examples/host with find_package(avikit)"
cmake -S examples/host -B "$scratch/host" -G Ninja -DCMAKE_PREFIX_PATH="$root" \
  -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_CXX_FLAGS="${warnings[*]}" >/dev/null
cmake --build "$scratch/host" >/dev/null
loads_installed_lib "$scratch/host/avikit_host" ||
  fail "avikit_host does not load the installed libavikit"
"$scratch/host/avikit_host" "$sample" | tee "$scratch/host.txt"
grep -q 'Microsoft DV-Type 1' "$scratch/host.txt" || fail "avikit_host did not probe the sample"
grep -q '^video: 50 frames' "$scratch/host.txt" || fail "avikit_host did not step the sample's frames"
grep -Eq '^  [0-9]+ blocks, [1-9][0-9]* samples' "$scratch/host.txt" ||
  fail "avikit_host pulled no sound from the sample"

echo "== examples/host with pkg-config"
pc=$(find "$root" -name avikit.pc)
export PKG_CONFIG_PATH=${pc%/avikit.pc}
echo "avikit $(pkg-config --modversion avikit)"
# shellcheck disable=SC2046  # pkg-config's flags are meant to split
c++ -std=c++20 "${warnings[@]}" examples/host/main.cpp $(pkg-config --cflags --libs avikit) \
  -Wl,-rpath,"$(pkg-config --variable=libdir avikit)" -o "$scratch/host_pc"
"$scratch/host_pc" "$sample" >"$scratch/host_pc.txt"
cmp -s "$scratch/host.txt" "$scratch/host_pc.txt" ||
  fail "the pkg-config build prints differently from the CMake build"
echo "same output as the CMake build"
