#include "hostlib/new_dib.h"

#include <cstring>
#include <new>

#include "platform/sync.h"

namespace avikit {

CNewDib::CNewDib()
    : tag(kNewDibTag), image_size(0), memory(nullptr), header(nullptr), direct(1), reserved{} {}

CNewDib::~CNewDib() { release(); }

CNewDib::CNewDib(const CNewDib& other) : CNewDib() { *this = other; }

CNewDib& CNewDib::operator=(const CNewDib& other) {
  if (this == &other) return *this;
  const std::uint8_t* src = other.LockBits();
  if (other.header == nullptr || src == nullptr) {
    clear();
    return *this;
  }
  const bool same = header != nullptr && header->biWidth == other.header->biWidth &&
                    header->biHeight == other.header->biHeight &&
                    header->biBitCount == other.header->biBitCount &&
                    image_size == other.image_size;
  if (!same &&
      Create(other.header->biWidth, other.header->biHeight, other.header->biBitCount, false) == 0) {
    return *this;
  }
  *header = *other.header;
  if (std::uint8_t* dst = LockBits()) std::memcpy(dst, src, image_size);
  return *this;
}

int CNewDib::Create(int width, int height, int bits, bool movable) {
  if (allocate(width, height, bits, movable) == 0) return 0;
  const hostlib::DibLayout l = hostlib::dib_layout(width, height, bits);
  std::uint8_t* p = LockBits();
  if (bits == 16) {
    // Black in YUY2 is Y 16 and chroma 128, not zero bytes.
    for (std::uint32_t i = 0; i + 1 < l.bytes; i += 2) {
      p[i] = 16;
      p[i + 1] = 128;
    }
  } else {
    const std::uint32_t luma =
        bits == 12 ? static_cast<std::uint32_t>(l.pitch) * static_cast<std::uint32_t>(height)
                   : l.bytes;
    std::memset(p, bits == 12 ? 16 : 0, luma);
    std::memset(p + luma, 128, l.bytes - luma);
  }
  return 1;
}

int CNewDib::CreateUnwritten(int width, int height, int bits) {
  return allocate(width, height, bits, false);
}

int CNewDib::allocate(int width, int height, int bits, bool movable) {
  clear();
  const hostlib::DibLayout l = hostlib::dib_layout(width, height, bits);
  if (l.bytes == 0) return 0;
  // Owned raw pointers of the fixed layout: freed in release().
  auto* h = new (std::nothrow) platform::BITMAPINFOHEADER;
  if (h == nullptr) return 0;
  void* pixels = nullptr;
  if (movable) {
    pixels = platform::GlobalAlloc(platform::GHND, l.bytes);
  } else {
    pixels = ::operator new[](l.bytes, std::align_val_t{32}, std::nothrow);
  }
  if (pixels == nullptr) {
    delete h;
    return 0;
  }
  h->biSize = sizeof(platform::BITMAPINFOHEADER);
  h->biWidth = width;
  h->biHeight = height;
  h->biPlanes = 1;
  h->biBitCount = static_cast<platform::WORD>(bits);
  h->biCompression = bits == 12   ? platform::fourcc("YV12")
                     : bits == 16 ? platform::fourcc("YUY2")
                                  : platform::BI_RGB;
  h->biSizeImage = l.bytes;
  header = h;
  memory = pixels;
  direct = movable ? 0 : 1;
  image_size = l.bytes;
  return 1;
}

std::uint8_t* CNewDib::LockBits() const {
  if (memory == nullptr) return nullptr;
  if (direct == 0) return static_cast<std::uint8_t*>(platform::GlobalLock(memory));
  return static_cast<std::uint8_t*>(memory);
}

int CNewDib::GetPitch() const {
  if (header == nullptr) return 0;
  return hostlib::dib_layout(header->biWidth, header->biHeight, header->biBitCount).pitch;
}

void CNewDib::clear() {
  release();
  tag = kNewDibTag;
  image_size = 0;
  direct = 1;
  reserved[0] = reserved[1] = reserved[2] = 0;
}

void CNewDib::release() {
  if (memory != nullptr) {
    if (direct == 0) {
      platform::GlobalFree(memory);
    } else {
      ::operator delete[](memory, std::align_val_t{32});  // pairs with the aligned new[] in Create
    }
  }
  delete header;
  memory = nullptr;
  header = nullptr;
}

}  // namespace avikit
