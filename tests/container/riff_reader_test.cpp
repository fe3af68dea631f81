#include "container/riff_reader.h"

#include <optional>

#include "container_peek.h"
#include "platform/files.h"

namespace {

using container::ChunkHeader;
using container::RiffReader;
using container::SeekOrigin;

std::string header(const char* id, std::uint32_t size) {
  return std::string(id, 4) + avitest::le(size, 4);
}

struct ReaderCase {
  const char* name;
  std::string bytes;
  bool may_skip;
  bool know_size;
  const char* want_id;  // nullptr: no header
  std::uint64_t want_position;
  const char* want_list_type = nullptr;
};

class ReadChunkHeaderTest : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(ReadChunkHeaderTest, DeliversHeaderAndPosition) {
  const ReaderCase& c = GetParam();
  TestFile f(c.bytes);
  RiffReader reader;
  ASSERT_TRUE(reader.open(f.file()));
  const auto end = c.know_size ? std::optional<std::uint64_t>(c.bytes.size()) : std::nullopt;
  ChunkHeader h;
  const auto value = avitest::fourcc_value;  // 0 for no id
  EXPECT_EQ(reader.read_chunk_header(h, c.may_skip, end), value(c.want_id));
  EXPECT_EQ(reader.position(), c.want_position);
  if (c.want_id != nullptr) {
    EXPECT_EQ(std::tuple(h.id, h.list_type), std::tuple(value(c.want_id), value(c.want_list_type)));
  }
}

const std::string kZero(1, '\0'), kStrh = header("strh", 0);
const std::string kOddJunkThenList = header("JUNK", 3) + "abc" + kZero + header("LIST", 4) + "movi";
const ReaderCase kReaderCases[] = {
    {"ListCarriesType", header("LIST", 4) + "hdrl", true, false, "LIST", 12, "hdrl"},
    {"StrhStopsAtData", header("strh", 56) + std::string(56, 'x'), true, false, "strh", 8},
    {"OddChunkPadAbsorbedWithSkip", kOddJunkThenList, true, false, "LIST", 12 + 12, "movi"},
    {"OddChunkNotSkippedWithoutSkip", kOddJunkThenList, false, false, nullptr, 8},
    {"OneStrayZeroByte", kZero + kStrh, true, false, "strh", 9},
    {"TwoStrayZeroBytes", kZero + kZero + kStrh, true, false, "strh", 10},
    {"ThreeStrayZeroBytesGiveUp", kZero + kZero + kZero + kStrh, true, false, nullptr, 10},
    {"ZeroByteKeptWithoutSkip", kZero + kStrh, false, false, nullptr, 8},
    {"ChunkPastEndNotSkipped", header("JUNK", 100) + "xy" + kStrh, true, true, nullptr, 8},
    {"EmptyUnknownChunkPassedOver", header("strn", 0) + kStrh, true, true, "strh", 16},
    {"ShortFileGivesZero", std::string("RIF"), true, false, nullptr, 3},
    {"TruncatedListType", header("LIST", 4) + "hd", true, false, nullptr, 10},
    {"UnknownChunksSkipped",
     header("JUNK", 4) + "abcd" + header("strn", 2) + "ab" + header("idx1", 0), true, true, "idx1",
     30},
};
INSTANTIATE_TEST_SUITE_P(Cases, ReadChunkHeaderTest, ::testing::ValuesIn(kReaderCases),
                         [](const auto& test) { return std::string(test.param.name); });

// A distance of zero or less moves nothing; read_at reaches offset 0 and offsets past 4 GB.
TEST(RiffReaderTest, NonPositiveDistanceMovesNothingAndReadAtGoesAnywhere) {
  TestFile f("0123456789");
  RiffReader reader;
  ASSERT_TRUE(reader.open(f.file()));
  char b[4];
  ASSERT_EQ(reader.read(b, 4), 4u);
  reader.seek(0, SeekOrigin::kBegin);
  EXPECT_EQ(reader.position(), 4u);
  reader.seek(-2, SeekOrigin::kCurrent);
  EXPECT_EQ(reader.position(), 4u);
  reader.seek(3, SeekOrigin::kCurrent);
  EXPECT_EQ(reader.position(), 7u);
  reader.seek(3, SeekOrigin::kBegin);
  // Braces: in order. Past the end nothing is read.
  EXPECT_EQ(
      (std::tuple{reader.read(b, 4), std::string(b, 4), reader.read_at(0, b, 3), std::string(b, 3),
                  reader.read_at(std::uint64_t{5} << 32, b, 3), reader.position()}),
      std::tuple(4u, "3456", 3u, "012", 0u, std::uint64_t{5} << 32));
}

avitest::BuiltAvi small_avi() {
  avitest::AviBuilder b;
  return b.add_frames(b.add_video({}), 3, 24).build();
}

// Only a player keeps its handle between calls; reopening clears keep-handle, and a file that
// cannot be opened changes nothing.
TEST(AviContainerOpenTest, DropsHandleBetweenCallsUnlessKept) {
  TestFile f(small_avi().bytes);
  const int before = platform::open_file_handles();
  {
    AviContainer probe(false);
    ASSERT_EQ(probe.open(f.file()), 1);
    constexpr std::uint32_t kAll = AVC_OPENED | AVC_HEADERS | AVC_INDEXED;
    EXPECT_EQ(std::tuple(platform::open_file_handles(), probe.flags() & kAll,
                         probe.video_index() != nullptr, avitest::text(probe.file_name())),
              std::tuple(before, kAll, false, f.name()));  // figures only: no index
  }
  AviContainer player(true);
  ASSERT_EQ(player.open(f.file()), 1);
  ASSERT_NE(player.video_index(), nullptr);
  EXPECT_EQ((std::tuple{platform::open_file_handles(), player.video_index()->entries.size(),
                        player.open(f.file()), player.flags() & AVC_KEEP_HANDLE,
                        player.holds_file(), player.open("/no/such/file.avi"), player.open(nullptr),
                        avitest::text(player.file_name()), player.frame_count()}),
            std::tuple(before + 1, 3u, 1, 0u, false, 0, 0, f.name(), 3u));  // braces: in order
  player.close();
  EXPECT_EQ(std::tuple(platform::open_file_handles(), player.flags(), player.file_name()),
            std::tuple(before, 0u, nullptr));
}

// Files whose structure is wrong fail the open and leave the container closed, keep-handle
// included: another chunk before the header list, no "movi", an empty stream header, a main
// header too short.
TEST(AviContainerOpenTest, BadStructureFailsAndEndsClosed) {
  const avitest::BuiltAvi avi = small_avi();
  const avitest::AviLayout& at = avi.layout;
  for (const auto& [offset, length, bytes] :
       {std::tuple{std::uint64_t{12}, 0u, header("JUNK", 4) + "abcd"},
        {at.movi_list + 8, 4u, std::string("junk")},
        {at.strh_data[0] - 4, 4u, avitest::le(0, 4)},
        {at.avih_data - 4, 4u, avitest::le(52, 4)}}) {
    OpenedAvi c(std::string(avi.bytes).replace(offset, length, bytes), true);
    EXPECT_EQ(std::tuple(c.result, c.flags(), platform::open_file_handles()), std::tuple(0, 0u, 0))
        << offset;
  }
}

TEST(AviContainerCopyTest, CopyReopensByNameAndKeepsTables) {
  OpenedAvi source(small_avi().bytes, true);
  ASSERT_EQ(source.result, 1);
  AviContainer copy(false);
  copy = source;
  EXPECT_EQ(std::tuple(copy.holds_file(), copy.tracked_position(), copy.flags(), copy.frame_count(),
                       copy.find_chunk_record(fourcc("avih"), -1) != nullptr),
            std::tuple(false, 0u, source.flags(), 3u, true));
  ASSERT_NE(copy.video_index(), nullptr);
  EXPECT_NE(copy.video_index(), source.video_index());  // a copy of its own
  EXPECT_EQ(copy.video_index()->entries.size(), 3u);
  AviContainer& alias = copy;
  copy = alias;  // Self-assignment is harmless.
  EXPECT_EQ(copy.frame_count(), 3u);
  // Reading through the copy reopens the file by its name.
  AviContainer second(copy);
  char b[4] = {};
  EXPECT_EQ(second.read_at(0, b, 4), 0u);  // No handle held, and read_at does not open one.
}

}  // namespace
