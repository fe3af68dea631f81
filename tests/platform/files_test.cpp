#include "platform/files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <vector>

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

TEST(FilesTest, MemoryFilesReadByNameOrAloneAndStopAtEnd) {
  register_memory_file("mem://abc", std::make_shared<const std::string>("0123456789"));
  File named;
  ASSERT_TRUE(named.open("mem://abc"));
  File alone = File::from_bytes(std::make_shared<const std::string>("0123456789"));
  for (File* f : {&named, &alone}) {
    EXPECT_EQ(read_string(*f, 0, 4), "0123");
    EXPECT_EQ(read_string(*f, 8, 8), "89");  // a short read at the end is not an error
    EXPECT_EQ(read_string(*f, 10, 8), "");
    EXPECT_EQ(read_string(*f, ~std::uint64_t{0}, 8), "");
    EXPECT_EQ(f->size(), 10u);
  }
  // Dropped, a named file looks its name up again; bytes of its own stay.
  named.drop();
  alone.drop();
  EXPECT_TRUE(alone.is_open());
  unregister_memory_file("mem://abc");
  EXPECT_FALSE(named.read_at(0, {}).ok());
  EXPECT_FALSE(File().open("mem://abc"));
}

TEST(FilesTest, SixtyFourBitOffsetsAndReopenAfterDrop) {
  const std::string path = avitest::temp_path("sparse.bin");
  const std::uint64_t kFar = (std::uint64_t{5} << 32) + 17;  // past 20 GiB
  {
    std::ofstream out(path, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(kFar));
    out.write("XYZ", 3);
  }
  File f;
  ASSERT_TRUE(f.open(path));
  const int held = open_file_handles();
  EXPECT_EQ(f.size(), kFar + 3);
  EXPECT_EQ(read_string(f, kFar, 3), "XYZ");
  f.drop();
  EXPECT_FALSE(f.is_open());
  EXPECT_EQ(open_file_handles(), held - 1);
  EXPECT_EQ(read_string(f, kFar + 1, 3), "YZ");
  EXPECT_EQ(open_file_handles(), held);
  File moved = std::move(f);
  EXPECT_FALSE(f.is_open());
  EXPECT_EQ(read_string(moved, kFar, 1), "X");
  std::remove(path.c_str());
}

// Small reads go through a read-ahead buffer: every mix of sizes and offsets, and reads across
// its edges, must give the file's bytes, and bytes appended later must not be hidden.
TEST(FilesTest, DiskReadsOfEverySizeMatchTheFileAndSeeItGrow) {
  const std::string path = avitest::temp_path("readahead.bin");
  std::string bytes(300 * 1024 + 77, '\0');
  std::mt19937 rng(7);
  for (char& c : bytes) c = static_cast<char>(rng());
  {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  File f;
  ASSERT_TRUE(f.open(path));
  for (int i = 0; i < 2000; ++i) {
    const std::size_t pos = rng() % (bytes.size() + 10);
    const std::size_t count = i % 7 == 0 ? rng() % (80 * 1024) : rng() % 5000;
    const std::size_t want = pos >= bytes.size() ? 0 : std::min(count, bytes.size() - pos);
    ASSERT_EQ(read_string(f, pos, count), bytes.substr(std::min(pos, bytes.size()), want))
        << "read " << count << " at " << pos;
    // A second read goes on from where the first stopped.
    const std::size_t next = std::min(pos + want, bytes.size());
    ASSERT_EQ(read_string(f, next, 100), bytes.substr(next, 100));
  }
  // Read up to the end, then let the file grow: the new bytes are read.
  read_string(f, bytes.size() - 10, 10);
  {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.write("GROWN", 5);
  }
  EXPECT_EQ(read_string(f, bytes.size(), 100), "GROWN");
  std::remove(path.c_str());
}

TEST(FilesTest, RejectsMissingFilesDirectoriesAndReadsWithoutAFile) {
  for (const char* bad : {"/nonexistent/x", "/tmp", ""}) EXPECT_FALSE(File().open(bad)) << bad;
  std::byte b[1];
  EXPECT_EQ(File().read_at(0, b).error, EBADF);
  EXPECT_EQ(File().size(), 0u);
}

}  // namespace
