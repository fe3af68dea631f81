// The index of a file that has none, or whose index is unusable (a recording cut short, an idx1
// never written or pointing at garbage): rebuilt by walking the "movi" lists of the first RIFF and
// of every RIFF "AVIX" segment after it, chunk header by chunk header.
#include <avikit/platform/vfw.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "container/byte_cursor.h"
#include "container/fourccs.h"
#include "container/index_loader.h"
#include "hostlib/avcodec_driver.h"

namespace avikit {

namespace container::detail {

namespace {

// Offsets of the Annex B start codes (00 00 01) in `data`, one at a time.
std::size_t next_start_code(std::span<const std::uint8_t> data, std::size_t from) {
  for (std::size_t i = from; i + 3 < data.size(); ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return i + 3;
  }
  return data.size();
}

}  // namespace

bool mpeg4_chunk_is_key(std::span<const std::uint8_t> data) {
  // 00 00 01 B6 starts a VOP; the two bits after it are vop_coding_type (0 = I).
  for (std::size_t at = next_start_code(data, 0); at < data.size();
       at = next_start_code(data, at)) {
    if (data[at] == 0xB6) return at + 1 < data.size() && (data[at + 1] >> 6) == 0;
  }
  return false;
}

bool h264_chunk_is_key(std::span<const std::uint8_t> data) {
  for (std::size_t at = next_start_code(data, 0); at < data.size();
       at = next_start_code(data, at)) {
    const unsigned type = data[at] & 0x1Fu;
    if (type == 5) return true;   // IDR slice
    if (type == 1) return false;  // a non-IDR slice came first
  }
  return false;
}

}  // namespace container::detail

namespace container {

using namespace detail;

namespace {

constexpr std::uint32_t kJunk = fourcc("JUNK");
constexpr std::uint32_t kRec = fourcc("rec ");
constexpr std::uint32_t kAvix = fourcc("AVIX");
// Enough of a chunk to pass the headers that precede the first picture (VOL, SPS, PPS, SEI).
constexpr std::uint32_t kKeyPeekBytes = 1024;

enum class KeyRule { kEvery, kMpeg4, kH264, kUnknown };

constexpr std::array<std::uint32_t, 16> kMpeg4Part2 = {
    fourcc("DIVX"), fourcc("DX50"), fourcc("XVID"), fourcc("FMP4"), fourcc("MP4V"), fourcc("M4S2"),
    fourcc("MP4S"), fourcc("3IV2"), fourcc("DM4V"), fourcc("UMP4"), fourcc("RMP4"), fourcc("SEDG"),
    fourcc("WV1F"), fourcc("BLZ0"), fourcc("XVIX"), fourcc("DIGI")};
constexpr std::array<std::uint32_t, 6> kH264 = {
    fourcc("H264"), fourcc("X264"), fourcc("AVC1"), fourcc("DAVC"), fourcc("VSSH"), fourcc("AVC "),
};

bool listed(std::uint32_t v, std::span<const std::uint32_t> list) {
  return std::find(list.begin(), list.end(), upper_fourcc(v)) != list.end();
}

bool printable_id(const std::uint8_t* b) {
  for (int i = 0; i < 4; ++i) {
    if (b[i] < 0x20 || b[i] > 0x7E) return false;
  }
  return true;
}

// The libavcodec driver knows which codecs code every picture on its own (MJPEG and the like).
bool codec_is_intra_only(std::uint32_t handler, const platform::BITMAPINFOHEADER& format) {
  platform::BITMAPINFOHEADER probe = format;
  for (std::uint32_t code : {format.biCompression, handler}) {
    if (code == 0) continue;
    platform::HIC ic = platform::ICOpen(platform::ICTYPE_VIDEO, code, platform::ICMODE_DECOMPRESS);
    if (ic == nullptr) continue;
    probe.biCompression = code;
    const bool intra = platform::ICSendMessage(ic, hostlib::ICM_AVK_IS_INTRA_ONLY,
                                               reinterpret_cast<platform::DWORD_PTR>(&probe),
                                               0) == platform::ICERR_OK;
    platform::ICClose(ic);
    if (intra) return true;
  }
  return false;
}

}  // namespace

// Key frames come from the data only: a frame no rule knows to be a key frame is not one.
void IndexLoader::rebuild_index(IndexPlan& plan, const ChunkRecord& movi) {
  const std::uint64_t file_size = table_.file_size;
  KeyRule video_rule = KeyRule::kEvery;
  if (const VideoStreamRecord* v = streams_.selected_video_record()) {
    const std::uint32_t c = v->format.biCompression;
    // BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS: pixels stored as they are, every frame whole.
    if (options_.dv_type1 || c <= 3 || upper_fourcc(v->handler) == kDvsdUpper ||
        upper_fourcc(c) == kDvsdUpper) {
      video_rule = KeyRule::kEvery;
    } else if (listed(c, kMpeg4Part2) || listed(v->handler, kMpeg4Part2)) {
      video_rule = KeyRule::kMpeg4;
    } else if (listed(c, kH264) || listed(v->handler, kH264)) {
      video_rule = KeyRule::kH264;
    } else {
      video_rule = codec_is_intra_only(v->handler, v->format) ? KeyRule::kEvery : KeyRule::kUnknown;
    }
  }
  std::array<std::uint8_t, kKeyPeekBytes> peek{};
  auto key_of = [&](std::int32_t s, std::uint64_t data, std::uint32_t size) -> std::uint32_t {
    if (static_cast<std::uint32_t>(s) != plan.video_stream) return kIdx1KeyFrame;
    if (video_rule == KeyRule::kEvery) return kIdx1KeyFrame;
    if (video_rule == KeyRule::kUnknown || size == 0) return 0;
    const std::uint32_t got = riff_.read_at(data, peek.data(), std::min(size, kKeyPeekBytes));
    const std::span<const std::uint8_t> bytes(peek.data(), got);
    const bool key =
        video_rule == KeyRule::kMpeg4 ? mpeg4_chunk_is_key(bytes) : h264_chunk_is_key(bytes);
    return key ? kIdx1KeyFrame : 0;
  };

  // The chunks of one "movi" list, [from, to). A "rec " list is entered (its chunks are the
  // stream's); any other list, JUNK, ix## and idx1 are passed over. The walk ends at the list's
  // end or at the first header that is not one: the cut of a recording.
  auto walk = [&](std::uint64_t from, std::uint64_t to) {
    std::uint64_t pos = from;
    while (pos < to && to - pos >= 8) {
      std::uint8_t b[12];
      if (riff_.read_at(pos, b, 8) != 8) return;
      if (b[0] == 0 && pos + 1 < to) {  // a pad byte a writer did not count
        ++pos;
        continue;
      }
      if (!printable_id(b)) return;
      const std::uint32_t id = le32(b);
      const std::uint32_t size = le32(b + 4);
      if (id == kList) {
        if (riff_.read_at(pos + 8, b + 8, 4) != 4) return;
        if (le32(b + 8) == kRec) {
          pos += 12;
          continue;
        }
      } else if (id != kJunk && id != kIdx1 && (id & 0xFFFF) != (fourcc("ix00") & 0xFFFF)) {
        const std::int32_t s = chunk_stream_number(id, plan.declared);
        ChunkIndex* target = plan.open_target(s);
        if (target != nullptr && is_palette_change(id)) {
          target->append_palette_change(pos + 8, size_in_file(pos + 8, size, file_size));
        } else if (target != nullptr) {
          note_short_chunk(plan, s, size);
          target->append(pos + 8, size_in_file(pos + 8, size, file_size), key_of(s, pos + 8, size));
        }
      }
      const std::uint64_t step = 8 + std::uint64_t{size} + (size & 1u);
      if (step > to - pos) return;
      pos += step;
    }
  };

  // The first RIFF ends where its size says, unless that says nothing usable (0, or past the
  // file: a recording never closed); then it runs to the end of the file.
  std::uint8_t riff[8];
  std::uint64_t riff_end = file_size;
  if (riff_.read_at(0, riff, 8) == 8) {
    const std::uint64_t declared_end = 8 + std::uint64_t{le32(riff + 4)};
    const std::uint64_t movi_end = movi.position + movi.size;
    if (declared_end >= movi_end && declared_end <= file_size) riff_end = declared_end;
  }
  walk(movi.position, movi.position + movi.size);
  // OpenDML segments: "RIFF" "AVIX" holding a "LIST" "movi" each. Every step moves on by a whole
  // chunk, so the walk ends with the file.
  std::uint64_t pos = riff_end + (riff_end & 1u);
  while (pos < file_size && file_size - pos >= 12) {
    std::uint8_t h[12];
    if (riff_.read_at(pos, h, 12) != 12 || le32(h) != kRiff || le32(h + 8) != kAvix) return;
    const std::uint64_t end =
        std::min<std::uint64_t>(pos + 8 + std::uint64_t{le32(h + 4)}, file_size);
    std::uint64_t at = pos + 12;
    while (at < end && end - at >= 12) {
      if (riff_.read_at(at, h, 12) != 12) return;
      const std::uint32_t size = le32(h + 4);
      if (le32(h) == kList && le32(h + 8) == kMovi) {
        walk(at + 12, std::min<std::uint64_t>(at + 8 + std::uint64_t{size}, end));
        break;
      }
      at += 8 + std::uint64_t{size} + (size & 1u);
    }
    pos = end + (end & 1u);
  }
}

}  // namespace container

}  // namespace avikit
