#include "container/open_error.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <new>
#include <span>
#include <string>

#include "container/avi_container.h"
#include "container/byte_cursor.h"
#include "container/fourccs.h"
#include "platform/files.h"

namespace avikit {

namespace {

using container::le32;

thread_local AviOpenError t_code = AviOpenError::kNone;
thread_local std::string t_text;

struct Reason {
  AviOpenError code = AviOpenError::kNone;
  std::string text;
  bool wave = false;  // a sound RIFF WAVE file (with kNone)
};

// The file through the platform layer, so in-memory files are diagnosed like real ones.
class Probe {
 public:
  explicit Probe(const platform::FileSource& source) {
    if (file_.open(source)) size_ = file_.size();
  }

  bool ok() const { return file_.is_open(); }
  std::uint64_t size() const { return size_; }
  // Exactly n bytes at pos, or false.
  bool read(std::uint64_t pos, std::uint8_t* out, std::uint32_t n) {
    if (pos > size_ || n > size_ - pos) return false;
    const platform::ReadResult r =
        file_.read_at(pos, std::span(reinterpret_cast<std::byte*>(out), n));
    return r.ok() && r.bytes == n;
  }

 private:
  platform::File file_;
  std::uint64_t size_ = 0;
};

Reason system_reason(const char* name) {
  std::error_code ec;
  const auto st = std::filesystem::status(name, ec);
  if (st.type() == std::filesystem::file_type::not_found) {
    return {AviOpenError::kNotFound, "No such file"};
  }
  if (st.type() == std::filesystem::file_type::directory) {
    return {AviOpenError::kIsDirectory, "Is a directory"};
  }
  errno = 0;
  std::FILE* f = std::fopen(name, "rb");
  const int err = errno;
  if (f != nullptr) {
    std::fclose(f);
    return {AviOpenError::kUnreadable, "cannot be read"};
  }
  if (err == EACCES || err == EPERM) return {AviOpenError::kPermission, "Permission denied"};
  return {AviOpenError::kUnreadable, err != 0 ? std::strerror(err) : "cannot be opened"};
}

std::string ends_at(const char* where, std::uint64_t size) {
  return std::string("the file ends inside ") + where + " at byte " + std::to_string(size);
}

// A WAVE file needs "fmt " and then "data" among its top-level chunks.
Reason wave_structure(Probe& f) {
  bool fmt = false;
  std::uint64_t pos = 12;
  for (int guard = 0; guard < 4096; ++guard) {
    std::uint8_t h[8];
    if (!f.read(pos, h, 8)) {
      if (pos >= f.size()) break;
      return {AviOpenError::kTruncated, ends_at("a chunk header", f.size())};
    }
    const std::uint32_t id = le32(h);
    const std::uint64_t len = le32(h + 4);
    if (id == le32(reinterpret_cast<const std::uint8_t*>("data"))) {
      if (!fmt) return {AviOpenError::kBadHeader, "the WAVE 'data' chunk comes before 'fmt '"};
      return {AviOpenError::kNone, "", true};
    }
    if (id == le32(reinterpret_cast<const std::uint8_t*>("fmt "))) {
      if (len > f.size() - pos - 8)
        return {AviOpenError::kTruncated, ends_at("the 'fmt ' chunk", f.size())};
      fmt = true;
    }
    pos += 8 + len + (len & 1);
  }
  return {AviOpenError::kBadHeader,
          fmt ? "the WAVE file has no 'data' chunk" : "the WAVE file has no 'fmt ' chunk"};
}

// An AVI file starts "RIFF" size "AVI " "LIST" size "hdrl" "avih".
Reason avi_structure(Probe& f) {
  std::uint8_t h[20];
  if (!f.read(12, h, 12)) return {AviOpenError::kTruncated, ends_at("the RIFF header", f.size())};
  if (std::memcmp(h, "LIST", 4) != 0 || std::memcmp(h + 8, "hdrl", 4) != 0) {
    return {AviOpenError::kBadHeader, "no header list ('LIST' 'hdrl') after the RIFF header"};
  }
  const std::uint64_t list = le32(h + 4);
  if (list > f.size() - 20) return {AviOpenError::kTruncated, ends_at("the header list", f.size())};
  if (!f.read(24, h, 8) || std::memcmp(h, "avih", 4) != 0) {
    return {AviOpenError::kBadHeader, "the header list does not start with 'avih'"};
  }
  // The top-level chunks after the headers must hold the frames ("LIST" "movi").
  std::uint64_t pos = 20 + list + (list & 1);
  for (int guard = 0; guard < 4096 && f.read(pos, h, 12); ++guard) {
    if (std::memcmp(h, "LIST", 4) == 0 && std::memcmp(h + 8, "movi", 4) == 0) return {};
    const std::uint64_t len = le32(h + 4);
    pos += 8 + len + (len & 1);
  }
  return {AviOpenError::kNoIndex, "no 'movi' list after the header list"};
}

Reason file_structure(const platform::FileSource& source) {
  Probe f(source);
  if (!f.ok()) return system_reason(source.name.c_str());
  if (f.size() == 0) return {AviOpenError::kEmpty, "the file is empty"};
  std::uint8_t h[12];
  if (!f.read(0, h, 12) || std::memcmp(h, "RIFF", 4) != 0 ||
      (std::memcmp(h + 8, "AVI ", 4) != 0 && std::memcmp(h + 8, "WAVE", 4) != 0)) {
    return {AviOpenError::kNotRiff, "not a RIFF AVI or WAVE file"};
  }
  return std::memcmp(h + 8, "WAVE", 4) == 0 ? wave_structure(f) : avi_structure(f);
}

bool is_kind(AviContainer& c, int stream, std::uint32_t kind) {
  return (c.stream_kind(stream) & 0xFF0000u) == kind;
}

// The file is sound as far as the headers go: the streams decide.
Reason stream_reason(const platform::FileSource& source, container::OpenKind kind, int stream,
                     bool wave) {
  AviContainer c(false);
  if (c.open(source) == 0) {
    if (wave) return {AviOpenError::kBadHeader, "the WAVE 'fmt ' and 'data' chunks cannot be read"};
    return {AviOpenError::kNoIndex, "the streams cannot be indexed"};
  }
  if (kind == container::OpenKind::kVideo) {
    if (c.video_stream_count() == 0)
      return {AviOpenError::kNoVideo, "the file has no video stream"};
    if (stream >= 0 && !is_kind(c, stream, 0x760000u)) {
      return {AviOpenError::kNoVideo,
              "stream " + std::to_string(stream) + " is not a video stream"};
    }
    if (stream >= 0) c.select_video_stream(stream);
    if (c.video_type_name() == nullptr) {
      return {
          AviOpenError::kUndecodable,
          "no decoder for the video ('" + container::fourcc_text(c.video_handler_fourcc()) + "')"};
    }
    return {AviOpenError::kUndecodable, "the video stream cannot be decoded"};
  }
  if (kind == container::OpenKind::kAudio) {
    if (c.audio_stream_count() == 0)
      return {AviOpenError::kNoAudio, "the file has no audio stream"};
    const platform::WAVEFORMATEX* w = c.audio_format();
    char tag[16];
    std::snprintf(tag, sizeof tag, "0x%X", w != nullptr ? unsigned{w->wFormatTag} : 0u);
    return {AviOpenError::kUndecodable,
            std::string("the audio format ") + tag + " cannot be decoded"};
  }
  return {AviOpenError::kUndecodable, "no video or audio stream can be decoded"};
}

void store(Reason r) {
  t_code = r.code;
  t_text = std::move(r.text);
}

}  // namespace

AviOpenError avi_last_open_error() { return t_code; }
const char* avi_last_open_error_message() {
  return t_code == AviOpenError::kOutOfMemory && t_text.empty() ? "out of memory" : t_text.c_str();
}

namespace container {

void note_open_result(const platform::FileSource& source, int result, OpenKind kind,
                      int stream) noexcept {
  try {
    if (result == 0) {
      store({});
    } else if (source.empty()) {
      store({AviOpenError::kNoName, "no file name"});
    } else {
      Reason r = file_structure(source);
      store(r.code != AviOpenError::kNone ? std::move(r)
                                          : stream_reason(source, kind, stream, r.wave));
    }
  } catch (const std::bad_alloc&) {
    t_code = AviOpenError::kOutOfMemory;
    t_text.clear();
  } catch (...) {
    t_code = AviOpenError::kUnreadable;
    t_text.clear();
  }
}
}  // namespace container

}  // namespace avikit
