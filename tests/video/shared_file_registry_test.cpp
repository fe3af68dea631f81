#include "video/shared_file_registry.h"

#include <gtest/gtest.h>

#include <thread>
#include <tuple>
#include <utility>

#include "support/avi_builder.h"
#include "video/media_reader.h"

using namespace avikit;

namespace {

// Two uncompressed video streams (0, 1) and a PCM sound stream (2), ten frames each.
std::string two_video_one_audio() {
  avitest::AviBuilder b;
  const int v0 = b.add_video({});
  const int v1 = b.add_video({.width = 8, .height = 4});
  const int a = b.add_audio({.channels = 1, .sample_rate = 22050});
  b.add_frames(v0, 10, 24).add_frames(v1, 10, 96).add_frames(a, 10, 882);
  return b.build().bytes;
}

class SharedFileRegistryTest : public ::testing::Test {
 protected:
  avitest::MemoryFile clip_{"mem://registry/clip.avi", two_video_one_audio()};
  const InMemoryFile& name() const { return clip_.file(); }
  void TearDown() override { EXPECT_EQ(shared_file_count(), 0) << "a test leaked a file"; }

  static void release(std::initializer_list<std::pair<SharedAviFile*, int>> holds) {
    for (const auto& [file, use] : holds) release_shared_file(file, use);
  }
  static SharedFileEntry entry_of(const SharedAviFile* f) {
    SharedFileEntry e;
    EXPECT_TRUE(shared_file_entry(f, &e));
    return e;
  }
};

// Readers of one thread share one counted file when they read the same bytes, whatever the name
// (platform::same_file), video and audio alike; another thread gets a file of its own.
TEST_F(SharedFileRegistryTest, OneThreadSharesOneCountedFileOtherThreadsTheirOwn) {
  SharedAviFile* v = acquire_shared_file(name(), USE_VIDEO);
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(acquire_shared_file(name(), USE_VIDEO), v);
  EXPECT_EQ(acquire_shared_file(InMemoryFile(name().bytes, "other"), USE_AUDIO), v);
  const SharedFileEntry e = entry_of(v);
  EXPECT_EQ(std::pair(e.video_users, e.audio_users), std::pair(2, 1));
  EXPECT_EQ(e.source.name, clip_.name());  // the first opener's
  std::thread([&] {
    // The sound alone leaves the video unindexed, until a video reader joins.
    SharedAviFile* theirs = acquire_shared_file(name(), USE_AUDIO);
    EXPECT_EQ((std::tuple{theirs->container().video_index(), acquire_shared_file(name(), USE_VIDEO),
                          theirs != v, shared_file_count()}),
              std::tuple(nullptr, theirs, true, 2));
    EXPECT_EQ(theirs->container().video_index()->entries.size(), 10u);
    release_shared_file(theirs, USE_VIDEO | USE_AUDIO);
  }).join();
  release({{v, USE_VIDEO}, {v, USE_AUDIO}});
  EXPECT_EQ(shared_file_count(), 1);
  release_shared_file(v, USE_VIDEO);
}

TEST_F(SharedFileRegistryTest, SelectingWhileSharedSplitsAndAloneSelectsInPlace) {
  SharedAviFile* first = acquire_shared_file(name(), USE_VIDEO);
  SharedAviFile* second = acquire_shared_file(name(), USE_VIDEO);
  ASSERT_EQ(first, second);
  // The recorded stream is the first one: selecting it keeps the reader on the shared file.
  EXPECT_EQ(select_video_on_shared(second, 0, USE_VIDEO), first);
  // -1 differs from the recorded 0, so the second reader is split off at once.
  SharedAviFile* split = select_video_on_shared(second, -1, USE_VIDEO);
  ASSERT_NE(split, first);
  EXPECT_EQ(std::pair(entry_of(split).source.empty(), entry_of(first).video_users),
            std::pair(true, 1));
  // Alone on its file now: stream 1 is selected in place and the output marked unprepared.
  EXPECT_EQ(select_video_on_shared(split, 1, USE_VIDEO), split);
  const SharedFileEntry e = entry_of(split);
  EXPECT_EQ(std::tuple(e.video_stream, e.output_format,
                       split->container().selected_video_stream_number()),
            std::tuple(1, kOutputNotPrepared, 1));
  // A named entry watching stream 1 would not be joined by a new video reader (below); the
  // split entry has no name, so a new reader joins the first file.
  SharedAviFile* third = acquire_shared_file(name(), USE_VIDEO);
  EXPECT_EQ(third, first);
  release({{first, USE_VIDEO}, {third, USE_VIDEO}, {split, USE_VIDEO}});
}

TEST_F(SharedFileRegistryTest, VideoReaderDoesNotJoinAFileWatchingAnotherStream) {
  SharedAviFile* first = acquire_shared_file(name(), USE_VIDEO);
  ASSERT_EQ(select_video_on_shared(first, 1, USE_VIDEO), first);
  SharedAviFile* second = acquire_shared_file(name(), USE_VIDEO);
  // An audio reader has no such condition: it joins the first entry.
  SharedAviFile* audio = acquire_shared_file(name(), USE_AUDIO);
  EXPECT_EQ(std::tuple(second != first, shared_file_count(), audio), std::tuple(true, 2, first));
  release({{first, USE_VIDEO}, {second, USE_VIDEO}, {audio, USE_AUDIO}});
}

TEST_F(SharedFileRegistryTest, AudioSplitTakesTheReadersVideoUserAlong) {
  SharedAviFile* v = acquire_shared_file(name(), USE_VIDEO);
  SharedAviFile* a = acquire_shared_file(name(), USE_AUDIO);
  SharedAviFile* a2 = acquire_shared_file(name(), USE_AUDIO);
  ASSERT_EQ(std::pair(a, a2), std::pair(v, v));
  // The entry was made by a video reader, so it records no audio stream (-1): an audio reader
  // keeping the file's choice stays, one naming a stream is split off.
  EXPECT_EQ(select_audio_on_shared(a2, -1, USE_AUDIO), a2);
  SharedAviFile* moved = select_audio_on_shared(a2, 2, USE_AUDIO);
  ASSERT_NE(moved, v);
  EXPECT_EQ(
      std::tuple(entry_of(moved).audio_users, entry_of(moved).video_users, entry_of(v).audio_users),
      std::tuple(1, 0, 1));
  release({{v, USE_VIDEO}, {a, USE_AUDIO}, {moved, USE_AUDIO}});
}

TEST_F(SharedFileRegistryTest, ReaderReopeningItsNameKeepsFileAndCounts) {
  {
    VideoMediaReader reader;
    ASSERT_TRUE(reader.open(name(), USE_VIDEO));
    SharedAviFile* held = reader.file();
    ASSERT_TRUE(reader.open(InMemoryFile(name().bytes), USE_VIDEO));
    EXPECT_EQ(std::pair(reader.file(), entry_of(held).video_users), std::pair(held, 1));
    EXPECT_FALSE(reader.open("mem://registry/none.avi", USE_VIDEO));
    EXPECT_EQ(std::tuple(reader.file(), shared_file_count()), std::tuple(nullptr, 0));
    ASSERT_TRUE(reader.open(name(), USE_VIDEO));
  }
  // The reader's destructor released the file.
}

}  // namespace
