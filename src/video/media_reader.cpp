#include "video/media_reader.h"

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

bool MediaReader::open(const platform::FileSource& source, int mode) {
  if (source.empty()) return false;
  if (file_ != nullptr) {
    if (platform::same_file(file_->container().file_source(), source)) {
      if ((mode & USE_VIDEO) != 0) file_->container().index_video();
      mode_ = mode;
      return true;
    }
    release_shared_file(file_, mode_);
    file_ = nullptr;
  }
  file_ = acquire_shared_file(source, mode);
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
