// The layer stream of the image view: a 25-byte header, one property record per layer, then one
// image per layer at the offset its record holds. Every count, length and offset read from a stream
// is checked against the bytes the stream still holds before it is used.
#include "ielayerstream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "iebitmap.h"
#include "ielayer.h"
#include "ierecordio.h"
#include "iestreams.h"
#include "iezlib.h"
#include "imageryio.h"
#include "imageryview.h"

namespace {

// Bounds on what a stream may ask for. A record takes at least 43 bytes (version 2 layout), so the
// count is also limited by the bytes that follow the header.
constexpr int32_t kMaxLayerCount = 65536;
constexpr int kMinRecordSize = 43;
// Positions and display sizes beyond this are not images anyone drew: merging them would ask for a
// bitmap of that extent.
constexpr int32_t kMaxLayerExtent = 1 << 24;
constexpr int kInflateChunk = 1 << 16;

class ELayerStreamError : public EIEError {
 public:
  using EIEError::EIEError;
};

[[noreturn]] void Invalid(const char* what) { throw ELayerStreamError(std::string("Invalid layer stream: ") + what); }

int64_t BytesLeft(TIEStream& s) { return std::max<int64_t>(0, s.GetSize() - s.GetPosition()); }

// A layer image in a file format; never a stream of layers or objects again, which would nest without end.
bool ValidFormatCode(int32_t code) {
  if (code == iffIEV || code == iffLYR || code == iffALL) return false;
  return code == kIELayersCompressedDump || code == kIELayersRawDump || IECanReadFileType(code);
}

// The raw bitmap dump's fixed fields: magic, version and palette count, then (after the palette)
// width, height, format, all-255 flag, colour target, input range, four offsets, adjust flag,
// contrast and row alignment.
constexpr int kRawLead = 20;
constexpr int kRawFixedTail = 55;
constexpr int32_t kRawMaxPalette = 256;
constexpr int32_t kRawMaxAlignment = 1024;
constexpr int kAlphaRowAlignment = 32;

// Reads exactly `count` more inflated bytes onto `out`, growing it only by what the data gives.
void InflateMore(TZDecompressionStream& z, std::vector<uint8_t>& out, uint64_t count) {
  while (count > 0) {
    const int32_t step = int32_t(std::min<uint64_t>(count, kInflateChunk));
    const size_t at = out.size();
    out.resize(at + size_t(step));
    if (z.Read(out.data() + at, step) != step) Invalid("image data short of its declared size");
    count -= uint64_t(step);
  }
}

// The inflated raw dump of a layer. The dump declares its own size (header, rows, alpha rows), so
// inflation stops there: a block that holds more, or declares more than a dump may be, is refused
// before its content is produced.
std::vector<uint8_t> InflateRawDump(const std::vector<uint8_t>& packed) {
  TIEMemStream source(packed.data(), int64_t(packed.size()));
  TZDecompressionStream z(source);
  std::vector<uint8_t> out;
  InflateMore(z, out, kRawLead);
  const int32_t paletteCount = int32_t(IEReadU32LE(out.data() + 16));
  if (paletteCount < 0 || paletteCount > kRawMaxPalette) Invalid("image palette");
  InflateMore(z, out, uint64_t(paletteCount) * 3 + kRawFixedTail);
  const uint8_t* f = out.data() + kRawLead + size_t(paletteCount) * 3;
  const int32_t width = int32_t(IEReadU32LE(f)), height = int32_t(IEReadU32LE(f + 4));
  const uint8_t format = f[8];
  const int32_t alignment = int32_t(IEReadU32LE(f + kRawFixedTail - 4));
  if (width < 0 || height < 0 || !IEIsValidPixelFormat(format) || alignment <= 0 || alignment % 8 != 0 ||
      alignment > kRawMaxAlignment)
    Invalid("image header");
  const bool empty = width == 0 || height == 0 || format == ieNoFormat;
  const uint64_t rows = empty ? 0 : uint64_t(IERowLength(width, IEPixelFormatBitCount[format], alignment)) * uint64_t(height);
  const uint64_t alphaRows = empty ? 0 : uint64_t(IERowLength(width, 8, kAlphaRowAlignment)) * uint64_t(height);
  if (out.size() + rows + alphaRows + 2 > uint64_t(kIEZMaxInflatedSize)) Invalid("image size");
  InflateMore(z, out, rows + 1);
  if (out.back() == 1) InflateMore(z, out, alphaRows + 1);
  uint8_t beyond;
  if (z.Read(&beyond, 1) != 0) Invalid("image data beyond its declared size");
  return out;
}

// A layer's record fields that a stream of `version` carries, moved from one layer to another;
// nothing here can fail, so the view's layer 0 takes them at the very end of a load.
void TakeStoredFields(TIELayer* from, TIELayer* to, int32_t version) noexcept {
  to->Visible = from->Visible;
  to->BoxVisible = from->BoxVisible;
  to->Transparency = from->Transparency;
  to->PosX = from->PosX;
  to->PosY = from->PosY;
  to->ClipToImage = from->ClipToImage;
  to->Locked = from->Locked;
  to->Magnify = from->Magnify;
  to->MagnifyFactor = from->MagnifyFactor;
  to->MagnifyShape = from->MagnifyShape;
  to->BlendOperation = from->BlendOperation;
  to->Width = from->Width;
  to->Height = from->Height;
  if (version > 2) {
    to->MagnifySource = from->MagnifySource;
    to->ResampleFilter = from->ResampleFilter;
    to->UseResampleFilter = from->UseResampleFilter;
    to->Name = std::move(from->Name);
    to->TakeUserData(*from);
    to->IsMask = from->IsMask;
  }
  if (version > 3) to->Selectable = from->Selectable;
  if (version > 5) to->DimOutside = from->DimOutside;
  to->ClientRect = RECT{0, 0, 0, 0};
}

}  // namespace

