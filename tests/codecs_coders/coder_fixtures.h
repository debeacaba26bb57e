// Fixtures shared by the coder tests: a minimal TIFF writer and strip reader (little-endian, first
// image only), PNM reading and writing, a stream over a block that ends at an inaccessible page, the
// host's tools, and a small deterministic random source for images and mutations.
#pragma once
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "hostenv.h"
#include "iestreams.h"

namespace fx {

using Bytes = std::vector<uint8_t>;

// xorshift: the same images and mutations on every run.
class Rng {
 public:
  explicit Rng(uint32_t seed) : s_(seed ? seed : 1) {}
  uint32_t Next() {
    s_ ^= s_ << 13;
    s_ ^= s_ >> 17;
    s_ ^= s_ << 5;
    return s_;
  }
  uint32_t Below(uint32_t n) { return Next() % n; }

 private:
  uint32_t s_;
};

inline Bytes StreamBytes(TIEMemoryStream& s) {
  const uint8_t* p = static_cast<const uint8_t*>(s.Memory());
  return Bytes(p, p + s.GetSize());
}

// ---- TIFF ----

struct TiffSpec {
  int width = 0, height = 0, bitsPerSample = 8, samples = 1;
  int compression = 1, photometric = 1;
  int predictor = 0;   // 0: tag absent
  int t4Options = -1;  // -1: tag absent
  int fillOrder = 0;   // 0: tag absent
};

// One strip holding every row.
inline Bytes MakeTiff(const TiffSpec& s, const Bytes& strip) {
  struct Entry {
    uint16_t tag, type;
    uint32_t count, value;
  };
  std::vector<Entry> e;
  const uint32_t dataOffset = 8;
  const uint32_t ifdOffset = dataOffset + uint32_t(strip.size() + (strip.size() & 1));
  uint32_t bpsValue = uint32_t(s.bitsPerSample);
  e.push_back({256, 4, 1, uint32_t(s.width)});
  e.push_back({257, 4, 1, uint32_t(s.height)});
  e.push_back({258, 3, uint32_t(s.samples), 0});  // value filled below
  e.push_back({259, 3, 1, uint32_t(s.compression)});
  e.push_back({262, 3, 1, uint32_t(s.photometric)});
  if (s.fillOrder) e.push_back({266, 3, 1, uint32_t(s.fillOrder)});
  e.push_back({273, 4, 1, dataOffset});
  e.push_back({277, 3, 1, uint32_t(s.samples)});
  e.push_back({278, 4, 1, uint32_t(s.height)});
  e.push_back({279, 4, 1, uint32_t(strip.size())});
  if (s.t4Options >= 0) e.push_back({292, 4, 1, uint32_t(s.t4Options)});
  if (s.predictor) e.push_back({317, 3, 1, uint32_t(s.predictor)});
  const uint32_t extraOffset = ifdOffset + 2 + uint32_t(e.size()) * 12 + 4;
  Bytes out(8);
  out[0] = out[1] = 'I';
  IEWriteU16LE(&out[2], 42);
  IEWriteU32LE(&out[4], ifdOffset);
  out.insert(out.end(), strip.begin(), strip.end());
  if (strip.size() & 1) out.push_back(0);
  uint8_t b[12];
  IEWriteU16LE(b, uint16_t(e.size()));
  out.insert(out.end(), b, b + 2);
  for (Entry& x : e) {
    IEWriteU16LE(b, x.tag);
    IEWriteU16LE(b + 2, x.type);
    IEWriteU32LE(b + 4, x.count);
    if (x.tag == 258) {
      if (s.samples <= 2) {
        IEWriteU32LE(b + 8, bpsValue | (s.samples == 2 ? bpsValue << 16 : 0));
      } else {
        IEWriteU32LE(b + 8, extraOffset);
      }
    } else if (x.type == 3) {
      IEWriteU32LE(b + 8, x.value & 0xFFFF);
    } else {
      IEWriteU32LE(b + 8, x.value);
    }
    out.insert(out.end(), b, b + 12);
  }
  IEWriteU32LE(b, 0);
  out.insert(out.end(), b, b + 4);
  if (s.samples > 2)
    for (int i = 0; i < s.samples; ++i) {
      IEWriteU16LE(b, uint16_t(bpsValue));
      out.insert(out.end(), b, b + 2);
    }
  return out;
}

// The first image of a little-endian TIFF, its strips as raw bytes.
struct TiffImage {
  TiffSpec spec;
  int rowsPerStrip = 0;
  std::vector<Bytes> strips;
};

inline bool ReadTiff(const Bytes& f, TiffImage& img) {
  if (f.size() < 8 || f[0] != 'I' || f[1] != 'I') return false;
  const uint32_t ifd = IEReadU32LE(&f[4]);
  if (uint64_t(ifd) + 2 > f.size()) return false;
  const int n = IEReadU16LE(&f[ifd]);
  if (uint64_t(ifd) + 2 + uint64_t(n) * 12 > f.size()) return false;
  std::vector<uint32_t> offsets, counts;
  img.rowsPerStrip = 0;
  for (int i = 0; i < n; ++i) {
    const uint8_t* p = &f[ifd + 2 + i * 12];
    const uint16_t tag = IEReadU16LE(p), type = IEReadU16LE(p + 2);
    const uint32_t count = IEReadU32LE(p + 4);
    const int size = type == 3 || type == 8                  ? 2
                     : type == 5 || type == 10 || type >= 12 ? 8
                     : type == 4 || type == 9 || type == 11  ? 4
                                                             : 1;
    const uint8_t* v = p + 8;
    if (uint64_t(count) * size > 4) {
      const uint32_t off = IEReadU32LE(p + 8);
      if (uint64_t(off) + uint64_t(count) * size > f.size()) return false;
      v = &f[off];
    }
    auto at = [&](uint32_t k) {
      return size == 2   ? uint32_t(IEReadU16LE(v + 2 * k))
             : size == 4 ? IEReadU32LE(v + 4 * k)
                         : uint32_t(v[k]);
    };
    switch (tag) {
      case 256:
        img.spec.width = int(at(0));
        break;
      case 257:
        img.spec.height = int(at(0));
        break;
      case 258:
        img.spec.bitsPerSample = int(at(0));
        break;
      case 259:
        img.spec.compression = int(at(0));
        break;
      case 262:
        img.spec.photometric = int(at(0));
        break;
      case 266:
        img.spec.fillOrder = int(at(0));
        break;
      case 277:
        img.spec.samples = int(at(0));
        break;
      case 278:
        img.rowsPerStrip = int(at(0));
        break;
      case 292:
      case 293:
        img.spec.t4Options = int(at(0));
        break;
      case 317:
        img.spec.predictor = int(at(0));
        break;
      case 273:
        for (uint32_t k = 0; k < count; ++k) offsets.push_back(at(k));
        break;
      case 279:
        for (uint32_t k = 0; k < count; ++k) counts.push_back(at(k));
        break;
      default:
        break;
    }
  }
  if (offsets.size() != counts.size() || offsets.empty()) return false;
  if (img.rowsPerStrip <= 0 || img.rowsPerStrip > img.spec.height) img.rowsPerStrip = img.spec.height;
  img.strips.clear();
  for (size_t k = 0; k < offsets.size(); ++k) {
    if (uint64_t(offsets[k]) + counts[k] > f.size()) return false;
    img.strips.emplace_back(f.begin() + offsets[k], f.begin() + offsets[k] + counts[k]);
  }
  return true;
}

// ---- PNM ----

struct Pnm {
  char kind = 0;  // '4' bitmap (1 = black), '5' grey, '6' RGB
  int width = 0, height = 0, maxval = 0;
  Bytes data;  // rows as stored
};

inline bool ParsePnm(const Bytes& f, Pnm& img) {
  size_t i = 0;
  auto skipSpace = [&] {
    for (;;) {
      while (i < f.size() && isspace(f[i])) ++i;
      if (i < f.size() && f[i] == '#') {
        while (i < f.size() && f[i] != '\n') ++i;
      } else {
        return;
      }
    }
  };
  auto number = [&] {
    skipSpace();
    long v = 0;
    while (i < f.size() && isdigit(f[i])) v = v * 10 + (f[i++] - '0');
    return int(v);
  };
  if (f.size() < 3 || f[0] != 'P') return false;
  img.kind = char(f[1]);
  i = 2;
  img.width = number();
  img.height = number();
  img.maxval = img.kind == '4' ? 1 : number();
  ++i;  // the single white space before the raster
  size_t rowBytes =
      img.kind == '4' ? size_t(img.width + 7) / 8 : size_t(img.width) * (img.kind == '6' ? 3 : 1);
  const size_t need = rowBytes * size_t(img.height);
  if (img.kind < '4' || img.kind > '6' || i + need > f.size()) return false;
  img.data.assign(f.begin() + i, f.begin() + i + need);
  return true;
}

inline Bytes MakePnm(char kind, int width, int height, const Bytes& data) {
  std::string h =
      "P" + std::string(1, kind) + "\n" + std::to_string(width) + " " + std::to_string(height) + "\n";
  if (kind != '4') h += "255\n";
  Bytes out(h.begin(), h.end());
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

// ---- Host ----

inline bool WriteWork(const std::string& name, const Bytes& b) {
  return tq::WriteFileBytes(tq::WorkFile(name), b.data(), b.size());
}
inline Bytes ReadWork(const std::string& name) {
  Bytes b;
  tq::ReadFileBytes(tq::WorkFile(name), b);
  return b;
}
// Runs a host command in the work folder; returns its output, and the exit code through `code`.
inline std::string Host(const std::string& command, int* code = nullptr) {
  std::string out;
  const int rc = tq::RunHost(command, &out);
  if (code) *code = rc;
  return out;
}

// ---- A block that ends where readable memory ends ----

// `size` bytes placed so that the byte after the last one lies on an inaccessible page: a decoder
// that reads past what it was given faults instead of reading neighbouring memory.
class GuardedBlock {
 public:
  explicit GuardedBlock(const Bytes& content) {
    SYSTEM_INFO si;
    GetSystemInfo(&si);
    const size_t page = si.dwPageSize;
    const size_t dataPages = (content.size() + page - 1) / page + 1;
    total_ = (dataPages + 1) * page;
    base_ = static_cast<uint8_t*>(VirtualAlloc(nullptr, total_, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old;
    VirtualProtect(base_ + dataPages * page, page, PAGE_NOACCESS, &old);
    data_ = base_ + dataPages * page - content.size();
    if (!content.empty()) std::memcpy(data_, content.data(), content.size());
  }
  ~GuardedBlock() { VirtualFree(base_, 0, MEM_RELEASE); }
  GuardedBlock(const GuardedBlock&) = delete;
  GuardedBlock& operator=(const GuardedBlock&) = delete;
  const uint8_t* data() const { return data_; }

 private:
  uint8_t* base_ = nullptr;
  uint8_t* data_ = nullptr;
  size_t total_ = 0;
};

// A buffer with canary bytes on both sides, to catch writes outside the given size.
class FencedBuffer {
 public:
  explicit FencedBuffer(size_t size, uint8_t fill = 0) : size_(size), bytes_(size + 2 * kFence, kCanary) {
    std::memset(bytes_.data() + kFence, fill, size);
  }
  uint8_t* data() { return bytes_.data() + kFence; }
  size_t size() const { return size_; }
  bool FencesIntact() const {
    for (size_t i = 0; i < kFence; ++i)
      if (bytes_[i] != kCanary || bytes_[kFence + size_ + i] != kCanary) return false;
    return true;
  }

 private:
  static constexpr size_t kFence = 64;
  static constexpr uint8_t kCanary = 0xA5;
  size_t size_;
  Bytes bytes_;
};

// Mutations of a valid input: random byte flips, and cuts at many lengths.
inline std::vector<Bytes> Mutations(const Bytes& valid, int count, uint32_t seed) {
  std::vector<Bytes> out;
  Rng rng(seed);
  for (int k = 0; k < count; ++k) {
    Bytes m = valid;
    if (m.empty()) break;
    if (k % 3 == 0) {
      m.resize(rng.Below(uint32_t(m.size())));
    } else {
      const int flips = 1 + int(rng.Below(8));
      for (int j = 0; j < flips; ++j) m[rng.Below(uint32_t(m.size()))] ^= uint8_t(1 + rng.Below(255));
    }
    out.push_back(std::move(m));
  }
  return out;
}

}  // namespace fx
