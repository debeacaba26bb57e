// The markers a JPEG save puts around its image: the resolution resource of a kept APP13 marker follows
// the parameters' resolution, and the IPTC records go into APP13.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "imageryio.h"

namespace {

constexpr uint8_t kAPP13 = 0xED;
// the Photoshop image resource that holds the resolution (0x03ED)
const uint8_t kResolutionResource[6] = {'8', 'B', 'I', 'M', 0x03, 0xED};
constexpr uint32_t kResolutionInfoSize = 16;

void PutU32BE(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24);
  p[1] = uint8_t(v >> 16);
  p[2] = uint8_t(v >> 8);
  p[3] = uint8_t(v);
}

void PutU16BE(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}

}  // namespace

void TImageryIO::PatchAPP13Resolution() {
  TIEMarkerList& list = Params.JPEGMarkerList;
  const int i = list.FindMarkerIndex(kAPP13);
  if (i < 0) return;
  const uint8_t* src = list.GetMarkerData(i);
  const size_t n = size_t(list.GetMarkerLength(i));
  std::vector<uint8_t> data(src, src + n);
  size_t p = 0;
  for (;; ++p) {
    if (p + sizeof kResolutionResource > n) return;
    if (std::memcmp(data.data() + p, kResolutionResource, sizeof kResolutionResource) == 0) break;
  }
  p += sizeof kResolutionResource;
  if (p + 2 > n) return;
  p += size_t(IEReadU16BE(data.data() + p)) + 2;  // the resource name
  if (p + 4 > n) return;
  const uint32_t size = IEReadU32BE(data.data() + p);
  p += 4;
  // a resource that claims more than the marker holds is left alone
  if (size < kResolutionInfoSize || p + kResolutionInfoSize > n) return;
  uint8_t* r = data.data() + p;
  PutU32BE(r, uint32_t(Params.DpiX) << 16);  // 16.16 fixed point
  PutU16BE(r + 4, 1);                        // pixels per inch
  PutU16BE(r + 6, 1);                        // width shown in inches
  PutU32BE(r + 8, uint32_t(Params.DpiY) << 16);
  PutU16BE(r + 12, 1);
  PutU16BE(r + 14, 1);
  list.SetMarker(i, kAPP13, data.data(), int32_t(n));
}

void TImageryIO::StoreIPTCMarker() {
  TIEMarkerList& list = Params.JPEGMarkerList;
  TIEIPTCInfoList& iptc = Params.IPTCInfo;
  // records the caller changed, or records another format brought along (no markers of a JPEG read)
  if (!iptc.Changed() && !(iptc.Count() > 0 && list.Count() == 0)) return;
  void* buffer = nullptr;
  int32_t length = 0;
  iptc.SaveToBuffer(buffer, length, true);
  const int i = list.FindMarkerIndex(kAPP13);
  if (buffer && length <= TIEMarkerList::kMaxMarkerPayload) {
    if (i >= 0) list.SetMarker(i, kAPP13, buffer, length);
    else list.AddMarker(kAPP13, buffer, length);
  } else if (!buffer && i >= 0) {
    list.Delete(i);
  }
  std::free(buffer);
}
