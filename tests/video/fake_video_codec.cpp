#include "video/fake_video_codec.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "container/fourccs.h"
#include "support/avi_builder.h"

using namespace avikit;

namespace videotest {
namespace {

using namespace platform;

struct FakeConfig {
  std::uint32_t handler = 0;
  std::vector<std::uint32_t> outputs;
  std::uint32_t fail_frame = 0xFFFFFFFFu;
};

FakeConfig& config() {
  static FakeConfig c;
  return c;
}

// The number the chunk carries, written into the destination as its "picture".
LRESULT decompress(const ICDECOMPRESS& d) {
  std::uint32_t f = 0xFFFFFFFFu;
  if (d.lpInput != nullptr && d.lpbiInput != nullptr && d.lpbiInput->biSizeImage >= 4) {
    std::memcpy(&f, d.lpInput, 4);
  }
  FakeVideoCodec::log().calls.push_back({f, d.dwFlags});
  if (f == config().fail_frame) return ICERR_ERROR;
  if (d.lpOutput != nullptr && d.lpbiOutput != nullptr && d.lpbiOutput->biSizeImage >= 4) {
    std::memcpy(d.lpOutput, &f, 4);
  }
  return ICERR_OK;
}

// Players on several threads call the codec at once; the log is one shared record.
std::mutex& log_mutex() {
  static std::mutex m;
  return m;
}

bool ours(std::uint32_t fcc) {
  return container::upper_fourcc(fcc) == container::upper_fourcc(config().handler);
}

LRESULT fake_proc(DWORD_PTR, HANDLE, UINT msg, LPARAM p1, LPARAM p2) {
  const std::lock_guard<std::mutex> lock(log_mutex());
  switch (msg) {
    case DRV_OPEN: {
      const auto* o = reinterpret_cast<const ICOPEN*>(p2);
      return o == nullptr ? 1 : ours(o->fccHandler) ? 7 : 0;
    }
    case DRV_CLOSE:
      return 1;
    case ICM_GETINFO: {
      const char16_t name[] = u"Fake test codec";
      std::ranges::copy(name, reinterpret_cast<ICINFO*>(p1)->szDescription);
      return sizeof(ICINFO);
    }
    case ICM_DECOMPRESS_QUERY: {
      ++FakeVideoCodec::log().queries;
      const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
      return in != nullptr && ours(in->biCompression) ? ICERR_OK : ICERR_BADFORMAT;
    }
    case ICM_DECOMPRESS_BEGIN: {
      const auto* out = reinterpret_cast<const BITMAPINFOHEADER*>(p2);
      if (out == nullptr) return ICERR_BADFORMAT;
      FakeVideoCodec::log().begun.push_back(out->biCompression);
      return std::ranges::count(config().outputs, out->biCompression) != 0 ? ICERR_OK
                                                                           : ICERR_BADFORMAT;
    }
    case ICM_DECOMPRESS:
      return decompress(*reinterpret_cast<const ICDECOMPRESS*>(p1));
    case ICM_DECOMPRESS_END:
      ++FakeVideoCodec::log().ends;
      return ICERR_OK;
    default:
      return ICERR_UNSUPPORTED;  // the picture-numbering messages included
  }
}

}  // namespace

std::vector<std::uint32_t> FakeCodecLog::frames() const {
  std::vector<std::uint32_t> out;
  for (const FakeCall& c : calls) out.push_back(c.frame);
  return out;
}

FakeVideoCodec::FakeVideoCodec(const char* handler, std::vector<std::uint32_t> outputs)
    : saved_(ic_installed_drivers()) {
  log() = FakeCodecLog{};
  config() = FakeConfig{avitest::fourcc_value(handler), std::move(outputs)};
  ic_replace_drivers({});
  ICInstall(ICTYPE_VIDEO, config().handler, reinterpret_cast<LPARAM>(&fake_proc), nullptr,
            ICINSTALL_FUNCTION);
}

FakeVideoCodec::~FakeVideoCodec() { ic_replace_drivers(saved_); }

void FakeVideoCodec::fail_on(std::uint32_t frame) { config().fail_frame = frame; }

FakeCodecLog& FakeVideoCodec::log() {
  static FakeCodecLog l;
  return l;
}

ClipShape every_12(int frames) {
  ClipShape s;
  s.frames = frames;
  for (int f = 0; f < frames; f += 12) s.keys.insert(f);
  return s;
}

std::string build_clip(const ClipShape& s) {
  avitest::AviBuilder b;
  const int stream = b.add_video({.handler = s.handler, .compression = s.compression});
  if (s.with_sound) b.add_chunks(b.add_audio({}), 2, 64);
  for (int f = 0; f < s.frames; ++f) {
    std::string chunk(s.empty.count(f) != 0 ? 0 : 16, '\0');
    if (!chunk.empty()) std::memcpy(chunk.data(), &f, 4);
    b.add_chunk(stream, static_cast<std::uint32_t>(chunk.size()), s.keys.count(f) != 0, chunk);
  }
  return b.build().bytes;
}

}  // namespace videotest
