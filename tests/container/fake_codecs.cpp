#include "fake_codecs.h"

#include <algorithm>

#include "container/fourccs.h"
#include "support/avi_builder.h"

using namespace avikit;

namespace avitest {
namespace {

using namespace platform;

struct FakeDriver {
  std::uint32_t handler;
  std::u16string description;
  std::vector<std::uint32_t> accepts;
};
std::vector<FakeDriver>& drivers() {
  static std::vector<FakeDriver> d;
  return d;
}

LRESULT fake_proc(DWORD_PTR id, HANDLE, UINT msg, LPARAM p1, LPARAM p2) {
  switch (msg) {
    case DRV_OPEN: {
      const auto* o = reinterpret_cast<const ICOPEN*>(p2);
      if (o == nullptr) return 0;
      const std::uint32_t want = container::upper_fourcc(o->fccHandler);
      for (std::size_t i = 0; i < drivers().size(); ++i) {
        if (container::upper_fourcc(drivers()[i].handler) == want) {
          FakeCodecs::opened().push_back(o->fccHandler);
          return static_cast<LRESULT>(i + 1);
        }
      }
      return 0;
    }
    case DRV_CLOSE:
      return 1;
    case ICM_GETINFO: {
      auto* info = reinterpret_cast<ICINFO*>(p1);
      const std::u16string& d = drivers().at(id - 1).description;
      const std::size_t n = std::min<std::size_t>(d.size(), 127);
      std::copy(d.begin(), d.begin() + static_cast<std::ptrdiff_t>(n), info->szDescription);
      return sizeof(ICINFO);
    }
    case ICM_DECOMPRESS_QUERY: {
      const auto* in = reinterpret_cast<const BITMAPINFOHEADER*>(p1);
      const auto& accepts = drivers().at(id - 1).accepts;
      return in != nullptr &&
                     std::find(accepts.begin(), accepts.end(), in->biCompression) != accepts.end()
                 ? ICERR_OK
                 : ICERR_BADFORMAT;
    }
    default:
      return ICERR_UNSUPPORTED;
  }
}

}  // namespace

// The library installs its real codecs when it loads; a naming test sees only its fakes, and
// the real ones come back afterwards.
FakeCodecs::FakeCodecs() : saved_(platform::ic_installed_drivers()) {
  opened().clear();
  platform::ic_replace_drivers({});
}

FakeCodecs::~FakeCodecs() {
  for (const FakeDriver& d : drivers()) ICRemove(ICTYPE_VIDEO, d.handler, 0);
  drivers().clear();
  platform::ic_replace_drivers(saved_);
}

FakeCodecs& FakeCodecs::add(const char* handler, const std::u16string& description,
                            std::vector<std::uint32_t> accepts) {
  drivers().push_back({fourcc_value(handler), description, std::move(accepts)});
  ICInstall(ICTYPE_VIDEO, fourcc_value(handler), reinterpret_cast<LPARAM>(&fake_proc), nullptr,
            ICINSTALL_FUNCTION);
  return *this;
}

std::vector<std::uint32_t>& FakeCodecs::opened() {
  static std::vector<std::uint32_t> o;
  return o;
}

}  // namespace avitest
