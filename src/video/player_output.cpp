// Frame output: the current frame as an Image and as a bottom-up 24-bit bitmap, converted from
// the reader's frame bitmap once per position.
#include "hostlib/dib_convert.h"
#include "video/avi_video_player_impl.h"

namespace avikit {

// The outputs are as large as the stream's header says. Before a large compressed stream's first
// picture there is nothing to convert, and the header is all they hold: no memory is touched.
void AviVideoPlayerImpl::create_output_dib() {
  if (output_dib_.header != nullptr) return;
  if (reader_ && !reader_->holds_picture()) {
    output_dib_.CreateUnwritten(width_, height_, 24);
  } else {
    output_dib_.Create(width_, height_, 24, false);
  }
}

Image* AviVideoPlayerImpl::get_frame() {
  if (!reader_) return nullptr;
  if (image_current_ != 0 && image_) return image_.get();
  if (reader_->frame().header == nullptr) reader_->prepare_output(-1, 1);
  if (!reader_->holds_picture()) return nullptr;
  if (!image_) image_ = std::make_unique<Image>(width_, height_, kImageFormatBgr24, 0);
  DibToImage(*image_, reader_->frame());
  image_current_ = 1;
  return image_.get();
}

const BitmapInfoHeader* AviVideoPlayerImpl::get_frame_dib_header() {
  create_output_dib();
  return output_dib_.header;
}

char* AviVideoPlayerImpl::get_frame_dib_data() {
  if (!reader_) return nullptr;
  if (rgb_current_ != 0) return reinterpret_cast<char*>(output_dib_.LockBits());
  if (reader_->frame().header == nullptr) reader_->prepare_output(-1, 1);
  if (!reader_->holds_picture()) return nullptr;  // the next move tries again
  create_output_dib();
  const CNewDib& frame = reader_->frame();
  const std::uint32_t compression = frame.compression();
  if (compression == platform::BI_RGB) {
    output_dib_ = frame;  // a copy of the picture
  } else if (compression == platform::fourcc("YV12")) {
    YV12_2_RGB(output_dib_, frame);
  } else {
    std::uint8_t* dst = output_dib_.LockBits();
    const std::uint8_t* src = frame.LockBits();
    if (dst != nullptr && src != nullptr && output_dib_.width() == frame.width() &&
        output_dib_.height() == frame.height() && output_dib_.compression() == platform::BI_RGB) {
      YUY2_2_Rgb24(dst, output_dib_.height(), output_dib_.GetPitch(), 0, 0, output_dib_.width(),
                   output_dib_.height(), src, frame.GetPitch(),
                   compression == platform::fourcc("YUY2") ? 1 : 0, 0, 0);
    }
  }
  rgb_current_ = 1;  // also when nothing could be converted: the next move tries again
  return reinterpret_cast<char*>(output_dib_.LockBits());
}

}  // namespace avikit
