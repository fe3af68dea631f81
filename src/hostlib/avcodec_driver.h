#pragma once
// A Video for Windows decompressor over libavcodec, installed in the codec manager for every
// video FOURCC of libavcodec's AVI tag table that libavcodec can decode (MPEG-4 part 2 as XVID,
// DIVX, DX50, FMP4, MP4V..., MS-MPEG-4 v2/v3, MJPEG, H.264, raw YUV and the rest), except "dvsd"
// and "DVSD", which the module's own DV decoder handles.
//
// Messages: DRV_OPEN/DRV_CLOSE, ICM_GETINFO ("libavcodec <codec name>"), ICM_DECOMPRESS_QUERY,
// ICM_DECOMPRESS_GET_FORMAT, ICM_DECOMPRESS_BEGIN, ICM_DECOMPRESS, ICM_DECOMPRESS_END, and the
// two private messages below. Outputs: the input's width and height as "YV12" (12 bits), "YUY2"
// (16 bits) or BI_RGB 24 bits bottom-up, in the layouts of CNewDib (hostlib/new_dib.h).
// The input format is a BITMAPINFOHEADER followed by biSize - 40 bytes of codec data, which the
// driver reads as given: the caller's block must hold biSize bytes.
// Bad data gives ICERR_BADFORMAT (or another ICERR_ code), never a crash.
//
// FRAME ACCURACY: WHAT A CALLER MUST DO
//
// Frame f of a stream is the f-th picture of a full sequential decode in display order (what
// libavcodec, and ffmpeg, put out for the whole stream, counting from 0), where a chunk of 0
// bytes (a dropped frame) takes a slot of its own showing the picture before it. So every chunk
// of the index owns one frame, but chunk f does not always hold frame f:
//  - a decoder with B-frames (ffmpeg -bf 2, in "unpacked" or DivX-style "packed" layout)
//    gives its pictures some chunks later than it got them: a caller that feeds chunks k..f
//    gets an earlier picture;
//  - ffmpeg's MPEG-4 encoder makes open GOPs: the B-frames stored right after a key frame are
//    shown before it and need the previous GOP, so they cannot be decoded from that key frame.
// The driver therefore numbers the pictures of a run itself and says which one the destination
// holds. A run starts with an ICDecompress whose flags lack ICDECOMPRESS_NOTKEYFRAME (the key
// frame k); the driver then forgets all history. Offsets count from k: offset r is frame k + r.
// Every ICDecompress writes at most one picture, the next in display order, so offsets grow by
// one and never jump over the one wanted.
//
// The codec walk that decodes frame f into `dst`:
//   1. k = the key frame at or before f. Go on with the run in progress (key r, picture offset
//      p from ICM_AVK_GET_RUN_STATE, -1 counting as below everything) when r + p <= f and
//      either r == k or the run has already taken chunk k (r < k < next chunk): playing on
//      across a key frame, or into an open GOP's leading pictures, needs no restart. A drained
//      run goes on too (it only drains). Otherwise start: ICDecompress(chunk k, flags 0, dst).
//   2. Loop, at most (f - k) + kAvkMaxLookahead times:
//      a. ICSendMessage(hic, ICM_AVK_GET_RUN_STATE, &state, sizeof state).
//      b. state.picture == f - k: done, dst holds frame f.
//      c. state.first_picture > f - k: f is a leading picture of k's open GOP; set k to the key
//         frame before k (none: fail) and go to 1 with a new run.
//      d. Chunks left: ICDecompress(next chunk, ICDECOMPRESS_NOTKEYFRAME, dst). Chunks of 0
//         bytes are fed as well (biSizeImage 0): a dropped frame, which repeats the picture
//         before it. Before the run's first picture has come out, that picture is shown before
//         the key frame's, so the dropped frame's slot counts among the leading pictures
//         (state.first_picture lies past it). A call returning an error ends the walk.
//         The call may add ICDECOMPRESS_HURRYUP while state.picture >= 0 and state.picture + 1
//         < f - k (the picture it gives cannot be f): the driver then numbers that picture
//         without writing dst, and does not decode a chunk holding a lone MPEG-4 B-VOP at all
//         (its slot still counts). Not for a chunk that a 0-byte chunk follows: the dropped
//         frame shows its picture again.
//      e. No chunk left: ICSendMessage(hic, ICM_AVK_DRAIN, dst, 0) writes the next picture the
//         decoder still holds; an error means f is past the last picture (failure). After a
//         drain only a new run (flags 0) is accepted.
// What a user sees: every frame equals the sequential decode's, wherever the walk starts.
// A leading picture of an open GOP costs a walk from the key frame before. A stream whose last
// pictures libavcodec cannot give (a packed stream's final B-frames) has fewer pictures than
// chunks: a walk to such a frame fails and the bitmap keeps the frame before.
// Playing forward costs one ICDecompress per frame once the decoder's delay is filled: the
// first frame of a run costs (its offset + delay + 1) calls. For streams without B-frames,
// picture offset == chunks fed - 1, so the walk of one chunk per frame is unchanged.

