#pragma once
// MediaReader: one player's link to its shared file. A video player's reader holds the frame
// bitmap that frames are decoded into and the current frame; an audio player's reader
// (audio/audio_reader.h) holds the byte position in the audio stream. Readers move between shared
// files only through open, the stream selections and decoder preparation, each of which keeps the
// registry's counts balanced.

#include <avikit/platform/win_types.h>

#include <cstdint>

#include "hostlib/new_dib.h"
#include "video/shared_avi_file.h"
#include "video/shared_file_registry.h"

namespace avikit {

class MediaReader {
 public:
  MediaReader() = default;
  virtual ~MediaReader();
  MediaReader(const MediaReader&) = delete;
  MediaReader& operator=(const MediaReader&) = delete;

  // Joins or opens the shared file for `name` in `mode` (USE_VIDEO or USE_AUDIO). Re-opening the
  // name already held (any letter case) keeps the file and the counts. True when a file is held.
  bool open(const platform::FileSource& source, int mode);

  SharedAviFile* file() const { return file_; }
  int mode() const { return mode_; }
  CNewDib& frame() { return frame_; }
  const CNewDib& frame() const { return frame_; }
  std::uint32_t position() const { return position_; }
  void set_position(std::uint32_t p) { position_ = p; }
  const char* file_name() const;
  std::uint64_t file_size();

  // --- Video (video/decoder_setup.cpp, video/navigation.cpp) ----------------------------------
  // Chooses the frame bitmap's format and prepares the decoder; non-zero on success.
  int prepare_output(int stream, int decode_now);
  // Decodes the current position into the frame bitmap; 1 or 0, as decode_frame.
  int decode_position();
  // False while the frame bitmap of a compressed stream, too large to start black, has had no
  // picture written into it: there is nothing to show yet.
  bool holds_picture() const { return holds_picture_; }
  std::int32_t step_forward(std::int32_t n, int exact);
  std::int32_t step_backward(std::int32_t n, int exact);
  std::uint32_t seek_frame(std::uint32_t frame, int exact);

 protected:
  // Creates the frame bitmap at `bits` (12 YV12, 16 YUY2, 24 RGB) and prepares the file's decoder
  // for it; true on success.
  bool prepare_bitmap(int bits, bool prime);
  // Where a key-frame step aimed at `target` lands (see video/navigation.cpp).
  std::uint32_t key_step_target(std::int64_t target, bool forward);

  SharedAviFile* file_ = nullptr;  // counted in the registry, not owned
  int mode_ = 3;                   // neither USE_VIDEO nor USE_AUDIO before the first open
  CNewDib frame_;
  std::uint32_t position_ = 0;
  bool holds_picture_ = true;
};

// A video player's reader adds nothing; it only says whose reader it is.
class VideoMediaReader : public MediaReader {};

}  // namespace avikit