bool IELayersStreamTest(TIEStream& stream) {
  const int64_t pos = stream.GetPosition();
  uint8_t h[kIELayersHeaderSize];
  const int32_t got = stream.Read(h, kIELayersHeaderSize);
  stream.SetPosition(pos);
  return got == kIELayersHeaderSize && std::memcmp(h, kIELayersMagic, kIELayersMagicSize) == 0 &&
         int32_t(IEReadU32LE(h + 13)) > 0;
}

void TImageryView::SaveLayersToStream(TIEStream& stream, int formatCode) {
  if (formatCode == 1) formatCode = iffPNG;  // code 1 is kept for streams of PNG images
  Layers[size_t(CurrentLayer)]->Bitmap = IEBitmap;
  // every layer is made current in turn; the caller's current layer and setting come back, also when
  // writing fails
  struct Restore {
    TImageryView* v;
    int current;
    bool selectableOnly;
    ~Restore() {
      try {
        v->SetCurrentLayer(current);
      } catch (...) {
      }
      v->SelectableLayersOnly = selectableOnly;
    }
  } restore{this, CurrentLayer, SelectableLayersOnly};
  SelectableLayersOnly = false;

  TIERecordWriter head;
  head.Bytes(kIELayersMagic, kIELayersMagicSize);
  head.I32(kIELayersVersion);
  head.I32(formatCode);
  head.I32(int32_t(Layers.size()));
  stream.WriteBuffer(head.b.data(), int32_t(head.b.size()));

  std::vector<int64_t> slots;
  for (TIELayer* l : Layers) {
    TIERecordWriter w;
    w.Bool(l->Visible);
    w.Bool(l->BoxVisible);
    w.I32(l->Transparency);
    w.I32(l->PosX);
    w.I32(l->PosY);
    w.Bool(l->ClipToImage);
    w.Bool(l->Locked);
    w.Bool(l->Magnify);
    w.F64(l->MagnifyFactor);
    w.U8(l->MagnifyShape);
    w.U8(l->MagnifySource);
    w.U8(l->BlendOperation);
    w.I32(l->Width);
    w.I32(l->Height);
    w.U8(uint8_t(l->ResampleFilter));
    w.Bool(l->UseResampleFilter);
    w.I32(int32_t(l->Name.size()));
    w.Bytes(l->Name.data(), l->Name.size());
    w.I32(l->GetUserDataLength());
    if (l->GetUserDataLength() > 0) w.Bytes(l->GetUserData(), size_t(l->GetUserDataLength()));
    w.Bool(l->IsMask);
    w.Bool(l->Selectable);
    w.Bool(l->DimOutside);
    slots.push_back(stream.GetPosition() + int64_t(w.b.size()));
    w.Zeros(8);  // the image offset, filled in with the image
    stream.WriteBuffer(w.b.data(), int32_t(w.b.size()));
  }

  for (size_t i = 0; i < Layers.size(); ++i) {
    const int64_t p = stream.GetPosition();
    stream.SetPosition(slots[i]);
    TIERecordWriter offset;
    offset.I32(int32_t(uint32_t(uint64_t(p))));
    offset.I32(int32_t(uint32_t(uint64_t(p) >> 32)));
    stream.WriteBuffer(offset.b.data(), 8);
    stream.SetPosition(p);
    SetCurrentLayer(int(i));
    if (formatCode == kIELayersCompressedDump || formatCode == kIELayersRawDump) {
      std::vector<uint8_t> dump;
      IEBitmap->WriteRawImageStream(dump);
      TIEMemoryStream packed;
      const void* data = dump.data();
      size_t size = dump.size();
      if (formatCode == kIELayersCompressedDump) {
        TZCompressionStream z(packed, zcDefault);
        z.WriteBuffer(dump.data(), int32_t(dump.size()));
        z.Finish();
        data = packed.Memory();
        size = size_t(packed.GetSize());
      }
      if (size > size_t(INT32_MAX)) throw EWriteError("Layer image too large for the layer stream");
      TIERecordWriter n;
      n.I32(int32_t(size));
      stream.WriteBuffer(n.b.data(), 4);
      stream.WriteBuffer(data, int32_t(size));
    } else {
      TImageryIO* io = GetIO();
      const TIEPixelFormat f = IEBitmap->GetPixelFormat();
      io->Params.BitsPerSample = f == ie1g ? 1 : 8;
      io->Params.SamplesPerPixel = f == ie1g || f == ie8g ? 1 : 3;
      if (f != ie1g) io->Params.JPEGColorSpace = f == ie8g ? 1 : 2;
      io->SaveStreamAsFileType(stream, formatCode);
      if (io->Aborting) throw EWriteError("Layer image could not be written");
    }
    stream.Seek(0, soFromEnd);
  }
}

