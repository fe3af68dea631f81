// Eight threads open, play, seek and close video and audio players at once, on files that some
// of them share (players of one thread share a file) and some open separately, DV among them.
// Every frame and every sound block must be exactly what one thread alone gets.

#include <avikit/avi_audio_player.h>
#include <avikit/avi_video_player.h>
#include <avikit/media_info.h>
#include <avikit/sound_frame.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/avi_builder.h"
#include "support/test_paths.h"

using namespace avikit;

namespace {

constexpr std::size_t kThreads = 8;
constexpr int kOperations = 12;
constexpr int kFramesChecked = 24;  // frames 0..23 of every file
constexpr double kSeekTimes[] = {0.0, 0.3, 0.71};
constexpr int kBlocksPerSeek = 2;

std::uint64_t frame_hash(AviVideoPlayer& p) {
  const char* pixels = p.get_frame_dib_data();
  const VideoInfo* info = p.get_video_info();
  if (pixels == nullptr || info == nullptr) return 0;
  return avitest::fnv1a(pixels, static_cast<std::size_t>(p.get_frame_dib_pitch()) *
                                    static_cast<std::size_t>(info->height));
}

std::uint64_t block_hash(AviAudioPlayer& p) {
  const SoundFrame* f = p.get_next_sound();
  if (f == nullptr) return 0;
  return avitest::fnv1a(f->get_pcm(), static_cast<std::size_t>(f->get_sample_count()) * 2);
}

// A DV type-1 file (interleaved DV video and sound) written to disk from ffmpeg's DV frames.
std::string write_dv_type1() {
  const std::string raw = avitest::read_file(avitest::media_path("dv_625_48k.dv"));
  const std::string path = avitest::temp_path("stress_dv_type1.avi");
  EXPECT_TRUE(avitest::dv_type1(avitest::dv_frames(raw, true)).write_file(path).has_value());
  return path;
}

struct Expected {
  std::vector<std::uint64_t> frames;    // frame hashes, in order
  std::vector<std::uint64_t> sound[3];  // block hashes after each seek
};

Expected single_threaded(const std::string& file) {
  Expected e;
  AviVideoPlayer v;
  EXPECT_EQ(v.open(file.c_str(), -1), 0) << file;
  v.seek(0, 1);
  for (int f = 0; f < kFramesChecked; ++f, v.forward(1)) e.frames.push_back(frame_hash(v));
  AviAudioPlayer a;
  EXPECT_EQ(a.open(file.c_str()), 0) << file;
  for (int s = 0; s < 3; ++s) {
    a.seek(kSeekTimes[s]);
    for (int b = 0; b < kBlocksPerSeek; ++b) e.sound[s].push_back(block_hash(a));
  }
  return e;
}

TEST(ThreadStressTest, EightThreadsPlayVideoAndSoundLikeOneThread) {
  const std::vector<std::string> files = {avitest::media_path("mpeg4_xvid_gop12.avi"),
                                          avitest::media_path("dv_type2_625.avi"),
                                          write_dv_type1()};
  std::vector<Expected> expected;
  for (const std::string& f : files) {
    expected.push_back(single_threaded(f));
    // The references must be pictures and sound that differ, or the comparison proves nothing.
    const auto& fr = expected.back().frames;
    EXPECT_EQ(std::count(fr.begin(), fr.end(), 0u), 0) << f;
    EXPECT_GT(std::set<std::uint64_t>(fr.begin(), fr.end()).size(), fr.size() / 2) << f;
  }

  std::vector<int> mismatches(kThreads, 0);
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 rng(static_cast<std::uint32_t>(1000 + t));
      int& bad = mismatches[t];
      // A player kept open for the whole run, so that later players of this thread share it.
      AviVideoPlayer keeper;
      const std::size_t kept = t % files.size();
      bad += keeper.open(files[kept].c_str(), -1) != 0;
      for (int op = 0; op < kOperations; ++op) {
        const std::size_t fi = rng() % files.size();
        const Expected& e = expected[fi];
        if (rng() % 2 == 0) {
          AviVideoPlayer v;  // a player that fails to open shows no frame: a mismatch too
          bad += v.open(files[fi].c_str(), -1) != 0;
          const std::size_t target = rng() % (kFramesChecked - 3);
          v.seek(static_cast<int>(target), 1);
          for (std::size_t step = 0; step < 3; ++step, v.forward(1)) {
            bad += frame_hash(v) != e.frames[target + step];
          }
          // The kept player moves too, interleaved with this one on a shared file.
          keeper.seek(static_cast<int>(rng() % kFramesChecked), 1);
        } else {
          AviAudioPlayer a;
          bad += a.open(files[fi].c_str()) != 0;
          const int s = static_cast<int>(rng() % 3);
          a.seek(kSeekTimes[s]);
          for (const std::uint64_t block : e.sound[s]) bad += block_hash(a) != block;
        }
      }
      const int k = keeper.get_frame_offset();
      bad += k >= 0 && k < kFramesChecked &&
             frame_hash(keeper) != expected[kept].frames[static_cast<std::size_t>(k)];
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
}

}  // namespace
