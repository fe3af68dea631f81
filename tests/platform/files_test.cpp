#include "platform/files.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <vector>

#include "support/test_paths.h"

namespace {

using namespace platform;

HANDLE open_read(const std::string& name) {
  return CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(FilesTest, MemoryFileReadsSeeksAndStopsAtEnd) {
  register_memory_file("mem://abc", std::make_shared<const std::string>("0123456789"));
  HANDLE h = open_read("mem://abc");
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  char buf[8] = {};
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(h, buf, 4, &got, nullptr));
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::string(buf, 4), "0123");
  EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_CURRENT), 8u);
  ASSERT_TRUE(ReadFile(h, buf, 8, &got, nullptr));  // a short read at the end is not an error
  EXPECT_EQ(got, 2u);
  ASSERT_TRUE(ReadFile(h, buf, 8, &got, nullptr));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(SetFilePointer(h, -100, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
  EXPECT_EQ(GetLastError(), ERROR_NEGATIVE_SEEK);
  DWORD high = 99;
  EXPECT_EQ(GetFileSize(h, &high), 10u);
  EXPECT_EQ(high, 0u);
  EXPECT_TRUE(CloseHandle(h));
  unregister_memory_file("mem://abc");
  EXPECT_EQ(open_read("mem://abc"), INVALID_HANDLE_VALUE);
}

TEST(FilesTest, SixtyFourBitPositionsOnSparseFile) {
  const std::string path = avitest::temp_path("sparse.bin");
  const std::uint64_t kFar = (std::uint64_t{5} << 32) + 17;  // past 20 GiB
  {
    std::ofstream out(path, std::ios::binary);
    out.seekp(static_cast<std::streamoff>(kFar));
    out.write("XYZ", 3);
  }
  HANDLE h = open_read(path);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD high = 0;
  EXPECT_EQ(GetFileSize(h, &high), static_cast<DWORD>(kFar + 3));
  EXPECT_EQ(high, 5u);
  LONG dist_high = static_cast<LONG>(kFar >> 32);
  EXPECT_EQ(SetFilePointer(h, static_cast<LONG>(kFar & 0xFFFFFFFF), &dist_high, FILE_BEGIN), 17u);
  EXPECT_EQ(dist_high, 5);
  char buf[3];
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(h, buf, 3, &got, nullptr));
  EXPECT_EQ(std::string(buf, got), "XYZ");
  EXPECT_TRUE(CloseHandle(h));
  std::remove(path.c_str());
}

// Small reads go through a read-ahead buffer: every mix of sizes, seeks back and forth and reads
// across its edges must give the file's bytes, and bytes appended later must not be hidden.
TEST(FilesTest, DiskReadsOfEverySizeMatchTheFileAndSeeItGrow) {
  const std::string path = avitest::temp_path("readahead.bin");
  std::string bytes(300 * 1024 + 77, '\0');
  std::mt19937 rng(7);
  for (char& c : bytes) c = static_cast<char>(rng());
  {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  HANDLE h = open_read(path);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  std::vector<char> buf(80 * 1024);
  for (int i = 0; i < 2000; ++i) {
    const std::size_t pos = rng() % (bytes.size() + 10);
    const std::size_t count = i % 7 == 0 ? rng() % buf.size() : rng() % 5000;
    ASSERT_NE(SetFilePointer(h, static_cast<LONG>(pos), nullptr, FILE_BEGIN),
              INVALID_SET_FILE_POINTER);
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(h, buf.data(), static_cast<DWORD>(count), &got, nullptr));
    const std::size_t want = pos >= bytes.size() ? 0 : std::min(count, bytes.size() - pos);
    ASSERT_EQ(got, want) << "read " << count << " at " << pos;
    ASSERT_EQ(std::string(buf.data(), got), bytes.substr(std::min(pos, bytes.size()), want));
    // A second read goes on from where the first stopped.
    ASSERT_TRUE(ReadFile(h, buf.data(), 100, &got, nullptr));
    const std::size_t next = std::min(pos + want, bytes.size());
    ASSERT_EQ(std::string(buf.data(), got), bytes.substr(next, 100));
  }
  // Read up to the end, then let the file grow: the new bytes are read.
  ASSERT_NE(SetFilePointer(h, static_cast<LONG>(bytes.size() - 10), nullptr, FILE_BEGIN),
            INVALID_SET_FILE_POINTER);
  DWORD got = 0;
  ASSERT_TRUE(ReadFile(h, buf.data(), 10, &got, nullptr));
  {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out.write("GROWN", 5);
  }
  ASSERT_TRUE(ReadFile(h, buf.data(), 100, &got, nullptr));
  EXPECT_EQ(std::string(buf.data(), got), "GROWN");
  EXPECT_TRUE(CloseHandle(h));
  std::remove(path.c_str());
}

TEST(FilesTest, RejectsMissingFilesDirectoriesAndForeignHandles) {
  for (const char* bad : {"/nonexistent/x", "/tmp", static_cast<const char*>(nullptr)}) {
    EXPECT_EQ(CreateFileA(bad, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
  }
  int not_a_file = 0;
  DWORD got = 0;
  EXPECT_FALSE(ReadFile(&not_a_file, &got, 1, &got, nullptr));
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

}  // namespace
