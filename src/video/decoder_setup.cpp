// Decoder selection: the format of a reader's frame bitmap (YV12, YUY2 or 24-bit RGB, tried in
// that order) and a decoder prepared for exactly that format: a Video for Windows codec, the
// uncompressed path or the built-in DV decoder.
#include <avikit/options.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "container/byte_cursor.h"
#include "container/fourccs.h"
#include "dv/frame_decoder.h"
#include "hostlib/avcodec_driver.h"
#include "hostlib/dib_layout.h"
#include "video/media_reader.h"

namespace avikit {

namespace {

using platform::as_header;
using platform::BITMAPINFOHEADER;
using platform::fourcc;
using platform::upper_fourcc;

constexpr std::uint32_t kOptYuvOutput = 254;
constexpr std::uint32_t kOptYuvOutputYv12 = 2;

// Compressions whose codecs are asked for YUV output, compared upper-cased.
constexpr std::array<std::uint32_t, 11> kYuvOutputFourccs = {
    fourcc("DIV3"), fourcc("DIV4"), fourcc("DIVX"), fourcc("DX50"), fourcc("XVID"), fourcc("3IV2"),
    fourcc("3IVX"), fourcc("WMV3"), fourcc("VP31"), fourcc("VP60"), fourcc("BLZ0")};

constexpr std::size_t kHeaderBytes = sizeof(BITMAPINFOHEADER);
constexpr std::size_t kInputFormatBytes = 44;
constexpr std::size_t kOutputFormatBytes = 44;
// More than any codec's private data (the libavcodec driver takes up to 1 MB of it); a "strf"
// claiming more is damaged, and its size must not decide an allocation.
constexpr std::uint64_t kMaxInputFormatBytes = kHeaderBytes + (std::uint64_t{1} << 20);

// The fixed uncompressed and DV values are compared as they stand, not upper-cased.
bool is_raw_handler(std::uint32_t h) {
  return h == 0 || h == fourcc("    ") || h == fourcc("dib ") || h == fourcc("DIB ");
}

bool wants_yuv_output(std::uint32_t compression) {
  const std::uint32_t c = upper_fourcc(compression);
  return std::find(kYuvOutputFourccs.begin(), kYuvOutputFourccs.end(), c) !=
         kYuvOutputFourccs.end();
}

void put_le32(std::vector<std::uint8_t>& block, std::size_t at, std::uint32_t v) {
  for (std::size_t i = 0; i < 4; ++i) block[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint16_t bit_count(const std::vector<std::uint8_t>& block) {
  constexpr std::size_t at = offsetof(BITMAPINFOHEADER, biBitCount);
  return static_cast<std::uint16_t>(block[at] | block[at + 1] << 8);
}

// DV is tested first: a DV type-1 stream is DV whatever handler its header carries.
SharedAviFile::VideoPath classify(SharedAviFile& file) {
  const std::uint32_t handler = file.container().video_handler_fourcc();
  if ((file.container().flags() & AVC_DV_TYPE1) != 0 || handler == container::kDvsdLower ||
      handler == container::kDvsdUpper) {
    return SharedAviFile::VideoPath::kDv;
  }
  return is_raw_handler(handler) ? SharedAviFile::VideoPath::kRaw
                                 : SharedAviFile::VideoPath::kCodec;
}

// The picture size comes from the header alone, and a header can claim 16384 x 16384 in a file
// of a few hundred bytes. A stream none of whose chunks holds any byte gets no bitmap, nor does an
// uncompressed one whose chunks cannot hold one picture (width x height x depth): the memory
// follows what the file holds.
constexpr std::uint64_t round_up_256(std::uint64_t n) { return (n + 255) & ~std::uint64_t{255}; }

std::uint64_t raw_picture_bytes(SharedAviFile& file) {
  const platform::BITMAPINFOHEADER* format = file.container().video_format();
  if (format == nullptr || format->biWidth <= 0 || format->biHeight == INT32_MIN) return 0;
  const std::uint64_t height = static_cast<std::uint64_t>(std::abs(format->biHeight));
  return (static_cast<std::uint64_t>(format->biWidth) * height * format->biBitCount + 7) / 8;
}

bool bitmap_is_worth_it(SharedAviFile& file) {
  file.container().load_index();
  const std::uint64_t largest = file.container().largest_video_chunk();
  if (largest == 0) return false;
  return classify(file) != SharedAviFile::VideoPath::kRaw || largest >= raw_picture_bytes(file);
}

}  // namespace

bool SharedAviFile::build_input_format(VideoPath path) {
  const BITMAPINFOHEADER* stream = container_.video_format();
  const ChunkRecord* strf = container_.full_format_flag() != 0
                                ? container_.find_chunk_record(
                                      container::kStrf, container_.selected_video_stream_number())
                                : nullptr;
  std::uint64_t size = kInputFormatBytes;
  if (strf != nullptr && strf->size > kInputFormatBytes) {
    size = std::min<std::uint64_t>(
        {strf->size, kMaxInputFormatBytes,
         std::max<std::uint64_t>(container_.file_size(), kInputFormatBytes)});
  }
  const bool type1 = (container_.flags() & AVC_DV_TYPE1) != 0;
  if (type1) size *= 2;
  try {
    input_format_.assign(static_cast<std::size_t>(size), 0);
  } catch (const std::bad_alloc&) {
    return false;
  }
  if (strf != nullptr && type1) {
    std::memcpy(input_format_.data(), stream, kHeaderBytes);
    container_.read_at(
        strf->position, input_format_.data() + kHeaderBytes,
        static_cast<std::uint32_t>(std::min<std::uint64_t>(strf->size, size - kHeaderBytes)));
  } else if (strf != nullptr) {
    container_.read_at(strf->position, input_format_.data(),
                       static_cast<std::uint32_t>(std::min<std::uint64_t>(strf->size, size)));
  } else {
    std::memcpy(input_format_.data(), stream, kHeaderBytes);
  }
  if (path == VideoPath::kRaw) {
    // The bitmap was sized from the parsed header; the pixels must be read by the same one. The
    // colour table after it stays as the file has it.
    std::memcpy(input_format_.data(), stream, kHeaderBytes);
  }
  // Compat: a negative height on a compressed stream means nothing to its codec; the picture is
  // as high as the magnitude, as other players take it.
  constexpr std::size_t kHeightAt = offsetof(BITMAPINFOHEADER, biHeight);
  const auto height = static_cast<std::int32_t>(container::le32(input_format_.data() + kHeightAt));
  if (path == VideoPath::kCodec && height < 0 && height != INT32_MIN) {
    put_le32(input_format_, kHeightAt, static_cast<std::uint32_t>(-height));
  }
  // A codec reads biSize bytes of the block, as Windows codecs do: never more than it holds.
  const std::uint32_t declared = container::le32(input_format_.data());
  put_le32(input_format_, 0,
           static_cast<std::uint32_t>(std::clamp<std::uint64_t>(declared, kHeaderBytes, size)));
  return true;
}

// The frame buffer holds the largest chunk read so far, not the largest one an index claims: a
// damaged entry may claim gigabytes. Its storage is reserved once for the largest entry (cut at
// the end of the file), which costs address space only, so that growing never moves the bytes a
// codec may still hold; memory is touched only as far as chunks are really read.
bool SharedAviFile::size_frame_buffer(VideoPath path) {
  const std::uint64_t largest =
      std::min<std::uint64_t>(container_.largest_video_chunk(), container_.file_size());
  // The DV decoder reads a whole frame of the larger system, whatever the chunk held; an
  // uncompressed picture has the size its header gives (its chunks were found to hold it).
  std::uint64_t bytes = 0;
  if (path == VideoPath::kDv) bytes = dv::kFrameBytes625;
  if (path == VideoPath::kRaw) bytes = raw_picture_bytes(*this);
  try {
    frame_buffer_.reserve(static_cast<std::size_t>(round_up_256(std::max(largest, bytes))));
    frame_buffer_.resize(static_cast<std::size_t>(round_up_256(bytes)));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool SharedAviFile::grow_frame_buffer(std::uint32_t chunk_bytes) {
  const std::uint64_t bytes = round_up_256(chunk_bytes);
  if (bytes <= frame_buffer_.size()) return true;
  try {
    frame_buffer_.resize(static_cast<std::size_t>(bytes));
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool SharedAviFile::find_codec() {
  using namespace platform;
  const std::uint32_t handler = container_.video_handler_fourcc();
  const std::uint32_t compression = container_.video_format()->biCompression;
  decoder_ = ICOpen(ICTYPE_VIDEO, handler, ICMODE_DECOMPRESS);
  if (decoder_ == nullptr && handler != compression) {
    decoder_ = ICOpen(ICTYPE_VIDEO, compression, ICMODE_DECOMPRESS);
    if (decoder_ == nullptr) {
      decoder_ = ICLocate(ICTYPE_VIDEO, handler, as_header(input_format_), nullptr,
                          static_cast<WORD>(ICMODE_DECOMPRESS));
    }
    if (decoder_ == nullptr) {
      decoder_ = ICLocate(ICTYPE_VIDEO, compression, as_header(input_format_), nullptr,
                          static_cast<WORD>(ICMODE_DECOMPRESS));
    }
  }
  return decoder_ != nullptr;
}

bool SharedAviFile::begin_codec(VideoPath path, const BITMAPINFOHEADER* output) {
  // Without a codec only DV goes on: the built-in decoder stands in.
  if (!find_codec()) return path == VideoPath::kDv;
  BITMAPINFOHEADER out = *output;  // the codec manager takes a mutable header
  const bool begun =
      platform::ICDecompressBegin(decoder_, as_header(input_format_), &out) == platform::ICERR_OK;
  if (begun) {
    // A driver that numbers its pictures says so by answering for its run.
    hostlib::AvkRunState st;
    driver_numbers_pictures_ = platform::ICSendMessage(decoder_, hostlib::ICM_AVK_GET_RUN_STATE,
                                                       reinterpret_cast<platform::DWORD_PTR>(&st),
                                                       sizeof st) == platform::ICERR_OK;
    // A codec that codes every picture on its own never walks from an earlier key frame,
    // whatever the index flags: each frame is decoded alone.
    if (platform::ICSendMessage(decoder_, hostlib::ICM_AVK_IS_INTRA_ONLY,
                                reinterpret_cast<platform::DWORD_PTR>(input_format_.data()),
                                0) == platform::ICERR_OK) {
      intra_only_ = true;
    }
  }
  // Compat: a DV codec that refuses the output stays attached and is used all the same.
  return begun || path == VideoPath::kDv;
}

bool SharedAviFile::open_decoder(const BITMAPINFOHEADER* output, std::uint8_t* prime) {
  if (output != nullptr && output_format_.size() >= kHeaderBytes) {
    BITMAPINFOHEADER saved;
    std::memcpy(&saved, output_format_.data(), kHeaderBytes);
    if (saved.biBitCount != output->biBitCount || saved.biCompression != output->biCompression) {
      reset_decoder();
    }
  }
  if ((decoder_flags_ & AVC_DECODER_READY) != 0) return true;
  if (output == nullptr) return false;
  container_.load_index();
  const BITMAPINFOHEADER* stream = container_.video_format();
  if (stream == nullptr) return false;
  const bool named = container_.video_type_name() != nullptr;  // naming settles the handler
  const VideoPath path = classify(*this);
  if (path == VideoPath::kRaw && output->biCompression != platform::BI_RGB) return false;
  if (path != VideoPath::kRaw && !named) return false;
  bool ready = build_input_format(path);
  if (ready && path == VideoPath::kRaw) {
    if (bit_count(input_format_) != output->biBitCount || stream->biHeight < 0) {
      ready = size_frame_buffer(path);
    } else {
      put_le32(input_format_, offsetof(BITMAPINFOHEADER, biCompression), output->biCompression);
    }
  } else if (ready) {
    put_le32(input_format_, offsetof(BITMAPINFOHEADER, biCompression), stream->biCompression);
    ready = begin_codec(path, output) && size_frame_buffer(path);
    if (ready) decoder_flags_ |= AVC_DECOMPRESSING;
  }
  if (!ready) {
    reset_decoder();
    return false;
  }
  decoder_flags_ |= AVC_DECODER_READY;
  path_ = path;
  output_format_.assign(kOutputFormatBytes, 0);
  std::memcpy(output_format_.data(), output, kHeaderBytes);
  if (prime != nullptr) {
    if (container_.frame_count() != 0 && last_decoded_ != 0) decode_frame(0, prime);
    last_decoded_ = kNone;  // the next request decodes again
  }
  return true;
}

// --- The reader's side: choosing the bitmap format --------------------------------------------

// A codec writes every picture it gives whole, so a compressed stream's bitmap larger than
// this is left unwritten until the codec gives its first picture: a header claiming 16384 x
// 16384 then costs memory only once the file really holds a picture of that size. Smaller
// bitmaps start black, as frames before the first picture show.
constexpr std::uint64_t kBlackBitmapBytes = std::uint64_t{64} << 20;

bool MediaReader::prepare_bitmap(int bits, bool prime) {
  const platform::BITMAPINFOHEADER* format = file_->container().video_format();
  int height = format != nullptr ? format->biHeight : 0;
  const int width = format != nullptr ? format->biWidth : 0;
  // An uncompressed top-down stream (ffmpeg writes them) still fills a bottom-up bitmap, and a
  // compressed stream with a negative height is as high as its magnitude.
  if (height < 0 && height != INT32_MIN) height = -height;
  if (!bitmap_is_worth_it(*file_)) return false;
  // The old bitmap goes away; a new one may land at its address.
  file_->forget_destination(frame_.LockBits());
  holds_picture_ = classify(*file_) != SharedAviFile::VideoPath::kCodec ||
                   hostlib::dib_layout(width, height, bits).bytes <= kBlackBitmapBytes;
  if (holds_picture_) {
    frame_.Create(width, height, bits, false);
  } else {
    frame_.CreateUnwritten(width, height, bits);
  }
  if (frame_.header == nullptr) return false;
  std::uint8_t* pixels = frame_.LockBits();
  if (bits == 12) {
    frame_.header->biCompression = fourcc("YV12");
    // The plane after the luma starts neutral, as codecs that fill only the luma expect.
    const std::uint64_t luma = static_cast<std::uint64_t>(frame_.GetPitch()) *
                               static_cast<std::uint64_t>(frame_.header->biHeight);
    const std::uint64_t chroma = std::min<std::uint64_t>(luma / 4, frame_.image_bytes() - luma);
    if (holds_picture_) std::memset(pixels + luma, 128, static_cast<std::size_t>(chroma));
  } else {
    frame_.header->biCompression = bits == 16 ? fourcc("YUY2") : platform::BI_RGB;
  }
  bool ok = false;
  file_ = prepare_decoder(file_, mode_, frame_.header, prime ? pixels : nullptr, &ok);
  return ok;
}

int MediaReader::prepare_output(int stream, int decode_now) {
  if (file_ == nullptr) return 0;
  const int before = file_->container().selected_video_stream_number();
  file_ = select_video_on_shared(file_, stream, mode_);
  AviContainer& c = file_->container();
  if (c.selected_video_stream_number() == before && frame_.header != nullptr) return 1;
  c.video_type_name();  // naming settles the handler and compression compared below
  const bool prime = upper_fourcc(c.video_handler_fourcc()) == fourcc("XVID");
  const platform::BITMAPINFOHEADER* format = c.video_format();
  bool ok = false;
  if (format != nullptr && wants_yuv_output(format->biCompression)) {
    if (OptionsGet(kOptYuvOutput, 0, 0) == kOptYuvOutputYv12) {
      ok = prepare_bitmap(12, prime) || prepare_bitmap(16, prime);
    } else {
      ok = prepare_bitmap(16, prime);
    }
  }
  if (!ok) ok = prepare_bitmap(24, prime);
  if (ok && decode_now != 0) decode_position();
  return ok ? 1 : 0;
}

int MediaReader::decode_position() {
  std::uint8_t* pixels = frame_.LockBits();
  const int decoded = file_->decode_frame(position_, pixels);
  // A failed walk may still have left one of the run's pictures in the bitmap.
  if (decoded != 0 || file_->holds_run_picture(pixels)) holds_picture_ = true;
  return decoded;
}

}  // namespace avikit
