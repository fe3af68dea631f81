// The libavcodec driver's instances, in the codec module: the front (avcodec_driver.cpp)
// installs the driver and hands every instance's messages on to avcodec_instance_proc.
#include <algorithm>
#include <new>
#include <string>

#include "hostlib/avcodec_driver.h"
#include "hostlib/avcodec_session.h"
#include "hostlib/dib_layout.h"
#include "hostlib/riff_video_tags.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace avikit {

namespace hostlib::detail {
namespace {

using namespace platform;

std::vector<std::uint32_t> supported_fourccs() {
  std::vector<std::uint32_t> out;
  for (const RiffVideoTag& t : riff_video_tags()) {
    const DWORD tag = t.fourcc;
    if (!driver_may_install(tag)) continue;
    if (riff_codec_for_fourcc(tag) == AV_CODEC_ID_NONE) continue;
    const auto id = static_cast<AVCodecID>(riff_tag_codec_id(t));
    if (id == AV_CODEC_ID_NONE || avcodec_find_decoder(id) == nullptr) continue;
    const bool seen = std::any_of(out.begin(), out.end(), [&](std::uint32_t v) {
      return upper_fourcc(v) == upper_fourcc(tag);
    });
    if (!seen) out.push_back(tag);
  }
  return out;
}

const std::vector<std::uint32_t>& decodable_fourccs() {
  static const std::vector<std::uint32_t> handlers = supported_fourccs();
  return handlers;
}

void copy_wide(const std::string& text, WCHAR* out, std::size_t capacity) {
  const std::size_t n = std::min(text.size(), capacity - 1);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<unsigned char>(text[i]);
  out[n] = 0;
}

LRESULT get_info(const AvcodecSession& session, ICINFO* info, LPARAM size) {
  if (info == nullptr || size < static_cast<LPARAM>(sizeof(ICINFO))) return 0;
  const auto id = static_cast<AVCodecID>(codec_for_fourcc(session.handler()));
  const AVCodec* codec = avcodec_find_decoder(id);
  info->dwSize = sizeof(ICINFO);
  info->fccType = ICTYPE_VIDEO;
  info->fccHandler = session.handler();
  info->dwFlags = 0;
  info->dwVersion = LIBAVCODEC_VERSION_INT;
  info->dwVersionICM = 0x0104;
  const std::string name = codec != nullptr ? codec->name : "avcodec";
  const std::string long_name =
      codec != nullptr && codec->long_name != nullptr ? codec->long_name : name;
  copy_wide(name, info->szName, std::size(info->szName));
  copy_wide("libavcodec " + long_name, info->szDescription, std::size(info->szDescription));
  copy_wide("avcodec", info->szDriver, std::size(info->szDriver));
  return sizeof(ICINFO);
}

LRESULT open_instance(const ICOPEN& open) {
  // The front installs every FOURCC of the tag table, which it can read without libavcodec;
  // a handler whose codec this libavcodec cannot decode opens no more than it would had it
  // never been installed.
  const std::vector<std::uint32_t>& known = decodable_fourccs();
  if (std::none_of(known.begin(), known.end(), [&](std::uint32_t v) {
        return upper_fourcc(v) == upper_fourcc(open.fccHandler);
      })) {
    return 0;
  }
  // Owned by the codec manager's instance until DRV_CLOSE.
  auto* session = new (std::nothrow) AvcodecSession(open.fccHandler);
  return reinterpret_cast<LRESULT>(session);
}

LRESULT instance_message(AvcodecSession& s, UINT message, LPARAM p1, LPARAM p2) {
  auto* in = reinterpret_cast<BITMAPINFOHEADER*>(p1);
  auto* out = reinterpret_cast<BITMAPINFOHEADER*>(p2);
  switch (message) {
    case ICM_GETINFO:
      return get_info(s, reinterpret_cast<ICINFO*>(p1), p2);
    case ICM_DECOMPRESS_QUERY:
      return s.query(in, out);
    case ICM_DECOMPRESS_GET_FORMAT: {
      if (s.query(in, nullptr) != ICERR_OK) return ICERR_BADFORMAT;
      if (out == nullptr) return sizeof(BITMAPINFOHEADER);
      *out = BITMAPINFOHEADER{};
      out->biSize = sizeof(BITMAPINFOHEADER);
      out->biWidth = in->biWidth;
      out->biHeight = in->biHeight;
      out->biPlanes = 1;
      out->biBitCount = 24;
      out->biCompression = BI_RGB;
      out->biSizeImage = dib_layout(in->biWidth, in->biHeight, 24).bytes;
      return ICERR_OK;
    }
    case ICM_DECOMPRESS_BEGIN:
      return s.begin(in, out);
    case ICM_DECOMPRESS: {
      if (p1 == 0 || p2 < static_cast<LPARAM>(sizeof(ICDECOMPRESS))) return ICERR_BADPARAM;
      return s.decompress(*reinterpret_cast<const ICDECOMPRESS*>(p1));
    }
    case ICM_DECOMPRESS_END:
      return s.end();
    case ICM_AVK_GET_RUN_STATE: {
      auto* state = reinterpret_cast<AvkRunState*>(p1);
      if (state == nullptr || p2 < static_cast<LPARAM>(sizeof(AvkRunState))) {
        return ICERR_BADPARAM;
      }
      s.run_state(*state);
      return ICERR_OK;
    }
    case ICM_AVK_DRAIN:
      return s.drain(reinterpret_cast<void*>(p1));
    case ICM_AVK_IS_INTRA_ONLY: {
      if (in == nullptr) return ICERR_BADPARAM;
      const AVCodecDescriptor* d =
          avcodec_descriptor_get(static_cast<AVCodecID>(codec_for_fourcc(in->biCompression)));
      return d != nullptr && (d->props & AV_CODEC_PROP_INTRA_ONLY) != 0 ? ICERR_OK
                                                                        : ICERR_UNSUPPORTED;
    }
    default:
      return ICERR_UNSUPPORTED;
  }
}

}  // namespace

LRESULT avcodec_instance_proc(DWORD_PTR driver_id, HANDLE, UINT message, LPARAM param1,
                              LPARAM param2) {
  try {
    switch (message) {
      case DRV_OPEN:
        return param2 != 0 ? open_instance(*reinterpret_cast<const ICOPEN*>(param2)) : 0;
      case DRV_CLOSE:
        if (driver_id > 1) delete reinterpret_cast<AvcodecSession*>(driver_id);
        return 1;
      default:
        break;
    }
    if (driver_id <= 1) return ICERR_BADHANDLE;
    return instance_message(*reinterpret_cast<AvcodecSession*>(driver_id), message, param1, param2);
  } catch (const std::bad_alloc&) {
    return ICERR_MEMORY;
  } catch (...) {
    return ICERR_INTERNAL;
  }
}

const std::uint32_t* avcodec_handlers(std::size_t* count) {
  const std::vector<std::uint32_t>& h = decodable_fourccs();
  if (count != nullptr) *count = h.size();
  return h.data();
}

}  // namespace hostlib::detail

}  // namespace avikit
