#pragma once
// The codec walk of the video pipeline as hostlib/avcodec_driver.h tells it to drive the
// libavcodec driver: frame f = the f-th picture in display order, from the right key frame,
// with the driver's run state deciding how many chunks to feed and when to drain.

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "hostlib/avcodec_driver.h"
#include "hostlib/media_fixtures.h"
#include "platform/vfw.h"

namespace hostlib_test {

class CodecWalk {
 public:
  CodecWalk(platform::HIC ic, const AviVideo& video, platform::BITMAPINFOHEADER* out, void* dst)
      : ic_(ic), video_(video), out_(out), dst_(dst) {
    format_.assign(video.format.begin(), video.format.end());
    format_.resize(std::max<std::size_t>(format_.size(), 44), 0);
  }

  // Decodes frame f into the destination; false when the stream has no picture f.
  bool decode(int f) {
    int k = key_at_or_before(f);
    for (int attempt = 0; attempt < 64 && k >= 0; ++attempt) {
      hostlib::AvkRunState st = state();
      // A drained run can still go on: it has no chunks left to take, only pictures to drain.
      const bool go_on = run_key_ >= 0 && st.picture <= f - run_key_ &&
                         (run_key_ == k || (run_key_ < k && next_ > k));
      if (go_on) {
        k = run_key_;
      } else {
        run_key_ = k;
        next_ = k;
        if (!feed(false)) return false;
      }
      bool leading = false;
      for (int i = 0; i < (f - k) + hostlib::kAvkMaxLookahead; ++i) {
        st = state();
        if (st.picture == f - k) return true;
        if (st.first_picture > f - k) {
          leading = true;
          break;
        }
        if (next_ < static_cast<int>(video_.chunks.size())) {
          if (!feed(true)) return false;
        } else {
          ++calls_;
          if (platform::ICSendMessage(ic_, hostlib::ICM_AVK_DRAIN,
                                      reinterpret_cast<platform::DWORD_PTR>(dst_), 0) != 0) {
            return false;
          }
        }
      }
      if (!leading) return false;
      k = key_before(k);
      run_key_ = -1;
    }
    return false;
  }

  int calls() const { return calls_; }

 private:
  bool feed(bool not_key) {
    const std::string& chunk = video_.chunks[static_cast<std::size_t>(next_++)];
    auto* in = reinterpret_cast<platform::BITMAPINFOHEADER*>(format_.data());
    in->biSizeImage = static_cast<platform::DWORD>(chunk.size());
    ++calls_;
    return platform::ICDecompress(ic_, not_key ? platform::ICDECOMPRESS_NOTKEYFRAME : 0, in,
                                  const_cast<char*>(chunk.data()), out_, dst_) == 0;
  }

  hostlib::AvkRunState state() const {
    hostlib::AvkRunState st;
    platform::ICSendMessage(ic_, hostlib::ICM_AVK_GET_RUN_STATE,
                            reinterpret_cast<platform::DWORD_PTR>(&st), sizeof st);
    return st;
  }

  int key_at_or_before(int f) const {
    const int last = std::min(f, static_cast<int>(video_.keys.size()) - 1);
    for (int i = last; i >= 0; --i) {
      if (video_.keys[static_cast<std::size_t>(i)]) return i;
    }
    return 0;
  }

  int key_before(int k) const { return k > 0 ? key_at_or_before(k - 1) : -1; }

  platform::HIC ic_;
  const AviVideo& video_;
  platform::BITMAPINFOHEADER* out_;
  void* dst_;
  std::vector<char> format_;  // the input format block, at least 44 bytes as the module makes it
  int run_key_ = -1;
  int next_ = 0;
  int calls_ = 0;
};

}  // namespace hostlib_test
