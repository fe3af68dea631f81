// AviBuilder: whole AVI files (AVI 1.0 and OpenDML) from stream descriptions and chunk lists.

#include <algorithm>

#include "support/avi_builder.h"

namespace avitest {
namespace {

constexpr std::uint32_t kAvifHasIndex = 0x10;
constexpr std::uint32_t kAvifIsInterleaved = 0x100;
constexpr std::uint32_t kIdx1KeyFrame = 0x10;
constexpr std::uint32_t kMaxGapSegment = 0xF0000000u;

bool is_odml(IndexKind k) { return k == IndexKind::kOdml || k == IndexKind::kOdmlAndIdx1; }

// RIFF AVIX segments holding nothing but a JUNK hole each.
void write_gap(RiffWriter& w, std::uint64_t bytes) {
  for (std::uint64_t left = bytes & ~std::uint64_t{1}, n = 0; left > 0; left -= n) {
    n = std::min<std::uint64_t>(left, kMaxGapSegment);
    const std::uint64_t riff = w.begin_list("RIFF", "AVIX"), movi = w.begin_list("LIST", "movi");
    const std::uint64_t junk = w.begin_chunk("JUNK");
    w.hole(n);
    for (const std::uint64_t mark : {junk, movi, riff}) w.end(mark);
  }
}

}  // namespace

int AviBuilder::add_video(const VideoStream& v) {
  const std::string h = v.handler != nullptr ? std::string(v.handler, 4) : std::string(4, '\0');
  const bool raw = v.compression == nullptr &&
                   (h == std::string(4, '\0') || h == "DIB " || h == "dib " || h == "    ");
  const BitmapFields b{
      .width = v.width, .height = v.height, .bit_count = v.bit_count, .compression = v.compression};
  return add({.strh = stream_header({.handler = v.handler, .scale = v.scale, .rate = v.rate}),
              .strf = v.write_strf ? std::optional(v.strf.value_or(bitmap_info(b) + v.strf_extra))
                                   : std::nullopt,
              .chunk_suffix = raw ? "db" : "dc",
              .length = v.length});
}

int AviBuilder::add_audio(const AudioStream& a) {
  const std::uint16_t align = std::max<std::uint16_t>(
      a.block_align != 0 ? a.block_align : static_cast<std::uint16_t>(a.channels * a.bits / 8), 1);
  return add(
      {.strh = stream_header(
           {.type = "auds", .handler = nullptr, .scale = align, .rate = a.sample_rate * align}),
       .strf = a.write_strf ? std::optional(wave_format(a)) : std::nullopt,
       .chunk_suffix = "wb"});
}

int AviBuilder::add_dv(const DvStream& d) {
  return add({.strh = stream_header({.type = "iavs",
                                     .handler = "dvsd",
                                     .scale = d.scale,
                                     .rate = d.rate,
                                     .frame_right = d.width,
                                     .frame_bottom = d.height}),
              // DVINFO: the sampling-frequency code in dwDVAAuxSrc's top byte, the 50-field flag
              // in dwDVVAuxSrc's third.
              .strf = std::string(3, '\0') + static_cast<char>((d.sampling_code & 7u) << 3) +
                      std::string(14, '\0') + static_cast<char>(d.fifty_field ? 0x20 : 0) +
                      std::string(13, '\0'),
              .chunk_suffix = "__",
              .length = d.length});
}

int AviBuilder::add_stream(const char* type, const std::string& strf) {
  return add({.strh = stream_header({.type = type, .handler = nullptr, .scale = 1, .rate = 1}),
              .strf = strf,
              .chunk_suffix = "xx"});
}

AviBuilder& AviBuilder::add_chunk(int stream, std::uint32_t size, bool key, std::string data,
                                  const char* id) {
  data.resize(size, '\0');
  chunks_.push_back({static_cast<std::size_t>(stream), key, std::move(data),
                     id != nullptr ? std::string(id, 4) : chunk_id(stream)});
  ++streams_.at(static_cast<std::size_t>(stream)).chunk_count;
  return *this;
}

AviBuilder& AviBuilder::add_frames(int stream, int count, std::uint32_t size, int key_every) {
  for (int i = 0; i < count; ++i) add_chunk(stream, size, key_every > 0 && i % key_every == 0);
  return *this;
}

std::string AviBuilder::chunk_id(int stream) const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  return std::string{kHex[(stream >> 4) & 0xF], kHex[stream & 0xF]} +
         streams_.at(static_cast<std::size_t>(stream)).chunk_suffix;
}

