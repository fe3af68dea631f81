#pragma once
// What the exported classes (AviFileInfo, AviVideoPlayer, AviAudioPlayer) share: each is a thin
// shell whose fixed layout holds one raw pointer to its implementation. Copies of a shell share
// that object, so a copy is the same player; the count lives beside the object, and the last
// handle to let go deletes it. Every operation goes through call(), which answers the
// operation's fixed value when there is no object (it could not be made, or nothing is held)
// and when anything is thrown below (an allocation failure above all): nothing leaves a shell.

#include <atomic>
#include <cstdint>
#include <utility>

#include "platform/files.h"

namespace avikit::shell {

template <class Impl>
struct Counted final : Impl {
  std::atomic<std::int32_t> users{1};
};

// A new object with one handle; null when it cannot be made. The one raw new of a shell: the
// delete is in release().
template <class Impl>
Impl* make() noexcept {
  try {
    return new Counted<Impl>;
  } catch (...) {
    return nullptr;
  }
}

// One more handle on `impl` (null stays null).
template <class Impl>
Impl* share(Impl* impl) noexcept {
  if (impl != nullptr) {
    static_cast<Counted<Impl>*>(impl)->users.fetch_add(1, std::memory_order_relaxed);
  }
  return impl;
}

// Lets go of `impl` and nulls it; the last handle deletes the object, whose destructor closes it.
template <class Impl>
void release(Impl*& impl) noexcept {
  auto* counted = static_cast<Counted<Impl>*>(std::exchange(impl, nullptr));
  if (counted != nullptr && counted->users.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    delete counted;
  }
}

// `mine` becomes another handle on `theirs`. The new handle is taken before the old one goes, so
// assigning a handle its own object never deletes it.
template <class Impl>
void assign(Impl*& mine, Impl* theirs) noexcept {
  share(theirs);
  release(mine);
  mine = theirs;
}

// How many handles share `impl` (0 for null).
template <class Impl>
std::int32_t users(const Impl* impl) noexcept {
  return impl != nullptr ? static_cast<const Counted<Impl>*>(impl)->users.load() : 0;
}

// f(*impl), or `none` without an object or when anything is thrown.
template <class Impl, class R, class F>
R call(Impl* impl, R none, F&& f) noexcept {
  if (impl == nullptr) return none;
  try {
    return std::forward<F>(f)(*impl);
  } catch (...) {
    return none;
  }
}

template <class Impl, class F>
void call(Impl* impl, F&& f) noexcept {
  if (impl == nullptr) return;
  try {
    std::forward<F>(f)(*impl);
  } catch (...) {
  }
}

// The source an exported open() was given, a name or an InMemoryFile; empty (no file) when even
// that cannot be made.
template <class Given>
platform::FileSource source_of(const Given& given) noexcept {
  try {
    return platform::FileSource(given);
  } catch (...) {
    return {};
  }
}

}  // namespace avikit::shell
