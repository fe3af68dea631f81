#include "container/odml_index.h"

#include <cstdio>

#include "container_peek.h"
#include "support/test_paths.h"

namespace {

std::vector<std::uint64_t> positions(const ChunkIndex& index) {
  std::vector<std::uint64_t> out;
  for (const IndexEntry& e : index.entries) out.push_back(e.position);
  return out;
}

TEST(OdmlIndexTest, ThreeAndSixLongEntries) {
  for (std::uint16_t longs : {std::uint16_t{3}, std::uint16_t{6}}) {
    AviBuilder b;
    b.add_frames(b.add_video({}), 7, 30, 3);
    const auto avi = b.index(IndexKind::kOdml).ix_longs_per_entry(longs).entries_per_ix(4).build();
    OpenedAvi c(avi.bytes, true);
    ASSERT_EQ(c.result, 1) << longs;
    // The size is in the third long of six; six-long entries carry no key flag: every chunk
    // counts as a key frame.
    EXPECT_EQ(
        std::tuple(positions(*c.video_index()), c.video_index()->entries.back().size,
                   c.video_index()->key_frames.size(), c.has_inter_frames()),
        std::tuple(avi.layout.data_positions[0], 30u, longs == 6 ? 7u : 3u, longs == 6 ? 0 : 1));
  }
}

TEST(OdmlIndexTest, PositionsBeyondFourGigabytes) {
  AviBuilder b;
  b.add_frames(b.add_video({}), 40, 16, 4).index(IndexKind::kOdml).chunks_per_segment(20);
  b.entries_per_ix(8).gap_after_first_segment(std::uint64_t{5} << 30);  // Sparse: no disk for it
  const std::string path = avitest::temp_path("odml_over_4gb.avi");
  const auto layout = b.write_file(path);
  ASSERT_TRUE(layout.has_value());
  ASSERT_GT(layout->data_positions[0].back(), std::uint64_t{1} << 32);
  {
    AviContainer c(true);
    ASSERT_EQ(c.open(path.c_str()), 1);
    // The chunk header really sits 8 bytes before the last entry's data. Braces: in order.
    char id[4] = {};
    EXPECT_EQ((std::tuple{c.file_size() > (std::uint64_t{5} << 30), positions(*c.video_index()),
                          c.read_at(c.video_index()->entries.back().position - 8, id, 4),
                          std::string(id, 4)}),
              std::tuple(true, layout->data_positions[0], 4u, "00db"));
  }
  std::remove(path.c_str());
}

// One video stream of `chunks` 2-byte chunks and one ix00 over them, its "indx" holding
// `super_entries` entries that all name that ix00.
avitest::BuiltAvi hand_made(std::uint32_t chunks, std::uint32_t super_entries) {
  AviBuilder b;
  b.add_frames(b.add_video({}), static_cast<int>(chunks), 2);
  auto avi = b.index(IndexKind::kOdml).entries_per_ix(chunks).indx_room(super_entries).build();
  const std::uint64_t first = avi.layout.indx_data[0] + 24;
  avitest::patch_u32(avi.bytes, avi.layout.indx_data[0] + 4, super_entries);  // nEntriesInUse
  for (std::uint32_t i = 1; i < super_entries; ++i)
    avi.bytes.replace(first + 16 * i, 16, avi.bytes, first, 16);
  return avi;
}

TEST(OdmlIndexTest, FailureInsideSuperIndexKeepsEarlierEntries) {
  AviBuilder b;
  const int v = b.add_video({}), a = b.add_audio({});
  for (int i = 0; i < 12; ++i) b.add_chunk(v, 10).add_chunk(a, 40);
  auto avi = b.index(IndexKind::kOdml).entries_per_ix(4).build();
  // The video super index's second entry points back at the super index itself.
  avitest::patch_u64(avi.bytes, avi.layout.indx_data[0] + 24 + 16, avi.layout.indx_data[0] - 8);
  OpenedAvi c(avi.bytes, true);
  ASSERT_EQ(c.result, 1);  // The video stream falls back to the "movi" walk.
  EXPECT_EQ(
      std::tuple(c.video_index()->entries.size(), c.frame_count(), c.audio_index()->entries.size()),
      std::tuple(12u, 12u, 12u));
}

TEST(OdmlIndexTest, RepeatedEntriesStopAtTheFileSize) {
  // Every one of 5000 super index entries names the same 1000-entry standard index: reading
  // them all would cost 5000 times the file. The walk stops once it has read a file's worth.
  const avitest::BuiltAvi m = hand_made(1000, 5000);
  OpenedAvi c(m.bytes, true);
  ASSERT_EQ(c.result, 1);
  const std::size_t n = c.video_index()->entries.size();
  EXPECT_EQ(std::tuple(n > 1000u, n <= m.bytes.size() / 8, c.frame_count()),
            std::tuple(true, true, n))
      << n;  // what was read is kept
}

struct BadHeaderCase {
  const char* name;
  std::uint64_t offset;  // from the start of the indx data
  std::uint32_t value;
  bool super;  // patch the super index (else the standard index)
  std::size_t want = 10;
};
// A hand-made file, one field of its indexes bad.
class OdmlBadHeaderTest : public ::testing::TestWithParam<BadHeaderCase> {};

TEST_P(OdmlBadHeaderTest, FileStillOpensRebuilt) {
  const BadHeaderCase& p = GetParam();
  avitest::BuiltAvi m = hand_made(10, 1);
  const std::uint64_t base = p.super ? m.layout.indx_data[0] : m.layout.ix_headers[0] + 8;
  avitest::patch_u32(m.bytes, base + p.offset, p.value);
  OpenedAvi c(m.bytes, true);
  ASSERT_EQ(c.result, 1);  // One bad field: the chunks are found all the same.
  EXPECT_EQ(std::pair(c.video_index()->entries.size(), std::size_t{c.frame_count()}),
            std::pair(p.want, p.want));
}

const BadHeaderCase kBadHeaders[] = {
    {"SuperLongsPerEntry", 0, 0x00000005, true},
    {"SuperTypeTwo", 0, 0x02000004, true},
    {"SuperEmpty", 4, 0, true},
    {"SuperNegativeCount", 4, 0x80000000u, true},
    {"StandardLongsFour", 0, 0x01000004, false},
    {"StandardEmpty", 4, 0, false},
    {"StandardIsSuper", 0, 0x00000004, false},
    // A standard index of another stream adds nothing.
    {"StandardOfUnknownStream", 8, 0x62643730u /* "07db" */, false, 0},
};
INSTANTIATE_TEST_SUITE_P(Headers, OdmlBadHeaderTest, ::testing::ValuesIn(kBadHeaders),
                         [](const auto& test) { return std::string(test.param.name); });

}  // namespace
