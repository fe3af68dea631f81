#include "fake_codecs.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "container/fourccs.h"
#include "support/avi_builder.h"

using namespace avikit;

namespace avitest {
namespace {

using namespace platform;

struct FakeDriver {
  std::uint32_t handler;
  std::u16string description;
  std::vector<std::uint32_t> accepts, outputs;
};
std::vector<FakeDriver>& drivers() {
  static std::vector<FakeDriver> d;
  return d;
}

bool has(const std::vector<std::uint32_t>& list, std::uint32_t fcc) {
  return std::ranges::any_of(list, [&](std::uint32_t c) {
    return container::upper_fourcc(c) == container::upper_fourcc(fcc);
  });
}

// The number the chunk carries, written into the destination as its "picture".
LRESULT decompress(const ICDECOMPRESS& d) {
  std::uint32_t f = 0xFFFFFFFFu;
  if (d.lpInput != nullptr && d.lpbiInput != nullptr && d.lpbiInput->biSizeImage >= 4) {
    std::memcpy(&f, d.lpInput, 4);
  }
  FakeCodecs::log().calls.push_back({f, d.dwFlags});
  if (f == FakeCodecs::log().fail_frame) return ICERR_ERROR;
  if (d.lpOutput != nullptr && d.lpbiOutput != nullptr && d.lpbiOutput->biSizeImage >= 4) {
    std::memcpy(d.lpOutput, &f, 4);
  }
  return ICERR_OK;
}

LRESULT fake_proc(DWORD_PTR id, HANDLE, UINT msg, LPARAM p1, LPARAM p2) {
  // Players on several threads call the codec at once; the log is one shared record.
  static std::mutex mutex;
  const std::lock_guard<std::mutex> lock(mutex);
  const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
  const auto* out = reinterpret_cast<const BITMAPINFOHEADER*>(p2);
  const auto ok_if = [](bool ok) { return ok ? ICERR_OK : ICERR_BADFORMAT; };
  switch (msg) {
    case DRV_OPEN: {
      const std::uint32_t want = reinterpret_cast<const ICOPEN*>(p2)->fccHandler;
      for (std::size_t i = 0; i < drivers().size(); ++i) {
        if (has({drivers()[i].handler}, want)) {
          FakeCodecs::opened().push_back(want);
          return static_cast<LRESULT>(i + 1);
        }
      }
      return 0;
    }
    case DRV_CLOSE:
      return 1;
    case ICM_GETINFO: {
      const std::u16string& d = drivers().at(id - 1).description;
      std::copy_n(d.begin(), std::min<std::size_t>(d.size(), 127),
                  reinterpret_cast<ICINFO*>(p1)->szDescription);
      return sizeof(ICINFO);
    }
    case ICM_DECOMPRESS_QUERY:
      ++FakeCodecs::log().queries;
      return ok_if(in != nullptr && has(drivers().at(id - 1).accepts, in->biCompression));
    case ICM_DECOMPRESS_BEGIN:
      if (out == nullptr) return ICERR_BADFORMAT;
      FakeCodecs::log().begun.push_back(out->biCompression);
      return ok_if(std::ranges::count(drivers().at(id - 1).outputs, out->biCompression) != 0);
    case ICM_DECOMPRESS:
      return decompress(*reinterpret_cast<const ICDECOMPRESS*>(p1));
    case ICM_DECOMPRESS_END:
      ++FakeCodecs::log().ends;
      return ICERR_OK;
    default:
      return ICERR_UNSUPPORTED;  // the picture-numbering messages included
  }
}

}  // namespace

// The library installs its real codecs when it loads; a test sees only its fakes, and the real
// ones come back afterwards.
FakeCodecs::FakeCodecs() : saved_(platform::ic_installed_drivers()) {
  log() = FakeCodecLog{};
  platform::ic_replace_drivers({});
}

FakeCodecs::~FakeCodecs() {
  drivers().clear();
  platform::ic_replace_drivers(saved_);
}

FakeCodecs& FakeCodecs::add(const char* handler, const std::u16string& description,
                            std::vector<std::uint32_t> accepts,
                            std::vector<std::uint32_t> outputs) {
  drivers().push_back({fourcc_value(handler), description, std::move(accepts), std::move(outputs)});
  ICInstall(ICTYPE_VIDEO, fourcc_value(handler), reinterpret_cast<LPARAM>(&fake_proc), nullptr,
            ICINSTALL_FUNCTION);
  return *this;
}

FakeCodecLog& FakeCodecs::log() {
  static FakeCodecLog l;
  return l;
}

}  // namespace avitest
