// Decoder selection: not built yet. Every preparation fails, so players open but decode nothing.
#include "video/media_reader.h"

bool SharedAviFile::open_decoder(const platform::BITMAPINFOHEADER*, std::uint8_t*) {
  return (flags_ & AVC_DECODER_READY) != 0;
}

int MediaReader::prepare_output(int, int) { return 0; }
