#pragma once
// Output files of the command-line tool: PNG pictures and RIFF WAVE sound.

#include <cstdint>
#include <cstdio>
#include <string>

namespace avicli {

// Writes a top-down RGB PNG from rows of blue, green, red bytes (a Windows 24-bit bitmap's pixel
// order), `stride` bytes apart; bottom_up says the first row in memory is the bottom one.
bool write_png_from_bgr(const std::string& path, const std::uint8_t* pixels, int width, int height,
                        std::size_t stride, bool bottom_up);

// A RIFF WAVE file of 16-bit PCM written as samples arrive; the sizes are patched by finish().
// The path "-" is standard output, patched too when it is a file.
class WavWriter {
 public:
  WavWriter() = default;
  ~WavWriter();
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  bool open(const std::string& path, int sample_rate, int channels, bool with_header);
  bool write(const std::int16_t* samples, std::size_t count);
  bool finish();

 private:
  std::FILE* file_ = nullptr;
  bool header_ = false;
  std::uint64_t data_bytes_ = 0;
};

// Expands a printf-style pattern holding one %d (with optional flags and width, e.g. %04d).
// Returns false when the pattern does not hold exactly one such conversion.
bool format_frame_path(const std::string& pattern, int number, std::string* out);

}  // namespace avicli
