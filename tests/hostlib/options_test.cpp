#include <avikit/options.h>
#include <gtest/gtest.h>

#include <cstdlib>

using namespace avikit;

namespace {

// Option 254 picks the video output format; the store a host sets wins over the environment
// variable the command line uses.
TEST(OptionsTest, HostStoreWinsOverTheEnvironment) {
  options_clear(254);
  ::unsetenv("AVIKIT_OPTION_254");
  EXPECT_EQ(OptionsGet(254, 0, 0), 2u);  // YV12 unless a host says otherwise
  ::setenv("AVIKIT_OPTION_254", "0", 1);
  EXPECT_EQ(OptionsGet(254, 0, 0), 0u);
  options_set(254, 7);
  EXPECT_EQ(OptionsGet(254, 0, 0), 7u);
  options_clear(254);
  for (const char* bad : {"", "2x", "-1", "99999999999"}) {
    ::setenv("AVIKIT_OPTION_254", bad, 1);
    EXPECT_EQ(OptionsGet(254, 0, 0), 2u) << bad;
  }
  ::unsetenv("AVIKIT_OPTION_254");
}

}  // namespace
