#include "video/media_reader.h"

#include <strings.h>

namespace avikit {

MediaReader::~MediaReader() {
  if (file_ != nullptr) {
    // The file may outlive this reader (others share it): its run must not take a later
    // bitmap at this address for this one.
    file_->forget_destination(frame_.LockBits());
    release_shared_file(file_, mode_);
  }
  file_ = nullptr;
  frame_.clear();
}

bool MediaReader::open(const char* name, int mode) {
  if (name == nullptr) return false;
  if (file_ != nullptr) {
    const char* held = file_->container().file_name();
    if (held != nullptr && ::strcasecmp(held, name) == 0) {
      if ((mode & USE_VIDEO) != 0) file_->container().index_video();
      mode_ = mode;
      return true;
    }
    release_shared_file(file_, mode_);
    file_ = nullptr;
  }
  file_ = acquire_shared_file(name, mode);
  mode_ = mode;
  return file_ != nullptr;
}

const char* MediaReader::file_name() const {
  return file_ != nullptr ? file_->container().file_name() : nullptr;
}

std::uint64_t MediaReader::file_size() {
  return file_ != nullptr ? file_->container().file_size() : 0;
}

}  // namespace avikit
