#include "platform/files.h"

#include <avikit/avi_audio_player.h>
#include <avikit/avi_video_player.h>
#include <avikit/sound_frame.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>
#include <random>
#include <vector>

#include "support/avi_builder.h"
#include "support/test_paths.h"

using namespace avikit;

namespace {

using namespace platform;

std::string read_string(File& f, std::uint64_t offset, std::size_t count) {
  std::string out(count, '\0');
  const ReadResult r = f.read_at(offset, std::as_writable_bytes(std::span(out)));
  EXPECT_TRUE(r.ok());
  return out.substr(0, r.bytes);
}

// Every mix of sizes and offsets gives the file's bytes, on disk (small reads go through a
// read-ahead buffer, across its edges) and in memory, after a drop too; bytes appended to a file
// on disk later must not be hidden, nor those past 4 GiB.
TEST(FilesTest, ReadsOfEverySizeMatchTheFileOnDiskOrInMemoryAndSeeItGrow) {
  const std::string path = avitest::temp_path("readahead.bin");
  std::string bytes(300 * 1024 + 77, '\0');
  std::mt19937 rng(7);
  for (char& c : bytes) c = static_cast<char>(rng());
  std::ofstream(path, std::ios::binary) << bytes;
  File files[2];
  ASSERT_TRUE(files[0].open(path));
  ASSERT_TRUE(files[1].open(InMemoryFile(std::make_shared<const std::string>(bytes))));
  const int held = open_file_handles();
  for (File& f : files) {
    for (int i = 0; i < 2000; ++i) {
      const std::size_t pos = rng() % (bytes.size() + 10);
      const std::size_t count = i % 7 == 0 ? rng() % (80 * 1024) : rng() % 5000;
      const std::size_t want = pos >= bytes.size() ? 0 : std::min(count, bytes.size() - pos);
      ASSERT_EQ(read_string(f, pos, count), bytes.substr(std::min(pos, bytes.size()), want))
          << "read " << count << " at " << pos;
      // A second read goes on from where the first stopped.
      const std::size_t next = std::min(pos + want, bytes.size());
      ASSERT_EQ(read_string(f, next, 100), bytes.substr(next, 100));
      if (i % 500 == 0) {
        f.drop();
        ASSERT_EQ(open_file_handles(), held - 1);
      }
    }
    EXPECT_EQ(open_file_handles(), held);
    EXPECT_EQ(f.size(), bytes.size());
  }
  EXPECT_EQ(read_string(files[1], ~std::uint64_t{0}, 8), "");
  // Read up to the end, then let the file grow: the new bytes are read.
  read_string(files[0], bytes.size() - 10, 10);
  std::ofstream(path, std::ios::binary | std::ios::app) << "GROWN";
  EXPECT_EQ(read_string(files[0], bytes.size(), 100), "GROWN");
  const std::uint64_t far = (std::uint64_t{5} << 32) + 17;  // a sparse file past 20 GiB
  ASSERT_EQ(truncate(path.c_str(), static_cast<off_t>(far + 1)), 0);
  EXPECT_EQ(files[0].size(), far + 1);
  EXPECT_EQ(read_string(files[0], far - 1, 8), std::string(2, '\0'));
  std::remove(path.c_str());
}

TEST(FilesTest, RejectsMissingFilesDirectoriesNullBytesAndReadsWithoutAFile) {
  for (const FileSource& bad : {FileSource("/nonexistent/x"), FileSource("/tmp"), FileSource(""),
                                FileSource(InMemoryFile(nullptr, "/tmp/x"))}) {
    EXPECT_FALSE(File().open(bad)) << bad.name;  // null bytes never open the name on disk
  }
  std::byte b[1];
  EXPECT_EQ(File().read_at(0, b).error, EBADF);
}

// Readers share a file only when it is the same one: the same bytes, or the same name on disk.
TEST(FilesTest, SameFileMeansSameBytesOrSameNameOnDisk) {
  const FileBytes one = std::make_shared<const std::string>("x");
  EXPECT_TRUE(same_file("/tmp/a.avi", "/TMP/A.AVI"));
  EXPECT_TRUE(same_file(InMemoryFile(one, "a"), InMemoryFile(one, "b")));
  EXPECT_FALSE(
      same_file(InMemoryFile(one), InMemoryFile(std::make_shared<const std::string>("x"))));
  EXPECT_FALSE(same_file(InMemoryFile(one, "/tmp/a.avi"), "/tmp/a.avi"));
}

// Bytes handed to the players play as the same file on disk does, and a player's copy keeps them
// after everyone else has let go.
TEST(FilesTest, PlayersOnBytesPlayAsOnDiskAndCopiesKeepTheBytes) {
  avitest::AviBuilder b;
  b.add_frames(b.add_video({}), 6, 24).add_frames(b.add_audio({}), 6, 1764);
  const std::string path = avitest::temp_path("from_memory.avi");
  ASSERT_TRUE(b.write_file(path));
  std::string played[2];
  for (const int from_memory : {0, 1}) {
    AviVideoPlayer video;
    AviAudioPlayer audio;
    FileBytes bytes = std::make_shared<const std::string>(b.build().bytes);
    const std::weak_ptr<const std::string> kept = bytes;
    ASSERT_EQ(from_memory ? AviVideoPlayer(video).open(bytes, -1) : video.open(path.c_str(), -1),
              0);
    ASSERT_EQ(from_memory ? AviAudioPlayer(audio).open(bytes) : audio.open(path.c_str()), 0);
    bytes.reset();
    EXPECT_EQ(kept.expired(), from_memory == 0);
    for (int f = 0; f < video.get_total_frames() && video.seek(f, 1) == f; ++f)
      played[from_memory].append(video.get_frame_dib_data(), 24);
    for (const SoundFrame* s; audio.is_end() == 0 && (s = audio.get_next_sound()) != nullptr;)
      played[from_memory].append(reinterpret_cast<const char*>(s->get_pcm()),
                                 2 * static_cast<std::size_t>(s->get_sample_count()));
  }
  EXPECT_GT(played[0].size(), 6u * 24);
  EXPECT_EQ(played[1], played[0]);
  std::remove(path.c_str());
}

}  // namespace
