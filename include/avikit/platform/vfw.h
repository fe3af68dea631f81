#pragma once
// The Video for Windows codec manager: a process-wide registry of installable codec drivers,
// each a driver procedure installed with ICInstall(..., ICINSTALL_FUNCTION), and the entry points
// that open, query, describe and drive them. Message numbers and structures are the Windows ones.

#include <avikit/platform/win_types.h>

#include <vector>

namespace avikit::platform {

struct IcInstance;
using HIC = IcInstance*;

using DRIVERPROC = LRESULT (*)(DWORD_PTR driver_id, HANDLE driver, UINT message, LPARAM param1,
                               LPARAM param2);

inline constexpr DWORD ICTYPE_VIDEO = make_fourcc('v', 'i', 'd', 'c');

inline constexpr UINT ICMODE_COMPRESS = 1;
inline constexpr UINT ICMODE_DECOMPRESS = 2;
inline constexpr UINT ICMODE_FASTDECOMPRESS = 3;
inline constexpr UINT ICMODE_QUERY = 4;

inline constexpr UINT ICINSTALL_FUNCTION = 0x0001;

inline constexpr LRESULT ICERR_OK = 0;
inline constexpr LRESULT ICERR_UNSUPPORTED = -1;
inline constexpr LRESULT ICERR_BADFORMAT = -2;
inline constexpr LRESULT ICERR_MEMORY = -3;
inline constexpr LRESULT ICERR_INTERNAL = -4;
inline constexpr LRESULT ICERR_BADFLAGS = -5;
inline constexpr LRESULT ICERR_BADPARAM = -6;
inline constexpr LRESULT ICERR_BADSIZE = -7;
inline constexpr LRESULT ICERR_BADHANDLE = -8;
inline constexpr LRESULT ICERR_ERROR = -100;

// Driver messages.
inline constexpr UINT DRV_LOAD = 0x0001;
inline constexpr UINT DRV_ENABLE = 0x0002;
inline constexpr UINT DRV_OPEN = 0x0003;
inline constexpr UINT DRV_CLOSE = 0x0004;
inline constexpr UINT DRV_DISABLE = 0x0005;
inline constexpr UINT DRV_FREE = 0x0006;
inline constexpr UINT DRV_USER = 0x4000;
inline constexpr UINT ICM_USER = DRV_USER;
inline constexpr UINT ICM_RESERVED = DRV_USER + 0x1000;
inline constexpr UINT ICM_GETINFO = ICM_RESERVED + 2;
inline constexpr UINT ICM_DECOMPRESS_GET_FORMAT = ICM_USER + 10;
inline constexpr UINT ICM_DECOMPRESS_QUERY = ICM_USER + 11;
inline constexpr UINT ICM_DECOMPRESS_BEGIN = ICM_USER + 12;
inline constexpr UINT ICM_DECOMPRESS = ICM_USER + 13;
inline constexpr UINT ICM_DECOMPRESS_END = ICM_USER + 14;

inline constexpr DWORD ICDECOMPRESS_HURRYUP = 0x80000000u;
inline constexpr DWORD ICDECOMPRESS_UPDATE = 0x40000000u;
inline constexpr DWORD ICDECOMPRESS_PREROLL = 0x20000000u;
inline constexpr DWORD ICDECOMPRESS_NULLFRAME = 0x10000000u;
inline constexpr DWORD ICDECOMPRESS_NOTKEYFRAME = 0x08000000u;

// ICINFO: 568 bytes, as the module zeroes and reads it.
struct ICINFO {
  DWORD dwSize = 0;
  DWORD fccType = 0;
  DWORD fccHandler = 0;
  DWORD dwFlags = 0;
  DWORD dwVersion = 0;
  DWORD dwVersionICM = 0;
  WCHAR szName[16] = {};
  WCHAR szDescription[128] = {};
  WCHAR szDriver[128] = {};
};
static_assert(sizeof(ICINFO) == 568);

// Handed to the driver with DRV_OPEN (param2).
struct ICOPEN {
  DWORD dwSize = 0;
  DWORD fccType = 0;
  DWORD fccHandler = 0;
  DWORD dwVersion = 0;
  DWORD dwFlags = 0;
  LRESULT dwError = 0;
  void* pV1Reserved = nullptr;
  void* pV2Reserved = nullptr;
  DWORD dnDevNode = 0;
};

// Handed to the driver with ICM_DECOMPRESS (param1; param2 is its size).
struct ICDECOMPRESS {
  DWORD dwFlags = 0;
  BITMAPINFOHEADER* lpbiInput = nullptr;
  void* lpInput = nullptr;
  BITMAPINFOHEADER* lpbiOutput = nullptr;
  void* lpOutput = nullptr;
  DWORD ckid = 0;
};

// Installs (or replaces) the driver procedure for one type and handler. The handler is matched
// case-insensitively, as the Windows registry matches driver names.
BOOL ICInstall(DWORD fcc_type, DWORD fcc_handler, LPARAM param, const char* description,
               UINT flags);
BOOL ICRemove(DWORD fcc_type, DWORD fcc_handler, UINT flags);

HIC ICOpen(DWORD fcc_type, DWORD fcc_handler, UINT mode);
// Opens the driver for the handler if it accepts the formats, else the first installed driver of
// the type that does (ICM_DECOMPRESS_QUERY).
HIC ICLocate(DWORD fcc_type, DWORD fcc_handler, BITMAPINFOHEADER* in, BITMAPINFOHEADER* out,
             WORD flags);
LRESULT ICGetInfo(HIC ic, ICINFO* info, DWORD size);
LRESULT ICSendMessage(HIC ic, UINT message, DWORD_PTR param1, DWORD_PTR param2);
DWORD ICDecompress(HIC ic, DWORD flags, BITMAPINFOHEADER* format_in, void* data,
                   BITMAPINFOHEADER* format_out, void* bits);
LRESULT ICClose(HIC ic);

inline LRESULT ICDecompressQuery(HIC ic, BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
  return ICSendMessage(ic, ICM_DECOMPRESS_QUERY, reinterpret_cast<DWORD_PTR>(in),
                       reinterpret_cast<DWORD_PTR>(out));
}
inline LRESULT ICDecompressBegin(HIC ic, BITMAPINFOHEADER* in, BITMAPINFOHEADER* out) {
  return ICSendMessage(ic, ICM_DECOMPRESS_BEGIN, reinterpret_cast<DWORD_PTR>(in),
                       reinterpret_cast<DWORD_PTR>(out));
}
inline LRESULT ICDecompressEnd(HIC ic) { return ICSendMessage(ic, ICM_DECOMPRESS_END, 0, 0); }

// Our own: codec instances currently open, for leak checks in tests.
int ic_open_instances();

// Our own, for tests that need a codec manager with exactly the drivers they install: the
// drivers installed now, and a way to put a saved set back.
struct IcDriver {
  DWORD fcc_type = 0;
  DWORD fcc_handler = 0;
  DRIVERPROC proc = nullptr;
};
std::vector<IcDriver> ic_installed_drivers();
void ic_replace_drivers(std::vector<IcDriver> drivers);

// The codec manager's calls take a format block as the header it starts with: that is the Video
// for Windows contract (a driver reads biSize bytes from it).
inline BITMAPINFOHEADER* as_header(std::vector<std::uint8_t>& block) {
  return reinterpret_cast<BITMAPINFOHEADER*>(block.data());
}

}  // namespace avikit::platform
