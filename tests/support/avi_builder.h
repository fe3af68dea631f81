#pragma once
// Builds RIFF AVI and WAVE files in memory (or sparse on disk) for tests, fuzz seeds and
// benchmarks.
//
// Two levels:
//   RiffWriter  bytes, chunks and lists with their sizes patched on close, odd sizes with or
//               without pad bytes, lying size fields, and holes (sparse regions never stored).
//   AviBuilder  a whole AVI file from stream descriptions and chunk lists: idx1 (offsets
//               relative to "movi" or absolute), OpenDML "indx" super indexes with ix##
//               standard indexes, RIFF AVIX segments, extra chunks anywhere in the header.
//
//   avitest::AviBuilder b;
//   int v = b.add_video({.handler = "DIB ", .width = 4, .height = 2});
//   int a = b.add_audio({.channels = 1, .sample_rate = 22050});
//   b.add_frames(v, 10, 24, /*key_every=*/1).add_frames(a, 10, 882);
//   avitest::BuiltAvi avi = b.build();       // avi.bytes, avi.layout.data_positions, ...
//   avitest::MemoryFile f("clip.avi", avi.bytes);   // player.open(f.file(), -1) reads the bytes
//
// Hostile inputs are made by patching the bytes of a built file at the positions the layout
// reports (patch_u32 / patch_u64 below), or with the raw hooks (extra header chunks, lying
// sizes, truncation).

#include <avikit/in_memory_file.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace avitest {

// --- Little-endian helpers over std::string ------------------------------------------------------
std::string le(std::uint64_t v, int bytes);  // the `bytes` low bytes of v, least first
inline void put_u32(std::string& s, std::uint32_t v) { s += le(v, 4); }
// Over bytes already there; what would fall past the end is dropped.
void patch_le(std::string& s, std::uint64_t at, std::uint64_t v, int bytes);
inline void patch_u32(std::string& s, std::uint64_t at, std::uint32_t v) { patch_le(s, at, v, 4); }
inline void patch_u64(std::string& s, std::uint64_t at, std::uint64_t v) { patch_le(s, at, v, 8); }
std::uint32_t fourcc_value(const char* four);

// --- RiffWriter ----------------------------------------------------------------------------------
class RiffWriter {
 public:
  RiffWriter& bytes(const std::string& data);
  RiffWriter& u32(std::uint32_t v) { return bytes(le(v, 4)); }
  RiffWriter& fourcc(const char* four) { return bytes(le(fourcc_value(four), 4)); }
  // A region that is part of the file but never stored: written as a hole by write_sparse,
  // as zeros by str().
  RiffWriter& hole(std::uint64_t n);

  // Opens a chunk or a "RIFF"/"LIST" (id + size placeholder [+ type]); returns its mark.
  std::uint64_t begin_chunk(const char* id);
  std::uint64_t begin_list(const char* id, const char* type);
  // Patches the size to what was written since the header and, for an odd size, appends the
  // pad byte unless `pad` is false. Returns the size written.
  std::uint32_t end(std::uint64_t mark, bool pad = true);
  // A whole chunk; `declared` overrides the size field (the bytes written stay `data`).
  std::uint64_t chunk(const char* id, const std::string& data, bool pad = true,
                      std::optional<std::uint32_t> declared = std::nullopt);

  void patch(std::uint64_t at, const std::string& bytes);  // over bytes already written

  std::string str() const;                           // holes as zeros
  bool write_sparse(const std::string& path) const;  // holes left unwritten

 private:
  struct Piece {
    std::uint64_t offset = 0;
    std::string data;
  };
  Piece& tail();

  std::vector<Piece> pieces_;
  std::uint64_t size_ = 0;
};

// --- Payload builders ----------------------------------------------------------------------------
struct StreamHeaderFields {
  const char* type = "vids";
  const char* handler = "DIB ";  // nullptr writes 0
  std::uint32_t scale = 1;
  std::uint32_t rate = 25;
  std::uint32_t length = 0;
  std::uint32_t sample_size = 0;
  std::int16_t frame_right = 0;
  std::int16_t frame_bottom = 0;
};
std::string stream_header(const StreamHeaderFields& f);  // 56 bytes

