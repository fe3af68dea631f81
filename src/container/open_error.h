#pragma once
// The hook behind avi_last_open_error (<avikit/open_error.h>): the exported open() calls report
// their result here.

#include <avikit/open_error.h>

#include "platform/files.h"

namespace avikit::container {

// Which exported class opened: the reason after structurally sound files depends on it.
enum class OpenKind { kProbe, kVideo, kAudio };

// The hook the exported open() calls end with: clears the reason on success (result 0) and
// works out the reason otherwise. `stream` is the stream the caller asked for (-1: any).
void note_open_result(const platform::FileSource& source, int result, OpenKind kind,
                      int stream = -1) noexcept;

}  // namespace avikit::container
