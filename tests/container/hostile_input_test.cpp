// Hostile files: one bad field must not change what the rest of the file says, and sizes a file
// only claims must cost no memory.

#include <avikit/avi_audio_player.h>
#include <avikit/avi_video_player.h>
#include <avikit/platform/vfw.h>
#include <malloc.h>

#include <fstream>
#include <functional>

#include "container_peek.h"
#include "support/test_paths.h"

// One field wrong where the rest of the file says what is right: the file must read exactly as
// the same file without the bad field.
struct Reading {
  bool opened = false;
  std::uint32_t frames = 0;
  int height = 0;
  std::uint32_t sample_rate = 0;
  std::int32_t dv_per_10_frames = 0;
  std::vector<std::pair<std::uint64_t, std::uint32_t>> video, audio;
  std::vector<std::uint32_t> keys;
  std::vector<std::string> pictures;  // the video player's, frame by frame
  bool operator==(const Reading&) const = default;
};

Reading read_back(const std::string& bytes) {
  Reading r;
  avitest::OpenedAvi c(bytes, true);
  if (c.result != 1) return r;
  r.opened = true;
  r.frames = c.frame_count();
  VideoInfo info;
  c.describe_video_stream(info);
  r.height = info.height;
  if (const platform::WAVEFORMATEX* a = c.audio_format()) r.sample_rate = a->nSamplesPerSec;
  r.dv_per_10_frames = c.dv_samples_per_10_frames();
  if (const ChunkIndex* v = c.video_index()) {
    for (const IndexEntry& e : v->entries) r.video.emplace_back(e.position, e.size);
    r.keys = v->key_frames;
  }
  if (const ChunkIndex* a = c.audio_index()) {
    for (const IndexEntry& e : a->entries) r.audio.emplace_back(e.position, e.size);
  }
  AviVideoPlayer player;
  const int frames = player.open(c.file(), -1) == 0 ? player.get_total_frames() : 0;
  for (int i = 0; i < frames; ++i) {
    player.seek(i, 1);
    const char* dib = player.get_frame_dib_data();
    r.pictures.emplace_back(
        dib != nullptr ? std::string(dib, player.get_frame_dib_header()->biSizeImage) : "");
  }
  return r;
}

struct BadField {
  const char* name;
  // Writes the file into `b` (unchanged: the good file) and returns its bytes with the bad field.
  std::function<std::string(AviBuilder& b, bool bad)> make;
};

std::string two_streams(AviBuilder& b, IndexKind kind, int chunks = 50, std::uint32_t sound = 40) {
  const int v = b.add_video({});
  const int a = b.add_audio({});
  for (int i = 0; i < chunks; ++i) b.add_chunk(v, 24).add_chunk(a, sound);
  return b.index(kind).build().bytes;
}

// The two-stream file with `kind` of index, the 32 bits `offset` bytes past the first `fourcc`
// in it set to `value`.
BadField patched(const char* name, IndexKind kind, const char* fourcc, std::int64_t offset,
                 std::uint32_t value) {
  return {name, [=](AviBuilder& b, bool bad) {
            std::string bytes = two_streams(b, kind);
            const std::uint64_t at = bytes.find(fourcc) + static_cast<std::uint64_t>(offset);
            if (bad) avitest::patch_u32(bytes, at, value);
            return bytes;
          }};
}

// Three 625/50 DV frames, whose AAUX source pack says 44.1 kHz, in a DV type-1 stream (width 0)
// or a type-2 one ("dvsd"), whose header says `width` x `height` and whether `fifty` fields.
std::string dv_file(AviBuilder& b, std::int32_t width, std::int16_t height, bool fifty = true) {
  std::string f(144000, '\0');
  f[3] = '\x80';    // DIF header block: DSF
  f[12246] = 0x20;  // VAUX source pack: 50 fields
  f[12483] = 0x50;  // AAUX source pack
  f[12487] = 1 << 3;
  const int s =
      width > 0
          ? b.add_video(
                {.handler = "dvsd", .compression = "dvsd", .width = width, .height = height})
          : b.add_dv({.width = 720, .height = height, .sampling_code = 1, .fifty_field = fifty});
  for (int i = 0; i < 3; ++i) b.add_chunk(s, 144000, true, f);
  return b.build().bytes;
}

