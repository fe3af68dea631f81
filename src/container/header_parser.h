#pragma once
// The second stage of reading a file: HeaderParser walks the headers through the RiffReader and
// yields the stream table and the chunk records the later stages find their data by. Below it,
// the decoding of the header structures ("avih", "strh", "strf", DVINFO) and of the DV type-1
// sound layout.
//
//   HeaderParser parser(riff);
//   std::optional<ParsedHeaders> h = parser.parse_avi(avih_record);   // or parse_wave()

#include <avikit/platform/win_types.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "container/riff_reader.h"
#include "container/stream_table.h"

namespace avikit::container {

struct ParsedHeaders {
  StreamTable table;
  std::vector<ChunkRecord> records;  // in file order, to follow the ones the caller holds
  bool dv_type1 = false;             // an "iavs" stream
  bool has_indx = false;             // a stream list holds an OpenDML "indx"
};

class HeaderParser {
 public:
  explicit HeaderParser(RiffReader& riff) : riff_(riff) {}
  HeaderParser(const HeaderParser&) = delete;
  HeaderParser& operator=(const HeaderParser&) = delete;

  // The stream lists of an AVI file, from its "avih" chunk on; nullopt when they are unusable.
  // The records end with "send", where the body scan starts.
  std::optional<ParsedHeaders> parse_avi(const ChunkRecord& avih);
  // A WAVE file, from its first chunk after the RIFF header: "fmt " and then "data", whose
  // record ("WAVE") gives where the samples lie. nullopt without both.
  std::optional<ParsedHeaders> parse_wave();

 private:
  std::uint32_t read_chunk_header(ChunkHeader& header);
  bool parse_stream_lists(ChunkHeader& in_hand, bool& have_header);
  bool parse_stream_header(std::uint32_t stream, ChunkHeader& header, bool& have_header);
  void parse_video_stream(std::uint32_t stream, const std::uint8_t* strh, ChunkHeader& next,
                          bool& have_next);
  void parse_audio_stream(std::uint32_t stream, ChunkHeader& next, bool& have_next);
  void parse_dv_stream(std::uint32_t stream, const std::uint8_t* strh, ChunkHeader& next,
                       bool& have_next);

  RiffReader& riff_;
  ParsedHeaders out_;
  // Chunk headers are bounded by the file's end once the table has its size.
  std::optional<std::uint64_t> file_end_;
};

}  // namespace avikit::container

namespace avikit::container::detail {

inline constexpr std::uint32_t kMainHeaderSize = 56;    // "avih"
inline constexpr std::uint32_t kStreamHeaderSize = 56;  // "strh", as far as it is read
// A chunk id names at most 256 streams (two hexadecimal digits); lists past that hold nothing.
inline constexpr std::uint32_t kMaxStreamLists = 256;
inline constexpr std::uint32_t kBitmapInfoSize = 40;
inline constexpr std::uint32_t kWaveFormatSize = 18;
inline constexpr std::uint16_t kWaveFormatExtensible = 0xFFFE;
// WAVEFORMATEXTENSIBLE: the 18 bytes above, then valid bits, channel mask and the SubFormat GUID.
inline constexpr std::uint32_t kWaveFormatExtensibleSize = 40;
inline constexpr std::uint32_t kDvInfoSize = 64;

// The "strh" fields the parse uses (missing bytes count as 0).
struct StreamHeader {
  std::uint32_t type = 0;         // fccType
  std::uint32_t handler = 0;      // fccHandler
  std::uint32_t scale = 0;        // dwScale
  std::uint32_t rate = 0;         // dwRate
  std::uint32_t start = 0;        // dwStart, in units of dwScale / dwRate
  std::uint32_t length = 0;       // dwLength
  std::int16_t frame_right = 0;   // rcFrame.right
  std::int16_t frame_bottom = 0;  // rcFrame.bottom
};

StreamHeader decode_stream_header(const std::uint8_t* data, std::size_t size);
platform::BITMAPINFOHEADER decode_bitmap_info(const std::uint8_t* data, std::size_t size);
// Up to kWaveFormatExtensibleSize bytes. An extensible format whose SubFormat is a plain format
// tag in the standard GUID frame comes back under that tag, so the rest of the module sees PCM,
// float, AC-3 or MPEG audio as such.
platform::WAVEFORMATEX decode_wave_format(const std::uint8_t* data, std::size_t size);

// dwRate / dwScale in single precision; 0 when dwScale is 0. With `limit_to_60`, rates above
// 60 frames per second are reported as 60.
float stream_frame_rate(std::uint32_t rate, std::uint32_t scale, bool limit_to_60);

// kbit/s from nAvgBytesPerSec: the bit count taken as 32-bit unsigned, times 0.001f.
float audio_kbit_rate(std::uint32_t avg_bytes_per_sec);

// The DV type-1 sound layout that the DVINFO block announces.
struct DvAudioLayout {
  std::uint32_t sample_rate = 0;  // 0 for an unknown sampling-frequency code
  bool known_rate = false;        // false: samples per 10 frames left unchanged
  std::int32_t samples_per_10_frames = 0;
  bool fifty_field = false;
  std::uint32_t channel2_offset = 0;
  std::vector<std::uint32_t> offsets;
};
DvAudioLayout dv_audio_layout(const std::uint8_t (&dvinfo)[kDvInfoSize]);

// Gives the sound record of a DV type-1 stream the format DVINFO announces, and `layout` the
// offsets of its samples.
void use_dv_sound_layout(AudioStreamRecord& sound, DvSoundLayout& layout,
                         const std::uint8_t (&dvinfo)[kDvInfoSize]);

}  // namespace avikit::container::detail
