#include "cli/stream_facts.h"

#include <cctype>
#include <cstring>
#include <fstream>
#include <numeric>
#include <tuple>

#include "container/avi_container.h"

using namespace avikit;

namespace avicli {
namespace {

std::uint32_t le32(const char* p) {
  const auto* b = reinterpret_cast<const unsigned char*>(p);
  return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
         std::uint32_t{b[3]} << 24;
}

struct Rate {
  std::uint32_t rate = 0;
  std::uint32_t scale = 0;
};

// dwRate and dwScale of each "strl" list's "strh", in stream order (RIFF AVI: "LIST" "hdrl"
// holds the stream lists; strh has dwScale at byte 20 and dwRate at byte 24).
std::vector<Rate> stream_rates(const std::string& file) {
  std::vector<Rate> rates;
  std::ifstream in(file, std::ios::binary);
  char h[12];
  if (!in.read(h, 12) || std::memcmp(h, "RIFF", 4) != 0 || !in.read(h, 12) ||
      std::memcmp(h, "LIST", 4) != 0 || std::memcmp(h + 8, "hdrl", 4) != 0) {
    return rates;
  }
  const std::uint64_t end = 20 + std::uint64_t{le32(h + 4)};
  std::uint64_t pos = 24;
  for (int guard = 0; guard < 4096 && pos + 8 <= end; ++guard) {
    in.seekg(static_cast<std::streamoff>(pos));
    if (!in.read(h, 12)) break;
    const std::uint64_t size = le32(h + 4);
    if (std::memcmp(h, "LIST", 4) == 0 && std::memcmp(h + 8, "strl", 4) == 0) {
      char strh[8 + 28] = {};
      Rate r;
      if (in.read(strh, sizeof strh) && std::memcmp(strh, "strh", 4) == 0) {
        r.scale = le32(strh + 8 + 20);
        r.rate = le32(strh + 8 + 24);
      }
      rates.push_back(r);
    }
    pos += 8 + size + (size & 1);
  }
  return rates;
}

// Counts come from a probe container, which keeps figures only, and has them for every stream
// after one pass over the index: the probe asks for each video stream of a file in turn, so the
// last file's container answers again.
AviContainer* counting_container(const std::string& file) {
  static std::string held;
  static AviContainer c(false);
  if (held != file || c.file_name() == nullptr) {
    held = file;
    if (c.open(file.c_str()) == 0) return nullptr;
  }
  return &c;
}

}  // namespace

bool read_video_facts(const std::string& file, int stream, bool want_key_frames, VideoFacts* out) {
  // The entries themselves are stored only when the key frames are listed.
  AviContainer lister(true);
  AviContainer* c = want_key_frames ? &lister : counting_container(file);
  if (c == &lister && lister.open(file.c_str()) == 0) c = nullptr;
  if (c == nullptr || c->select_video_stream(stream) == 0 || c->load_index() == 0) return false;
  VideoFacts f;
  const std::vector<Rate> rates = stream_rates(file);
  if (stream >= 0 && static_cast<std::size_t>(stream) < rates.size()) {
    f.rate = rates[static_cast<std::size_t>(stream)].rate;
    f.scale = rates[static_cast<std::size_t>(stream)].scale;
  }
  if (const platform::BITMAPINFOHEADER* bih = c->video_format()) f.codec_tag = bih->biCompression;
  std::tie(f.frame_count, f.key_frame_count) = c->video_index_counts();
  if (const ChunkIndex* index = c->video_index()) {
    for (std::size_t i = 0; i < index->entries.size(); ++i)
      if (index->entries[i].key != 0) f.key_frames.push_back(static_cast<std::uint32_t>(i));
  }
  *out = std::move(f);
  return true;
}

namespace {

std::vector<int> stream_numbers(const std::string& file, bool video) {
  AviContainer c(false);
  std::vector<int> out;
  if (c.open(file.c_str()) == 0) return out;
  std::uint32_t list[32] = {};
  const int n = video ? c.video_stream_numbers(list, 32) : c.audio_stream_numbers(list, 32);
  for (int i = 0; i < n; ++i) out.push_back(static_cast<int>(list[i]));
  return out;
}

}  // namespace

std::vector<int> video_stream_numbers(const std::string& file) {
  return stream_numbers(file, true);
}
std::vector<int> audio_stream_numbers(const std::string& file) {
  return stream_numbers(file, false);
}

std::string list_text(const std::vector<int>& numbers) {
  std::string s;
  for (int n : numbers) s += (s.empty() ? "" : ", ") + std::to_string(n);
  return s.empty() ? "none" : s;
}

std::string rate_fraction(std::uint32_t rate, std::uint32_t scale) {
  if (rate == 0 || scale == 0) return "0/0";
  const std::uint32_t g = std::gcd(rate, scale);
  return std::to_string(rate / g) + "/" + std::to_string(scale / g);
}

std::string fourcc_string(std::uint32_t v) {
  std::string s;
  for (int k = 0; k < 4; ++k) {
    const auto c = static_cast<unsigned char>((v >> (8 * k)) & 0xFF);
    if (std::isalnum(c) || c == '.' || c == '_' || c == ' ' || c == '-') {
      s.push_back(static_cast<char>(c));
    } else {
      s += "[" + std::to_string(c) + "]";
    }
  }
  return s;
}

}  // namespace avicli
