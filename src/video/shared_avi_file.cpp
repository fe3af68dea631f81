#include "video/shared_avi_file.h"

namespace avikit {

SharedAviFile::~SharedAviFile() { reset_decoder(); }

int SharedAviFile::open_shared(const platform::FileSource& source) {
  clear_dv_audio_cache();
  return container_.open(source);
}

bool SharedAviFile::has_playable_stream() {
  return container_.video_type_name() != nullptr || container_.audio_type_name() != nullptr;
}

void SharedAviFile::reset_decoder() {
  if (decoder_ != nullptr) {
    if ((decoder_flags_ & AVC_DECOMPRESSING) != 0) {
      platform::ICDecompressEnd(decoder_);
      decoder_flags_ &= ~AVC_DECOMPRESSING;
    }
    platform::ICClose(decoder_);
    decoder_ = nullptr;
  }
  decoder_flags_ &= ~(AVC_DECODER_READY | AVC_DECOMPRESSING);
  last_decoded_ = kNone;
  run_.key = kNone;
  driver_numbers_pictures_ = false;
  intra_only_ = false;
  path_ = VideoPath::kNone;
  run_destination_ = nullptr;
  run_.next_chunk = 0;
  run_.hurried = false;
  picture_cache_.clear();
  cached_shown_ = kNone;
  palette_track_.clear();
  frame_buffer_.clear();
  input_format_.clear();
  output_format_.clear();
  clear_dv_audio_cache();
}

}  // namespace avikit
