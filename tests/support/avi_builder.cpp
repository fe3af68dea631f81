#include "support/avi_builder.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

using namespace avikit;

namespace avitest {

std::string le(std::uint64_t v, int bytes) {
  std::string s;
  for (int i = 0; i < bytes; ++i) s.push_back(static_cast<char>(v >> (8 * i)));
  return s;
}
void patch_le(std::string& s, std::uint64_t at, std::uint64_t v, int bytes) {
  for (std::uint64_t i = 0; i < static_cast<std::uint64_t>(bytes) && at + i < s.size(); ++i) {
    s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  }
}
std::uint32_t fourcc_value(const char* four) {
  if (four == nullptr) return 0;
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v |= std::uint32_t{static_cast<std::uint8_t>(four[i])} << (8 * i);
  return v;
}

// --- RiffWriter ----------------------------------------------------------------------------------

RiffWriter::Piece& RiffWriter::tail() {
  if (pieces_.empty() || pieces_.back().offset + pieces_.back().data.size() != size_) {
    pieces_.push_back(Piece{size_, {}});
  }
  return pieces_.back();
}

RiffWriter& RiffWriter::bytes(const std::string& data) {
  tail().data += data;
  size_ += data.size();
  return *this;
}
RiffWriter& RiffWriter::hole(std::uint64_t n) {
  size_ += n;
  return *this;
}

std::uint64_t RiffWriter::begin_chunk(const char* id) {
  const std::uint64_t mark = size_;
  fourcc(id).u32(0);
  return mark;
}
std::uint64_t RiffWriter::begin_list(const char* id, const char* type) {
  const std::uint64_t mark = begin_chunk(id);
  fourcc(type);
  return mark;
}
std::uint32_t RiffWriter::end(std::uint64_t mark, bool pad) {
  const auto written = static_cast<std::uint32_t>(size_ - mark - 8);
  patch(mark + 4, le(written, 4));
  if (pad && (written & 1) != 0) bytes(std::string(1, '\0'));
  return written;
}
std::uint64_t RiffWriter::chunk(const char* id, const std::string& data, bool pad,
                                std::optional<std::uint32_t> declared) {
  const std::uint64_t mark = begin_chunk(id);
  bytes(data);
  end(mark, pad && !declared);
  if (declared) patch(mark + 4, le(*declared, 4));
  return mark;
}

void RiffWriter::patch(std::uint64_t at, const std::string& bytes) {
  for (std::uint64_t i = at; i < at + bytes.size(); ++i) {  // byte by byte: a patch may span pieces
    Piece& p = *(std::ranges::upper_bound(pieces_, i, {}, &Piece::offset) - 1);
    p.data.at(i - p.offset) = bytes[i - at];
  }
}

std::string RiffWriter::str() const {
  std::string out(size_, '\0');
  for (const Piece& p : pieces_) std::memcpy(out.data() + p.offset, p.data.data(), p.data.size());
  return out;
}

bool RiffWriter::write_sparse(const std::string& path) const {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = ::ftruncate(fd, static_cast<off_t>(size_)) == 0;
  for (const Piece& p : pieces_) {
    std::uint64_t done = 0;
    while (ok && done < p.data.size()) {
      const ssize_t n = ::pwrite(fd, p.data.data() + done, p.data.size() - done,
                                 static_cast<off_t>(p.offset + done));
      ok = n > 0;
      if (ok) done += static_cast<std::uint64_t>(n);
    }
  }
  return ::close(fd) == 0 && ok;
}

// --- Payloads ------------------------------------------------------------------------------------

std::string stream_header(const StreamHeaderFields& f) {
  std::string s = le(fourcc_value(f.type), 4) + le(fourcc_value(f.handler), 4);
  // dwFlags, wPriority and wLanguage, dwInitialFrames, dwScale, dwRate, dwStart, dwLength,
  // dwSuggestedBufferSize, dwQuality, dwSampleSize, rcFrame: left and top, right, bottom.
  for (std::uint32_t v :
       {0u, 0u, 0u, f.scale, f.rate, 0u, f.length, 0u, 0xFFFFFFFFu, f.sample_size, 0u}) {
    put_u32(s, v);
  }
  return s + le(static_cast<std::uint16_t>(f.frame_right), 2) +
         le(static_cast<std::uint16_t>(f.frame_bottom), 2);
}

std::string bitmap_info(const BitmapFields& f) {
  const std::uint32_t stride = ((static_cast<std::uint32_t>(f.width) * f.bit_count + 31) / 32) * 4;
  const auto rows = static_cast<std::uint32_t>(f.height < 0 ? -f.height : f.height);
  std::string s;
  // biSize, biWidth, biHeight, biPlanes and biBitCount, biCompression, biSizeImage, then the
  // resolution and palette counts, all 0.
  for (std::uint32_t v :
       {f.bi_size, static_cast<std::uint32_t>(f.width), static_cast<std::uint32_t>(f.height),
        1u | std::uint32_t{f.bit_count} << 16,
        f.compression != nullptr ? fourcc_value(f.compression) : f.compression_value, stride * rows,
        0u, 0u, 0u, 0u}) {
    put_u32(s, v);
  }
  return s;
}

std::string wave_format(const WaveFields& f) {
  const std::uint16_t align =
      f.block_align != 0 ? f.block_align : static_cast<std::uint16_t>(f.channels * f.bits / 8);
  const std::uint32_t avg_bytes = f.avg_bytes != 0 ? f.avg_bytes : f.sample_rate * align;
  return le(f.tag, 2) + le(f.channels, 2) + le(f.sample_rate, 4) + le(avg_bytes, 4) + le(align, 2) +
         le(f.bits, 2) + le(0, 2);  // cbSize last
}

// --- WAVE and memory files -----------------------------------------------------------------------

std::string wave_file(const WaveFields& format, const std::string& data, const std::string& between,
                      std::optional<std::uint32_t> declared) {
  RiffWriter w;
  const std::uint64_t riff = w.begin_list("RIFF", "WAVE");
  w.chunk("fmt ", wave_format(format));
  w.bytes(between);
  w.chunk("data", data, true, declared);
  w.end(riff);
  return w.str();
}

}  // namespace avitest
