// The test AVI builder is checked against an independent reader: ffprobe must see the streams
// and the chunks the builder says it wrote.

#include "support/avi_builder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "support/run_command.h"
#include "support/test_paths.h"

namespace {

using avitest::AviBuilder;
using avitest::IndexKind;

std::string probe(const std::string& path, const char* entries) {
  return avitest::run_command("ffprobe -v error -count_packets -show_entries " +
                              std::string(entries) + " -of csv=p=0 '" + path + "'");
}

class AviBuilderTest : public ::testing::TestWithParam<IndexKind> {};

TEST_P(AviBuilderTest, FfprobeReadsWhatWasBuilt) {
  if (!avitest::have_tool("ffprobe")) GTEST_SKIP() << "ffprobe not installed";
  AviBuilder b;
  const int v = b.add_video({});  // 4x2 24-bit: 24-byte frames
  const int a = b.add_audio({.channels = 1, .sample_rate = 8000});
  for (int i = 0; i < 30; ++i) b.add_chunk(v, 24).add_chunk(a, 320);
  b.index(GetParam()).chunks_per_segment(20).entries_per_ix(7);
  const std::string path = avitest::temp_path("builder.avi");
  ASSERT_TRUE(b.write_file(path).has_value());
  EXPECT_EQ(probe(path, "stream=codec_type,width,height,nb_read_packets"),
            "video,4,2,30\naudio,30\n");
  std::remove(path.c_str());
}

INSTANTIATE_TEST_SUITE_P(Indexes, AviBuilderTest,
                         ::testing::Values(IndexKind::kIdx1Relative, IndexKind::kIdx1Absolute,
                                           IndexKind::kOdml, IndexKind::kOdmlAndIdx1));

}  // namespace
