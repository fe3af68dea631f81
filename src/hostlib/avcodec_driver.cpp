// The libavcodec driver as the codec manager holds it: installed when the library loads, without
// libavcodec; the codec module (codec_module.h) is loaded when the first instance opens.
#include "hostlib/avcodec_driver.h"

#include <algorithm>
#include <mutex>

#include "hostlib/codec_module.h"
#include "hostlib/riff_video_tags.h"

namespace avikit::hostlib {
namespace {

using namespace platform;

bool printable(DWORD v) {
  for (int i = 0; i < 4; ++i) {
    const auto b = static_cast<unsigned char>(v >> (8 * i));
    if (b < 0x20 || b > 0x7E) return false;
  }
  return true;
}

// FOURCCs left to others: DV type-2 goes to the module's own decoder; the uncompressed RGB names
// are the module's raw path.
bool reserved_fourcc(DWORD v) {
  const DWORD u = upper_fourcc(v);
  return u == fourcc("DVSD") || u == fourcc("DIB ") || u == fourcc("RGB ") || u == fourcc("RAW ") ||
         u == fourcc("    ");
}

// One FOURCC per case-insensitive name of the tag table. The module refuses to open those this
// libavcodec cannot decode, so the codec manager finds exactly the codecs it would had only
// those been installed.
const std::vector<std::uint32_t>& installed_fourccs() {
  static const std::vector<std::uint32_t> tags = [] {
    // Every command pays for this at start-up: the names seen are kept sorted.
    std::vector<std::uint32_t> out;
    std::vector<std::uint32_t> seen;
    for (const detail::RiffVideoTag& t : detail::riff_video_tags()) {
      if (!detail::driver_may_install(t.fourcc)) continue;
      const std::uint32_t name = upper_fourcc(t.fourcc);
      const auto at = std::lower_bound(seen.begin(), seen.end(), name);
      if (at != seen.end() && *at == name) continue;
      seen.insert(at, name);
      out.push_back(t.fourcc);
    }
    return out;
  }();
  return tags;
}

LRESULT open_instance(DWORD_PTR driver_id, HANDLE driver, LPARAM param2) {
  const auto* open = reinterpret_cast<const ICOPEN*>(param2);
  if (open == nullptr) return 1;  // the driver itself, opened without an instance
  if (open->fccType != ICTYPE_VIDEO && open->fccType != 0) return 0;
  if (open->dwFlags == ICMODE_COMPRESS) return 0;  // a decompressor only
  if (reserved_fourcc(open->fccHandler)) return 0;
  const detail::CodecModule* m = detail::codec_module();
  return m != nullptr ? m->driver_proc(driver_id, driver, DRV_OPEN, 0, param2) : 0;
}

}  // namespace

namespace detail {

bool driver_may_install(std::uint32_t fourcc) {
  return printable(fourcc) && !reserved_fourcc(fourcc);
}

}  // namespace detail

LRESULT avcodec_driver_proc(DWORD_PTR driver_id, HANDLE driver, UINT message, LPARAM param1,
                            LPARAM param2) {
  switch (message) {
    case DRV_LOAD:
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_FREE:
      return 1;
    case DRV_OPEN:
      try {
        return open_instance(driver_id, driver, param2);
      } catch (...) {  // std::bad_alloc while loading the module
        return 0;
      }
    case DRV_CLOSE:
      if (driver_id <= 1) return 1;
      break;
    default:
      if (driver_id <= 1) return ICERR_BADHANDLE;
      break;
  }
  // An instance exists, so the module is loaded.
  return detail::codec_module()->driver_proc(driver_id, driver, message, param1, param2);
}

std::vector<std::uint32_t> avcodec_driver_handlers() {
  const detail::CodecModule* m = detail::codec_module();
  std::size_t n = 0;
  const std::uint32_t* h = m != nullptr ? m->handlers(&n) : nullptr;
  return h != nullptr ? std::vector<std::uint32_t>(h, h + n) : std::vector<std::uint32_t>{};
}

int register_avcodec_driver() {
  static std::once_flag once;
  static int installed = 0;
  std::call_once(once, [] {
    for (const std::uint32_t tag : installed_fourccs()) {
      if (ICInstall(ICTYPE_VIDEO, tag, reinterpret_cast<LPARAM>(&avcodec_driver_proc), "libavcodec",
                    ICINSTALL_FUNCTION) != FALSE) {
        ++installed;
      }
    }
  });
  return installed;
}

namespace {
// The codecs are there as soon as the library is loaded, as installed codecs are on Windows.
const int g_registered_at_load = register_avcodec_driver();
}  // namespace

}  // namespace avikit::hostlib
