#include <gtest/gtest.h>

#include <thread>

#include "platform/strings.h"
#include "platform/sync.h"

using namespace avikit;

namespace {

using namespace platform;

TEST(SyncTest, CriticalSectionIsRecursiveAndExcludesOtherThreads) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);  // the owner may enter again, as on Windows
  bool other_got_it = true;
  std::thread([&] { other_got_it = TryEnterCriticalSection(&cs) != 0; }).join();
  EXPECT_FALSE(other_got_it);
  LeaveCriticalSection(&cs);
  LeaveCriticalSection(&cs);
  std::thread([&] {
    other_got_it = TryEnterCriticalSection(&cs) != 0;
    if (other_got_it) LeaveCriticalSection(&cs);
  }).join();
  EXPECT_TRUE(other_got_it);
  DeleteCriticalSection(&cs);
}

TEST(StringsTest, WideToAnsiFollowsWindowsBufferRules) {
  const char16_t text[] = u"Codec \u00e9\u4e2d";
  char out[16] = {}, copy[8];
  BOOL used_default = FALSE;
  EXPECT_EQ((std::tuple{WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr),
                        WideCharToMultiByte(CP_ACP, 0, text, -1, out, 16, nullptr, &used_default),
                        std::string(out), used_default,
                        WideCharToMultiByte(CP_ACP, 0, text, -1, out, 4, nullptr, nullptr),
                        lstrlenA(nullptr), lstrlenA(lstrcpyA(copy, "abc"))}),
            std::tuple(9, 9, "Codec \xe9?", TRUE, 0, 0, 3));  // braces: in order
}

}  // namespace
