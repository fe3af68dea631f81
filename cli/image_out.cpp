#include "cli/image_out.h"

#include <png.h>

#include <cstring>
#include <memory>
#include <vector>

namespace avicli {
namespace {

void put_le16(std::uint8_t* p, std::uint32_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put_le32(std::uint8_t* p, std::uint32_t v) {
  put_le16(p, v);
  put_le16(p + 2, v >> 16);
}

}  // namespace

bool write_png_from_bgr(const std::string& path, const std::uint8_t* pixels, int width, int height,
                        std::size_t stride, bool bottom_up) {
  if (pixels == nullptr || width <= 0 || height <= 0) return false;
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!file) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  const auto w = static_cast<std::size_t>(width);
  std::vector<std::uint8_t> row(w * 3);
  // libpng reports errors by longjmp; nothing with a destructor is created between here and the
  // calls that may jump.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    const int src_row = bottom_up ? height - 1 - y : y;
    const std::uint8_t* src = pixels + static_cast<std::size_t>(src_row) * stride;
    for (std::size_t x = 0; x < w; ++x) {
      row[3 * x] = src[3 * x + 2];
      row[3 * x + 1] = src[3 * x + 1];
      row[3 * x + 2] = src[3 * x];
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

WavWriter::~WavWriter() {
  if (file_ != nullptr) finish();
}

bool WavWriter::open(const std::string& path, int sample_rate, int channels, bool with_header) {
  if (file_ != nullptr || sample_rate <= 0 || channels <= 0) return false;
  file_ = path == "-" ? stdout : std::fopen(path.c_str(), "wb");
  if (file_ == nullptr) return false;
  header_ = with_header;
  data_bytes_ = 0;
  if (!header_) return true;
  std::uint8_t h[44] = {};
  const auto rate = static_cast<std::uint32_t>(sample_rate);
  const auto ch = static_cast<std::uint32_t>(channels);
  std::memcpy(h, "RIFF", 4);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  put_le32(h + 16, 16);
  put_le16(h + 20, 1);  // PCM
  put_le16(h + 22, ch);
  put_le32(h + 24, rate);
  put_le32(h + 28, rate * ch * 2);
  put_le16(h + 32, ch * 2);
  put_le16(h + 34, 16);
  std::memcpy(h + 36, "data", 4);
  if (file_ == stdout) {
    // Compat: a pipe cannot be patched; readers take 0xFFFFFFFF as "to the end of the stream".
    put_le32(h + 4, 0xFFFFFFFFu);
    put_le32(h + 40, 0xFFFFFFFFu);
  }
  return std::fwrite(h, 1, sizeof h, file_) == sizeof h;
}

bool WavWriter::write(const std::int16_t* samples, std::size_t count) {
  if (file_ == nullptr) return false;
  std::vector<std::uint8_t> bytes(count * 2);
  for (std::size_t i = 0; i < count; ++i)
    put_le16(&bytes[2 * i], static_cast<std::uint16_t>(samples[i]));
  data_bytes_ += bytes.size();
  return std::fwrite(bytes.data(), 1, bytes.size(), file_) == bytes.size();
}

bool WavWriter::finish() {
  if (file_ == nullptr) return false;
  bool ok = true;
  if (header_ && (file_ != stdout || std::fseek(file_, 0, SEEK_CUR) == 0)) {
    // RIFF sizes are 32-bit: a longer sound keeps the largest size that fits.
    const std::uint64_t data = data_bytes_ > 0xFFFFFFFFull - 36 ? 0xFFFFFFFFull - 36 : data_bytes_;
    std::uint8_t size[4];
    put_le32(size, static_cast<std::uint32_t>(data + 36));
    ok = std::fseek(file_, 4, SEEK_SET) == 0 && std::fwrite(size, 1, 4, file_) == 4;
    put_le32(size, static_cast<std::uint32_t>(data));
    ok = ok && std::fseek(file_, 40, SEEK_SET) == 0 && std::fwrite(size, 1, 4, file_) == 4;
  }
  ok = (file_ == stdout ? std::fflush(file_) : std::fclose(file_)) == 0 && ok;
  file_ = nullptr;
  return ok;
}

bool format_frame_path(const std::string& pattern, int number, std::string* out) {
  const std::size_t pct = pattern.find('%');
  if (pct == std::string::npos) return false;
  std::size_t i = pct + 1;
  while (i < pattern.size() && std::strchr("0-+ ", pattern[i]) != nullptr) ++i;
  while (i < pattern.size() && pattern[i] >= '0' && pattern[i] <= '9') ++i;
  if (i >= pattern.size() || pattern[i] != 'd') return false;
  if (pattern.find('%', i + 1) != std::string::npos) return false;
  const std::string conversion = pattern.substr(pct, i - pct + 1);
  char buf[64];
  const int n = std::snprintf(buf, sizeof buf, conversion.c_str(), number);
  if (n < 0 || static_cast<std::size_t>(n) >= sizeof buf) return false;
  *out = pattern.substr(0, pct) + buf + pattern.substr(i + 1);
  return true;
}

}  // namespace avicli
