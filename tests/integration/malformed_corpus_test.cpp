// Real files damaged in every way a broken disk, a cut download or a hostile writer produces:
// cut at every chunk boundary and inside chunks, header sizes and counts overwritten, index
// entries bent, DV frames scribbled over. Each variant must probe and play without a crash or a
// hang, and every frame and sound block that the damage cannot have reached must be exactly the
// one the undamaged file gives.
//
// "Cannot have reached" is worked out from the damaged file's own index as the container loads
// it: a frame is compared when its decoding chain (from its key frame to itself) is the same run
// of chunks as some frame of the undamaged file, each chunk lying wholly inside the file and
// clear of the damaged bytes, and the stream formats are unchanged. Sound is compared over the
// leading run of chunks that is unchanged.

#include <avikit/avi_audio_player.h>
#include <avikit/avi_file_info.h>
#include <avikit/avi_video_player.h>
#include <avikit/platform/vfw.h>
#include <avikit/sound_frame.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "container/avi_container.h"
#include "platform/files.h"
#include "support/avi_builder.h"
#include "support/test_paths.h"

using namespace avikit;

namespace {

constexpr std::size_t kBlockFrames = 1152;   // sample frames in one sound block
constexpr std::size_t kExtraBlocks = 6;      // blocks asked for past the undamaged count
constexpr std::size_t kMaxTruncations = 90;  // cut points per file, sampled evenly

// --- The RIFF tree of an undamaged file ---------------------------------------------------------
struct Node {
  std::uint64_t start = 0;  // chunk header
  std::uint64_t data = 0;   // first byte after the header (after the list type for lists)
  std::uint64_t end = 0;    // past the data and its pad byte
  std::string id;
};

void walk(const std::string& b, std::uint64_t pos, std::uint64_t end, std::vector<Node>& out,
          int depth = 0) {
  while (depth < 8 && pos < end && end - pos >= 8) {
    const std::uint64_t size = avitest::fourcc_value(&b[pos + 4]);
    Node n{pos, pos + 8, std::min<std::uint64_t>(end, pos + 8 + size + (size & 1)),
           b.substr(pos, 4)};
    const bool list = n.id == "RIFF" || n.id == "LIST";
    if (list && size >= 4) n.data += 4;  // past the list type
    out.push_back(n);
    if (list) walk(b, n.data, n.end, out, depth + 1);
    pos = n.end;
  }
}

// --- What the probe, the container and the players make of a file ------------------------------
struct Reading {
  bool opened = false;
  std::vector<IndexEntry> video, audio;
  std::vector<double> video_format, audio_format;  // the fields that shape decoding; empty: none
  platform::WAVEFORMATEX wfx{};
  bool dv_type1 = false;
  std::int32_t dv_samples_per_10_frames = 0;
  std::vector<std::uint64_t> frames;  // per frame number; 0 when not delivered
  std::vector<std::uint64_t> blocks;  // sound blocks from the start
};

// Probes the file (which must give one of its documented answers), plays every frame in order and
// the sound up to `max_blocks` (or its end); no file handle or codec may be left open after.
Reading read(const std::string& file_name, const std::string& bytes, std::size_t max_frames,
             std::size_t max_blocks) {
  const avitest::MemoryFile mem(file_name, bytes);
  Reading r;
  AviFileInfo info;
  std::uint32_t status[2] = {0, 0};
  const int probed = info.open(mem.file(), status);
  EXPECT_TRUE(probed == 0 || probed == 1 || probed == 11 || probed == 12 || probed == 13) << probed;
  EXPECT_GE(info.get_length(), 0.0);
  if (AviContainer c(true); c.open(mem.file()) == 1) {
    r.opened = true;
    if (const ChunkIndex* v = c.video_index()) r.video = v->entries;
    if (const ChunkIndex* a = c.audio_index()) r.audio = a->entries;
    r.dv_type1 = c.is_dv_type1() != 0;
    r.dv_samples_per_10_frames = c.dv_samples_per_10_frames();
    const auto d = [](auto v) { return static_cast<double>(v); };
    if (const platform::BITMAPINFOHEADER* x = c.video_format()) {
      r.video_format = {
          d(c.video_handler_fourcc()), d(x->biWidth),   d(x->biHeight), d(x->biBitCount),
          d(x->biCompression),         d(x->biClrUsed), d(r.dv_type1)};
    }
    if (const platform::WAVEFORMATEX* x = c.audio_format()) {
      r.wfx = *x;
      r.audio_format = {d(x->wFormatTag),      d(x->nChannels),   d(x->nSamplesPerSec),
                        d(x->nAvgBytesPerSec), d(x->nBlockAlign), d(x->wBitsPerSample),
                        d(r.dv_type1),         c.audio_length(),  d(r.dv_samples_per_10_frames)};
    }
  }
  if (AviVideoPlayer v; v.open(mem.file(), -1) == 0) {
    for (int f = 0; f < std::min(static_cast<int>(max_frames), v.get_total_frames()); ++f) {
      v.seek(f, 1);
      const char* pixels = v.get_frame_dib_data();
      const VideoInfo* vi = v.get_video_info();
      const int pitch = v.get_frame_dib_pitch();
      const bool shown = v.get_frame_offset() == f && pixels != nullptr && vi != nullptr &&
                         vi->height > 0 && pitch > 0;
      r.frames.push_back(shown ? avitest::fnv1a(pixels, static_cast<std::size_t>(pitch) *
                                                            static_cast<std::size_t>(vi->height))
                               : 0);
    }
    v.get_frame();  // the Image path over whatever the last move left
  }
  if (AviAudioPlayer a; a.open(mem.file()) == 0) {
    for (std::size_t k = 0; k < max_blocks && a.is_end() == 0; ++k) {
      const SoundFrame* s = a.get_next_sound();
      r.blocks.push_back(
          s == nullptr
              ? 0
              : avitest::fnv1a(s->get_pcm(), static_cast<std::size_t>(s->get_sample_count()) * 2));
    }
    a.get_next_sound();  // past the end: silence, never a read past the stream
  }
  EXPECT_EQ(platform::open_file_handles(), 0);
  EXPECT_EQ(platform::ic_open_instances(), 0);
  return r;
}

// --- Variants -----------------------------------------------------------------------------------
struct Variant {
  std::string label;
  std::string bytes;
  std::pair<std::uint64_t, std::uint64_t> damaged = {0, 0};  // [from, to) overwritten
};

bool intact(const Variant& v, const IndexEntry& e) {
  const std::uint64_t size = v.bytes.size();
  if (e.position < 8 || e.position > size || e.size > size - e.position) return false;
  return e.position >= v.damaged.second || v.damaged.first >= e.position + e.size;
}

bool same_entry(const IndexEntry& a, const IndexEntry& b) {
  return a.position == b.position && a.size == b.size;
}

// The undamaged frame that damaged frame n must equal, or -1 when the damage may have reached it.
std::int64_t reference_frame(const Variant& v, const Reading& d, const Reading& o, std::size_t n) {
  if (d.video_format.empty() || d.video_format != o.video_format || n >= d.video.size() ||
      d.video[n].size == 0)
    return -1;
  std::size_t key = n, m = 0;  // m: where the frame's chunk is in the undamaged file
  while (key > 0 && d.video[key].key == 0) --key;
  while (m < o.video.size() && !same_entry(o.video[m], d.video[n])) ++m;
  if (d.video[key].key == 0 || m == o.video.size() || m < n - key ||
      o.video[m - (n - key)].key == 0)
    return -1;
  for (std::size_t i = key; i <= n; ++i) {
    const IndexEntry& o_entry = o.video[m - (n - i)];
    if (!same_entry(d.video[i], o_entry) || !intact(v, d.video[i])) return -1;
    if (i > key && o_entry.key != 0) return -1;  // the undamaged run starts later
  }
  return static_cast<std::int64_t>(m);
}

// How many leading sound blocks the damage cannot have reached.
std::size_t intact_blocks(const Variant& v, const Reading& d, const Reading& o) {
  if (d.audio_format.empty() || d.audio_format != o.audio_format) return 0;
  const std::vector<IndexEntry>& dsrc = d.dv_type1 ? d.video : d.audio;
  const std::vector<IndexEntry>& osrc = o.dv_type1 ? o.video : o.audio;
  std::size_t run = 0;
  std::uint64_t bytes = 0;
  while (run < dsrc.size() && run < osrc.size() && same_entry(dsrc[run], osrc[run]) &&
         intact(v, dsrc[run])) {
    bytes += dsrc[run].size;
    ++run;
  }
  std::uint64_t samples = 0, margin = 0;  // margin: blocks a decoder may hold back
  if (d.dv_type1) {
    // DV sound is decoded ten frames at a time, and a group with a frame missing or of the
    // wrong size is lost whole.
    if (run < osrc.size()) run = run / 10 * 10;
    samples = run * static_cast<std::uint64_t>(std::max(0, d.dv_samples_per_10_frames)) / 10;
    margin = 1;
  } else if (d.wfx.wFormatTag == 1 && d.wfx.nBlockAlign != 0) {
    samples = bytes / d.wfx.nBlockAlign;
  } else if (d.wfx.nAvgBytesPerSec != 0) {
    samples = bytes * d.wfx.nSamplesPerSec / d.wfx.nAvgBytesPerSec;
    margin = 4;
  }
  const std::uint64_t blocks = samples / kBlockFrames;
  return blocks > margin ? static_cast<std::size_t>(blocks - margin) : 0;
}

// Little-endian fields of the chunks, each set to every value of its row: the chunks ("ix##" for
// every standard index, "idx1[]" for some of the idx1 entries), the offsets from the chunk's data
// (from the list type for lists; the size is at -4), the width, the values, and what a value is
// added to (the field itself, for 32-bit fields only; the chunk's position; the file's size) or
// xored into.
enum class Op { kSet, kAdd, kXor, kChunk, kFileSize };
struct FieldDamage {
  std::vector<std::string> chunks;
  std::vector<std::int64_t> offsets;
  unsigned width;
  std::vector<std::uint64_t> values;
  Op op = Op::kSet;
};
// The chunks and lists whose sizes are bent ("rec " lists in "movi" are left alone).
const std::vector<std::string> kHeaders = {"avih", "strh", "strf", "indx", "idx1", "RIFF", "LIST"};
const FieldDamage kFieldDamage[] = {
    {kHeaders, {-4}, 4, {0, 1, 0x7FFFFFFF, 0xFFFFFFFF}},
    {kHeaders, {-4}, 4, {0xFFFFFFFF, 9}, Op::kAdd},  // a byte short, nine over
    {{"avih"}, {0, 16, 24, 28, 32, 36}, 4, {0, 33, 0x80000000, 0xFFFFFFFF}},
    {{"strh"}, {0, 20, 24, 32, 36, 44}, 4, {0, 0xFFFFFFFF}},
    {{"strf"}, {0, 4, 8, 16, 20, 32}, 4, {0, 0xFFFFFFFF}},
    {{"strf"}, {2, 12, 14, 16}, 2, {0, 8, 0xFFFF}},  // WAVEFORMATEX words; biBitCount at 14
    {{"indx", "ix##"}, {0}, 2, {0, 3, 6}},           // wLongsPerEntry
    {{"indx", "ix##"}, {2}, 2, {0x0100}},            // the type bytes swapped
    {{"indx", "ix##"}, {4}, 4, {0, 0x10000000, 0xFFFFFFFF}},  // nEntriesInUse
    {{"indx"}, {32}, 4, {0, 8, 0xFFFFFFFF}},                  // first entry's size
    // The first entry pointing at the file start, at the super index itself and past the end.
    {{"indx"}, {24}, 8, {0}},
    {{"indx"}, {24}, 8, {0}, Op::kChunk},
    {{"indx"}, {24}, 8, {64}, Op::kFileSize},
    // The base offset, low and high, and the first entry's offset, size and key flag.
    {{"ix##"}, {12, 16, 24, 28}, 4, {0, 0x7FFFFFFF, 0xFFFFFFFF}},
    {{"ix##"}, {28}, 4, {1u << 31}, Op::kXor},
    {{"idx1[]"}, {0}, 4, {avitest::fourcc_value("99dc"), avitest::fourcc_value("01wb")}},  // ckid
    {{"idx1[]"}, {4}, 4, {0x10}, Op::kXor},                             // the key flag
    {{"idx1[]"}, {8, 12}, 4, {0, 0xFFFFFFF0, 0x7FFFFFFF, 0xFFFFFFFF}},  // offset, length
    {{"idx1[]"}, {8, 12}, 4, {1, 2}, Op::kAdd},
};

// The damaged copies of a file: cut at every chunk boundary (sampled evenly when there are many)
// and inside a header and the data of the chunks at those boundaries; the fields above; for DV,
// bytes of the first and last frames: the header block (its system bit too), the sound blocks,
// the middle.
std::vector<Variant> damaged_copies(const std::string& b, const std::vector<IndexEntry>& frames,
                                    bool dv) {
  std::vector<Node> nodes;
  walk(b, 0, b.size(), nodes);
  std::vector<std::uint64_t> bounds, cuts;
  for (const Node& n : nodes) bounds.insert(bounds.end(), {n.start, n.end});
  std::sort(bounds.begin(), bounds.end());
  bounds.erase(std::unique(bounds.begin(), bounds.end()), bounds.end());
  const std::size_t stride = (bounds.size() + kMaxTruncations - 1) / kMaxTruncations;
  for (std::size_t i = 0; i < bounds.size(); i += stride) cuts.push_back(bounds[i]);
  for (std::size_t i = 0; i < nodes.size(); i += stride * 3) {
    const Node& n = nodes[i];
    cuts.insert(cuts.end(), {n.start + 5, n.data + (n.end - n.data) / 2, n.end - 1});
  }
  std::vector<Variant> out;
  for (std::uint64_t at : cuts) {
    if (at <= b.size()) out.push_back({"cut at " + std::to_string(at), b.substr(0, at)});
  }
  const auto damage = [&](const std::string& kind, std::uint64_t base) {
    for (const FieldDamage& f : kFieldDamage) {
      if (std::ranges::find(f.chunks, kind) == f.chunks.end()) continue;
      for (std::int64_t off : f.offsets) {
        const std::uint64_t at = base + static_cast<std::uint64_t>(off);
        if (at + f.width > b.size()) continue;  // past a short chunk: what follows
        const std::uint64_t old =
            f.op == Op::kAdd || f.op == Op::kXor ? avitest::fourcc_value(&b[at]) : 0;
        const std::uint64_t added_to[] = {0, old, 0, base - 8, b.size()};  // by Op
        for (std::uint64_t v : f.values) {
          v = f.op == Op::kXor ? old ^ v : added_to[static_cast<std::size_t>(f.op)] + v;
          out.push_back(
              {kind + "@" + std::to_string(at) + " = " + std::to_string(v), b, {at, at + f.width}});
          for (unsigned i = 0; i < f.width; ++i)
            out.back().bytes[at + i] = static_cast<char>(v >> (8 * i));
        }
      }
    }
  };
  for (const Node& n : nodes) {
    if (n.id != "LIST" || b.compare(n.start + 8, 4, "rec ") != 0) {
      damage(n.id.starts_with("ix") ? "ix##" : n.id, n.start + 8);
    }
    const std::uint64_t entries = n.id == "idx1" ? (n.end - n.data) / 16 : 0;
    for (std::uint64_t e : {std::uint64_t{0}, std::uint64_t{1}, entries / 2, entries - 1}) {
      if (e < entries) damage("idx1[]", n.data + e * 16);
    }
  }
  const std::size_t before_dv = out.size();
  std::mt19937 rng(61834);
  for (std::size_t f : {std::size_t{0}, frames.size() - 1}) {
    if (!dv || f >= frames.size() || frames[f].size < 12000) continue;
    const IndexEntry& e = frames[f];
    const std::string what = "dv frame " + std::to_string(f);
    const std::pair frame{e.position, e.position + e.size};
    out.push_back({what + " system bit", b, frame});
    out.back().bytes[e.position + 3] ^= '\x80';
    for (std::uint64_t at : {std::uint64_t{0}, std::uint64_t{80 * 6}, std::uint64_t{e.size / 2},
                             std::uint64_t{e.size - 80}}) {
      out.push_back({what + " scribbled at " + std::to_string(at), b, frame});
      for (std::uint64_t i = 0; i < 80; ++i) {
        out.back().bytes[e.position + at + i] = static_cast<char>(rng());
      }
    }
  }
  EXPECT_EQ(out.size() > before_dv, dv);
  return out;
}

// --- The files ----------------------------------------------------------------------------------
std::string from_data(const char* name) { return avitest::read_file(avitest::data_path(name)); }
std::string from_media(const char* name) { return avitest::read_file(avitest::media_path(name)); }

// The MPEG-4 + PCM file rebuilt as OpenDML: RIFF AVIX segments, super indexes and small ix##.
std::string odml() {
  const std::string avi = from_data("mpeg4_pcm.avi");
  avitest::MemoryFile f("mem:malformed-odml-source.avi", avi);
  AviContainer c(true);
  EXPECT_EQ(c.open(f.file()), 1);
  avitest::AviBuilder b;
  const platform::WAVEFORMATEX& wave = *c.audio_format();
  const int vs =
      b.add_video({.handler = "FMP4",
                   .strf = std::string(reinterpret_cast<const char*>(c.video_format()), 40)});
  const int as = b.add_audio({.channels = wave.nChannels, .sample_rate = wave.nSamplesPerSec});
  const auto& frames = c.video_index()->entries;
  const auto& sound = c.audio_index()->entries;
  const auto chunk = [&avi](const IndexEntry& e) { return avi.substr(e.position, e.size); };
  for (std::size_t i = 0; i < std::max(frames.size(), sound.size()); ++i) {
    if (i < frames.size()) b.add_chunk(vs, frames[i].size, frames[i].key != 0, chunk(frames[i]));
    if (i < sound.size()) b.add_chunk(as, sound[i].size, true, chunk(sound[i]));
  }
  return b.index(avitest::IndexKind::kOdml).chunks_per_segment(10).entries_per_ix(4).build().bytes;
}

// DV type-1 from ffmpeg's raw DV (525/60, 48 kHz sound in the frames): eleven frames, so that
// damage to the last leaves the first sound group of ten whole.
std::string dv_type1() {
  const auto frames = avitest::dv_frames(from_media("dv_525_48k.dv"), false, 11);
  return avitest::dv_type1(frames, false).build().bytes;
}

struct CorpusCase {
  const char* tag;  // "dv...": its frames are scribbled over too
  std::string (*make)();
  std::size_t max_frames;  // frames played per variant
};
const CorpusCase kCorpus[] = {
    {"mpeg4_pcm", [] { return from_data("mpeg4_pcm.avi"); }, 16},
    {"mjpeg_mp3", [] { return from_data("mjpeg_mp3.avi"); }, 16},
    {"dv_type2", [] { return avitest::gunzip_file(avitest::data_path("dv_type2.avi.gz")); }, 2},
    // DV type-1 from ffmpeg's raw DV (525/60, 48 kHz sound in the frames): eleven frames, so that
    // damage to the last leaves the first sound group of ten whole.
    {"dv_type1", &dv_type1, 3},
    {"odml", &odml, 16},
    // Uncompressed 8-bit frames: the palette in "strf" is read again in full, so its sizes matter.
    {"raw_pal8", [] { return from_media("raw_pal8.avi"); }, 4},
    // MJPEG and MP3 from independent writers (empty when the writer is missing).
    {"gst_mjpeg_mp3", [] { return from_media("snd_gst_mp3.avi"); }, 8},
    {"men_mjpeg_mp3", [] { return from_media("snd_men_mp3.avi"); }, 8},
};

class MalformedCorpusTest : public ::testing::TestWithParam<CorpusCase> {};

TEST_P(MalformedCorpusTest, DamageFailsCleanlyAndLeavesUntouchedFramesAndSoundExact) {
  const CorpusCase& c = GetParam();
  const std::string bytes = c.make();
  if (bytes.empty()) GTEST_SKIP() << c.tag << " was not written";
  const std::string name = "mem:malformed-" + std::string(c.tag) + "-";
  const Reading o = read(name + "0.avi", bytes, c.max_frames, 100000);
  // The references must be real pictures and sound, or the comparisons prove nothing.
  ASSERT_TRUE(o.opened);
  ASSERT_FALSE(o.frames.empty());
  EXPECT_EQ(std::count(o.frames.begin(), o.frames.end(), 0u), 0);
  std::size_t opened = 0, frames_compared = 0, blocks_compared = 0;
  int serial = 0;
  for (const Variant& v : damaged_copies(bytes, o.video, std::string(c.tag).starts_with("dv"))) {
    SCOPED_TRACE(std::string(c.tag) + ": " + v.label);
    const std::string file = name + std::to_string(++serial) + ".avi";
    const Reading d = read(file, v.bytes, c.max_frames, o.blocks.size() + kExtraBlocks);
    opened += d.opened;
    for (std::size_t n = 0; n < d.frames.size(); ++n) {
      const std::int64_t m = reference_frame(v, d, o, n);
      if (m < 0 || static_cast<std::size_t>(m) >= o.frames.size()) continue;
      EXPECT_EQ(d.frames[n], o.frames[static_cast<std::size_t>(m)]) << "frame " << n;
      ++frames_compared;
    }
    const std::size_t blocks = std::min({intact_blocks(v, d, o), d.blocks.size(), o.blocks.size()});
    for (std::size_t k = 0; k < blocks; ++k) EXPECT_EQ(d.blocks[k], o.blocks[k]) << "block " << k;
    blocks_compared += blocks;
  }
  EXPECT_GT(opened, 0u);
  EXPECT_GT(frames_compared, o.frames.size());
  EXPECT_EQ(blocks_compared > 0, !o.blocks.empty());
}
INSTANTIATE_TEST_SUITE_P(RealFiles, MalformedCorpusTest, ::testing::ValuesIn(kCorpus),
                         [](const auto& i) { return std::string(i.param.tag); });

// Files the fuzzer found, kept in tests/data and listed in its README.
TEST(FuzzRegressionTest, ProbeAndPlayCleanly) {
  const char* file = "idx1_negative_stream_without_audio.avi";
  read(file, from_data(file), 16, 16);
}

}  // namespace
