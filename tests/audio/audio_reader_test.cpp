// The audio reader (AudioMediaReader) on AVI, WAVE and header-only cases built in
// memory. DV type-1 sound has tests of its own (dv_audio_test.cpp).

#include "audio/audio_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <random>
#include <tuple>

#include "support/avi_builder.h"
#include "video/shared_file_registry.h"

using namespace avikit;

namespace {

using avitest::AviBuilder;
using avitest::MemoryFile;

// Bytes that tell their position apart: no two chunks hold the same run.
std::string pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  std::mt19937 rng(seed);
  for (char& c : s) c = static_cast<char>(rng());
  return s;
}

struct AudioAvi {
  std::string bytes;
  std::vector<std::uint64_t> positions;
  std::vector<std::uint32_t> sizes;
};

// An audio-only AVI whose chunks have the given sizes (zero and odd sizes included).
AudioAvi audio_avi(const std::vector<std::uint32_t>& sizes, avitest::AudioStream format = {}) {
  AviBuilder b;
  const int a = b.add_audio(format);
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    b.add_chunk(a, sizes[i], true, pattern(sizes[i], static_cast<unsigned>(i + 1)));
  }
  avitest::BuiltAvi built = b.build();
  return {built.bytes, built.layout.data_positions[0], sizes};
}

// The reading rule taken literally: walk the entries from the first, adding up sizes while the
// sum stays below P; read the rest of the entry holding P, then whole entries, each read at its
// own position and short at the end of the file.
std::string literal_read(const AudioAvi& f, std::int64_t p, std::uint32_t count) {
  std::uint64_t total = 0;
  for (std::uint32_t s : f.sizes) total += s;
  if (p < 0 || static_cast<std::uint64_t>(p) >= total) return {};
  auto read = [&f](std::uint64_t at, std::uint64_t n) {
    if (at >= f.bytes.size()) return std::string();
    return f.bytes.substr(at, std::min<std::uint64_t>(n, f.bytes.size() - at));
  };
  const auto pos = static_cast<std::uint64_t>(p);
  std::uint64_t sum = 0;
  std::size_t i = 0;
  while (sum < pos) sum += f.sizes[i++];
  std::string out;
  if (sum > pos) {
    const std::uint64_t before = sum - f.sizes[i - 1];
    out += read(f.positions[i - 1] + (pos - before), std::min<std::uint64_t>(sum - pos, count));
  }
  for (; out.size() < count && i < f.sizes.size(); ++i) {
    out += read(f.positions[i], std::min<std::uint64_t>(f.sizes[i], count - out.size()));
  }
  return out;
}

class AudioReaderTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(shared_file_count(), 0); }
};

bool open_sound(AudioMediaReader& r, const InMemoryFile& name) {
  return r.open(name, USE_AUDIO) && r.select_audio(-1) == 1;
}

std::string read(AudioMediaReader& r, std::uint32_t count) {
  std::string out(count, '\0');
  out.resize(r.read_audio(reinterpret_cast<std::uint8_t*>(out.data()), count));
  return out;
}

// Entry 100 points past the end of the file (idx1 entries are 16 bytes): none of it is in the
// file, so it reads as an empty chunk and the next entry follows.
TEST_F(AudioReaderTest, ReadsTheSameBytesAsAWalkFromTheFirstEntry) {
  std::mt19937 rng(7);
  auto next = [&rng](std::uint32_t n) { return static_cast<std::uint32_t>(rng() % n); };
  std::vector<std::uint32_t> sizes;
  for (int i = 0; i < 300; ++i) sizes.push_back(i % 17 == 5 ? 0 : 1 + next(1500));
  AudioAvi avi = audio_avi(sizes);
  avitest::patch_u32(avi.bytes, avi.bytes.rfind("idx1") + 8 + 16 * 100 + 8, 0x7FFFFF00u);
  avi.sizes[100] = 0;  // never inside the file, whatever the base
  const std::int64_t total = std::accumulate(avi.sizes.begin(), avi.sizes.end(), std::int64_t{0});
  MemoryFile file("mem://audio/walk.avi", avi.bytes);
  AudioMediaReader r;
  ASSERT_TRUE(open_sound(r, file.file()));
  const double length = r.audio_length();
  ASSERT_GT(length, 0.0);
  // Reading on, jumping back and forth, landing on chunk boundaries and inside chunks.
  for (int step = 0; step < 3000; ++step) {
    const std::uint32_t op = next(8);
    if (op == 0) r.seek_audio(length * next(1000) / 1000.0);
    if (op == 1) r.seek_audio(0.0);
    const std::int64_t p = r.audio_position();
    const std::uint32_t count = op == 2 ? 1 + next(4) : 1 + next(20000);
    const std::string want = literal_read(avi, p, count);
    ASSERT_EQ(read(r, count), want) << "step " << step << " at " << p << " count " << count;
    ASSERT_EQ(r.audio_position(), p + static_cast<std::int64_t>(want.size()));
    ASSERT_EQ(r.audio_at_end(), r.audio_position() >= total) << "step " << step;
  }
}

