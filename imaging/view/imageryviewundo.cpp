// The image view's part of the processing component's undo: layer records, whole layer streams, and
// the layer an image snapshot goes back to.
#include <algorithm>
#include <cstring>
#include <exception>

#include "iebitmap.h"
#include "ielayer.h"
#include "ielayerstream.h"
#include "iestreams.h"
#include "ietextutils.h"
#include "imageryproc.h"
#include "imageryview.h"

namespace {
constexpr int kLayerRecordHeader = 4 + 16;  // the record's length and the layer's Id
}

TIEBitmap* TImageryView::UndoLayerBitmap(int index) {
  Layers[size_t(CurrentLayer)]->Bitmap = IEBitmap;
  return Layers[size_t(std::clamp(index, 0, int(Layers.size()) - 1))]->Bitmap;
}

bool TImageryView::WriteUndoState(TIEUndoSource kind, TIEStream& stream) {
  Layers[size_t(CurrentLayer)]->Bitmap = IEBitmap;
  switch (kind) {
    case ieuLayer:
    case ieuFullLayer:
      for (size_t i = 0; i < Layers.size(); ++i)
        Layers[i]->SaveToStream(stream, kind == ieuFullLayer && int(i) == CurrentLayer);
      return true;
    case ieuObjectsAndLayers:
      SaveLayersToStream(stream, kIELayersRawDump);
      return true;
    default:
      return false;
  }
}

void TImageryView::ReadUndoState(TIEUndoSource kind, TIEStream& stream) {
  switch (kind) {
    case ieuLayer:
    case ieuFullLayer:
      ReadLayerRecords(stream);
      break;
    case ieuObjectsAndLayers:
      LoadLayersFromStream(stream);
      break;
    default:
      break;
  }
}

void TImageryView::ReadLayerRecords(TIEStream& stream) {
  Layers[size_t(CurrentLayer)]->Bitmap = IEBitmap;
  const int64_t size = stream.GetSize();
  int64_t start = stream.GetPosition();
  while (start < size) {
    uint8_t head[kLayerRecordHeader];
    if (stream.Read(head, kLayerRecordHeader) != kLayerRecordHeader) break;
    const int32_t length = int32_t(IEReadU32LE(head));
    if (length < kLayerRecordHeader || length > size - start) break;
    TIELayer* target = nullptr;
    for (TIELayer* layer : Layers)
      if (IESameGUID(&layer->Id, head + 4)) {
        target = layer;
        break;
      }
    if (target) {
      stream.SetPosition(start);
      try {
        target->LoadFromStream(stream);
      } catch (const std::exception&) {
        break;  // a damaged record: what came before it stays restored
      }
    }
    start += length;
    stream.SetPosition(start);
  }
  UpdateView();
}