bool TImageryView::LoadLayersFromStream(TIEStream& stream) {
  const int64_t start = stream.GetPosition();
  uint8_t h[kIELayersHeaderSize];
  if (stream.Read(h, kIELayersHeaderSize) != kIELayersHeaderSize ||
      std::memcmp(h, kIELayersMagic, kIELayersMagicSize) != 0) {
    stream.SetPosition(start);
    return false;
  }
  const int32_t version = int32_t(IEReadU32LE(h + 13));
  const int32_t formatCode = int32_t(IEReadU32LE(h + 17));
  const int32_t count = int32_t(IEReadU32LE(h + 21));
  if (version < 1) {
    UpdateView();
    return false;
  }
  // checked before the view changes: a stream that cannot be read leaves the layers as they are
  if (count < 1 || count > kMaxLayerCount || int64_t(count) * kMinRecordSize > BytesLeft(stream) ||
      !ValidFormatCode(formatCode))
    return false;
  Layers[size_t(CurrentLayer)]->Bitmap = IEBitmap;

  // Every layer is read whole into layers of its own first; the view's layers are replaced only then,
  // so a stream that fails half-way (damaged, truncated, out of memory) loses nothing.
  std::vector<std::unique_ptr<TIELayer>> read;
  read.reserve(size_t(count));
  std::unique_ptr<TImageryIO> io;
  TIERecordReader r{stream};
  const int64_t streamSize = stream.GetSize();
  for (int32_t i = 0; i < count; ++i) {
    // Shaped like the layer it becomes (layer 0 like the view's, the others like a layer the view
    // would add: the working bitmap's format and location), at 1 x 1: the image read gives it its
    // own size, so the cost of a layer follows its image, not the picture on screen.
    read.emplace_back(new TIELayer(this, i == 0 ? Layers[0]->Bitmap : IEBitmap, 1, 1));
    TIELayer* l = read.back().get();
    l->Visible = r.Bool();
    l->BoxVisible = r.Bool();
    l->Transparency = r.I32();
    l->PosX = r.I32();
    l->PosY = r.I32();
    l->ClipToImage = r.Bool();
    l->Locked = r.Bool();
    l->Magnify = r.Bool();
    l->MagnifyFactor = r.F64();
    l->MagnifyShape = r.U8();
    if (version > 2) l->MagnifySource = r.U8();
    l->BlendOperation = r.U8();
    l->Width = r.I32();
    l->Height = r.I32();
    if (version > 2) {
      const uint8_t filter = r.U8();
      l->ResampleFilter = filter <= rfProjectWB ? TResampleFilter(filter) : rfNone;
      l->UseResampleFilter = r.Bool();
      if (!IEReadAnsiString(stream, l->Name)) Invalid("layer name");
      const int32_t dataLength = r.I32();
      if (dataLength < 0 || dataLength > BytesLeft(stream)) Invalid("user data length");
      if (dataLength > 0) {
        std::vector<uint8_t> data(static_cast<size_t>(dataLength));
        stream.ReadBuffer(data.data(), dataLength);
        l->SetUserData(data.data(), dataLength);
      }
      l->IsMask = r.Bool();
    }
    if (version > 3) l->Selectable = r.Bool();
    if (version > 5) l->DimOutside = r.Bool();
    const uint64_t low = uint32_t(r.I32()), high = uint32_t(r.I32());
    const uint64_t offset = low | (high << 32);
    if (l->Width < 0 || l->Height < 0 || l->Width > kMaxLayerExtent || l->Height > kMaxLayerExtent ||
        l->PosX < -kMaxLayerExtent || l->PosX > kMaxLayerExtent || l->PosY < -kMaxLayerExtent ||
        l->PosY > kMaxLayerExtent)
      Invalid("layer place");
    if (offset > uint64_t(streamSize)) Invalid("image offset");

    const int64_t afterRecord = stream.GetPosition();
    stream.SetPosition(int64_t(offset));
    if (formatCode == kIELayersCompressedDump || formatCode == kIELayersRawDump) {
      const int32_t n = r.I32();
      if (n <= 0 || n > BytesLeft(stream)) Invalid("image size");
      std::vector<uint8_t> data(static_cast<size_t>(n));
      stream.ReadBuffer(data.data(), n);
      if (formatCode == kIELayersCompressedDump) data = InflateRawDump(data);
      size_t at = 0;
      if (!l->Bitmap->ReadRawImageStream(data.data(), data.size(), &at)) Invalid("image");
    } else {
      if (!io) {
        io.reset(new TImageryIO(l->Bitmap));
        io->Params.Assign(GetIO()->Params);
      }
      io->AttachBitmap(l->Bitmap);
      const bool native = io->Params.IsNativePixelFormat;
      if (l->IsMask) io->Params.IsNativePixelFormat = true;  // a mask keeps its grey levels
      io->LoadStreamAsFileType(stream, formatCode);
      io->Params.IsNativePixelFormat = native;
      if (io->Aborting) Invalid("image");
    }
    stream.SetPosition(afterRecord);
  }
  std::vector<TIELayer*> replaced(Layers.begin() + 1, Layers.end());
  Layers.reserve(read.size());

  // The new set is whole: the swap below cannot fail. Layer 0 stays the view's own object (its
  // identity, rotation and the fields an older stream lacks) and takes the pixels and the fields read.
  TIELayer* first = Layers[0];
  first->SwapBitmap(*read[0]);
  TakeStoredFields(read[0].get(), first, version);
  Layers.resize(1);
  for (size_t i = 1; i < read.size(); ++i) Layers.push_back(read[i].release());
  CurrentLayer = int(Layers.size()) - 1;
  TakeLayerBitmap(Layers.back());
  for (TIELayer* l : replaced) delete l;
  read.clear();  // layer 0's former bitmap goes with the record it was swapped into
  if (io) {
    GetIO()->Params.Assign(io->Params);
  }
  if (IO) {
    IO->Params.Width = IO->Params.StoredWidth = Layers[0]->Bitmap->GetImageWidth();
    IO->Params.Height = IO->Params.StoredHeight = Layers[0]->Bitmap->GetImageHeight();
  }
  NotifyBitmapChangeHandlers();
  UpdateView();
  return true;
}

bool TImageryView::LoadLayersFromFile(const std::wstring& fileName) {
  TIEWideFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  return LoadLayersFromStream(file);
}
