#include <avikit/platform/vfw.h>
#include <gtest/gtest.h>

#include <cstring>

using namespace avikit;

namespace {

using namespace platform;

// A fake driver that decodes "FAKE" into 24-bit output only, and counts what it is asked.
struct {
  int closes = 0;
  int decompressions = 0;
  DWORD last_flags = 0;
} g_fake;

LRESULT fake_proc(DWORD_PTR id, HANDLE, UINT msg, LPARAM p1, LPARAM p2) {
  switch (msg) {
    case DRV_OPEN: {
      auto* o = reinterpret_cast<ICOPEN*>(p2);
      return o != nullptr && o->fccType == ICTYPE_VIDEO ? 42 : 0;
    }
    case DRV_CLOSE:
      ++g_fake.closes;
      return 1;
    case ICM_DECOMPRESS_BEGIN:
    case ICM_DECOMPRESS_END:
      return ICERR_OK;
    case ICM_GETINFO: {
      const char16_t desc[] = u"Fake codec";
      std::memcpy(reinterpret_cast<ICINFO*>(p1)->szDescription, desc, sizeof desc);
      return sizeof(ICINFO);
    }
    case ICM_DECOMPRESS_QUERY: {
      auto* in = reinterpret_cast<BITMAPINFOHEADER*>(p1);
      auto* out = reinterpret_cast<BITMAPINFOHEADER*>(p2);
      if (in == nullptr || in->biCompression != fourcc("FAKE")) return ICERR_BADFORMAT;
      return out != nullptr && out->biBitCount != 24 ? ICERR_BADFORMAT : ICERR_OK;
    }
    case ICM_DECOMPRESS:
      EXPECT_EQ(id, 42u);
      EXPECT_EQ(static_cast<size_t>(p2), sizeof(ICDECOMPRESS));
      ++g_fake.decompressions;
      g_fake.last_flags = reinterpret_cast<ICDECOMPRESS*>(p1)->dwFlags;
      return ICERR_OK;
    default:
      return ICERR_UNSUPPORTED;
  }
}

// Opened by its handler in any case, it describes itself; ICLocate asks every driver whether it
// takes a format, and a decompression carries its flags.
TEST(VfwTest, OpensByHandlerDescribesItselfAndIsLocatedByTheFormatItTakes) {
  ASSERT_TRUE(ICInstall(ICTYPE_VIDEO, fourcc("fake"), reinterpret_cast<LPARAM>(&fake_proc), nullptr,
                        ICINSTALL_FUNCTION));
  HIC ic = ICOpen(ICTYPE_VIDEO, fourcc("FAKE"), ICMODE_DECOMPRESS);
  ASSERT_NE(ic, nullptr);
  ICINFO info;
  EXPECT_EQ((std::tuple{ICGetInfo(ic, &info, sizeof info), info.fccType,
                        std::u16string(info.szDescription), ICClose(ic), g_fake.closes,
                        ICOpen(ICTYPE_VIDEO, fourcc("none"), ICMODE_DECOMPRESS),
                        ICSendMessage(nullptr, ICM_DECOMPRESS_END, 0, 0), ICClose(nullptr)}),
            std::tuple(static_cast<LRESULT>(sizeof(ICINFO)), ICTYPE_VIDEO, u"Fake codec", ICERR_OK,
                       1, nullptr, ICERR_BADHANDLE, ICERR_BADHANDLE));  // braces: in order

  BITMAPINFOHEADER in;
  in.biCompression = fourcc("FAKE");
  ic = ICLocate(ICTYPE_VIDEO, fourcc("othr"), &in, nullptr, ICMODE_DECOMPRESS);
  ASSERT_NE(ic, nullptr);
  BITMAPINFOHEADER out;
  out.biBitCount = 24;
  std::uint8_t data[4] = {}, pixels[4] = {};
  EXPECT_EQ((std::tuple{ICDecompressBegin(ic, &in, &out),
                        ICDecompress(ic, ICDECOMPRESS_NOTKEYFRAME, &in, data, &out, pixels),
                        g_fake.decompressions, g_fake.last_flags}),
            std::tuple(ICERR_OK, 0u, 1, ICDECOMPRESS_NOTKEYFRAME));
  ICClose(ic);
  out.biBitCount = 16;
  EXPECT_EQ(ICLocate(ICTYPE_VIDEO, 0, &in, &out, ICMODE_DECOMPRESS), nullptr);
  in.biCompression = fourcc("MJPG");
  EXPECT_EQ(ICLocate(ICTYPE_VIDEO, fourcc("MJPG"), &in, nullptr, ICMODE_DECOMPRESS), nullptr);
  ICRemove(ICTYPE_VIDEO, fourcc("fake"), 0);
  EXPECT_EQ(ic_open_instances(), 0);
}

}  // namespace
