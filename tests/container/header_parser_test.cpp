#include "container/header_parser.h"

#include <optional>

#include "container_peek.h"

namespace {

using container::detail::stream_frame_rate;

TEST(FrameRateTest, SinglePrecisionQuotient) {
  for (const auto& [rate, scale, limit, want] :
       {std::tuple{30000u, 1001u, true, 30000.0f / 1001.0f}, std::tuple{120u, 1u, true, 60.0f},
        std::tuple{120u, 1u, false, 120.0f}, std::tuple{25u, 1u, true, 25.0f},
        std::tuple{25u, 0u, true, 0.0f}, std::tuple{0u, 0u, false, 0.0f}}) {
    EXPECT_EQ(stream_frame_rate(rate, scale, limit), want) << rate << '/' << scale;
  }
}

// A palette, codec data or a longer header asks for the full format, and "strf" is kept as
// written (its header read as 40 bytes); an odd bit count is taken as 24.
TEST(VideoFormatParseTest, PaletteOrCodecDataAsksForFullFormat) {
  const struct {
    std::uint16_t bits;
    std::string extra;
    std::optional<std::string> strf;
    std::uint16_t want_bits;
    std::uint32_t record;  // size of the "strf" record kept; 0: none
  } cases[] = {{12, {}, {}, 24, 0},
               {8, {}, {}, 8, 40},
               {24, std::string(6, '\x01'), {}, 24, 46},
               {24, {}, avitest::bitmap_info({.bi_size = 44}), 24, 40}};
  for (const auto& c : cases) {
    AviBuilder b;
    b.add_frames(b.add_video({.bit_count = c.bits, .strf_extra = c.extra, .strf = c.strf}), 2, 10);
    OpenedAvi con(b.build().bytes, true);
    ASSERT_EQ(con.result, 1) << c.record;
    const ChunkRecord* r = con.find_chunk_record(fourcc("strf"), 0);
    EXPECT_EQ(std::tuple(con.video_format()->biBitCount, con.video_format()->biSize,
                         con.full_format_flag(), r != nullptr ? r->size : 0u),
              std::tuple(c.want_bits, 40u, c.record != 0 ? 1u : 0u, c.record));
  }
}

// One "iavs" stream: the picture and its sound (the stream one above) are made up from it.
TEST(DvType1ParseTest, SynthesisesPictureAndSoundLayout) {
  const struct {
    avitest::DvStream dv;
    std::int32_t height, samples_per_10;
    std::uint32_t sample_rate, channel2;
    std::size_t offsets;
  } cases[] = {
      {{}, 576, 19200, 48000, 72000, 1944},
      {{.rate = 30000, .scale = 1001, .fifty_field = false}, 480, 16016, 48000, 60000, 1620},
      {{.rate = 30000, .scale = 1001, .sampling_code = 2, .fifty_field = false},
       480,
       10677,
       32000,
       60000,
       1620},
      {{.sampling_code = 1}, 576, 17640, 44100, 72000, 1944},
      {{.sampling_code = 5}, 576, 0, 0, 72000, 1944},
  };
  for (const auto& c : cases) {
    AviBuilder b;
    b.add_frames(b.add_dv(c.dv), 10, 16);
    OpenedAvi con(b.build().bytes, true);
    ASSERT_EQ(con.result, 1);
    const auto& f = *con.video_format();
    EXPECT_EQ(std::tuple(con.is_dv_type1(), f.biWidth, f.biHeight, f.biCompression,
                         con.full_format_flag(), con.selected_audio_stream_number(),
                         con.audio_format()->nSamplesPerSec, con.audio_format()->nChannels,
                         con.dv_samples_per_10_frames(), con.dv_channel2_offset(),
                         con.dv_audio_offsets().size(),
                         con.find_chunk_record(fourcc("strf"), 0) != nullptr),
              std::tuple(1, 720, c.height, fourcc("dvsd"), 1u, 1, c.sample_rate, 2,
                         c.samples_per_10, c.channel2, c.offsets, true))
        << c.dv.rate << ' ' << c.dv.sampling_code;
    // Length from the stream header, not from any chunk: 10 frames.
    EXPECT_DOUBLE_EQ(con.audio_length(), 10.0 * c.dv.scale / c.dv.rate);
  }
}

// Every stream list is found, whatever dwStreams says and whatever a list lacks, and no chunk
// after one is lost; "indx" right after "strh" sets the flag; the "send" mark lands on "movi",
// stepping back over the header in hand.
TEST(StreamListParseTest, ListsFoundAndScanStartsAtMovi) {
  const std::string width_height = avitest::bitmap_info({}).substr(0, 12);  // a short format
  const struct {
    const char* name;
    avitest::VideoStream video;
    std::optional<avitest::AudioStream> audio;
    bool odml = false, text_first = false;
    int audio_chunks = 0;
    std::uint32_t dw_streams = 0;  // 0: as written
  } cases[] = {
      {"odml", {}, {}, true},
      {"idx1", {}, {}},
      {"text stream first", {}, {}, false, true},
      {"dwStreams too large", {}, {}, false, false, 0, 0xFFFFFFFFu},
      {"no formats", {.write_strf = false}, avitest::AudioStream{.write_strf = false}, true},
      {"short format", {.strf = width_height}, avitest::AudioStream{}, false, false, 2},
  };
  for (const auto& c : cases) {
    AviBuilder b;
    if (c.text_first) b.add_stream("txts", "hello");
    const int v = b.add_video(c.video), a = c.audio ? b.add_audio(*c.audio) : -1;
    b.add_frames(v, 3, 10);
    if (c.audio_chunks > 0) b.add_frames(a, c.audio_chunks, 100);
    if (c.dw_streams != 0) b.streams_in_main_header(c.dw_streams);
    if (c.odml) b.index(IndexKind::kOdml);
    const auto avi = b.build();
    OpenedAvi con(avi.bytes, true);
    ASSERT_EQ(con.result, 1) << c.name;
    const ChunkRecord* indx = con.find_chunk_record(fourcc("indx"), 0);
    const ChunkRecord* send = con.find_chunk_record(fourcc("send"), -1);
    EXPECT_EQ(std::tuple(con.video_stream_count(), con.audio_stream_count(),
                         con.selected_video_stream_number(), con.frame_count(),
                         con.flags() & AVC_HAS_INDX, indx != nullptr ? indx->position : 0,
                         send != nullptr ? send->position : 0),
              std::tuple(1, c.audio ? 1 : 0, c.text_first ? 1 : 0, 3u, c.odml ? AVC_HAS_INDX : 0u,
                         c.odml ? avi.layout.indx_data[0] : 0, avi.layout.movi_list))
        << c.name;
  }
}

TEST(StreamListParseTest, StreamsRecordedUpTo256AndListedUpToTheMaximum) {
  AviBuilder b;
  for (int i = 0; i < 257; ++i) b.add_video({});
  b.add_frames(39, 2, 10);
  OpenedAvi c(b.build().bytes, true);
  ASSERT_EQ(c.result, 1);
  std::uint32_t list[32];
  // Listed up to the maximum; selecting a stream works its name out again and reloads its index
  // ("27dc" is read as decimal first). Braces: evaluated in order.
  EXPECT_EQ((std::tuple{c.video_stream_count(), c.video_stream_numbers(list, 32), list[31],
                        c.video_type_name() != nullptr, c.select_video_stream(27),
                        c.flags() & AVC_VIDEO_NAME, c.video_index()->entries.size(),
                        c.select_video_stream(27)}),
            std::tuple(256, 32, 31u, true, 1, 0u, 2u, 1));
}

// Chunks before "data" ("fact", ffmpeg's "LIST" "INFO") are skipped; a byte rate of 0 gives no
// length.
TEST(WaveParseTest, SkipsChunksBeforeDataAndTakesTheLengthFromTheRate) {
  const std::string fact("fact\3\0\0\0abc\0", 12), info("LIST\4\0\0\0INFO", 12);
  const avitest::WaveFields mono{.channels = 1, .sample_rate = 8000}, no_rate{.bits = 0};
  for (const auto& [format, between, length] :
       {std::tuple{mono, fact, 1.0}, {mono, info, 1.0}, {no_rate, std::string(), 0.0}}) {
    OpenedAvi c(avitest::wave_file(format, std::string(16000, '\0'), between), true);
    ASSERT_EQ(c.result, 1);
    const ChunkRecord& data = c.chunk_records().front();
    EXPECT_EQ(std::tuple(c.flags() & AVC_WAVE, c.audio_stream_count(), c.video_stream_count(),
                         data.fourcc, data.size),
              std::tuple(AVC_WAVE, 1, 0, fourcc("WAVE"), 16000u));
    EXPECT_DOUBLE_EQ(c.audio_length(), length);
  }
}

}  // namespace