using enum IndexKind;
const BadField kBadFields[] = {
    patched("MainHeaderSaysOneStream", kIdx1Relative, "avih", 8 + 24, 1),  // dwStreams
    patched("MoviSizeUnknown", kIdx1Relative, "movi", -4, 0xFFFFFFFFu),
    patched("FirstChunkSizeDisagreesWithIdx1", kIdx1Absolute, "00db", 4, 23),
    patched("StandardIndexCountAllOnes", kOdml, "ix0", 12, 0xFFFFFFFFu),
    // The sound's "indx" turned "JUNK": found by its chunk id, 8 bytes into its data.
    patched("SoundWithoutIndx", kOdmlAndIdx1, "01wb", -16, avitest::fourcc_value("JUNK")),
    patched("Idx1SizeClaimsMoreThanTheFile", kIdx1Relative, "idx1", 4, 0xFFFFFFF0u),
    {"HeaderCountsThreeOfFiftyFrames",
     [](AviBuilder& b, bool bad) {
       b.add_frames(b.add_video({.length = bad ? std::optional(3u) : std::nullopt}), 50, 24, 10);
       return b.build().bytes;
     }},
    {"EmptyStreamName",
     [](AviBuilder& b, bool bad) {
       const int v = b.add_video({});
       if (bad) b.strl_extra(v, std::string("strn\0\0\0\0", 8));
       return b.add_frames(v, 5, 24).add_frames(b.add_audio({}), 5, 40).build().bytes;
     }},
    {"NoIndexAtAll",  // odd-sized sound chunks: the scan steps over their pad bytes
     [](AviBuilder& b, bool bad) { return two_streams(b, bad ? kNone : kIdx1Relative, 20, 41); }},
    {"PaletteChangeRestatingColours",
     [](AviBuilder& b, bool bad) {
       avitest::VideoStream vs{.bit_count = 8, .length = 6};
       for (char i = 0; i < 8; ++i) vs.strf_extra += std::string{i, char(2 * i), char(3 * i), 0};
       const int v = b.add_video(vs);
       // Entries 0 to 7 as they are (stored red, green, blue, flags), between frames 3 and 4.
       std::string change{0, 8, 0, 0};
       for (char i = 0; i < 8; ++i) change += std::string{char(3 * i), char(2 * i), i, 0};
       for (char i = 0; i < 6; ++i) {
         if (i == 4) b.add_chunk(v, 36, false, change, bad ? "00pc" : "JUNK");  // frames stay put
         b.add_chunk(v, 8, true, std::string(8, i));
       }
       return b.build().bytes;
     }},
    {"Idx1OffsetsAbsolute",
     [](AviBuilder& b, bool bad) { return two_streams(b, bad ? kIdx1Absolute : kIdx1Relative); }},
    {"ChunksOfNoDeclaredStream",
     [](AviBuilder& b, bool bad) {
       const int v = b.add_video({.length = 6});
       b.add_frames(v, 6, 24);
       if (bad) b.add_chunk(v, 10, true, {}, "07dc").add_chunk(v, 10, true, {}, "JUNK");
       return b.build().bytes;
     }},
    {"ListsBeforeMovi",  // an INFO list is stepped over, another one entered
     [](AviBuilder& b, bool bad) {
       const std::string lists("LIST\x0e\0\0\0INFOISFT\2\0\0\0abLIST\x10\0\0\0wrapJUNK\4\0\0\0abcd",
                               46);
       return b.add_frames(b.add_video({}), 4, 10).before_movi(bad ? lists : "").build().bytes;
     }},
    {"DvType1HeaderOfTheOtherSystem",
     [](AviBuilder& b, bool bad) { return dv_file(b, 0, bad ? 480 : 576, !bad); }},
    {"DvType2HeaderOfTheOtherSystem",
     [](AviBuilder& b, bool bad) { return dv_file(b, 720, bad ? 480 : 576); }},
    {"DvType2HeaderClaimingAGiantPicture",
     [](AviBuilder& b, bool bad) { return dv_file(b, bad ? 16384 : 720, bad ? 16384 : 576); }},
    {"DvInfoZeroFilled",
     [](AviBuilder& b, bool bad) {
       std::string bytes = dv_file(b, 0, 576);
       if (bad) bytes.replace(bytes.find("strf") + 8, 32, std::string(32, '\0'));
       return bytes;
     }},
};

class OneBadFieldTest : public ::testing::TestWithParam<BadField> {};
TEST_P(OneBadFieldTest, ReadsAsTheFileWithoutIt) {
  AviBuilder good, bad;
  const std::string good_bytes = GetParam().make(good, false);
  const Reading want = read_back(good_bytes);
  ASSERT_TRUE(want.opened);
  std::string bad_bytes = GetParam().make(bad, true);
  // Chunks move when the bad field changes the header's length: compare relative to "movi".
  const std::uint64_t shift = bad_bytes.find("movi") - good_bytes.find("movi");
  Reading got = read_back(bad_bytes);
  for (auto* list : {&got.video, &got.audio}) {
    for (auto& [position, size] : *list) position -= shift;
  }
  EXPECT_TRUE(got == want);
}
INSTANTIATE_TEST_SUITE_P(Cases, OneBadFieldTest, ::testing::ValuesIn(kBadFields),
                         [](const auto& test) { return std::string(test.param.name); });

std::int64_t status_kb(const std::string& field) {
  std::ifstream in("/proc/self/status");
  for (std::string line; std::getline(in, line);) {
    if (line.starts_with(field)) return std::stoll(line.substr(field.size()));
  }
  return -1;
}

