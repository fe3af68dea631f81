#pragma once
// Fake Video for Windows codec drivers installed in the real codec manager, in place of every
// installed driver (they come back when the set goes). Each answers ICM_GETINFO with its
// description, accepts in ICM_DECOMPRESS_QUERY the input compressions it was given and in
// ICM_DECOMPRESS_BEGIN the outputs it was given. It knows nothing of picture numbering, and
// records every call: the handlers opened, the queries, and each decompression's flags.
//
// Chunks are expected to start with their frame number (32-bit little-endian); a decompressed
// "picture" is that number written at the start of the destination, so a bitmap shows which
// chunk was decoded into it last.

#include <avikit/platform/vfw.h>

#include <cstdint>
#include <string>
#include <vector>

using namespace avikit;

namespace avitest {

struct FakeCall {
  std::uint32_t frame = 0;  // the number the chunk carries
  std::uint32_t flags = 0;  // ICDecompress flags
};

struct FakeCodecLog {
  std::vector<std::uint32_t> opened;  // handlers the manager opened drivers for, in order
  std::vector<FakeCall> calls;
  std::vector<std::uint32_t> begun;  // output compressions ICM_DECOMPRESS_BEGIN was asked for
  int queries = 0;                   // ICM_DECOMPRESS_QUERY (ICLocate)
  int ends = 0;
  std::uint32_t fail_frame = 0xFFFFFFFFu;  // ICDecompress fails for chunks carrying it
  void clear_calls() { calls.clear(); }
  std::vector<std::uint32_t> frames() const {
    std::vector<std::uint32_t> out;
    for (const FakeCall& c : calls) out.push_back(c.frame);
    return out;
  }
};

class FakeCodecs {
 public:
  FakeCodecs();
  ~FakeCodecs();
  FakeCodecs(const FakeCodecs&) = delete;
  FakeCodecs& operator=(const FakeCodecs&) = delete;

  // `accepts`: input compressions (case-blind); `outputs`: output biCompression values (BI_RGB
  // 0, "YUY2", "YV12").
  FakeCodecs& add(const char* handler, const std::u16string& description,
                  std::vector<std::uint32_t> accepts = {}, std::vector<std::uint32_t> outputs = {});
  static FakeCodecLog& log();
  static std::vector<std::uint32_t>& opened() { return log().opened; }

 private:
  std::vector<platform::IcDriver> saved_;
};

}  // namespace avitest
