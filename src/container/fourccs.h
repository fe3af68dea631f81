#pragma once
// FOURCC values the container compares against, and the byte-wise case rules for them.

#include <avikit/platform/win_types.h>

#include <cstdint>
#include <string>

namespace avikit::container {

using platform::fourcc;

// A FOURCC as four characters for people to read: bytes outside printable ASCII become '.'.
inline std::string fourcc_text(std::uint32_t v) {
  std::string s;
  for (int k = 0; k < 4; ++k) {
    const auto c = static_cast<char>((v >> (8 * k)) & 0xFF);
    s.push_back(c >= 0x20 && c <= 0x7E ? c : '.');
  }
  return s;
}

inline constexpr std::uint32_t kRiff = fourcc("RIFF");
inline constexpr std::uint32_t kList = fourcc("LIST");
inline constexpr std::uint32_t kAviForm = fourcc("AVI ");
inline constexpr std::uint32_t kWaveForm = fourcc("WAVE");
inline constexpr std::uint32_t kHdrl = fourcc("hdrl");
inline constexpr std::uint32_t kAvih = fourcc("avih");
inline constexpr std::uint32_t kStrl = fourcc("strl");
inline constexpr std::uint32_t kStrh = fourcc("strh");
inline constexpr std::uint32_t kStrf = fourcc("strf");
inline constexpr std::uint32_t kIndx = fourcc("indx");
inline constexpr std::uint32_t kMovi = fourcc("movi");
inline constexpr std::uint32_t kIdx1 = fourcc("idx1");
inline constexpr std::uint32_t kInfo = fourcc("INFO");
inline constexpr std::uint32_t kIsft = fourcc("ISFT");
inline constexpr std::uint32_t kFmt = fourcc("fmt ");
inline constexpr std::uint32_t kData = fourcc("data");
inline constexpr std::uint32_t kSend = fourcc("send");
inline constexpr std::uint32_t kVids = fourcc("vids");
inline constexpr std::uint32_t kAuds = fourcc("auds");
inline constexpr std::uint32_t kIavs = fourcc("iavs");
inline constexpr std::uint32_t kDvsdLower = fourcc("dvsd");
inline constexpr std::uint32_t kDvsdUpper = fourcc("DVSD");

// Byte k of a FOURCC value (0 = the first character in the file).
constexpr std::uint8_t fourcc_byte(std::uint32_t v, int k) {
  return static_cast<std::uint8_t>(v >> (8 * k));
}

// ASCII-only case mapping, byte by byte; other bytes stay as they are.
constexpr std::uint32_t lower_fourcc(std::uint32_t v) {
  std::uint32_t out = 0;
  for (int k = 0; k < 4; ++k) {
    std::uint8_t b = fourcc_byte(v, k);
    if (b >= 'A' && b <= 'Z') b = static_cast<std::uint8_t>(b + ('a' - 'A'));
    out |= std::uint32_t{b} << (8 * k);
  }
  return out;
}
using platform::upper_fourcc;

// The handler values that mean "no codec, the pixels are stored as they are"; compared exactly.
constexpr bool is_uncompressed_fourcc(std::uint32_t v) {
  return v == 0 || v == fourcc("    ") || v == fourcc("dib ") || v == fourcc("DIB ");
}

// The two characters of a chunk id read as a hexadecimal stream number ("0B" is 11). Characters
// other than 0-9 and A-F count as 0, as the AVI writers of old did.
constexpr std::uint32_t hex_stream_number(std::uint32_t chunk_id) {
  auto digit = [](std::uint8_t c) -> std::uint32_t {
    if (c >= '0' && c <= '9') return std::uint32_t{c} - '0';
    if (c >= 'A' && c <= 'F') return std::uint32_t{c} - 'A' + 10;
    return 0;
  };
  return digit(fourcc_byte(chunk_id, 0)) * 16 + digit(fourcc_byte(chunk_id, 1));
}

// The stream a chunk id ("01wb", "10dc", "0Bdc") belongs to among `declared` stream lists, or -1
// when its first two characters name none. Writers disagree on streams 10 and up: some write
// them in decimal ("10wb"), Windows writers in hexadecimal ("0awb", "0Bwb"). Two decimal digits
// are read as decimal and a pair holding a hex letter as hexadecimal, so the readings agree
// below 10; when the decimal reading names no declared stream and the hexadecimal one does,
// the hexadecimal one wins. Anything else ("rec ", "ix", zero bytes) is no stream's chunk.
constexpr std::int32_t chunk_stream_number(std::uint32_t chunk_id, std::uint32_t declared) {
  auto hex = [](std::uint8_t c) -> std::int32_t {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  const std::int32_t hi = hex(fourcc_byte(chunk_id, 0));
  const std::int32_t lo = hex(fourcc_byte(chunk_id, 1));
  if (hi < 0 || lo < 0) return -1;
  const std::int32_t as_hex = hi * 16 + lo;
  if (hi > 9 || lo > 9) return as_hex;
  const std::int32_t as_decimal = hi * 10 + lo;
  if (static_cast<std::uint32_t>(as_decimal) >= declared &&
      static_cast<std::uint32_t>(as_hex) < declared) {
    return as_hex;
  }
  return as_decimal;
}

}  // namespace avikit::container
