// Images the players hand out. A sound block's length is checked through the audio player.
#include <avikit/image.h>
#include <gtest/gtest.h>

using namespace avikit;

namespace {

TEST(ImageTest, RowsArePaddedAndBadSizesGiveAnEmptyImage) {
  Image i(5, 3, 1, 0);
  EXPECT_EQ(i.pitch(), 16);
  ASSERT_NE(i.data(), nullptr);
  EXPECT_EQ(i.row(2) - i.row(0), 32);
  const Image bad(-1, 3, 1, 0);
  EXPECT_TRUE(bad.data() == nullptr && bad.width() == 0);
  EXPECT_EQ(Image(4, 4, 2, 0).data(), nullptr);  // another pixel format
}

}  // namespace
