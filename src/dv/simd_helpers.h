#pragma once
// Scalar twins of the 16-bit vector operations, so that the reference kernels do exactly what a
// vector lane does and a failing lane can be checked by hand.

#include <algorithm>
#include <cstdint>

namespace avikit {

namespace dv::detail {

constexpr std::int16_t sat16(std::int32_t v) {
  return static_cast<std::int16_t>(std::clamp<std::int32_t>(v, -32768, 32767));
}
constexpr std::int16_t sat_add16(std::int16_t a, std::int16_t b) { return sat16(a + b); }
constexpr std::int16_t sat_sub16(std::int16_t a, std::int16_t b) { return sat16(a - b); }
// Wrapping 16-bit addition and subtraction (paddw / psubw).
constexpr std::int16_t wrap_add16(std::int16_t a, std::int16_t b) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(a + b));
}
constexpr std::int16_t wrap_sub16(std::int16_t a, std::int16_t b) {
  return static_cast<std::int16_t>(static_cast<std::uint16_t>(a - b));
}
// Upper 16 bits of the signed 32-bit product: the floor of a b / 65536 (pmulhw).
constexpr std::int16_t mulhi16(std::int16_t a, std::int16_t b) {
  return static_cast<std::int16_t>((std::int32_t{a} * std::int32_t{b}) >> 16);
}
// Wrapping 32-bit multiply-accumulate (pmaddwd followed by paddd).
constexpr std::uint32_t mac32(std::uint32_t acc, std::int16_t a, std::int16_t b) {
  return acc + static_cast<std::uint32_t>(std::int32_t{a} * std::int32_t{b});
}
constexpr std::int32_t as_int32(std::uint32_t v) { return static_cast<std::int32_t>(v); }
constexpr std::uint8_t clamp_u8(std::int32_t v) {
  return static_cast<std::uint8_t>(std::clamp<std::int32_t>(v, 0, 255));
}

}  // namespace dv::detail

}  // namespace avikit