#include <avikit/platform/vfw.h>

#include <cstdint>
#include <vector>

namespace avikit::hostlib {

// param1: AvkRunState*, param2: its size. ICERR_OK, or ICERR_BADPARAM for a short block.
inline constexpr platform::UINT ICM_AVK_GET_RUN_STATE = platform::ICM_USER + 0x0A70;
// param1: the destination pixels in the begun format, param2: 0. ICERR_OK when a picture was
// written, ICERR_ERROR when the decoder holds none.
inline constexpr platform::UINT ICM_AVK_DRAIN = platform::ICM_USER + 0x0A71;

// param1: a BITMAPINFOHEADER naming the codec in biCompression, param2: 0. ICERR_OK when the codec
// codes every picture on its own (libavcodec's AV_CODEC_PROP_INTRA_ONLY: MJPEG, DV, raw, ...), so
// any frame can be decoded without the ones before it whatever the index flags say.
inline constexpr platform::UINT ICM_AVK_IS_INTRA_ONLY = platform::ICM_USER + 0x0A72;

// More calls than any libavcodec decoder's reorder depth and open-GOP lead; a walk that passes
// (f - k) + this many calls without reaching f is looking at a broken stream.
inline constexpr int kAvkMaxLookahead = 40;

struct AvkRunState {
  std::uint32_t size = sizeof(AvkRunState);  // set by the caller
  std::int32_t chunks = 0;                   // chunks taken by this run, its key frame included
  std::int32_t picture = -1;        // offset of the picture in the destination; -1: none yet
  std::int32_t first_picture = -1;  // offset of the run's first picture; -1: none came out yet
  std::int32_t delay = 0;           // pictures the decoder currently holds back (reorder depth)
  std::int32_t queued = 0;          // decoded pictures waiting for the next calls
  std::int32_t drained = 0;         // 1 after ICM_AVK_DRAIN: only a new run may follow
};

// Installs the driver for every FOURCC of the AVI tag table (riff_video_tags.h) but those above.
// Idempotent and thread-safe; the library also does it once when it is loaded, without loading
// libavcodec: the codec module (codec_module.h) is loaded when the first instance opens, and
// refuses to open a FOURCC whose codec this libavcodec cannot decode. Returns the number of
// FOURCCs installed.
int register_avcodec_driver();
// The FOURCCs the driver opens for (as stored in the tag table, one per case-insensitive name).
// Loads the codec module; empty without it.
std::vector<std::uint32_t> avcodec_driver_handlers();
// The driver procedure itself, for ICInstall.
platform::LRESULT avcodec_driver_proc(platform::DWORD_PTR driver_id, platform::HANDLE driver,
                                      platform::UINT message, platform::LPARAM param1,
                                      platform::LPARAM param2);

namespace detail {
// A FOURCC the driver is installed for: printable, and not one the module decodes itself.
bool driver_may_install(std::uint32_t fourcc);
}  // namespace detail

}  // namespace avikit::hostlib
