#pragma once
// Win32 file access over POSIX, with 64-bit positions, plus in-memory files: a name registered
// with register_memory_file opens its bytes instead of the file system, so tests and fuzz targets
// drive the real readers without touching the disk.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/win_types.h"

namespace platform {

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

inline constexpr DWORD GENERIC_READ = 0x80000000u;
inline constexpr DWORD FILE_SHARE_READ = 0x1;
inline constexpr DWORD OPEN_EXISTING = 3;
inline constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
inline constexpr DWORD FILE_BEGIN = 0;
inline constexpr DWORD FILE_CURRENT = 1;
inline constexpr DWORD FILE_END = 2;
inline constexpr DWORD INVALID_SET_FILE_POINTER = 0xFFFFFFFFu;
inline constexpr DWORD INVALID_FILE_SIZE = 0xFFFFFFFFu;

inline constexpr DWORD ERROR_SUCCESS = 0;
inline constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
inline constexpr DWORD ERROR_INVALID_HANDLE = 6;
inline constexpr DWORD ERROR_NEGATIVE_SEEK = 131;
inline constexpr DWORD ERROR_INVALID_PARAMETER = 87;
inline constexpr DWORD ERROR_READ_FAULT = 30;
inline constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;

// Only reading is supported: any other access or disposition fails with INVALID_HANDLE_VALUE.
HANDLE CreateFileA(const char* name, DWORD access, DWORD share, void* security, DWORD disposition,
                   DWORD flags, HANDLE template_file);
BOOL ReadFile(HANDLE file, void* buffer, DWORD to_read, DWORD* read, void* overlapped);
// The distance is the signed 64-bit value high:low (low alone, sign-extended, when high is null).
DWORD SetFilePointer(HANDLE file, LONG distance_low, LONG* distance_high, DWORD method);
DWORD GetFileSize(HANDLE file, DWORD* size_high);
BOOL CloseHandle(HANDLE handle);
DWORD GetLastError();
void SetLastError(DWORD error);

// Our own extensions, never used by the module's code.
void register_memory_file(const std::string& name, std::shared_ptr<const std::string> bytes);
void unregister_memory_file(const std::string& name);
// Handles currently open through CreateFileA, for leak checks in tests.
int open_file_handles();

}  // namespace platform
