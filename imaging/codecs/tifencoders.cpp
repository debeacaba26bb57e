// Row encoders of the bilevel and lossless TIFF compressions.
#include "tifencoders.h"

#include "iestreams.h"
#include "tifccitt.h"

namespace {

// The bytes a memory stream holds.
std::vector<uint8_t> StreamBytes(TIEMemoryStream& s) {
  const uint8_t* p = static_cast<const uint8_t*>(s.Memory());
  return std::vector<uint8_t>(p, p + s.GetSize());
}

}  // namespace

std::vector<uint8_t> IEFaxEncodeRows(const std::vector<const uint8_t*>& rows, int width, TIEFaxCoding coding,
                                     int fillOrder) {
  TIEMemoryStream s;
  std::atomic<bool> aborting{false};
  TIECCITTEncoderCarry carry;
  for (const uint8_t* row : rows) {
    switch (coding) {
      case ifcMH: IECCITTEncodeMHRow(row, width, s, fillOrder, aborting); break;
      case ifcT4_1D: IECCITTEncode1DRow(row, width, s, fillOrder, aborting, carry); break;
      case ifcT4_2D: IECCITTEncodeT4Row(row, width, s, fillOrder, aborting, carry); break;
      case ifcT6: IECCITTEncodeT6Row(row, width, s, fillOrder, aborting, carry); break;
    }
  }
  if (coding == ifcT4_2D && !rows.empty()) IECCITTEncodeT4Row(nullptr, width, s, fillOrder, aborting, carry);
  if (coding == ifcT6) IECCITTEncodeT6Row(nullptr, width, s, fillOrder, aborting, carry);
  if (carry.pendingBits > 0) s.Write(&carry.pendingByte, 1);
  return StreamBytes(s);
}

std::vector<uint8_t> IELZWEncodeRows(const std::vector<const uint8_t*>& rows, int rowBytes,
                                     TIETIFFLZWCompressor coder) {
  if (!coder) coder = IETIFFLZWCompress;
  TIEMemoryStream s;
  TIETIFFLZWEncoderState* state = nullptr;
  for (const uint8_t* row : rows) coder(row, rowBytes, s, state);
  if (state) coder(nullptr, 0, s, state);
  return StreamBytes(s);
}

std::vector<uint8_t> IEPackBitsEncodeRows(const std::vector<const uint8_t*>& rows, int rowBytes) {
  std::vector<uint8_t> out;
  for (const uint8_t* row : rows) IEPackBitsEncodeRow(row, rowBytes, out);
  return out;
}
