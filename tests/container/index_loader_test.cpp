#include "container/index_loader.h"

#include <algorithm>

#include "container/chunk_index.h"
#include "container_peek.h"

namespace {

TEST(Idx1StreamNumberTest, DecimalDigitsAsDecimalHexLettersAsHex) {
  for (const auto& [ckid, streams, want] :
       {std::tuple{"01wb", 2u, 1}, std::tuple{"00dc", 2u, 0}, std::tuple{"0Bdc", 12u, 11},
        std::tuple{"0bdc", 12u, 11}, std::tuple{"10wb", 12u, 10}, std::tuple{"12dc", 12u, 12},
        std::tuple{"12dc", 20u, 12}, std::tuple{"ZZdc", 12u, -1}, std::tuple{"0/dc", 2u, -1},
        std::tuple{"rec ", 2u, -1}, std::tuple{"\0\0\0\0", 2u, -1}}) {
    EXPECT_EQ(container::detail::idx1_stream_number(avitest::fourcc_value(ckid), streams), want)
        << ckid << " of " << streams;
  }
}

class ChunkIndexTest : public ::testing::TestWithParam<bool> {};

TEST_P(ChunkIndexTest, KeyFrameDistanceStoredOrCounted) {
  auto distance = [](std::vector<int> keys, int entries) {
    ChunkIndex index;
    index.figures_only = GetParam();
    for (int i = 0; i < entries; ++i)
      index.append(static_cast<std::uint64_t>(i) * 100, 10,
                   std::count(keys.begin(), keys.end(), i) != 0 ? 0x10 : 0);
    return index.key_frame_distance();
  };
  EXPECT_EQ((std::vector{distance({0, 1, 2, 3}, 4), distance({0, 12, 24, 30}, 36), distance({}, 5),
                         distance({3}, 5), distance({2, 3, 9}, 12)}),
            (std::vector<std::uint32_t>{1, 12, 0, 0, 6}));
}
INSTANTIATE_TEST_SUITE_P(Modes, ChunkIndexTest, ::testing::Bool());

// The probe counts where players store; both must end with the same stream figures.
TEST(Idx1LoadTest, ProbeAndPlayerContainersAgreeOnFigures) {
  for (IndexKind kind : {IndexKind::kIdx1Relative, IndexKind::kOdmlAndIdx1, IndexKind::kOdml}) {
    AviBuilder b;
    const int v = b.add_video({.length = 7});
    const int a = b.add_audio({.tag = 0x55, .bits = 0, .avg_bytes = 16000, .block_align = 1152});
    for (std::uint32_t i = 0; i < 40; ++i) {
      b.add_chunk(v, 100 + i * 3, i % 7 == 0 || i == 30).add_chunk(a, i % 5 == 0 ? 1152 : 417);
    }
    const std::string bytes = b.index(kind).chunks_per_segment(30).entries_per_ix(9).build().bytes;
    OpenedAvi probe(bytes, false), player(bytes, true);
    ASSERT_EQ(std::pair(probe.result, player.result), std::pair(1, 1));
    const auto figures = [](AviContainer& c) {
      return std::tuple(c.frame_count(), c.video_bit_rate(), c.largest_video_chunk(),
                        c.has_inter_frames(), c.audio_length(), c.short_chunk_flag());
    };
    EXPECT_EQ(figures(probe), figures(player));
    // 417-byte chunks in blocks of 1152, as idx1 lists them; OpenDML indexes leave it unset.
    EXPECT_EQ(std::tuple(player.largest_video_chunk(), player.short_chunk_flag()),
              std::tuple(100u + 39 * 3, kind == IndexKind::kIdx1Relative ? 1u : 0u));
  }
}

TEST(Idx1LoadTest, SelectingAnotherAudioStreamRebuildsItsIndex) {
  AviBuilder b;
  const int v = b.add_video({}), a1 = b.add_audio({}), a2 = b.add_audio({});
  for (int i = 0; i < 3; ++i) b.add_chunk(v, 10).add_chunk(a1, 100).add_chunk(a2, 200);
  b.add_chunk(a2, 200);
  OpenedAvi c(b.build().bytes, true);
  ASSERT_EQ(c.result, 1);
  // Braces: in order. One "movi" record however often the index is rebuilt.
  EXPECT_EQ((std::tuple{c.selected_video_stream_number(), c.selected_audio_stream_number(),
                        c.audio_index()->entries.size(), c.select_audio_stream(2),
                        c.audio_index()->entries.size(), c.audio_index()->total_bytes,
                        c.video_index()->entries.size(), c.select_audio_stream(0),
                        c.selected_audio_stream_number(),
                        std::count_if(c.chunk_records().begin(), c.chunk_records().end(),
                                      [](auto& r) { return r.fourcc == fourcc("movi"); })}),
            std::tuple(0, 1, 3u, 1, 4u, 800u, 3u, 0, 2, 1));
}

// Found by the malformed-corpus test: an audio entry claiming 2 GB in a 16 kB file made the
// audio reader hand out the following chunks again and again until the claimed size was used
// up (a minute of work per file, hours of "sound"). Entries are cut at the end of the file.
TEST(EntryPastTheEndTest, SizeCutAtTheEndOfTheFile) {
  for (const IndexKind kind : {IndexKind::kIdx1Relative, IndexKind::kOdml}) {
    AviBuilder b;
    const int v = b.add_video({}), a = b.add_audio({});
    for (int i = 0; i < 4; ++i) b.add_chunk(v, 10).add_chunk(a, 64);
    auto avi = b.index(kind).entries_per_ix(8).build();
    // idx1 entry 1 (the first sound chunk), or the audio standard index's first size word (key
    // frame bit clear).
    const bool idx1 = kind == IndexKind::kIdx1Relative;
    avitest::patch_u32(
        avi.bytes,
        idx1 ? avi.layout.idx1_header + 8 + 16 + 12 : avi.layout.ix_headers.back() + 8 + 24 + 4,
        idx1 ? 0xFFFFFFFFu : 0x7FFFFFFFu);
    OpenedAvi c(avi.bytes, true);
    ASSERT_EQ(c.result, 1) << idx1;
    const ChunkIndex& audio = *c.audio_index();
    ASSERT_EQ(audio.entries.size(), 4u);
    const IndexEntry& e = audio.entries[0];
    EXPECT_EQ(std::tuple(e.size, audio.largest_chunk, audio.total_bytes, c.audio_length() < 1.0),
              std::tuple(avi.bytes.size() - e.position, e.size, e.size + 3 * 64u, true))
        << idx1;
  }
}

}  // namespace
