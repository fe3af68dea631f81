#include "container/type_names.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "container/avi_container.h"
#include "container/fourccs.h"
#include "container_peek.h"
#include "fake_codecs.h"
#include "platform/vfw.h"
#include "support/avi_builder.h"

namespace {

using avitest::AviBuilder;
using avitest::FakeCodecs;
using avitest::TestFile;
using container::fourcc;

// One video stream with the given handler and compression, opened with keep-handle.
struct Named {
  TestFile file;
  AviContainer c{true};
  Named(const char* handler, const char* compression, std::uint32_t compression_value = 0,
        std::uint16_t bits = 24)
      : file(build(handler, compression, compression_value, bits)) {
    EXPECT_EQ(c.open(file.name()), 1);
  }
  static std::string build(const char* handler, const char* compression, std::uint32_t value,
                           std::uint16_t bits) {
    avitest::VideoStream v;
    v.handler = handler;
    v.compression = compression;
    v.bit_count = bits;
    avitest::BitmapFields b;
    b.compression = compression;
    b.compression_value = value;
    b.bit_count = bits;
    v.strf = avitest::bitmap_info(b);
    AviBuilder builder;
    builder.add_frames(builder.add_video(v), 2, 10);
    return builder.build().bytes;
  }
  const char* name() { return c.video_type_name(); }
};

bool was_opened(const char* handler) {
  const auto& o = FakeCodecs::opened();
  return std::find(o.begin(), o.end(), avitest::fourcc_value(handler)) != o.end();
}

TEST(VideoNamingTest, MsvcWithDx50AsksForDivxAndRewritesHandler) {
  FakeCodecs codecs;
  codecs.add("divx", u"MPEG-4 part 2 decoder");
  Named n("MSVC", "DX50");
  EXPECT_STREQ(n.name(), "MPEG-4 part 2 decoder");
  EXPECT_TRUE(was_opened("divx"));
  EXPECT_EQ(n.c.video_handler_fourcc(), fourcc("divx"));
}

TEST(VideoNamingTest, UncompressedNamesItsBitDepth) {
  Named rgb(nullptr, nullptr, 0, 24);
  EXPECT_STREQ(rgb.name(), "Uncompressed RGB24");
  Named dib("DIB ", nullptr, 0, 32);
  EXPECT_STREQ(dib.name(), "Uncompressed RGB32");
}

TEST(VideoNamingTest, RunLengthBitmapsAskForRle) {
  FakeCodecs codecs;
  Named n(nullptr, nullptr, 1, 8);
  EXPECT_EQ(n.name(), nullptr);  // No codec for "rle " here: undecodable.
  EXPECT_EQ(n.c.video_handler_fourcc(), fourcc("rle "));
  codecs.add("rle ", u"Run length");
  Named m(nullptr, nullptr, 1, 8);
  EXPECT_STREQ(m.name(), "Run length");
  EXPECT_TRUE(was_opened("rle "));
}

TEST(VideoNamingTest, XvidWithoutItsCodecFallsBackToDivx) {
  FakeCodecs codecs;
  codecs.add("divx", u"DivX");
  Named n("xvid", "XVID");
  EXPECT_STREQ(n.name(), "DivX");
  EXPECT_EQ(n.c.video_handler_fourcc(), fourcc("divx"));
  EXPECT_EQ(n.c.video_format()->biCompression, fourcc("DX50"));
}

TEST(VideoNamingTest, DivxWithoutCodecTriesXvidLast) {
  FakeCodecs codecs;
  codecs.add("xvid", u"Xvid");
  Named n("DX50", "DX50");
  EXPECT_STREQ(n.name(), "Xvid");
  EXPECT_EQ(n.c.video_handler_fourcc(), fourcc("XVID"));
  EXPECT_EQ(n.c.video_format()->biCompression, fourcc("XVID"));
}

TEST(VideoNamingTest, Blz0DescribedKeepsHandlerButDecodesAsDx50) {
  FakeCodecs codecs;
  codecs.add("blz0", u"Blizzard");
  Named n("BLZ0", "BLZ0");
  EXPECT_STREQ(n.name(), "Blizzard");
  EXPECT_EQ(n.c.video_format()->biCompression, fourcc("DX50"));
}

TEST(VideoNamingTest, LocatesCodecByCompressionWhenHandlerUnknown) {
  FakeCodecs codecs;
  codecs.add("mjpx", u"Motion JPEG", {fourcc("MJPG")});
  Named n("abcd", "MJPG");
  EXPECT_STREQ(n.name(), "Motion JPEG");  // Found by ICLocate asking every driver.
}

TEST(VideoNamingTest, DvCodecForAStreamThatIsNotDvNamesNothing) {
  FakeCodecs codecs;
  codecs.add("mjpg", u"Fake DV and MJPEG");
  Named n("mjpg", "MJPG");
  EXPECT_EQ(n.name(), nullptr);
  codecs.add("dvsd", u"Fake DV");
  Named dv("dvsd", "dvsd");
  EXPECT_STREQ(dv.name(), "Fake DV");
}

TEST(VideoNamingTest, DvWithoutCodecIsDvVideo) {
  FakeCodecs codecs;
  Named type2("dvsd", "dvsd");
  EXPECT_STREQ(type2.name(), "DV Video");
  EXPECT_STREQ(type2.c.file_type_name(), "Microsoft DV-Type 2");
  Named upper("DVSD", "dvsd");
  EXPECT_STREQ(upper.name(), "DV Video");
  EXPECT_STREQ(upper.c.file_type_name(), "Microsoft Audio/Video Interleaved File");
  EXPECT_EQ(upper.c.is_dv(), 1);
  EXPECT_EQ(upper.c.is_dv_type1(), 0);

  AviBuilder b;
  b.add_frames(b.add_dv({}), 2, 10);
  TestFile f(b.build().bytes);
  AviContainer type1(true);
  ASSERT_EQ(type1.open(f.name()), 1);
  EXPECT_STREQ(type1.video_type_name(), "DV Video");
  EXPECT_STREQ(type1.file_type_name(), "Microsoft DV-Type 1");
}

TEST(VideoNamingTest, NoCodecNoName) {
  FakeCodecs codecs;
  Named n("FMP4", "FMP4");
  EXPECT_EQ(n.name(), nullptr);
  EXPECT_NE(n.c.flags() & AVC_VIDEO_NAME, 0u);  // Worked out once, even without a result.
  EXPECT_EQ(platform::ic_open_instances(), 0);
}

TEST(DescribeCodecTest, LongDescriptionTruncatedAndNullBufferRefused) {
  FakeCodecs codecs;
  codecs.add("long", std::u16string(300, u'x'));
  AviContainer c(false);
  char text[container::kCodecTextSize];
  EXPECT_EQ(c.describe_codec(fourcc("long"), nullptr, nullptr), 0);
  EXPECT_EQ(c.describe_codec(fourcc("long"), nullptr, text), 127);
  EXPECT_EQ(std::string(text), std::string(127, 'x'));
  EXPECT_EQ(c.describe_codec(fourcc("none"), nullptr, text), 0);
  EXPECT_EQ(text[0], '\0');
}

TEST(AudioNamingTest, NamesTheFourFormats) {
  for (auto [tag, want] :
       std::vector<std::pair<std::uint16_t, const char*>>{{1, "Wave Format PCM"},
                                                          {0x50, "MPEG Layer-1/2"},
                                                          {0x55, "MPEG Layer-3"},
                                                          {0x2000, "Dolby AC-3"},
                                                          {2, "Microsoft ADPCM"},
                                                          {0x64, nullptr}}) {
    AviBuilder b;
    avitest::AudioStream a;
    a.tag = tag;
    a.avg_bytes = 1000;
    a.block_align = 1;
    b.add_chunks(b.add_audio(a), 2, 100);
    TestFile f(b.build().bytes);
    AviContainer c(false);
    ASSERT_EQ(c.open(f.name()), 1);
    if (want == nullptr) {
      EXPECT_EQ(c.audio_type_name(), nullptr);
    } else {
      EXPECT_STREQ(c.audio_type_name(), want);
    }
  }
}

}  // namespace
