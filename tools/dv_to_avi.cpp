// dv_to_avi IN.dv OUT.avi
//
// Wraps raw DV frames with their sound (what `ffmpeg -f dv` writes) into a DV type-1 AVI file:
// one interleaved "iavs" stream whose chunks ("00__") are the frames as they stand, the DVINFO
// format block taken from the first frame's AAUX and VAUX packs, and an "idx1" index with every
// frame a key frame. The project's bundled sample is made this way (scripts/make-sample.sh);
// ffmpeg itself writes only DV type-2 AVI files.
//
// AVI 1.0 only: the whole file must stay below 1 GiB, which is plenty for a sample.

#include <avikit/platform/win_types.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <system_error>
#include <vector>

#include "dv/frame_decoder.h"

using namespace avikit;

namespace {

using platform::fourcc;

constexpr std::size_t kDifBlockBytes = 80;
constexpr std::size_t kDifSequenceBytes = 150 * kDifBlockBytes;
constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 30;

// IEC 61834 pack headers of the packs a DVINFO block repeats.
constexpr std::uint8_t kAauxSource = 0x50;
constexpr std::uint8_t kAauxControl = 0x51;
constexpr std::uint8_t kVauxSource = 0x60;
constexpr std::uint8_t kVauxControl = 0x61;

// Section types (top three bits of a DIF block's first ID byte).
constexpr std::uint8_t kSectionVaux = 2;
constexpr std::uint8_t kSectionAudio = 3;

constexpr std::uint32_t kAvihHasIndex = 0x10;
constexpr std::uint32_t kAvihIsInterleaved = 0x100;
constexpr std::uint32_t kIdx1KeyFrame = 0x10;

void put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  put16(out, v & 0xFFFF);
  put16(out, v >> 16);
}
void patch32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) out[at + static_cast<std::size_t>(k)] = std::uint8_t(v >> (8 * k));
}

// The four payload bytes of the first pack with header `id` in the DIF sequences [first, last)
// of a frame, as the little-endian word DVINFO stores; 0 when no such pack is there. Audio DIF
// blocks carry one AAUX pack after their 3-byte ID, VAUX blocks fifteen VAUX packs.
std::uint32_t find_pack(std::span<const std::uint8_t> frame, std::size_t first, std::size_t last,
                        std::uint8_t id) {
  const std::size_t end = std::min(last * kDifSequenceBytes, frame.size());
  for (std::size_t block = std::min(first * kDifSequenceBytes, end); end - block >= kDifBlockBytes;
       block += kDifBlockBytes) {
    const std::uint8_t section = frame[block] >> 5;
    if (section != kSectionAudio && section != kSectionVaux) continue;
    const std::size_t packs = section == kSectionAudio ? 1 : 15;
    for (std::size_t p = 0; p < packs; ++p) {
      const std::uint8_t* pack = frame.data() + block + 3 + 5 * p;
      if (pack[0] != id) continue;
      return std::uint32_t{pack[1]} | std::uint32_t{pack[2]} << 8 | std::uint32_t{pack[3]} << 16 |
             std::uint32_t{pack[4]} << 24;
    }
  }
  return 0;
}

// DVINFO: dwDVAAuxSrc, dwDVAAuxCtl (first half of the DIF sequences: the first audio channel
// block), dwDVAAuxSrc1, dwDVAAuxCtl1 (second half), dwDVVAuxSrc, dwDVVAuxCtl, two reserved words.
std::vector<std::uint8_t> dv_info(std::span<const std::uint8_t> frame, bool is625) {
  const std::size_t sequences = is625 ? 12 : 10;
  const std::size_t half = sequences / 2;
  std::uint32_t vaux_source = find_pack(frame, 0, sequences, kVauxSource);
  if (vaux_source == 0) {
    // Without a VAUX source pack, still say which system this is: bit 5 of PC3 is 50/60.
    vaux_source = is625 ? std::uint32_t{0x20} << 16 : 0;
  }
  std::vector<std::uint8_t> info;
  put32(info, find_pack(frame, 0, half, kAauxSource));
  put32(info, find_pack(frame, 0, half, kAauxControl));
  put32(info, find_pack(frame, half, sequences, kAauxSource));
  put32(info, find_pack(frame, half, sequences, kAauxControl));
  put32(info, vaux_source);
  put32(info, find_pack(frame, 0, sequences, kVauxControl));
  put32(info, 0);
  put32(info, 0);
  return info;
}

