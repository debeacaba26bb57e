// Image data coding shared by the PostScript and PDF writers.
#include "iedoccoding.h"

#include <cstring>

#include "tifccitt.h"
#include "ietextutils.h"

std::vector<uint8_t> IEBilevelRows(TIEBitmap& Bitmap) {
  const int w = Bitmap.GetImageWidth(), h = Bitmap.GetImageHeight();
  const size_t rowBytes = size_t((int64_t(w) + 7) / 8);
  std::vector<uint8_t> out(rowBytes * size_t(h));
  for (int y = 0; y < h; ++y) std::memcpy(out.data() + rowBytes * size_t(y), Bitmap.GetRowAddress(y), rowBytes);
  return out;
}

std::vector<uint8_t> IECCITTEncodeBitmap(TIEBitmap& Bitmap, bool Group4, TIECodecProgress& Progress) {
  const int w = Bitmap.GetImageWidth(), h = Bitmap.GetImageHeight();
  TIEMemoryStream code;
  TIECCITTEncoderCarry carry;
  std::atomic<bool> localAbort{false};
  std::atomic<bool>& abort = Progress.Aborting ? *Progress.Aborting : localAbort;
  const double factor = h > 0 ? 100.0 / h : 0;
  for (int y = 0; y < h && !abort; ++y) {
    if (Group4) IECCITTEncodeT6Row(Bitmap.GetRowAddress(y), w, code, 1, abort, carry);
    else IECCITTEncodeT4Row(Bitmap.GetRowAddress(y), w, code, 1, abort, carry);
    Progress.Report(int(y * factor));
  }
  if (Group4) {
    IECCITTEncodeT6Row(nullptr, 0, code, 1, abort, carry);
  } else {
    IECCITTEncodeT4Row(nullptr, 0, code, 1, abort, carry);
    // the closing call leaves the last partial byte to its caller
    if (carry.pendingBits > 0) IEStreamWriteCheck(code, abort, &carry.pendingByte, 1);
  }
  const uint8_t* p = static_cast<const uint8_t*>(code.Memory());
  std::vector<uint8_t> out(p, p + code.GetSize());
  out.resize((out.size() + 3) / 4 * 4, 0);
  return out;
}

std::vector<uint8_t> IERunLengthBlock(const uint8_t* data, int length) {
  std::vector<uint8_t> out(size_t(IERunLengthEncodeBound(length)));
  out.resize(size_t(IERunLengthEncode(data, length, out.data())));
  return out;
}
