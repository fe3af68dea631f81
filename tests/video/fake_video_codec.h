#pragma once
// A plain Video for Windows decompressor installed in the real codec manager, in place of every
// installed driver: one of the fake drivers, answering to its handler. It knows nothing of picture
// numbering, so the pipeline drives it with the plain codec walk; the walk's decompression counts
// and flags are what the tests look at.

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "container/fake_codecs.h"
#include "support/avi_builder.h"

namespace videotest {

class FakeVideoCodec : public avitest::FakeCodecs {
 public:
  // `handler`: the FOURCC it is installed for. `outputs`: the output biCompression values it
  // accepts in ICM_DECOMPRESS_BEGIN (BI_RGB 0, "YUY2", "YV12").
  FakeVideoCodec(const char* handler, std::vector<std::uint32_t> outputs) {
    add(handler, u"Fake test codec", {avitest::fourcc_value(handler)}, std::move(outputs));
  }
  // ICDecompress fails for chunks carrying this number.
  void fail_on(std::uint32_t frame) { log().fail_frame = frame; }
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