struct Layout {
  bool is625 = true;
  std::uint32_t frames = 0;
  std::uint32_t frame_bytes = 0;
};

void put_chunk_header(std::vector<std::uint8_t>& out, std::uint32_t id, std::uint32_t size) {
  put32(out, id);
  put32(out, size);
}

void put_avih(std::vector<std::uint8_t>& out, const Layout& l) {
  put_chunk_header(out, fourcc("avih"), 56);
  const std::uint32_t rate_num = l.is625 ? 25 : 30000;
  const std::uint32_t rate_den = l.is625 ? 1 : 1001;
  put32(out, static_cast<std::uint32_t>(std::uint64_t{1000000} * rate_den / rate_num));
  put32(out, static_cast<std::uint32_t>(std::uint64_t{l.frame_bytes} * rate_num / rate_den));
  put32(out, 0);  // dwPaddingGranularity
  put32(out, kAvihHasIndex | kAvihIsInterleaved);
  put32(out, l.frames);
  put32(out, 0);  // dwInitialFrames
  put32(out, 1);  // dwStreams
  put32(out, l.frame_bytes);
  put32(out, 720);
  put32(out, l.is625 ? 576 : 480);
  for (int k = 0; k < 4; ++k) put32(out, 0);
}

void put_strh(std::vector<std::uint8_t>& out, const Layout& l) {
  put_chunk_header(out, fourcc("strh"), 56);
  put32(out, fourcc("iavs"));
  put32(out, fourcc("dvsd"));
  put32(out, 0);  // dwFlags
  put32(out, 0);  // wPriority, wLanguage
  put32(out, 0);  // dwInitialFrames
  put32(out, l.is625 ? 1 : 1001);
  put32(out, l.is625 ? 25 : 30000);
  put32(out, 0);  // dwStart
  put32(out, l.frames);
  put32(out, l.frame_bytes);
  put32(out, 0xFFFFFFFF);  // dwQuality: default
  put32(out, 0);           // dwSampleSize
  put16(out, 0);           // rcFrame
  put16(out, 0);
  put16(out, 720);
  put16(out, l.is625 ? 576 : 480);
}

// Everything before the first frame's chunk header: RIFF, hdrl, and the movi list header. The
// sizes of RIFF and movi are known in advance because every chunk has the same size.
std::vector<std::uint8_t> file_head(const Layout& l, const std::vector<std::uint8_t>& info) {
  std::vector<std::uint8_t> out;
  put_chunk_header(out, fourcc("RIFF"), 0);
  put32(out, fourcc("AVI "));
  put_chunk_header(out, fourcc("LIST"), 0);
  const std::size_t hdrl = out.size();
  put32(out, fourcc("hdrl"));
  put_avih(out, l);
  put_chunk_header(out, fourcc("LIST"), 0);
  const std::size_t strl = out.size();
  put32(out, fourcc("strl"));
  put_strh(out, l);
  put_chunk_header(out, fourcc("strf"), static_cast<std::uint32_t>(info.size()));
  out.insert(out.end(), info.begin(), info.end());
  patch32(out, strl - 4, static_cast<std::uint32_t>(out.size() - strl));
  patch32(out, hdrl - 4, static_cast<std::uint32_t>(out.size() - hdrl));
  const std::uint32_t movi = 4 + l.frames * (8 + l.frame_bytes);
  put_chunk_header(out, fourcc("LIST"), movi);
  put32(out, fourcc("movi"));
  const std::uint32_t idx1 = 8 + 16 * l.frames;
  patch32(out, 4, static_cast<std::uint32_t>(out.size() - 8) + (movi - 4) + idx1);
  return out;
}