struct BitmapFields {
  std::int32_t width = 4;
  std::int32_t height = 2;
  std::uint16_t bit_count = 24;
  const char* compression = nullptr;    // nullptr: BI_RGB (0)
  std::uint32_t compression_value = 0;  // used when compression is nullptr
  std::uint32_t bi_size = 40;
};
std::string bitmap_info(const BitmapFields& f);  // 40 bytes

struct WaveFields {
  std::uint16_t tag = 1;
  std::uint16_t channels = 2;
  std::uint32_t sample_rate = 44100;
  std::uint16_t bits = 16;
  std::uint32_t avg_bytes = 0;    // 0: sample_rate * block_align
  std::uint16_t block_align = 0;  // 0: channels * bits / 8
  bool write_strf = true;         // an AVI stream's "strf" (AviBuilder::add_audio)
};
std::string wave_format(const WaveFields& f);  // 18 bytes, cbSize 0

// --- AviBuilder ----------------------------------------------------------------------------------
struct VideoStream {
  const char* handler = "DIB ";       // strh fccHandler (nullptr: 0)
  const char* compression = nullptr;  // biCompression (nullptr: BI_RGB)
  std::int32_t width = 4;
  std::int32_t height = 2;
  std::uint16_t bit_count = 24;
  std::uint32_t rate = 25;
  std::uint32_t scale = 1;
  std::optional<std::uint32_t> length{};  // strh dwLength; default: chunks of the stream
  std::string strf_extra{};               // bytes after the 40-byte header (palette, codec data)
  std::optional<std::string> strf{};      // replaces the whole "strf" payload
  bool write_strf = true;
};

using AudioStream = WaveFields;

struct DvStream {  // DV type-1: one "iavs" stream
  std::uint32_t rate = 25;
  std::uint32_t scale = 1;
  std::optional<std::uint32_t> length{};
  std::int16_t width = 0;  // rcFrame; 0 leaves it empty
  std::int16_t height = 0;
  unsigned sampling_code = 0;
  bool fifty_field = true;
};

enum class IndexKind {
  kNone,          // no index at all
  kIdx1Relative,  // idx1, offsets from the "movi" FOURCC
  kIdx1Absolute,  // idx1, absolute offsets
  kOdml,          // indx + ix## (no idx1)
  kOdmlAndIdx1,   // indx + ix##, and idx1 over the first segment (as most writers do)
};

struct AviLayout {
  std::uint64_t avih_data = 0;
  std::vector<std::uint64_t> strh_data;                    // per stream
  std::vector<std::uint64_t> indx_data;                    // per stream, 0 without one
  std::uint64_t movi_list = 0;                             // "LIST" header of the first movi
  std::uint64_t idx1_header = 0;                           // 0 without idx1
  std::vector<std::uint64_t> ix_headers;                   // every ix## chunk header, in file order
  std::vector<std::vector<std::uint64_t>> data_positions;  // per stream: each chunk's data
};

struct BuiltAvi {
  std::string bytes;
  AviLayout layout;
};

class AviBuilder {
 public:
  int add_video(const VideoStream& v);
  int add_audio(const AudioStream& a);
  int add_dv(const DvStream& d);
  int add_stream(const char* type, const std::string& strf);  // any other fccType

  // Chunks of a stream, appended in interleave order as called. Data is zero-filled unless
  // given; the id defaults to "NNdc"/"NNdb"/"NNwb"/"NN__" with NN the stream in hexadecimal.
  AviBuilder& add_chunk(int stream, std::uint32_t size, bool key = true, std::string data = {},
                        const char* id = nullptr);
  AviBuilder& add_frames(int stream, int count, std::uint32_t size, int key_every = 1);

