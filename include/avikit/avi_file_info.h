#pragma once
// AviFileInfo: the exported one-shot probe. Opens a file, says what it is (type name, size,
// length, bit rate) and describes each video and audio stream the module can decode (up to 32
// of each) in the host library's VideoInfo / AudioInfo records.
//
//   AviFileInfo info;
//   std::uint32_t status[2] = {0, 0};
//   if (info.open("clip.avi", status) == 0) { int n = 0; info.get_video_info(n); ... }
//
// open() returns 0 on success. On failure it returns 1 (not an AVI/WAVE file, or not indexable)
// or, when every stream is undecodable and a status array was given, the status code:
//   11 video streams but none decodable   status[1] = first video handler ("iavs" for DV-1)
//   12 audio streams but none decodable   status[1] = first audio wFormatTag
//   13 as 12, first audio is MPEG layer-3 with chunks shorter than nBlockAlign
// A successful open may still carry 11 or 12: the other kind of stream was decodable. Status
// values are written only while the first one is 0, so set it to 0 before the call.
//
// Getters answer null / 0 / 0.0 while no probe result is held. No exception leaves any member.
// Copies share one result; it is freed when the last copy holding it lets go.

#include <avikit/in_memory_file.h>
#include <avikit/media_info.h>

#include <cstdint>

namespace avikit {

class AviFileInfoImpl;

class AviFileInfo {
 public:
  AviFileInfo();
  AviFileInfo(const AviFileInfo& other);
  AviFileInfo& operator=(const AviFileInfo& other);
  virtual ~AviFileInfo();

  int open(const char* name, std::uint32_t* status);
  // The same for a file held in memory (<avikit/in_memory_file.h>); the result keeps the bytes.
  int open(const InMemoryFile& file, std::uint32_t* status);

  const char* get_type_name() const;
  const char* get_file_name() const;
  double get_file_size() const;
  double get_length() const;  // seconds
  int get_bit_rate() const;   // kbit/s of the selected video stream
  const VideoInfo* get_video_info(int& count) const;
  const AudioInfo* get_audio_info(int& count) const;
  char** get_video_type_name() const;  // one per VideoInfo, same order
  // 1 when the file had no usable index and its chunks were found by walking its "movi" lists.
  int index_rebuilt() const;

 private:
  void release() noexcept;

  std::int32_t state_ = 0;           // kHoldsResult while a result is held, else 0
  AviFileInfoImpl* impl_ = nullptr;  // the result, shared by copies (container/shell.h); or null
};

}  // namespace avikit
