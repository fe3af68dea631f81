#include "platform/files.h"

#include <gtest/gtest.h>

#include <fstream>

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

TEST(FilesTest, RejectsWritesMissingFilesAndForeignHandles) {
  EXPECT_EQ(CreateFileA("/nonexistent/x", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  EXPECT_EQ(CreateFileA("/tmp", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);  // a directory is not a file
  EXPECT_EQ(CreateFileA(nullptr, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
            INVALID_HANDLE_VALUE);
  int not_a_file = 0;
  DWORD got = 0;
  EXPECT_FALSE(ReadFile(&not_a_file, &got, 1, &got, nullptr));
  EXPECT_FALSE(CloseHandle(nullptr));
  EXPECT_FALSE(CloseHandle(INVALID_HANDLE_VALUE));
}

}  // namespace
