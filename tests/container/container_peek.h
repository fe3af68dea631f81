#pragma once
// Test access to AviContainer's protected steps and members.

#include <memory>
#include <string>

#include "container/avi_container.h"
#include "platform/files.h"
#include "support/avi_builder.h"

namespace avitest {

class ContainerPeek : public AviContainer {
 public:
  explicit ContainerPeek(bool keep_handle = true) : AviContainer(keep_handle) {}

  // Holds a handle on `name` without opening it as AVI, for driving the chunk reader directly.
  bool attach(const std::string& name) {
    if (!file_.open(name)) return false;
    tracked_position_ = 0;
    return true;
  }
  // Makes the reader know the file size, as it does once the headers are parsed.
  void know_file_size(std::uint64_t size) {
    stream_table_ = std::make_unique<StreamTable>();
    stream_table_->file_size = size;
  }
  ~ContainerPeek() override { close(); }
};

// Bytes registered as an in-memory file under a fresh name.
class TestFile {
 public:
  explicit TestFile(std::string bytes) : file_(next_name(), std::move(bytes)) {}
  const char* name() const { return file_.name(); }

 private:
  static std::string next_name() {
    static int n = 0;
    return "mem:test-" + std::to_string(++n) + ".avi";
  }
  MemoryFile file_;
};

}  // namespace avitest
