#pragma once
// Little-endian field access for bytes read from files. Every stage decodes file data through
// these helpers: structures are filled field by field, never by casting a buffer.

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace avikit::container {

constexpr std::uint16_t le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(std::uint16_t{p[0]} | std::uint16_t{p[1]} << 8);
}
constexpr std::uint32_t le32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}
constexpr std::uint64_t le64(const std::uint8_t* p) {
  return std::uint64_t{le32(p)} | std::uint64_t{le32(p + 4)} << 32;
}

// A read-only window over bytes of known length. Reads past the end yield zero and mark the
// cursor as overrun, so a short structure decodes with its missing fields as 0 (the rule the AVI
// stream header follows) and callers can still tell that it was short.
class ByteCursor {
 public:
  constexpr ByteCursor(const std::uint8_t* data, std::size_t size) noexcept
      : data_(data), size_(data != nullptr ? size : 0) {}

  constexpr std::size_t position() const noexcept { return pos_; }
  constexpr std::size_t remaining() const noexcept { return size_ - pos_; }
  constexpr bool overrun() const noexcept { return overrun_; }

  constexpr void seek(std::size_t pos) noexcept {
    if (pos > size_) {
      overrun_ = true;
      pos = size_;
    }
    pos_ = pos;
  }
  constexpr void skip(std::size_t n) noexcept {
    if (n > remaining()) {
      overrun_ = true;
      pos_ = size_;
    } else {
      pos_ += n;
    }
  }

  constexpr std::uint8_t u8() noexcept {
    std::uint8_t b[1] = {};
    take(b, 1);
    return b[0];
  }
  constexpr std::uint16_t u16() noexcept {
    std::uint8_t b[2] = {};
    take(b, 2);
    return le16(b);
  }
  constexpr std::uint32_t u32() noexcept {
    std::uint8_t b[4] = {};
    take(b, 4);
    return le32(b);
  }
  constexpr std::int32_t i32() noexcept { return static_cast<std::int32_t>(u32()); }
  constexpr std::int16_t i16() noexcept { return static_cast<std::int16_t>(u16()); }
  constexpr std::uint64_t u64() noexcept {
    std::uint8_t b[8] = {};
    take(b, 8);
    return le64(b);
  }

 private:
  // Copies what is there; the rest of `out` stays zero.
  constexpr void take(std::uint8_t* out, std::size_t n) noexcept {
    const std::size_t have = n < remaining() ? n : remaining();
    for (std::size_t i = 0; i < have; ++i) out[i] = data_[pos_ + i];
    pos_ += have;
    if (have < n) overrun_ = true;
  }

  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
  bool overrun_ = false;
};

}  // namespace avikit::container
