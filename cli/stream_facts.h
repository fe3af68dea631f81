#pragma once
// Facts about a file's video streams that the players and the probe do not hand out: the exact
// rate fraction of each stream header (dwRate / dwScale), its codec tag, and its index entries.

#include <cstdint>
#include <string>
#include <vector>

namespace avicli {

struct VideoFacts {
  std::uint32_t rate = 0;         // strh dwRate
  std::uint32_t scale = 0;        // strh dwScale
  std::uint32_t codec_tag = 0;    // strf biCompression (BI_RGB is 0)
  std::uint64_t frame_count = 0;  // index entries
  std::uint64_t key_frame_count = 0;
  std::vector<std::uint32_t> key_frames;  // frame numbers, only when asked for
};

// False when the file or the stream cannot be read.
bool read_video_facts(const std::string& file, int stream, bool want_key_frames, VideoFacts* out);

// The video or audio stream numbers of a file (empty when it does not open).
std::vector<int> video_stream_numbers(const std::string& file);
std::vector<int> audio_stream_numbers(const std::string& file);
// "0, 2" or "none".
std::string list_text(const std::vector<int>& numbers);

// "30000/1001" (reduced), or "0/0" when either is 0, as ffprobe writes a rate.
std::string rate_fraction(std::uint32_t rate, std::uint32_t scale);
// A FOURCC as ffprobe writes codec tags: printable characters as they are, others as "[N]".
std::string fourcc_string(std::uint32_t v);

}  // namespace avicli
