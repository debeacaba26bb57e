// The vector view's layers-and-objects stream (an int32 offset, the layer stream, the objects stream
// at the offset) and the vector view's part of the processing component's undo.
#include <cstdint>

#include "ielayerstream.h"
#include "ierecordio.h"
#include "iestreams.h"
#include "ievect.h"
#include "imageryproc.h"

namespace {

constexpr int kOffsetSize = 4;

// The objects part's offset from the format's first byte, read at the stream's position; -1 when it
// cannot lie after the offset field and a layer stream header within the stream.
int64_t ReadObjectsOffset(TIEStream& stream, int64_t start) {
  uint8_t field[kOffsetSize];
  if (stream.Read(field, kOffsetSize) != kOffsetSize) return -1;
  const int64_t offset = int32_t(IEReadU32LE(field));
  if (offset < kOffsetSize + kIELayersHeaderSize || offset > stream.GetSize() - start) return -1;
  return offset;
}

}  // namespace

void TImageryVect::SaveLayersAndObjectsToStream(TIEStream& stream, int formatCode) {
  const int64_t start = stream.GetPosition();
  TIERecordWriter field;
  field.I32(0);  // the offset, patched once the layers are written
  stream.WriteBuffer(field.b.data(), kOffsetSize);
  SaveLayersToStream(stream, formatCode);
  const int64_t objects = stream.GetPosition();
  if (objects - start > INT32_MAX) throw EWriteError("Layers too large for the layers-and-objects stream");
  field.b.clear();
  field.I32(int32_t(objects - start));
  stream.SetPosition(start);
  stream.WriteBuffer(field.b.data(), kOffsetSize);
  stream.SetPosition(objects);
  SaveObjectsToStream(stream);
}

bool TImageryVect::LoadLayersAndObjectsFromStream(TIEStream& stream) {
  const int64_t start = stream.GetPosition();
  const int64_t offset = ReadObjectsOffset(stream, start);
  // the objects part is looked at before the layers change: a stream without one changes nothing
  if (offset < 0) {
    stream.SetPosition(start);
    return false;
  }
  stream.SetPosition(start + offset);
  const bool objectsThere = IEObjectsStreamTest(stream);
  stream.SetPosition(start + kOffsetSize);
  if (!objectsThere || !LoadLayersFromStream(stream)) {
    stream.SetPosition(start);
    return false;
  }
  stream.SetPosition(start + offset);
  return LoadObjectsFromStream(stream);
}

bool TImageryVect::LoadLayersAndObjectsFromFile(const std::wstring& fileName) {
  if (fileName.empty()) return false;
  TIEWideFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  return LoadLayersAndObjectsFromStream(file);
}

bool IELayersAndObjectsStreamTest(TIEStream& stream) {
  const int64_t start = stream.GetPosition();
  const int64_t offset = ReadObjectsOffset(stream, start);
  bool ok = false;
  if (offset >= 0) {
    ok = IELayersStreamTest(stream);
    stream.SetPosition(start + offset);
    ok = ok && IEObjectsStreamTest(stream);
  }
  stream.SetPosition(start);
  return ok;
}

bool TImageryVect::WriteUndoState(TIEUndoSource kind, TIEStream& stream) {
  switch (kind) {
    case ieuObject:
      SaveObjectsToStream(stream);
      return true;
    case ieuObjectsAndLayers:
      SaveLayersAndObjectsToStream(stream, kIELayersCompressedDump);
      return true;
    default:
      return TImageryView::WriteUndoState(kind, stream);
  }
}

void TImageryVect::ReadUndoState(TIEUndoSource kind, TIEStream& stream) {
  switch (kind) {
    case ieuObject:
      LoadObjectsFromStream(stream);
      break;
    case ieuObjectsAndLayers:
      LoadLayersAndObjectsFromStream(stream);
      break;
    default:
      TImageryView::ReadUndoState(kind, stream);
      break;
  }
}
