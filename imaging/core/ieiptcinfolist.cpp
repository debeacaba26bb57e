#include "ieiptcinfolist.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "ieutils.h"

namespace {
constexpr uint8_t kTagMarker = 0x1C;
constexpr char kPhotoshopSignature[] = "Photoshop 3.0";  // 13 characters and a NUL
constexpr uint8_t kIPTCResource[6] = {'8', 'B', 'I', 'M', 0x04, 0x04};
constexpr int kResourceHeader = 26;      // signature, "8BIM", id, empty name, 32-bit size
constexpr int kResourceSizeField = 22;
constexpr uint8_t kRecordVersion[7] = {kTagMarker, 0x02, 0x00, 0x00, 0x02, 0x00, 0x02};  // 2:00 = 2
constexpr uint32_t kExtendedFrom = 0x8000;  // lengths from here on take the IIM extended form
constexpr uint64_t kMaxBlock = 0x7FFFFFFF;

void PutU16BE(uint8_t* p, uint32_t v) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }
void PutU32BE(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v);
}
}  // namespace

int TIEIPTCInfoList::AddRecord(int record, int dataset, const void* data, int32_t length) {
  if (length < 0) return -1;
  Record r;
  r.record = record;
  r.dataset = dataset;
  if (length > 0) r.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + length);
  records_.push_back(std::move(r));
  changed_ = true;
  return Count() - 1;
}

void TIEIPTCInfoList::Clear() {
  records_.clear();
  changed_ = true;
}

void TIEIPTCInfoList::Assign(const TIEIPTCInfoList* source) {
  if (!source || source == this) return;
  records_ = source->records_;
  changed_ = true;
}

bool TIEIPTCInfoList::SaveToBuffer(void*& buffer, int32_t& length, bool withHeader) const {
  buffer = nullptr;
  length = 0;
  if (records_.empty()) return true;
  // Size everything first, in 64 bits, so the block is allocated once and never overrun.
  const uint64_t head = withHeader ? kResourceHeader : sizeof kRecordVersion;
  uint64_t body = 0;
  for (const Record& r : records_) {
    if ((r.record == 2 && r.dataset == 0) || r.data.empty()) continue;
    body += (r.data.size() < kExtendedFrom ? 5 : 9) + uint64_t(r.data.size());
  }
  const uint64_t total = head + body + ((head + body) & 1);
  if (total > kMaxBlock || (withHeader && head + body > 0xFFFFFFFFu)) return false;
  uint8_t* out = static_cast<uint8_t*>(std::malloc(size_t(total)));
  if (!out) throw std::bad_alloc();
  uint8_t* p = out;
  if (withHeader) {
    std::memcpy(p, kPhotoshopSignature, 14);
    std::memcpy(p + 14, kIPTCResource, 6);
    p[20] = p[21] = 0;  // empty name
    p += kResourceHeader;
  } else {
    std::memcpy(p, kRecordVersion, sizeof kRecordVersion);
    p += sizeof kRecordVersion;
  }
  for (const Record& r : records_) {
    if ((r.record == 2 && r.dataset == 0) || r.data.empty()) continue;
    p[0] = kTagMarker;
    p[1] = uint8_t(r.record);
    p[2] = uint8_t(r.dataset);
    const uint32_t n = static_cast<uint32_t>(r.data.size());
    if (n < kExtendedFrom) {
      PutU16BE(p + 3, n);
      p += 5;
    } else {
      p[3] = 0x80;  // extended form: the next 4 bytes hold the length
      p[4] = 0x04;
      PutU32BE(p + 5, n);
      p += 9;
    }
    std::memcpy(p, r.data.data(), n);
    p += n;
  }
  if ((head + body) & 1) *p = 0;
  // The resource size counts the datasets the way the header of step 2 was sized: without the pad.
  if (withHeader) PutU32BE(out + kResourceSizeField, uint32_t(body));
  buffer = out;
  length = static_cast<int32_t>(total);
  return true;
}

bool TIEIPTCInfoList::LoadFromBuffer(const void* buffer, int32_t length) {
  Clear();
  if (length <= 0 || !buffer) return false;
  const uint8_t* b = static_cast<const uint8_t*>(buffer);
  const uint64_t n = uint64_t(length);
  uint64_t p = 0;
  if (n >= 13 && std::memcmp(b, kPhotoshopSignature, 13) == 0) {
    p = n;
    for (uint64_t i = 0; i + sizeof kIPTCResource <= n; ++i)
      if (std::memcmp(b + i, kIPTCResource, sizeof kIPTCResource) == 0) {
        p = i + sizeof kIPTCResource;
        break;
      }
  }
  while (p < n && b[p] != kTagMarker) ++p;
  while (p + 1 < n && b[p + 1] == kTagMarker) ++p;  // a run of tag bytes counts from its last one

  bool read = false;
  while (p < n && b[p] == kTagMarker) {
    if (p + 5 >= n) break;  // a record header must be followed by at least one byte
    const int record = b[p + 1];
    const int dataset = b[p + 2];
    uint64_t size, start;
    if (b[p + 3] & 0x80) {
      if (p + 9 > n) break;
      // The count of length bytes (normally 4) is not trusted beyond the fixed form we support.
      size = IEReadU32BE(b + p + 5);
      start = p + 9;
    } else {
      size = IEReadU16BE(b + p + 3);
      start = p + 5;
    }
    if (size > 0x7FFFFFFF) size = 0x100000000ull - size;  // the absolute value of a negative length
    if (start + size > n) break;
    AddRecord(record, dataset, b + start, static_cast<int32_t>(size));
    p = start + size;
    read = true;
    if (p >= n) break;
  }
  changed_ = false;
  return read;
}