// idx1 offsets count from the "movi" FOURCC to each chunk's header.
std::vector<std::uint8_t> idx1(const Layout& l) {
  std::vector<std::uint8_t> out;
  put_chunk_header(out, fourcc("idx1"), 16 * l.frames);
  for (std::uint32_t n = 0; n < l.frames; ++n) {
    put32(out, fourcc("00__"));
    put32(out, kIdx1KeyFrame);
    put32(out, 4 + n * (8 + l.frame_bytes));
    put32(out, l.frame_bytes);
  }
  return out;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

bool write_all(std::FILE* f, const std::vector<std::uint8_t>& bytes) {
  return std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
}

int fail(const std::string& message) {
  std::fprintf(stderr, "dv_to_avi: %s\n", message.c_str());
  return 1;
}

// Reads the frames one at a time and writes each as a chunk; every frame must carry a header
// block of the same system as the first, so a stray file is refused rather than wrapped.
int copy_frames(std::FILE* in, std::FILE* out, const Layout& l, std::vector<std::uint8_t>& frame) {
  for (std::uint32_t n = 0; n < l.frames; ++n) {
    if (n > 0 && std::fread(frame.data(), 1, frame.size(), in) != frame.size()) {
      return fail("cannot read frame " + std::to_string(n));
    }
    bool is625 = false;
    if (!dv::read_system_from_header(frame, &is625) || is625 != l.is625) {
      return fail("frame " + std::to_string(n) + " is not a DV frame of the first one's system");
    }
    std::vector<std::uint8_t> header;
    put_chunk_header(header, fourcc("00__"), l.frame_bytes);
    if (!write_all(out, header) || !write_all(out, frame)) return fail("cannot write");
  }
  return 0;
}

int run(const std::string& in_path, const std::string& out_path) {
  std::error_code ec;
  const std::uintmax_t in_bytes = std::filesystem::file_size(in_path, ec);
  File in(std::fopen(in_path.c_str(), "rb"));
  if (ec || !in) return fail("cannot open " + in_path);
  std::vector<std::uint8_t> frame(dv::kFrameBytes525);
  Layout l;
  if (std::fread(frame.data(), 1, frame.size(), in.get()) != frame.size() ||
      !dv::read_system_from_header(frame, &l.is625)) {
    return fail(in_path + " does not start with a whole DV frame");
  }
  const std::size_t frame_bytes = dv::picture_format(l.is625).frame_bytes;
  if (frame_bytes > frame.size()) {
    frame.resize(frame_bytes);
    const std::size_t rest = frame_bytes - dv::kFrameBytes525;
    if (std::fread(frame.data() + dv::kFrameBytes525, 1, rest, in.get()) != rest) {
      return fail(in_path + " does not start with a whole DV frame");
    }
  }
  if (in_bytes / frame_bytes > kMaxFileBytes / (frame_bytes + 24)) {
    return fail(in_path + " is too long for an AVI 1.0 file");
  }
  l.frame_bytes = static_cast<std::uint32_t>(frame_bytes);
  l.frames = static_cast<std::uint32_t>(in_bytes / frame_bytes);
  const std::vector<std::uint8_t> info = dv_info(frame, l.is625);
  if (info[0] == 0 && info[3] == 0) {
    std::fprintf(stderr,
                 "dv_to_avi: the frames carry no AAUX source pack; the file will "
                 "claim 48 kHz sound\n");
  }
  File out(std::fopen(out_path.c_str(), "wb"));
  if (!out) return fail("cannot create " + out_path);
  // A half-written file would look like a short sample: none is left behind.
  const bool ok = write_all(out.get(), file_head(l, info)) &&
                  copy_frames(in.get(), out.get(), l, frame) == 0 &&
                  write_all(out.get(), idx1(l)) && std::fclose(out.release()) == 0;
  if (!ok) {
    out.reset();
    std::remove(out_path.c_str());
    return fail("no file written to " + out_path);
  }
  if (in_bytes % frame_bytes != 0) {
    std::fprintf(stderr, "dv_to_avi: ignored %ju trailing bytes (not a whole frame)\n",
                 static_cast<std::uintmax_t>(in_bytes % frame_bytes));
  }
  std::fprintf(stderr, "dv_to_avi: %u %s frames\n", l.frames, l.is625 ? "625/50" : "525/60");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr,
                 "usage: dv_to_avi IN.dv OUT.avi\n"
                 "Wraps raw DV frames with sound into a DV type-1 AVI file.\n");
    return 2;
  }
  try {
    return run(argv[1], argv[2]);
  } catch (const std::exception& e) {
    return fail(e.what());
  }
}