// Reads stop at the end of the data chunk (a tag list after it is not sound); a size too large,
// or left at 0 or 0xFFFFFFFF by a writer streaming to a pipe, ends at the file's end.
TEST_F(AudioReaderTest, WaveReadsStopAtTheEndOfTheDataChunkOrTheFile) {
  avitest::WaveFields w;
  const std::string data = pattern(800, 5);
  for (const std::uint32_t claim : {800u, 1u << 30, 0u, 0xFFFFFFFFu}) {
    std::string bytes = avitest::wave_file(w, data, {}, claim);
    if (claim == 800) {
      bytes += "LIST";
      avitest::put_u32(bytes, 8);
      bytes += "INFOjunk";
      avitest::patch_u32(bytes, 4, static_cast<std::uint32_t>(bytes.size() - 8));
    }
    MemoryFile file("mem://audio/claims.wav", bytes);
    AudioMediaReader r;
    ASSERT_TRUE(open_sound(r, file.file()));
    EXPECT_DOUBLE_EQ(r.audio_length(), 800.0 / (44100 * 4)) << claim;
    EXPECT_EQ(read(r, 5000), data) << claim;
    EXPECT_EQ(r.audio_at_end(), 1);
  }
}

// 90000 bytes in each stream, seeks to a whole sample frame. Truncation toward zero, so negative
// positions align upward; before the stream's start nothing is read, and it is not the end.
TEST_F(AudioReaderTest, PositionFromTimeOnAWholeSampleFrame) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const struct {
    std::uint16_t tag, channels, bits, block_align;
    std::uint32_t avg_bytes;
    double time;
    std::int64_t want_position;
    double want_time;
  } cases[] = {{1, 2, 16, 4, 4000, 1.2345, 4936, 1.2345},
               {1, 1, 8, 1, 1000, 1.2345, 1234, 1.2345},
               {1, 2, 8, 2, 2000, -1.2345, -2468, -1.2345},
               {1, 2, 4, 2, 2000, 1.2345, 2468, 1.2345},  // below 8 bits a sample takes a byte
               {1, 2, 24, 6, 6000, 1.2345, 7404, 1.2345},
               {0x55, 2, 0, 1, 4001, 1.0, 4001, 1.0},  // MP3: not aligned
               {1, 2, 16, 4, 4000, 99.0, 90000, 22.5},
               {1, 2, 16, 4, 4000, nan, 90000, 22.5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.bits) + " bits at " + std::to_string(c.time));
    AviBuilder b;
    b.add_frames(b.add_audio({.tag = c.tag,
                              .channels = c.channels,
                              .sample_rate = 1000,
                              .bits = c.bits,
                              .avg_bytes = c.avg_bytes,
                              .block_align = c.block_align}),
                 10, 9000);
    MemoryFile file("mem://audio/seek.avi", b.build().bytes);
    AudioMediaReader r;
    ASSERT_TRUE(open_sound(r, file.file()));
    EXPECT_DOUBLE_EQ(r.seek_audio(c.time), c.want_time);
    EXPECT_EQ(r.audio_position(), c.want_position);
    if (c.want_position < 0) {
      EXPECT_EQ(std::tuple(read(r, 100), r.audio_position(), r.audio_at_end()),
                std::tuple("", c.want_position, 0));
    }
  }
}

// ffmpeg writes variable bit-rate MP3 with nAvgBytesPerSec 0 and one frame of 1152 samples per
// chunk (nBlockAlign 1152): the length comes from the chunks, not from a division by 0.
TEST_F(AudioReaderTest, ZeroByteRateTakesLengthAndRateFromTheChunks) {
  const std::vector<std::uint32_t> sizes(441, 400);  // 441 frames of 1152 samples
  AudioAvi avi =
      audio_avi(sizes, {.tag = 0x55, .sample_rate = 44100, .bits = 0, .block_align = 1152});
  avitest::patch_u32(avi.bytes, avi.bytes.find("strf") + 16, 0);  // nAvgBytesPerSec
  MemoryFile file("mem://audio/vbr.avi", avi.bytes);
  AudioMediaReader r;
  ASSERT_TRUE(open_sound(r, file.file()));
  EXPECT_DOUBLE_EQ(r.audio_length(), 441 * 1152 / 44100.0);
  EXPECT_EQ(r.audio_at_end(), 0);
  // Half way in time is half way in bytes.
  r.seek_audio(r.audio_length() / 2);
  EXPECT_NEAR(static_cast<double>(r.audio_position()), 441 * 400 / 2.0, 1.0);
  r.seek_audio(0.0);
  std::string all;
  for (std::string got = read(r, 18432); !got.empty(); got = read(r, 18432)) all += got;
  EXPECT_EQ(std::tuple(all.size(), r.audio_at_end()), std::tuple(441u * 400u, 1));
  // No sample rate either: no length, and nothing to read.
  const AudioAvi none =
      audio_avi({500, 500}, {.tag = 0x55, .sample_rate = 0, .bits = 0, .block_align = 1});
  MemoryFile norate("mem://audio/norate.avi", none.bytes);
  AudioMediaReader n;
  ASSERT_TRUE(open_sound(n, norate.file()));
  EXPECT_EQ((std::tuple{n.audio_length(), n.seek_audio(3.0), n.audio_at_end()}),
            std::tuple(0.0, 0.0, 1));
}

}  // namespace
