// AudioDecoder::input on arbitrary bytes, fed in the pieces the audio player would use, with
// output formats, restarts and reads mixed in. Invariants only: no crash, counts in range.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "hostlib/audio_decoder.h"

using namespace avikit;

namespace {

void check_format(const AudioDecoder& d) {
  int rate = 0;
  int channels = 0;
  d.get_output_format(rate, channels);
  const bool none = rate == 0 && channels == 0;
  const bool valid = rate >= 8000 && rate <= 48000 && channels >= 1 && channels <= 2;
  if (!none && !valid) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  // First byte: output format choice; second: piece size.
  static const int kRates[] = {0, 8000, 22050, 44100, 48000, 11025, 32000, 96000};
  const int rate = kRates[data[0] & 7];
  const int channels = (data[0] >> 3) & 3;
  const std::size_t piece = 64 + std::size_t{data[1]} * 73;
  data += 2;
  size -= 2;
  AudioDecoder d;
  if (rate != 0) (void)d.set_output_format(rate, channels);
  std::vector<std::int16_t> pcm(4608);
  int round = 0;
  for (std::size_t pos = 0; pos < size; pos += piece, ++round) {
    const std::size_t n = size - pos < piece ? size - pos : piece;
    if (d.input(data + pos, static_cast<int>(n)) != 0) break;
    const int total = d.get_output_total();
    if (total < 0 || total % 2 != 0) std::abort();
    const int got = d.output(pcm.data(), static_cast<int>(pcm.size()));
    if (got < 0 || got > static_cast<int>(pcm.size())) std::abort();
    check_format(d);
    if (round % 7 == 6) (void)d.re_start(0);
  }
  return 0;
}
