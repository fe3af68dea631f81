#pragma once
// In-memory test files for the container's tests.

#include <string>

#include "support/avi_builder.h"

namespace avitest {

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
