// Files written by ffmpeg (tests/data, scripts/make-test-data.sh), checked against what
// ffprobe reads from the same bytes.

#include <avikit/avi_audio_player.h>
#include <avikit/avi_video_player.h>
#include <avikit/sound_frame.h>

#include <cstdio>

#include "container_peek.h"
#include "fake_codecs.h"
#include "support/run_command.h"
#include "support/test_paths.h"

namespace {

using avitest::data_path;
using avitest::FakeCodecs;

// ffprobe's packet count of one stream (-count_packets reads the whole file).
int ffprobe_packets(const std::string& path, int stream) {
  const std::string out = avitest::run_command(
      "ffprobe -v error -count_packets -select_streams " + std::to_string(stream) +
      " -show_entries stream=nb_read_packets -of csv=p=0 '" + path + "'");
  return out.empty() ? -1 : std::stoi(out);
}

TEST(RealFilesTest, Mpeg4WithPcm) {
  const std::string path = data_path("mpeg4_pcm.avi");
  AviContainer c(true);
  ASSERT_EQ(c.open(path.c_str()), 1);
  // Picture size, rate, frame count (as length) and handler are in the probe's summary below.
  EXPECT_EQ(std::tuple(c.video_index()->key_frames, c.audio_length(), c.flags() & AVC_HAS_INDX),
            std::tuple(std::vector<std::uint32_t>{0, 6}, 0.48, 0u));  // no OpenDML below 1 GB
  if (avitest::have_tool("ffprobe")) {
    EXPECT_EQ(static_cast<int>(c.video_index()->entries.size()), ffprobe_packets(path, 0));
  }

  FakeCodecs codecs;
  codecs.add("fmp4", u"MPEG-4 part 2");
  EXPECT_EQ(avitest::Probe(path.c_str()).summary(),
            "0 0/0 Microsoft Audio/Video Interleaved File 0.48s 33kbit/s | 1v 0: 64x48 inter 1 "
            "25fps 0.48s MPEG-4 part 2 | 1a 1: f0 1ch 22050Hz");
}

TEST(RealFilesTest, MotionJpegWithVariableRateMp3) {
  const std::string path = data_path("mjpeg_mp3.avi");
  AviContainer c(true);
  ASSERT_EQ(c.open(path.c_str()), 1);
  // Every JPEG frame is a key frame, but ffmpeg indexed a dropped frame as an empty chunk
  // without the key flag, so the stream counts as having inter frames.
  const ChunkIndex& index = *c.video_index();
  EXPECT_EQ(std::tuple(index.entries.size(), index.key_frames, index.entries.at(1).size),
            std::tuple(6u, std::vector<std::uint32_t>{0, 2, 3, 4, 5}, 0u));
  // 104-byte chunks against a 1152 block: short chunks.
  EXPECT_EQ(std::tuple(c.audio_format()->nBlockAlign, c.short_chunk_flag(),
                       std::string(c.audio_type_name())),
            std::tuple(1152, 1u, "MPEG Layer-3"));
  if (avitest::have_tool("ffprobe")) {
    EXPECT_EQ(static_cast<int>(c.audio_index()->entries.size()), ffprobe_packets(path, 1));
  }
  FakeCodecs codecs;
  codecs.add("mjpg", u"Motion JPEG");
  // Short chunks play: the player reads the stream as one run.
  EXPECT_EQ(avitest::Probe(path.c_str()).summary(),
            "0 0/0 Microsoft Audio/Video Interleaved File 0.6s 47kbit/s | 1v 0: 64x48 inter 1 "
            "10fps 0.6s Motion JPEG | 1a 1: f3 1ch 44100Hz");
}

// What a player and ffmpeg make of a file: every picture, the sound, and ffmpeg's decoded
// frames' checksums.
std::string played(const std::string& path) {
  std::string out;
  AviVideoPlayer v;
  EXPECT_EQ(v.open(path.c_str(), -1), 0);
  for (int f = 0; f < v.get_total_frames(); ++f) {
    v.seek(f, 1);
    out.append(v.get_frame_dib_data(), v.get_frame_dib_header()->biSizeImage);
  }
  AviAudioPlayer a;
  EXPECT_EQ(a.open(path.c_str()), 0);
  while (const SoundFrame* s = a.is_end() == 0 ? a.get_next_sound() : nullptr) {
    out.append(reinterpret_cast<const char*>(s->get_pcm()),
               static_cast<std::size_t>(s->get_sample_count()) * 2);
  }
  return out + avitest::run_command("ffmpeg -v error -i '" + path + "' -map 0 -f framemd5 -");
}

// The MPEG-4 + PCM file as OpenDML over 1 GiB, written sparse: RIFF AVIX segments of JUNK fill
// the middle, so the later frames and sound lie past 1 GiB, where avikit and ffmpeg both still
// read exactly what the original holds.
TEST(RealFilesTest, SparseOpenDmlPastOneGibibytePlaysAsTheOriginal) {
  if (!avitest::have_tool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
  const std::string original = data_path("mpeg4_pcm.avi");
  AviContainer c(true);
  ASSERT_EQ(c.open(original.c_str()), 1);
  avitest::AviBuilder b;
  const platform::WAVEFORMATEX& wave = *c.audio_format();
  const int vs =
      b.add_video({.handler = "FMP4",
                   .strf = std::string(reinterpret_cast<const char*>(c.video_format()), 40)});
  const int as = b.add_audio({.channels = wave.nChannels, .sample_rate = wave.nSamplesPerSec});
  const auto chunk = [&c](const IndexEntry& e) {
    std::string d(e.size, '\0');
    EXPECT_EQ(c.read_at(e.position, d.data(), e.size), e.size);
    return d;
  };
  const auto& frames = c.video_index()->entries;
  const auto& sound = c.audio_index()->entries;
  for (std::size_t i = 0; i < std::max(frames.size(), sound.size()); ++i) {
    if (i < frames.size()) b.add_chunk(vs, frames[i].size, frames[i].key != 0, chunk(frames[i]));
    if (i < sound.size()) b.add_chunk(as, sound[i].size, true, chunk(sound[i]));
  }
  b.index(avitest::IndexKind::kOdmlAndIdx1).chunks_per_segment(8);
  b.gap_after_first_segment(std::uint64_t{1100} << 20);
  const std::string path = avitest::temp_path("sparse_odml.avi");
  ASSERT_TRUE(b.write_file(path).has_value());
  {
    AviContainer big(true);
    ASSERT_EQ(big.open(path.c_str()), 1);
    EXPECT_GT(big.video_index()->entries.back().position, std::uint64_t{1} << 30);
    EXPECT_GT(big.audio_index()->entries.back().position, std::uint64_t{1} << 30);
  }
  EXPECT_TRUE(played(path) == played(original));
  std::remove(path.c_str());
}

}  // namespace
