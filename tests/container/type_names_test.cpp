#include "container/type_names.h"

#include <avikit/platform/vfw.h>

#include <algorithm>

#include "container_peek.h"
#include "fake_codecs.h"

namespace {

using avitest::FakeCodecs;

bool was_opened(const char* handler) {
  const auto& o = FakeCodecs::opened();
  return std::find(o.begin(), o.end(), avitest::fourcc_value(handler)) != o.end();
}

// The codecs installed, the stream's handler and format, and what the container names it, which
// codec it opened and how it rewrote the handler and compression.
struct NameCase {
  const char* codec;  // installed, with `description`, accepting `accepts` when located
  std::u16string description;
  std::vector<std::uint32_t> accepts;
  const char* handler;
  const char* compression;
  std::uint32_t compression_value;
  std::uint16_t bits;
  const char* want;  // nullptr: no name
  const char* want_handler = nullptr;
  const char* want_compression = nullptr;
  const char* want_file_type = "Microsoft Audio/Video Interleaved File";
  bool dv_type1 = false;
};

TEST(VideoNamingTest, NamesFromTheCodecsFoundAndRewritesTheHandler) {
  const char* const kType2 = "Microsoft DV-Type 2";
  const NameCase cases[] = {
      {"divx", u"MPEG-4 part 2", {}, "MSVC", "DX50", 0, 24, "MPEG-4 part 2", "divx"},
      {nullptr, u"", {}, nullptr, nullptr, 0, 24, "Uncompressed RGB24"},
      {nullptr, u"", {}, "DIB ", nullptr, 0, 32, "Uncompressed RGB32"},
      // Run-length bitmaps ask for "rle ".
      {nullptr, u"", {}, nullptr, nullptr, 1, 8, nullptr, "rle "},
      {"rle ", u"Run length", {}, nullptr, nullptr, 1, 8, "Run length", "rle "},
      // Xvid without its codec falls back to DivX, and DivX tries Xvid last.
      {"divx", u"DivX", {}, "xvid", "XVID", 0, 24, "DivX", "divx", "DX50"},
      {"xvid", u"Xvid", {}, "DX50", "DX50", 0, 24, "Xvid", "XVID", "XVID"},
      {"blz0", u"Blizzard", {}, "BLZ0", "BLZ0", 0, 24, "Blizzard", nullptr, "DX50"},
      // An unknown handler: ICLocate asks every driver for the compression.
      {"mjpx", u"Motion JPEG", {fourcc("MJPG")}, "abcd", "MJPG", 0, 24, "Motion JPEG"},
      // A codec that calls itself DV names only DV streams.
      {"mjpg", u"Fake DV and MJPEG", {}, "mjpg", "MJPG", 0, 24, nullptr},
      {"dvsd", u"Fake DV", {}, "dvsd", "dvsd", 0, 24, "Fake DV", nullptr, nullptr, kType2},
      {nullptr, u"", {}, "dvsd", "dvsd", 0, 24, "DV Video", nullptr, nullptr, kType2},
      {nullptr, u"", {}, "DVSD", "dvsd", 0, 24, "DV Video"},
      {nullptr, u"", {}, "FMP4", "FMP4", 0, 24, nullptr},
      {nullptr, u"", {}, "dvsd", "dvsd", 0, 24, "DV Video", {}, {}, "Microsoft DV-Type 1", true},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(avitest::text(c.handler) + " with " + avitest::text(c.codec));
    FakeCodecs codecs;
    if (c.codec != nullptr) codecs.add(c.codec, c.description, c.accepts);
    // One video stream with the case's handler and format, opened with keep-handle.
    AviBuilder b;
    const std::string strf = avitest::bitmap_info({.bit_count = c.bits,
                                                   .compression = c.compression,
                                                   .compression_value = c.compression_value});
    const int v =
        c.dv_type1
            ? b.add_dv({})
            : b.add_video({.handler = c.handler, .compression = c.compression, .strf = strf});
    OpenedAvi n(b.add_frames(v, 2, 10).build().bytes, true);
    ASSERT_EQ(n.result, 1);
    const std::string name = avitest::text(n.video_type_name());  // worked out on first ask
    if (c.codec != nullptr && c.want != nullptr && c.accepts.empty()) {
      EXPECT_TRUE(was_opened(c.codec));
    }
    // Unless rewritten, the handler and compression stay as written.
    const auto fcc = [](const char* want, const char* written, std::uint32_t value = 0) {
      const char* four = want != nullptr ? want : written;
      return four != nullptr ? avitest::fourcc_value(four) : value;
    };
    // The name is worked out once, even without a result.
    EXPECT_EQ(std::tuple(name, n.flags() & AVC_VIDEO_NAME, n.video_handler_fourcc(),
                         n.video_format()->biCompression, avitest::text(n.file_type_name()),
                         platform::ic_open_instances()),
              std::tuple(avitest::text(c.want), AVC_VIDEO_NAME, fcc(c.want_handler, c.handler),
                         fcc(c.want_compression, c.compression, c.compression_value),
                         std::string(c.want_file_type), 0));
  }
}

TEST(DescribeCodecTest, LongDescriptionTruncatedAndNullBufferRefused) {
  FakeCodecs codecs;
  codecs.add("long", std::u16string(300, u'x'));
  AviContainer c(false);
  char text[container::kCodecTextSize];
  EXPECT_EQ((std::tuple{c.describe_codec(fourcc("long"), nullptr, nullptr),
                        c.describe_codec(fourcc("long"), nullptr, text), std::string(text),
                        c.describe_codec(fourcc("none"), nullptr, text), text[0]}),
            std::tuple(0, 127, std::string(127, 'x'), 0, '\0'));  // braces: in order
}

TEST(AudioNamingTest, NamesTheFourFormats) {
  const std::pair<std::uint16_t, const char*> cases[] = {
      {1, "Wave Format PCM"}, {0x50, "MPEG Layer-1/2"}, {0x55, "MPEG Layer-3"},
      {0x2000, "Dolby AC-3"}, {2, "Microsoft ADPCM"},   {0x64, nullptr}};
  for (const auto& [tag, want] : cases) {
    AviBuilder b;
    b.add_frames(b.add_audio({.tag = tag, .avg_bytes = 1000, .block_align = 1}), 2, 100);
    OpenedAvi c(b.build().bytes, false);
    ASSERT_EQ(c.result, 1) << tag;
    EXPECT_EQ(avitest::text(c.audio_type_name()), avitest::text(want));
  }
}

}  // namespace
