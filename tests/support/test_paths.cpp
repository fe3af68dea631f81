#include "support/test_paths.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/run_command.h"

namespace avitest {

std::string data_path(const std::string& name) {
  return std::string(AVI_TEST_DATA_DIR) + "/" + name;
}

std::string media_path(const std::string& name) { return std::string(AVI_MEDIA_DIR) + "/" + name; }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string gunzip_file(const std::string& path) { return run_command("gzip -dc '" + path + "'"); }

std::string temp_path(const std::string& name) {
  auto dir = std::filesystem::temp_directory_path() / ("avikit-test-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  return (dir / name).string();
}

}  // namespace avitest