// A few hundred bytes claiming a 16384 x 16384 picture: memory follows the pictures decoded.
TEST(HostileInputTest, ClaimedPictureSizeAloneCostsNoMemory) {
  for (const char* codec : {"MJPG", "H264", "XVID"}) {
    AviBuilder b;
    b.add_frames(
        b.add_video({.handler = codec, .compression = codec, .width = 16384, .height = 16384}), 3,
        16);
    TestFile f(b.build().bytes);
    const std::int64_t before = status_kb("VmRSS:");
    AviVideoPlayer player;
    ASSERT_EQ(player.open(f.file(), -1), 0) << codec;
    player.seek(2, 1);
    EXPECT_NE(player.get_frame_dib_header(), nullptr);
    EXPECT_EQ(player.get_frame_dib_data(), nullptr);  // nothing decoded, nothing to show
    EXPECT_LT(status_kb("VmRSS:") - before, 64 << 10) << codec;
  }
}
// Resident memory follows the index entries a file holds, whatever its size says: files of about
// 900 MB, sparse on disk, of a million frames (and as many sound chunks when the parameter says),
// read by the probe and both players.
constexpr std::uint32_t kBigFrames = 1000000;

std::string write_big_file(bool sound) {
  avitest::RiffWriter w;
  const std::uint64_t riff = w.begin_list("RIFF", "AVI ");
  const std::uint64_t hdrl = w.begin_list("LIST", "hdrl");
  w.chunk("avih", std::string(56, '\0'));
  std::uint64_t strl = w.begin_list("LIST", "strl");
  w.chunk("strh", avitest::stream_header({.length = kBigFrames}));
  w.chunk("strf", avitest::bitmap_info({}));
  w.end(strl);
  if (sound) {
    strl = w.begin_list("LIST", "strl");
    w.chunk("strh", avitest::stream_header(
                        {.type = "auds", .handler = nullptr, .rate = 44100, .sample_size = 4}));
    w.chunk("strf", avitest::wave_format({}));
    w.end(strl);
  }
  w.end(hdrl);
  const std::uint64_t movi = w.begin_list("LIST", "movi");
  for (int i = 0; i < 8; ++i) w.chunk(sound && i % 2 != 0 ? "01wb" : "00dc", std::string(24, '\0'));
  w.hole(900u << 20);
  w.end(movi);
  const std::uint64_t idx1 = w.begin_chunk("idx1");
  for (std::uint32_t i = 0; i < (sound ? 2 : 1) * kBigFrames; ++i) {
    w.fourcc(sound && i % 2 != 0 ? "01wb" : "00dc").u32(0x10).u32(4 + 32 * (i % 8)).u32(24);
  }
  w.end(idx1);
  w.end(riff);
  const std::string path = avitest::temp_path(sound ? "big_with_sound.avi" : "big.avi");
  EXPECT_TRUE(w.write_sparse(path));
  return path;
}

// The resident memory `read` added at its peak, in bytes; -1 where the peak cannot be reset.
std::int64_t peak_growth(const std::function<void()>& read) {
  malloc_trim(0);  // what earlier readers freed would otherwise be reused unseen
  std::ofstream clear("/proc/self/clear_refs");
  clear << "5" << std::flush;
  if (!clear) return -1;
  const std::int64_t before = status_kb("VmRSS:");
  read();
  return (status_kb("VmHWM:") - before) * 1024;
}

class MemoryBoundTest : public ::testing::TestWithParam<bool> {};
TEST_P(MemoryBoundTest, FollowsTheEntriesPresent) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizers keep their own memory";
#endif
  const std::string path = write_big_file(GetParam());
  const std::int64_t probe = peak_growth([&] { avitest::Probe p(path.c_str()); });
  if (probe < 0) GTEST_SKIP() << "no /proc/self/clear_refs";
  const std::int64_t video = peak_growth([&] {
    AviVideoPlayer p;
    if (p.open(path.c_str(), -1) == 0) p.seek(p.get_total_frames() - 1, 1);
  });
  const std::int64_t sound = peak_growth([&] {
    AviAudioPlayer a;
    if (a.open(path.c_str()) == 0) a.get_next_sound();
  });
  std::remove(path.c_str());
  // An entry costs 16 bytes, and a video entry 4 more for the key-frame list (8 while it grows);
  // the sound player holds no video entries, the probe none at all. Beside them, a few
  // megabytes of buffers and tables.
  const std::int64_t sounds = GetParam() ? kBigFrames : 0;
  constexpr std::int64_t kSlack = 8 << 20;
  EXPECT_LT(probe, kSlack);
  EXPECT_LT(video, kSlack + 24 * std::int64_t{kBigFrames} + 16 * sounds);
  EXPECT_LT(sound, kSlack + 16 * sounds);
}
INSTANTIATE_TEST_SUITE_P(Files, MemoryBoundTest, ::testing::Bool());
