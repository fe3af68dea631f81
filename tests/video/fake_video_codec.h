#pragma once
// A plain Video for Windows decompressor installed in the real codec manager, in place of every
// installed driver (they come back when it goes). It knows nothing of picture numbering, so the
// pipeline drives it with the plain codec walk, and it records every call: the walk's
// decompression counts and flags are what the tests look at.
//
// Chunks are expected to start with their frame number (32-bit little-endian); a decompressed
// "picture" is that number written at the start of the destination, so a bitmap shows which
// chunk was decoded into it last.

#include <avikit/platform/vfw.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

using namespace avikit;

namespace videotest {

struct FakeCall {
  std::uint32_t frame = 0;  // the number the chunk carries
  std::uint32_t flags = 0;  // ICDecompress flags
};

struct FakeCodecLog {
  std::vector<FakeCall> calls;
  std::vector<std::uint32_t> begun;  // output compressions ICM_DECOMPRESS_BEGIN was asked for
  int queries = 0;                   // ICM_DECOMPRESS_QUERY (ICLocate)
  int ends = 0;
  void clear_calls() { calls.clear(); }
  std::vector<std::uint32_t> frames() const;
};

class FakeVideoCodec {
 public:
  // `handler`: the FOURCC it is installed for. `outputs`: the output biCompression values it
  // accepts in ICM_DECOMPRESS_BEGIN (BI_RGB 0, "YUY2", "YV12").
  FakeVideoCodec(const char* handler, std::vector<std::uint32_t> outputs);
  ~FakeVideoCodec();
  FakeVideoCodec(const FakeVideoCodec&) = delete;
  FakeVideoCodec& operator=(const FakeVideoCodec&) = delete;

  // ICDecompress fails for chunks carrying this number.
  void fail_on(std::uint32_t frame);
  static FakeCodecLog& log();

 private:
  std::vector<platform::IcDriver> saved_;
};

// A clip for the fake codec: every frame's chunk carries its number.
struct ClipShape {
  int frames = 50;
  std::set<int> keys{};   // frames flagged as key frames
  std::set<int> empty{};  // frames stored as 0-byte chunks
  const char* handler = "FAKE";
  const char* compression = "FAKE";
  bool with_sound = false;  // a file whose video has no codec opens only for its sound
};
ClipShape every_12(int frames = 50);  // key frames 0, 12, 24...
std::string build_clip(const ClipShape& s);

}  // namespace videotest
