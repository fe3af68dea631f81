// The colour tags of decoded pictures, in the codec module (codec_module.h).
#include <algorithm>

#include "hostlib/stream_colour.h"

extern "C" {
#include <libavutil/frame.h>
#include <libswscale/swscale.h>
}

namespace avikit::hostlib {

void follow_colour_details(SwsContext* sws, const AVFrame& frame) {
  int* table = nullptr;
  int* dst_table = nullptr;
  int range = 0;
  int dst_range = 0;
  int brightness = 0;
  int contrast = 0;
  int saturation = 0;
  if (sws == nullptr || sws_getColorspaceDetails(sws, &table, &range, &dst_table, &dst_range,
                                                 &brightness, &contrast, &saturation) < 0) {
    return;
  }
  const int* want =
      frame.colorspace == AVCOL_SPC_BT709 ? sws_getCoefficients(SWS_CS_ITU709) : table;
  const int want_range = frame.color_range == AVCOL_RANGE_JPEG ? 1 : range;
  if (std::equal(want, want + 4, table) && want_range == range) return;
  sws_setColorspaceDetails(sws, want, want_range, dst_table, dst_range, brightness, contrast,
                           saturation);
}

bool needs_bt601_yuv(const AVFrame& frame) { return frame.colorspace == AVCOL_SPC_BT709; }

}  // namespace avikit::hostlib