void AviBuilder::write_headers(RiffWriter& w, AviLayout& layout,
                               const std::vector<std::uint32_t>& ix_chunks) const {
  const std::uint64_t hdrl = w.begin_list("LIST", "hdrl");
  const std::uint32_t frames = streams_.empty() ? 0 : streams_[0].chunk_count;
  std::string avih;
  // dwMicroSecPerFrame, dwMaxBytesPerSec, dwPaddingGranularity, dwFlags, dwTotalFrames,
  // dwInitialFrames, dwStreams, then buffer size, width, height and reserved words, all 0.
  for (std::uint32_t v :
       {40000u, 0u, 0u, index_ == IndexKind::kNone ? 0 : kAvifHasIndex | kAvifIsInterleaved, frames,
        0u, main_streams_.value_or(static_cast<std::uint32_t>(streams_.size()))}) {
    put_u32(avih, v);
  }
  avih.append(28, '\0');
  layout.avih_data = w.chunk("avih", avih) + 8;
  for (std::size_t i = 0; i < streams_.size(); ++i) {
    const Stream& s = streams_[i];
    const std::uint64_t strl = w.begin_list("LIST", "strl");
    std::string strh = s.strh;
    patch_u32(strh, 32, s.length.value_or(s.chunk_count));  // dwLength
    layout.strh_data.push_back(w.chunk("strh", strh) + 8);
    if (s.strf) w.chunk("strf", *s.strf);
    const std::uint32_t ix = ix_chunks[i];
    layout.indx_data.push_back(
        ix > 0 ? w.chunk("indx", std::string(24 + 16 * std::max(ix, indx_room_), '\0')) + 8 : 0);
    w.bytes(s.extra);
    w.end(strl);
  }
  if (is_odml(index_)) {
    const std::uint64_t odml = w.begin_list("LIST", "odml");
    w.chunk("dmlh", le(frames, 4) + std::string(244, '\0'));
    w.end(odml);
  }
  w.end(hdrl);
}

