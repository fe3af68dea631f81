// avikit dv-decode, run as a user would: real files on disk, output compared byte for byte.

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/run_command.h"
#include "support/test_paths.h"

namespace {

std::string fixture(const std::string& name) { return avitest::data_path("dv/" + name); }

// Two frames back to back with trailing bytes that are no whole frame (ignored), the system
// from the header; --system overriding a header that a damaged frame lacks; and clean failures
// (no output wanted): a missing file, an empty one, an unknown system, and a first block that is
// no header without --system, so that the system cannot be told.
TEST(DvDecodeCliTest, DecodesWholeFramesBackToBackAndFailsCleanly) {
  const std::string two = avitest::temp_path("two.dv");
  const std::string ildct = avitest::read_file(fixture("625-smptebars-scroll-ildct.dv"));
  std::ofstream(two, std::ios::binary) << ildct << ildct << "xyz";
  const std::string bars = avitest::gunzip_file(fixture("625-smptebars-scroll-ildct.bgr.gz"));
  const std::string empty = avitest::temp_path("empty.dv");
  std::ofstream(empty, std::ios::binary).close();
  const std::string headless = avitest::temp_path("headless.dv");
  std::ofstream(headless, std::ios::binary) << std::string(120000, '\x90');
  const struct {
    std::string args;
    std::string want;
  } cases[] = {
      {"'" + two + "'", bars + bars},
      {"--system 525 '" + fixture("525-testsrc2-damaged.dv") + "'",
       avitest::gunzip_file(fixture("525-testsrc2-damaged.bgr.gz"))},
      {"'" + avitest::temp_path("missing.dv") + "'", ""},
      {"--system 625 '" + empty + "'", ""},
      {"--system 600 '" + fixture("525-testsrc2.dv") + "'", ""},
      {"'" + headless + "'", ""},
  };
  const std::string out = avitest::temp_path("out.bgr");
  for (const auto& c : cases) {
    int status = -1;
    avitest::run_command(
        std::string("'") + AVIKIT_CLI + "' dv-decode " + c.args + " '" + out + "' 2>/dev/null",
        &status);
    EXPECT_EQ(status == 0, !c.want.empty()) << c.args;
    EXPECT_TRUE(status != 0 || avitest::read_file(out) == c.want) << c.args;
  }
}

}  // namespace
