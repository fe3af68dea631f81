#include "platform/strings.h"

#include <cstring>

namespace avikit::platform {
namespace {

thread_local DWORD t_last_error = ERROR_SUCCESS;

}  // namespace

DWORD GetLastError() { return t_last_error; }
void SetLastError(DWORD error) { t_last_error = error; }

int WideCharToMultiByte(UINT /*code_page*/, DWORD /*flags*/, const WCHAR* src, int src_len,
                        char* dst, int dst_len, const char* default_char, BOOL* used_default) {
  if (used_default != nullptr) *used_default = FALSE;
  if (src == nullptr || src_len == 0 || src_len < -1 || dst_len < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int count = src_len;
  if (src_len == -1) {
    count = 0;
    while (src[count] != 0) ++count;
    ++count;  // the NUL
  }
  if (dst_len == 0) return count;
  if (dst == nullptr || count > dst_len) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const char fallback = default_char != nullptr ? *default_char : '?';
  for (int i = 0; i < count; ++i) {
    const char16_t c = src[i];
    if (c <= 0xFF) {
      dst[i] = static_cast<char>(c);
    } else {
      dst[i] = fallback;
      if (used_default != nullptr) *used_default = TRUE;
    }
  }
  return count;
}

char* lstrcpyA(char* dst, const char* src) {
  if (dst == nullptr) return nullptr;
  if (src == nullptr) {
    *dst = 0;
    return dst;
  }
  return std::strcpy(dst, src);
}

int lstrlenA(const char* s) { return s == nullptr ? 0 : static_cast<int>(std::strlen(s)); }

}  // namespace avikit::platform