AviLayout AviBuilder::write(RiffWriter& w) const {
  AviLayout layout;
  const bool odml = is_odml(index_);
  const auto segment_of = [&](std::size_t chunk) -> std::size_t {
    return odml && per_segment_ > 0 ? chunk / per_segment_ : 0;
  };
  // Per segment and stream, the chunks it holds; per stream, the ix## chunks indexing them.
  std::vector<std::vector<std::vector<std::size_t>>> mine(
      chunks_.empty() ? 1 : segment_of(chunks_.size() - 1) + 1,
      std::vector<std::vector<std::size_t>>(streams_.size()));
  for (std::size_t i = 0; i < chunks_.size(); ++i)
    mine[segment_of(i)][chunks_[i].stream].push_back(i);
  std::vector<std::uint32_t> ix_chunks(streams_.size(), 0);
  for (std::size_t s = 0; odml && s < streams_.size(); ++s) {
    for (const auto& seg : mine)
      ix_chunks[s] += static_cast<std::uint32_t>((seg[s].size() + per_ix_ - 1) / per_ix_);
  }
  layout.data_positions.resize(streams_.size());
  std::vector<std::string> super(streams_.size());  // per stream: its super index entries
  std::vector<std::uint64_t> headers(chunks_.size());

  std::uint64_t riff = w.begin_list("RIFF", "AVI ");
  write_headers(w, layout, ix_chunks);
  w.bytes(before_movi_);
  for (std::size_t index = 0, next = 0; index < mine.size(); ++index) {
    if (index > 0) riff = w.begin_list("RIFF", "AVIX");
    // The segment's "movi" list, and its data: the base of its ix## chunks.
    const std::uint64_t movi = w.begin_list("LIST", "movi"), base = movi + 8;
    if (index == 0) layout.movi_list = movi;
    std::string idx1;  // written after the first segment only
    for (; next < chunks_.size() && segment_of(next) == index; ++next) {
      const Chunk& c = chunks_[next];
      const std::uint64_t h = headers[next] = w.chunk(c.id.c_str(), c.data);
      layout.data_positions[c.stream].push_back(h + 8);
      const std::uint64_t off = index_ == IndexKind::kIdx1Absolute ? h : h - base;
      idx1 += le(fourcc_value(c.id.c_str()), 4) + le(c.key ? kIdx1KeyFrame : 0, 4) + le(off, 4) +
              le(c.data.size(), 4);
    }
    // The ix## chunks of the segment, `per_ix_` entries each, stream by stream. Each:
    // wLongsPerEntry with AVI_INDEX_OF_CHUNKS, the entries in use, the chunk id, the base offset,
    // a reserved long; then per entry the offset from the base to the data and the size (bit 31
    // for a non-key frame) in 2 or 3 longs (a zero last), or in 6 (offset, 0, size, 0, 0, 0).
    // `super` gets the super index entry of each: offset, size with header, duration.
    for (std::size_t s = 0; odml && s < streams_.size(); ++s) {
      const std::vector<std::size_t>& list = mine[index][s];
      const std::string id = chunk_id(static_cast<int>(s));
      for (std::size_t k = 0; k < list.size(); k += per_ix_) {
        const std::size_t n = std::min<std::size_t>(per_ix_, list.size() - k);
        std::string ix = le(ix_longs_ | 1u << 24, 4) + le(n, 4) + le(fourcc_value(id.c_str()), 4) +
                         le(base, 8) + le(0, 4);
        for (std::size_t j = k; j < k + n; ++j) {
          const Chunk& c = chunks_[list[j]];
          const std::uint64_t offset = headers[list[j]] + 8 - base;
          ix += ix_longs_ == 6
                    ? le(offset, 4) + le(0, 4) + le(c.data.size(), 4) + std::string(12, '\0')
                    : le(offset, 4) + le(c.data.size() | (c.key ? 0u : 0x80000000u), 4) +
                          le(0, ix_longs_ == 3 ? 4 : 0);
        }
        const std::uint64_t at = w.chunk(("ix" + id.substr(0, 2)).c_str(), ix);
        layout.ix_headers.push_back(at);
        super[s] += le(at, 8) + le(ix.size() + 8, 4) + le(n, 4);
      }
    }
    w.end(movi);
    if (index == 0 && index_ != IndexKind::kNone && index_ != IndexKind::kOdml) {
      layout.idx1_header = w.chunk("idx1", idx1);
    }
    w.end(riff);
    if (index == 0) write_gap(w, gap_);
  }
  // Into each "indx" (zeros as reserved): wLongsPerEntry 4 with AVI_INDEX_OF_INDEXES, the entries
  // in use, the chunk id, 12 reserved bytes, the entries.
  for (std::size_t s = 0; s < streams_.size(); ++s) {
    if (layout.indx_data[s] == 0) continue;
    const std::string id = chunk_id(static_cast<int>(s));
    w.patch(layout.indx_data[s], le(4, 4) + le(super[s].size() / 16, 4) +
                                     le(fourcc_value(id.c_str()), 4) + std::string(12, '\0') +
                                     super[s]);
  }
  return layout;
}

BuiltAvi AviBuilder::build() const {
  RiffWriter w;
  AviLayout layout = write(w);
  return {w.str(), std::move(layout)};
}

std::optional<AviLayout> AviBuilder::write_file(const std::string& path) const {
  RiffWriter w;
  AviLayout layout = write(w);
  return w.write_sparse(path) ? std::optional(std::move(layout)) : std::nullopt;
}

std::vector<std::string> dv_frames(const std::string& raw, bool fifty_field, std::size_t max) {
  const std::size_t n = fifty_field ? 144000 : 120000;
  std::vector<std::string> out;
  for (std::size_t p = 0; p + n <= raw.size() && out.size() < max; p += n)
    out.push_back(raw.substr(p, n));
  return out;
}

AviBuilder dv_type1(const std::vector<std::string>& frames, bool fifty_field) {
  AviBuilder b;
  const int s = b.add_dv({.rate = fifty_field ? 25u : 30000u,
                          .scale = fifty_field ? 1u : 1001u,
                          .fifty_field = fifty_field});
  for (const std::string& f : frames) b.add_chunk(s, static_cast<std::uint32_t>(f.size()), true, f);
  return b;
}

std::uint64_t fnv1a(const void* data, std::size_t n) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  std::uint64_t h = 1469598103934665603ull;
  for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

}  // namespace avitest