  AviBuilder& index(IndexKind kind) { return set(index_, kind); }
  // The avih dwStreams, whatever the streams added.
  AviBuilder& streams_in_main_header(std::uint32_t n) { return set(main_streams_, n); }
  // OpenDML: a RIFF AVIX every n chunks; n entries an ix##; 2 (default), 3 or 6 longs an entry.
  AviBuilder& chunks_per_segment(std::uint32_t n) { return set(per_segment_, n); }
  AviBuilder& entries_per_ix(std::uint32_t n) { return set(per_ix_, n > 0 ? n : 1); }
  AviBuilder& ix_longs_per_entry(std::uint16_t n) { return set(ix_longs_, n); }
  // Slots in each "indx" (at least the entries written), as writers preallocate them.
  AviBuilder& indx_room(std::uint32_t n) { return set(indx_room_, n); }
  // Raw bytes at the end of a strl, and between hdrl and movi.
  AviBuilder& strl_extra(int stream, const std::string& raw) {
    streams_.at(static_cast<std::size_t>(stream)).extra += raw;
    return *this;
  }
  AviBuilder& before_movi(const std::string& raw) { return set(before_movi_, before_movi_ + raw); }
  // A sparse gap of `bytes` (in RIFF AVIX segments of JUNK) after the first segment, so that
  // later segments lie beyond 4 GB without costing disk. OpenDML only.
  AviBuilder& gap_after_first_segment(std::uint64_t bytes) { return set(gap_, bytes); }

  BuiltAvi build() const;
  // Writes the file sparsely (gaps as holes); returns the layout, or nullopt on I/O failure.
  std::optional<AviLayout> write_file(const std::string& path) const;

 private:
  template <typename T, typename V>
  AviBuilder& set(T& field, V value) {
    field = value;
    return *this;
  }
  struct Stream {
    std::string strh{};
    std::optional<std::string> strf{};
    std::string chunk_suffix{};
    std::optional<std::uint32_t> length{};  // dwLength; default: the chunks of the stream
    std::string extra{};
    std::uint32_t chunk_count = 0;
  };
  int add(Stream s) {
    streams_.push_back(std::move(s));
    return static_cast<int>(streams_.size() - 1);
  }
  struct Chunk {
    std::size_t stream = 0;
    bool key = true;
    std::string data;  // as large as the chunk
    std::string id;
  };
  AviLayout write(RiffWriter& w) const;
  std::string chunk_id(int stream) const;
  // ix_chunks: per stream, how many ix## chunks its "indx" will point to.
  void write_headers(RiffWriter& w, AviLayout& layout,
                     const std::vector<std::uint32_t>& ix_chunks) const;

  std::vector<Stream> streams_;
  std::vector<Chunk> chunks_;
  IndexKind index_ = IndexKind::kIdx1Relative;
  std::optional<std::uint32_t> main_streams_;
  std::uint32_t per_segment_ = 0;  // 0: one segment
  std::uint32_t per_ix_ = 1024;
  std::uint16_t ix_longs_ = 2;
  std::uint32_t indx_room_ = 0;
  std::string before_movi_;
  std::uint64_t gap_ = 0;
};

// --- DV type 1 -----------------------------------------------------------------------------------
// The whole frames of raw DV (144000 bytes a frame when `fifty_field`, else 120000), at most `max`.
std::vector<std::string> dv_frames(const std::string& raw, bool fifty_field,
                                   std::size_t max = SIZE_MAX);
// One "iavs" stream holding `frames`, at 25 or 30000/1001 frames a second.
AviBuilder dv_type1(const std::vector<std::string>& frames, bool fifty_field = true);

// --- Hashing -------------------------------------------------------------------------------------
std::uint64_t fnv1a(const void* data, std::size_t n);

// --- WAVE ----------------------------------------------------------------------------------------
// "RIFF" "WAVE" with "fmt ", `between` raw bytes,
// then "data" holding `data` (its declared size can lie).
std::string wave_file(const WaveFields& format, const std::string& data,
                      const std::string& between = {},
                      std::optional<std::uint32_t> declared_data_size = std::nullopt);

// --- In-memory files -----------------------------------------------------------------------------
// Bytes under a name, for the openers that take a file held in memory: open(f.file(), ...).
class MemoryFile {
 public:
  MemoryFile(std::string name, std::string bytes)
      : file_(std::make_shared<const std::string>(std::move(bytes)), std::move(name)) {}
  const avikit::InMemoryFile& file() const { return file_; }
  const char* name() const { return file_.name.c_str(); }

 private:
  avikit::InMemoryFile file_;
};

}  // namespace avitest
