#include "container/odml_index.h"

#include <algorithm>
#include <memory>

#include "container/byte_cursor.h"
#include "container/fourccs.h"
#include "container/index_loader.h"

namespace avikit {

namespace container::detail {

OdmlIndexHeader decode_odml_header(const std::uint8_t (&bytes)[kOdmlHeaderSize]) {
  OdmlIndexHeader h;
  h.longs_per_entry = le16(bytes);
  h.sub_type = bytes[2];
  h.type = bytes[3];
  h.entries_in_use = le32(bytes + 4);
  h.chunk_id = le32(bytes + 8);
  h.base_offset = le64(bytes + 12);
  return h;
}

}  // namespace container::detail

namespace container {

using namespace detail;

namespace {

void charge(std::uint64_t& budget, std::uint64_t bytes) {
  budget -= bytes < budget ? bytes : budget;
}

}  // namespace

// Fills the streams of the plan that have an "indx" chunk. A stream whose OpenDML index gives
// nothing stays open for idx1 (writers leave out the "indx" of a stream, usually the sound, that
// ended in the first RIFF).
void IndexLoader::load_odml_streams(IndexPlan& plan) {
  for (std::size_t s = 0; s < kMaxStreamLists; ++s) {
    ChunkIndex* target = plan.target[s];
    if (target == nullptr) continue;
    const ChunkRecord* record = find_chunk_record(records_, kIndx, static_cast<std::int32_t>(s));
    if (record == nullptr) continue;
    const ChunkRecord r = *record;
    if (read_odml_index(r.position, r.size, target) != 0) {
      plan.odml[s] = true;
    } else {
      target->clear();
    }
  }
}

int IndexLoader::read_odml_index(std::uint64_t position, std::uint32_t size, ChunkIndex* target) {
  // Legitimate indexes occupy distinct bytes of the file, so reading more index bytes than the
  // file holds means the indexes point at each other: the budget ends such a walk.
  std::uint64_t budget = table_.file_size;
  return read_odml_level(position, size, target, 0, budget);
}

int IndexLoader::read_odml_level(std::uint64_t position, std::uint32_t size, ChunkIndex* target,
                                 int depth, std::uint64_t& budget) {
  if (target == nullptr) return 0;
  const std::uint64_t file_size = table_.file_size;
  if (position >= file_size || position > static_cast<std::uint64_t>(INT64_MAX)) return 0;
  if (position > 0) riff_.seek(static_cast<std::int64_t>(position), SeekOrigin::kBegin);
  std::uint8_t raw[kOdmlHeaderSize] = {};
  if (budget < kOdmlHeaderSize || riff_.read(raw, kOdmlHeaderSize) != kOdmlHeaderSize) return 0;
  charge(budget, kOdmlHeaderSize);
  const OdmlIndexHeader header = decode_odml_header(raw);
  // A count of 0xFFFFFFFF is as large as any: the bytes of the chunk cap it below.
  if (header.entries_in_use == 0) return 0;
  const std::uint32_t data_size = size > kOdmlHeaderSize ? size - kOdmlHeaderSize : 0;
  if (header.type == kIndexOfChunks) return read_odml_chunks(raw, data_size, target, budget);
  if (header.type != kIndexOfIndexes || header.longs_per_entry != 4) return 0;
  // OpenDML has two levels: a super index that points at another super index (itself, say)
  // is malformed.
  if (depth > 0) return 0;

  const std::uint64_t start = riff_.position();
  const std::uint64_t left = start < file_size ? file_size - start : 0;
  std::uint64_t room = data_size < left ? data_size : left;
  room = room < budget ? room : budget;
  const std::uint64_t count =
      entries_that_fit(std::uint64_t{header.entries_in_use}, room, kSuperEntrySize);
  int result = 0;
  // Each batch is paid for as it arrives: the walk below spends from the same budget.
  read_entries(start, count, kSuperEntrySize, [&](const std::uint8_t* e, std::uint32_t n) {
    charge(budget, std::uint64_t{n} * kSuperEntrySize);
    for (std::uint32_t i = 0; i < n; ++i, e += kSuperEntrySize) {
      // Out of budget: the entries point at the same indexes again and again. Keep what was
      // read.
      if (budget < kOdmlHeaderSize) return false;
      const std::uint64_t chunk_offset = le64(e);
      // Writers reserve room for more entries than they use; an unused slot is all zeros.
      if (chunk_offset == 0 && le32(e + 8) == 0) continue;
      // The entry locates the ix## chunk header; its data (24-byte header first) follows. The
      // chunk's own size bounds its entries: the super index's word for it is a second opinion
      // that may only be smaller.
      std::uint8_t chunk_header[8];
      if (chunk_offset > file_size || riff_.read_at(chunk_offset, chunk_header, 8) != 8) {
        return false;
      }
      const std::uint32_t chunk_size =
          std::min(le32(e + 8) >= 8 ? le32(e + 8) - 8 : 0u, le32(chunk_header + 4));
      result = read_odml_level(chunk_offset + 8, chunk_size, target, depth + 1, budget);
      if (result == 0) return false;
    }
    return true;
  });
  return result;
}

// A standard index, its header already read: entries up to nEntriesInUse, never past the data of
// the chunk, go to `target` when the chunk id names a stream of the file.
int IndexLoader::read_odml_chunks(const std::uint8_t* raw, std::uint32_t data_size,
                                  ChunkIndex* target, std::uint64_t& budget) {
  std::uint8_t header_bytes[kOdmlHeaderSize];
  for (std::uint32_t i = 0; i < kOdmlHeaderSize; ++i) header_bytes[i] = raw[i];
  const OdmlIndexHeader header = decode_odml_header(header_bytes);
  const std::uint32_t longs = header.longs_per_entry;
  if (longs != 2 && longs != 3 && longs != 6) return 0;
  const std::uint32_t entry_size = longs * 4;
  const std::uint64_t file_size = table_.file_size;
  const std::int32_t stream = chunk_stream_number(header.chunk_id, table_.stream_lists);
  const bool known = known_stream(stream);
  const std::uint64_t start = riff_.position();
  const std::uint64_t left = start < file_size ? file_size - start : 0;
  std::uint64_t room = data_size < left ? data_size : left;
  room = room < budget ? room : budget;
  const std::uint64_t count =
      entries_that_fit(std::uint64_t{header.entries_in_use}, room, entry_size);
  if (!known) {
    charge(budget, count * entry_size);  // As if read: its entries belong to no stream.
    return 1;
  }
  reserve_more(*target, count);
  const std::uint64_t base = header.base_offset;
  read_entries(start, count, entry_size, [&](const std::uint8_t* p, std::uint32_t n) {
    charge(budget, std::uint64_t{n} * entry_size);
    if (longs == 6) {
      for (std::uint32_t i = 0; i < n; ++i, p += entry_size) {
        target->append(base + le32(p), size_in_file(base + le32(p), le32(p + 8), file_size), 1);
      }
    } else {
      for (std::uint32_t i = 0; i < n; ++i, p += entry_size) {
        const std::uint32_t size_word = le32(p + 4);
        target->append(base + le32(p),
                       size_in_file(base + le32(p), size_word & ~kNotKeyFrame, file_size),
                       (size_word & kNotKeyFrame) == 0 ? 1u : 0u);
      }
    }
    return true;
  });
  return 1;
}

}  // namespace container

}  // namespace avikit
