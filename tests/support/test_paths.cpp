#include "support/test_paths.h"

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>

namespace avitest {

std::string data_path(const std::string& name) {
  return std::string(AVI_TEST_DATA_DIR) + "/" + name;
}

std::string media_path(const std::string& name) { return std::string(AVI_MEDIA_DIR) + "/" + name; }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string gunzip_file(const std::string& path) {
  const std::string cmd = "gzip -dc '" + path + "'";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(cmd.c_str(), "r"), pclose);
  if (!pipe) return {};
  std::string out;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe.get())) > 0) out.append(buf, n);
  return out;
}

std::string temp_path(const std::string& name) {
  auto dir = std::filesystem::temp_directory_path() / ("avikit-test-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

}  // namespace avitest
