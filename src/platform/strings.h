#pragma once
// The few Win32 string routines the module uses. The "ANSI code page" here is Latin-1: code
// points above 0xFF become the default character '?'.

#include <avikit/platform/win_types.h>

namespace avikit::platform {

inline constexpr UINT CP_ACP = 0;

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;

// The calling thread's error from the last routine here that failed.
DWORD GetLastError();
void SetLastError(DWORD error);

// As on Windows: src_len -1 converts through the terminating NUL (counted in the result);
// dst_len 0 asks for the size needed; a buffer too small gives 0 and ERROR_INSUFFICIENT_BUFFER.
int WideCharToMultiByte(UINT code_page, DWORD flags, const WCHAR* src, int src_len, char* dst,
                        int dst_len, const char* default_char, BOOL* used_default);
char* lstrcpyA(char* dst, const char* src);
int lstrlenA(const char* s);

}  // namespace avikit::platform
