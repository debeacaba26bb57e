// The directory builder of the TIFF writer.
#include "tiftagwriter.h"

#include <algorithm>
#include <cstring>

#include "ieutils.h"

void TIETIFFTagWriter::PutU16(uint8_t* p, uint32_t v) const {
  if (bigEndian_) {
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
  } else {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
  }
}

void TIETIFFTagWriter::PutU32(uint8_t* p, uint32_t v) const {
  for (int i = 0; i < 4; ++i) p[bigEndian_ ? 3 - i : i] = uint8_t(v >> (8 * i));
}

void TIETIFFTagWriter::Add(uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
  TEntry e{tag, type, count, {0, 0, 0, 0}};
  PutU32(e.field, value);
  entries_.push_back(e);
}

void TIETIFFTagWriter::AddInline(uint16_t tag, uint16_t type, uint32_t count, const void* bytes, size_t n) {
  TEntry e{tag, type, count, {0, 0, 0, 0}};
  if (n) std::memcpy(e.field, bytes, std::min<size_t>(n, 4));
  entries_.push_back(e);
}

void TIETIFFTagWriter::AddShort(uint16_t tag, uint32_t value) {
  uint8_t v[2];
  PutU16(v, value & 0xFFFF);
  AddInline(tag, kTIFFShort, 1, v, 2);
}

void TIETIFFTagWriter::AddByte(uint16_t tag, uint8_t value, uint16_t type) { AddInline(tag, type, 1, &value, 1); }

void TIETIFFTagWriter::Write(const void* data, size_t count) {
  const uint8_t* p = static_cast<const uint8_t*>(data);
  while (count > 0 && !aborting_) {
    const int32_t n = int32_t(std::min<size_t>(count, 1 << 30));
    IEStreamWriteCheck(stream_, aborting_, p, n);
    p += n;
    count -= size_t(n);
  }
}

uint32_t TIETIFFTagWriter::Offset() {
  const int64_t pos = stream_.GetPosition();
  if (pos < 0 || pos > int64_t(0xFFFFFFFFu)) {
    aborting_ = true;
    return 0;
  }
  return uint32_t(pos);
}

uint32_t TIETIFFTagWriter::AlignEven() {
  if (stream_.GetPosition() & 1) {
    const uint8_t zero = 0;
    Write(&zero, 1);
  }
  return Offset();
}

void TIETIFFTagWriter::AddBlock(uint16_t tag, uint16_t type, uint32_t count, const void* data, size_t bytes) {
  if (bytes <= 4) {
    AddInline(tag, type, count, data, bytes);
    return;
  }
  const uint32_t at = AlignEven();
  Write(data, bytes);
  Add(tag, type, count, at);
}

void TIETIFFTagWriter::AddShorts(uint16_t tag, const std::vector<uint16_t>& values) {
  std::vector<uint8_t> b(values.size() * 2);
  for (size_t i = 0; i < values.size(); ++i) PutU16(&b[2 * i], values[i]);
  AddBlock(tag, kTIFFShort, uint32_t(values.size()), b.data(), b.size());
}

void TIETIFFTagWriter::AddLongs(uint16_t tag, const std::vector<uint32_t>& values) {
  std::vector<uint8_t> b(values.size() * 4);
  for (size_t i = 0; i < values.size(); ++i) PutU32(&b[4 * i], values[i]);
  // an array goes at an offset even when it holds one value
  const uint32_t at = AlignEven();
  Write(b.data(), b.size());
  Add(tag, kTIFFLong, uint32_t(values.size()), at);
}

void TIETIFFTagWriter::AddRationals(uint16_t tag, const double* values, int count) {
  // negative values (exposure bias, brightness) only fit the signed form
  bool negative = false;
  for (int i = 0; i < count; ++i) negative = negative || values[i] < 0;
  std::vector<uint8_t> b(size_t(count) * 8);
  for (int i = 0; i < count; ++i) {
    int num = 0, den = 1;
    IEFloatToRational(num, den, values[i], 5e-9);
    PutU32(&b[8 * size_t(i)], uint32_t(num));
    PutU32(&b[8 * size_t(i) + 4], uint32_t(den));
  }
  const uint32_t at = AlignEven();
  Write(b.data(), b.size());
  Add(tag, negative ? kTIFFSRational : kTIFFRational, uint32_t(count), at);
}

void TIETIFFTagWriter::AddAscii(uint16_t tag, const std::string& text) {
  if (text.empty()) return;
  if (text.size() <= 4) {
    AddBlock(tag, kTIFFAscii, uint32_t(text.size()), text.data(), text.size());
    return;
  }
  AddBlock(tag, kTIFFAscii, uint32_t(text.size() + 1), text.c_str(), text.size() + 1);
}

void TIETIFFTagWriter::AddAsciiRaw(uint16_t tag, const std::string& text) {
  AddBlock(tag, kTIFFAscii, uint32_t(text.size()), text.data(), text.size());
}

bool TIETIFFTagWriter::Has(uint16_t tag) const {
  return std::any_of(entries_.begin(), entries_.end(), [tag](const TEntry& e) { return e.tag == tag; });
}

uint32_t TIETIFFTagWriter::WriteDirectory(uint32_t next) {
  if (aborting_) return 0;
  const uint32_t at = AlignEven();
  std::stable_sort(entries_.begin(), entries_.end(), [](const TEntry& a, const TEntry& b) { return a.tag < b.tag; });
  std::vector<uint8_t> d(2 + entries_.size() * 12 + 4);
  PutU16(d.data(), uint32_t(entries_.size()));
  for (size_t i = 0; i < entries_.size(); ++i) {
    uint8_t* e = &d[2 + 12 * i];
    PutU16(e, entries_[i].tag);
    PutU16(e + 2, entries_[i].type);
    PutU32(e + 4, entries_[i].count);
    std::memcpy(e + 8, entries_[i].field, 4);
  }
  PutU32(&d[d.size() - 4], next);
  Write(d.data(), d.size());
  return at;
}
