#pragma once
// Fake Video for Windows codec drivers installed in the real codec manager, for naming tests:
// each answers ICM_GETINFO with its description and accepts, in ICM_DECOMPRESS_QUERY, the input
// compressions it was given. Every handler a driver is opened for is recorded.

#include <avikit/platform/vfw.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace avikit;

namespace avitest {

class FakeCodecs {
 public:
  FakeCodecs();
  ~FakeCodecs();  // removes every driver it installed
  FakeCodecs(const FakeCodecs&) = delete;
  FakeCodecs& operator=(const FakeCodecs&) = delete;

  FakeCodecs& add(const char* handler, const std::u16string& description,
                  std::vector<std::uint32_t> accepts = {});
  // Handlers the manager opened drivers for, in order.
  static std::vector<std::uint32_t>& opened();

 private:
  std::vector<platform::IcDriver> saved_;
};

}  // namespace avitest
