// Audio reading: not built yet.
#include "video/media_reader.h"

int MediaReader::select_audio(int) { return 1; }
const platform::WAVEFORMATEX* MediaReader::audio_format() { return nullptr; }
double MediaReader::audio_length() { return 0.0; }
int MediaReader::audio_stream_id() { return -1; }
const char* MediaReader::file_name() const {
  return file_ != nullptr ? file_->file_name() : nullptr;
}
std::uint64_t MediaReader::file_size() { return file_ != nullptr ? file_->file_size() : 0; }
std::uint32_t MediaReader::read_audio(std::uint8_t*, std::uint32_t) { return 0; }
double MediaReader::seek_audio(double) { return 0.0; }
int MediaReader::audio_at_end() { return 1; }
