// TIFF directories of a file held in memory.
#include "tifdirectory.h"

#include "ietiffhandler.h"

uint32_t TIETIFFDirectory::Value(uint16_t tag, uint32_t i, uint32_t def) const {
  const TIETIFFEntry* e = Find(tag);
  if (!e || i >= e->count) return def;
  const uint64_t off = e->valueOffset + uint64_t(i) * IETIFFTypeSize(e->type);
  switch (e->type) {
    case 1: case 6: case 7: return file->Has(off, 1) ? file->data[size_t(off)] : def;
    case 3: case 8: return file->U16(off);
    case 4: case 9: case 13: return file->U32(off);
    default: return def;
  }
}

double TIETIFFDirectory::Rational(uint16_t tag, uint32_t i) const {
  const TIETIFFEntry* e = Find(tag);
  if (!e || i >= e->count || (e->type != 5 && e->type != 10)) return 0;
  const uint64_t off = e->valueOffset + uint64_t(i) * 8;
  const uint32_t n = file->U32(off), d = file->U32(off + 4);
  if (!d) return 0;
  return e->type == 10 ? double(int32_t(n)) / double(int32_t(d)) : double(n) / d;
}

std::string TIETIFFDirectory::Bytes(uint16_t tag) const {
  const TIETIFFEntry* e = Find(tag);
  if (!e) return std::string();
  const uint64_t n = uint64_t(e->count) * IETIFFTypeSize(e->type);
  if (!file->Has(e->valueOffset, n)) return std::string();
  return std::string(reinterpret_cast<const char*>(&file->data[size_t(e->valueOffset)]), size_t(n));
}

bool IETIFFReadDirectory(const TIETIFFFile& f, uint64_t off, TIETIFFDirectory& ifd, uint64_t& next) {
  ifd.file = &f;
  if (!f.Has(off, 2)) return false;
  const uint32_t n = f.U16(off);
  if (!f.Has(off + 2, uint64_t(n) * 12 + 4)) return false;
  for (uint32_t i = 0; i < n; ++i) {
    const uint64_t e = off + 2 + uint64_t(i) * 12;
    TIETIFFEntry t;
    t.type = uint16_t(f.U16(e + 2));
    t.count = f.U32(e + 4);
    const uint64_t size = uint64_t(t.count) * IETIFFTypeSize(t.type);
    if (IETIFFTypeSize(t.type) == 0) continue;
    t.valueOffset = size <= 4 ? e + 8 : f.U32(e + 8);
    if (!f.Has(t.valueOffset, size)) {
      ifd.damaged = true;
      continue;
    }
    ifd.entries.emplace_back(uint16_t(f.U16(e)), t);
  }
  next = f.U32(off + 2 + uint64_t(n) * 12);
  return true;
}
