// The imaging-component reader and writer: a platform stream over a library stream, the container and
// pixel format tables, row-by-row decoding through a format converter and row-by-row encoding.
#include "iewic.h"

#include <ocidl.h>

#include <cstring>
#include <vector>

#include "iecodeccommon.h"
#include "tifcontainer.h"
#include "tifexif.h"

namespace {

// ---- the platform stream over a library stream ----

// An IStream over a TIEStream that it does not own. Offsets count from the library stream's position
// when the wrapper was made, so a container inside a larger stream reads as a file of its own.
class TIEWICStream : public IStream {
 public:
  explicit TIEWICStream(TIEStream& s) : s_(s), base_(s.GetPosition()) {}
  virtual ~TIEWICStream() = default;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override {
    if (!out) return E_POINTER;
    if (riid == IID_IUnknown || riid == IID_ISequentialStream || riid == IID_IStream) {
      *out = static_cast<IStream*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
  ULONG STDMETHODCALLTYPE Release() override {
    const LONG n = InterlockedDecrement(&refs_);
    if (n == 0) delete this;
    return ULONG(n);
  }
  HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* done) override {
    int32_t got = 0;
    try {
      got = s_.Read(buffer, int32_t(count > 0x7FFFFFFF ? 0x7FFFFFFF : count));
    } catch (...) {
      return STG_E_READFAULT;
    }
    if (got < 0) got = 0;
    if (done) *done = ULONG(got);
    return ULONG(got) == count ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* done) override {
    int32_t put = 0;
    try {
      put = s_.Write(buffer, int32_t(count > 0x7FFFFFFF ? 0x7FFFFFFF : count));
    } catch (...) {
      return STG_E_WRITEFAULT;
    }
    if (put < 0) put = 0;
    if (done) *done = ULONG(put);
    return ULONG(put) == count ? S_OK : STG_E_MEDIUMFULL;
  }
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* pos) override {
    int64_t target;
    try {
      switch (origin) {
        case STREAM_SEEK_SET: target = base_ + move.QuadPart; break;
        case STREAM_SEEK_CUR: target = s_.GetPosition() + move.QuadPart; break;
        case STREAM_SEEK_END: target = s_.GetSize() + move.QuadPart; break;
        default: return STG_E_INVALIDFUNCTION;
      }
      if (target < base_) return STG_E_INVALIDFUNCTION;
      s_.SetPosition(target);
    } catch (...) {
      return STG_E_SEEKERROR;
    }
    if (pos) pos->QuadPart = uint64_t(target - base_);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override {
    try {
      s_.SetSize(base_ + int64_t(size.QuadPart));
    } catch (...) {
      return STG_E_MEDIUMFULL;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE CopyTo(IStream*, ULARGE_INTEGER, ULARGE_INTEGER*, ULARGE_INTEGER*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Commit(DWORD) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE Revert() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override {
    return STG_E_INVALIDFUNCTION;
  }
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* st, DWORD) override {
    if (!st) return E_POINTER;
    std::memset(st, 0, sizeof *st);
    st->type = STGTY_STREAM;
    try {
      const int64_t size = s_.GetSize() - base_;
      st->cbSize.QuadPart = uint64_t(size > 0 ? size : 0);
    } catch (...) {
      return STG_E_ACCESSDENIED;
    }
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE Clone(IStream**) override { return E_NOTIMPL; }

 private:
  TIEStream& s_;
  const int64_t base_;
  LONG refs_ = 1;
};

// Releases a COM pointer on every way out.
template <typename T>
class TComPtr {
 public:
  TComPtr() = default;
  ~TComPtr() { Reset(); }
  TComPtr(const TComPtr&) = delete;
  TComPtr& operator=(const TComPtr&) = delete;
  T** operator&() {
    Reset();
    return &p_;
  }
  T* operator->() const { return p_; }
  T* Get() const { return p_; }
  void Reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// ---- tables ----

// The component's own identifiers (stated here rather than taken from an import library).
const CLSID kFactoryClass = {0xCACAF262, 0x9370, 0x4615, {0xA1, 0x3B, 0x9F, 0x55, 0x39, 0xDA, 0x4C, 0x0A}};
const IID kFactoryInterface = {0xEC5EC8A9, 0xC395, 0x4314, {0x9C, 0x77, 0x54, 0xD7, 0xA9, 0x35, 0xFF, 0x70}};
const GUID kVendorMicrosoft = {0xF0E749CA, 0xEDEF, 0x4589, {0xA7, 0x3A, 0xEE, 0x0E, 0x62, 0x6A, 0x2A, 0x2B}};

struct TContainer {
  TIEFileFormatCode type;
  GUID decoder;    // passed as the preferred vendor when a decoder is chosen
  GUID container;  // GUID_NULL: no encoder
  bool encodes;
};
const TContainer kContainers[] = {
    {iffTIFF, {0xB54E85D9, 0xFE23, 0x499F, {0x8B, 0x88, 0x6A, 0xCE, 0xA7, 0x13, 0x75, 0x2B}},
     {0x163BCC30, 0xE2E9, 0x4F0B, {0x96, 0x1D, 0xA3, 0xE9, 0xFD, 0xB7, 0x88, 0xA3}}, true},
    {iffGIF, {0x381DDA3C, 0x9CE9, 0x4834, {0xA2, 0x3E, 0x1F, 0x98, 0xF8, 0xFC, 0x52, 0xBE}},
     {0x1F8A5601, 0x7D4D, 0x4CBD, {0x9C, 0x82, 0x1B, 0xC8, 0xD4, 0xEE, 0xB9, 0xA5}}, true},
    {iffJPEG, {0x9456A480, 0xE88B, 0x43EA, {0x9E, 0x73, 0x0B, 0x2D, 0x9B, 0x71, 0xB1, 0xCA}},
     {0x19E4A5AA, 0x5662, 0x4FC5, {0xA0, 0xC0, 0x17, 0x58, 0x02, 0x8E, 0x10, 0x57}}, true},
    {iffBMP, {0x6B462062, 0x7CBF, 0x400D, {0x9F, 0xDB, 0x81, 0x3D, 0xD1, 0x0F, 0x27, 0x78}},
     {0x0AF1D87E, 0xFCFE, 0x4188, {0xBD, 0xEB, 0xA7, 0x90, 0x64, 0x71, 0xCB, 0xE3}}, true},
    {iffICO, {0xC61BFCDF, 0x2E0F, 0x4AAD, {0xA8, 0xD7, 0xE0, 0x6B, 0xAF, 0xEB, 0xCD, 0xFE}}, GUID(), false},
    {iffPNG, {0x389EA17B, 0x5078, 0x4CDE, {0xB6, 0xEF, 0x25, 0xC1, 0x51, 0x75, 0xC7, 0x51}},
     {0x1B7CFAF4, 0x713F, 0x473C, {0xBB, 0xCD, 0x61, 0x37, 0x42, 0x5F, 0xAE, 0xAF}}, true},
    {iffHDP, {0xA26CEC36, 0x234C, 0x4950, {0xAE, 0x16, 0xE3, 0x4A, 0xAC, 0xE7, 0x1D, 0x0D}},
     {0x57A37CAA, 0x367A, 0x4540, {0x91, 0x6B, 0xF1, 0x83, 0xC5, 0x09, 0x3A, 0x4B}}, true},
};

const TContainer* ContainerOf(TIEFileFormatCode type) {
  for (const TContainer& c : kContainers)
    if (c.type == type) return &c;
  return nullptr;
}

// The platform's pixel formats share one identifier but for the last byte.
GUID PixelFormat(uint8_t last) {
  return GUID{0x6FDDC324, 0x4E03, 0x4BFE, {0xB1, 0x85, 0x3D, 0x77, 0x76, 0x8D, 0xC9, last}};
}
enum : uint8_t {
  kPF1bppIndexed = 0x01,
  kPF8bppIndexed = 0x04,
  kPFBlackWhite = 0x05,
  kPF8bppGray = 0x08,
  kPF16bppGray = 0x0B,
  kPF24bppBGR = 0x0C,
  kPF48bppRGB = 0x15,
  kPF32bppCMYK = 0x1C,
};

struct TPixelRoute {
  uint8_t source, target;
  TIEPixelFormat format;
};
// Native mode: the source's own format where the library has one; everything else becomes 24-bit.
const TPixelRoute kNativeRoutes[] = {
    {kPF1bppIndexed, kPF8bppIndexed, ie8p}, {kPF8bppIndexed, kPF24bppBGR, ie24RGB},
    {kPFBlackWhite, kPFBlackWhite, ie1g},   {kPF8bppGray, kPF8bppGray, ie8g},
    {kPF16bppGray, kPF16bppGray, ie16g},    {kPF24bppBGR, kPF24bppBGR, ie24RGB},
    {kPF48bppRGB, kPF48bppRGB, ieRGB48},    {kPF32bppCMYK, kPF32bppCMYK, ieCMYK},
};

bool WriteFormatOf(TIEPixelFormat f, GUID& out) {
  switch (f) {
    case ie1g: out = PixelFormat(kPFBlackWhite); return true;
    case ie8g: out = PixelFormat(kPF8bppGray); return true;
    case ie16g: out = PixelFormat(kPF16bppGray); return true;
    case ie24RGB: out = PixelFormat(kPF24bppBGR); return true;
    case ieCMYK: out = PixelFormat(kPF32bppCMYK); return true;
    case ieRGB48: out = PixelFormat(kPF48bppRGB); return true;
    default: return false;
  }
}

// OleInitialize for one reader or writer, balanced by its destructor.
bool OleStart() { return SUCCEEDED(OleInitialize(nullptr)); }

IWICImagingFactory* CreateFactory() {
  IWICImagingFactory* f = nullptr;
  if (FAILED(CoCreateInstance(kFactoryClass, nullptr, CLSCTX_INPROC_SERVER, kFactoryInterface,
                              reinterpret_cast<void**>(&f))))
    return nullptr;
  return f;
}

void InvertRow(uint8_t* row, size_t bytes) {
  for (size_t i = 0; i < bytes; ++i) row[i] = uint8_t(255 - row[i]);
}

enum TAvailability : int { kUnknown = -1, kNo = 0, kYes = 1 };

// HD Photo through the component, asked once: whether it has the decoder (and the encoder).
void ProbeHDPhoto(int& decoder, int& encoder) {
  const bool ole = OleStart();
  decoder = encoder = kNo;
  if (IWICImagingFactory* f = CreateFactory()) {
    TComPtr<IWICComponentInfo> info;
    if (SUCCEEDED(f->CreateComponentInfo(ContainerOf(iffHDP)->decoder, &info))) decoder = kYes;
    TComPtr<IWICBitmapEncoder> enc;
    if (SUCCEEDED(f->CreateEncoder(ContainerOf(iffHDP)->container, &kVendorMicrosoft, &enc))) encoder = kYes;
    f->Release();
  }
  if (ole) OleUninitialize();
}

int gDecoderAvailable = kUnknown, gEncoderAvailable = kUnknown;

}  // namespace

bool IEWICAvailable() {
  if (gDecoderAvailable == kUnknown) ProbeHDPhoto(gDecoderAvailable, gEncoderAvailable);
  return gDecoderAvailable == kYes;
}

bool IEWICHDPEncoderAvailable() { return IEWICAvailable() && gEncoderAvailable == kYes; }

// ---- reader ----

TIEWICReader::TIEWICReader() : DpiX(IEDefaultDPIX), DpiY(IEDefaultDPIY) {
  OleInitialized_ = OleStart();
  Factory_ = CreateFactory();
}

TIEWICReader::~TIEWICReader() {
  Close();
  if (Factory_) Factory_->Release();
  if (OleInitialized_) OleUninitialize();
}

bool TIEWICReader::IsAvailable() const { return Factory_ && IEWICAvailable(); }

bool TIEWICReader::Open(TIEStream& stream, TIEFileFormatCode fileType) {
  if (!IsAvailable()) return false;
  const TContainer* c = ContainerOf(fileType);
  if (!c) return false;
  Close();
  Stream_ = &stream;
  StreamPos_ = stream.GetPosition();
  auto* wrapper = new TIEWICStream(stream);
  const HRESULT hr =
      Factory_->CreateDecoderFromStream(wrapper, &c->decoder, WICDecodeMetadataCacheOnLoad, &Decoder_);
  wrapper->Release();
  if (FAILED(hr)) Decoder_ = nullptr;
  return Decoder_ != nullptr;
}

void TIEWICReader::Close() {
  if (Frame_) Frame_->Release();
  if (Decoder_) Decoder_->Release();
  Frame_ = nullptr;
  Decoder_ = nullptr;
}

int TIEWICReader::FrameWidth() const {
  UINT w = 0, h = 0;
  if (Frame_) Frame_->GetSize(&w, &h);
  return int(w);
}

int TIEWICReader::FrameHeight() const {
  UINT w = 0, h = 0;
  if (Frame_) Frame_->GetSize(&w, &h);
  return int(h);
}

bool TIEWICReader::DecodeSource(IWICBitmapSource* source, TIEBitmap& bitmap, bool native) {
  GUID src{};
  if (FAILED(source->GetPixelFormat(&src))) return false;
  const TPixelRoute* own = nullptr;
  for (const TPixelRoute& r : kNativeRoutes)
    if (src == PixelFormat(r.source)) own = &r;
  if (own && (native || own->source == kPFBlackWhite))
    return DecodeAs(source, src, PixelFormat(own->target), own->format, bitmap);
  if (DecodeAs(source, src, PixelFormat(kPF24bppBGR), ie24RGB, bitmap)) return true;
  // the component may lack the conversion to 24 bits (16-bit grey under Wine): the library makes it
  TIEBitmap decoded;
  if (!own || !DecodeAs(source, src, PixelFormat(own->target), own->format, decoded)) return false;
  decoded.ConvertPixelFormat(ie24RGB);
  if (decoded.GetPixelFormat() != ie24RGB) return false;
  bitmap.Assign(&decoded);
  return true;
}

bool TIEWICReader::DecodeAs(IWICBitmapSource* source, const GUID& src, const GUID& target, TIEPixelFormat format,
                            TIEBitmap& bitmap) {
  // A source already in the target format is read as it is: some components refuse a converter
  // between equal formats.
  TComPtr<IWICFormatConverter> conv;
  IWICBitmapSource* rows = source;
  if (src != target) {
    if (FAILED(Factory_->CreateFormatConverter(&conv)) ||
        FAILED(conv->Initialize(source, target, WICBitmapDitherTypeNone, nullptr, 0.0, WICBitmapPaletteTypeCustom)))
      return false;
    rows = conv.Get();
  }
  UINT w = 0, h = 0;
  if (FAILED(rows->GetSize(&w, &h)) || !IEImageSizeAllowed(w, h)) return false;
  TIEBitmap decoded;
  if (!decoded.Allocate(int(w), int(h), format)) return false;
  if (format == ie8p) {  // the source's own colours
    TComPtr<IWICPalette> palette;
    UINT count = 0;
    WICColor colours[256];
    if (SUCCEEDED(Factory_->CreatePalette(&palette)) && SUCCEEDED(source->CopyPalette(palette.Get())) &&
        SUCCEEDED(palette->GetColors(256, colours, &count)))
      for (UINT i = 0; i < count; ++i)
        decoded.SetPaletteEntry(int(i), TIERGB{uint8_t(colours[i]), uint8_t(colours[i] >> 8), uint8_t(colours[i] >> 16)});
  }
  const UINT rowLen = UINT(decoded.GetRowLength());
  for (UINT y = 0; y < h; ++y) {
    const WICRect r{0, INT(y), INT(w), 1};
    uint8_t* row = decoded.GetRowAddress(int(y));
    if (FAILED(rows->CopyPixels(&r, rowLen, rowLen, row))) return false;
    if (format == ieCMYK) InvertRow(row, size_t(w) * 4);
  }
  bitmap.Assign(&decoded);
  return true;
}

void TIEWICReader::ReadFrame(int index, TIEBitmap& bitmap, std::atomic<bool>* aborting, TIOParamsVals* params) {
  auto fail = [&] {
    if (aborting) *aborting = true;
  };
  if (!IsAvailable() || !Decoder_) return fail();
  UINT frames = 0;
  if (index < 0 || FAILED(Decoder_->GetFrameCount(&frames)) || UINT(index) >= frames) return fail();
  if (Frame_) Frame_->Release();
  Frame_ = nullptr;
  if (FAILED(Decoder_->GetFrame(UINT(index), &Frame_))) {
    Frame_ = nullptr;
    return fail();
  }
  Frame_->GetResolution(&DpiX, &DpiY);
  const bool native = !params || params->IsNativePixelFormat;
  // the embedded thumbnail when asked for and present; the frame when it is missing or unreadable
  TComPtr<IWICBitmapSource> thumbnail;
  const bool thumbnailDecoded = params && params->ReadThumbnail && SUCCEEDED(Frame_->GetThumbnail(&thumbnail)) &&
                                thumbnail.Get() && DecodeSource(thumbnail.Get(), bitmap, native);
  if (!thumbnailDecoded && !DecodeSource(Frame_, bitmap, native)) return fail();
  if (!params) return;
  if (Stream_) {  // the camera metadata of the TIFF-structured file
    const int64_t pos = Stream_->GetPosition();
    Stream_->SetPosition(StreamPos_);
    IELoadExifFromTIFFStream(*Stream_, *params);
    Stream_->SetPosition(pos);
  }
  const int channels = bitmap.GetChannelCount();
  params->BitsPerSample = channels ? bitmap.GetBitCount() / channels : 0;
  params->SamplesPerPixel = channels;
  params->StoredWidth = FrameWidth();
  params->StoredHeight = FrameHeight();
  params->Width = bitmap.GetImageWidth();
  params->Height = bitmap.GetImageHeight();
  params->SetDpiX(int(DpiX));
  params->SetDpiY(int(DpiY));
}

// ---- writer ----

TIEWICWriter::TIEWICWriter() : DpiX(IEDefaultDPIX), DpiY(IEDefaultDPIY) {
  OleInitialized_ = OleStart();
  Factory_ = CreateFactory();
}

TIEWICWriter::~TIEWICWriter() {
  Close();
  if (Factory_) Factory_->Release();
  if (OleInitialized_) OleUninitialize();
}

bool TIEWICWriter::Open(TIEStream& stream, TIEFileFormatCode fileType) {
  if (!IsAvailable()) return false;
  const TContainer* c = ContainerOf(fileType);
  if (!c || !c->encodes) return false;
  if (Encoder_) Encoder_->Release();
  Encoder_ = nullptr;
  if (FAILED(Factory_->CreateEncoder(c->container, &kVendorMicrosoft, &Encoder_))) {
    Encoder_ = nullptr;
    return false;
  }
  auto* wrapper = new TIEWICStream(stream);
  const HRESULT hr = Encoder_->Initialize(wrapper, WICBitmapEncoderNoCache);
  wrapper->Release();
  if (FAILED(hr)) {
    Encoder_->Release();
    Encoder_ = nullptr;
    return false;
  }
  return true;
}

namespace {

// One named option into the encoder's bag, as a variant of the given type; results are not examined:
// an encoder ignores the options it does not know.
void IEWICWriteProperty(IPropertyBag2* bag, const wchar_t* name, double value, VARTYPE type) {
  PROPBAG2 prop{};
  prop.dwType = PROPBAG2_TYPE_DATA;
  prop.vt = type;
  prop.pstrName = const_cast<LPOLESTR>(name);
  VARIANT v;
  VariantInit(&v);
  v.vt = type;
  switch (type) {
    case VT_R4: v.fltVal = float(value); break;
    case VT_BOOL: v.boolVal = value != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_UI1: v.bVal = BYTE(value); break;
    case VT_UI2: v.uiVal = USHORT(value); break;
    default: return;
  }
  bag->Write(1, &prop, &v);
}

}  // namespace

bool TIEWICWriter::WriteFrame(TIEBitmap& bitmap, const TIOParamsVals* params) {
  if (!Encoder_ || bitmap.IsEmpty()) return false;
  TComPtr<IWICBitmapFrameEncode> frame;
  TComPtr<IPropertyBag2> bag;
  if (FAILED(Encoder_->CreateNewFrame(&frame, &bag)) || !frame.Get() || !bag.Get()) return false;
  if (params) {
    DpiX = params->DpiX;
    DpiY = params->DpiY;
    ImageQuality = params->HDPImageQuality;
    Lossless = params->HDPLossless;
  }
  if (ImageQuality >= 0) IEWICWriteProperty(bag.Get(), L"ImageQuality", ImageQuality, VT_R4);
  if (CompressionQuality >= 0) IEWICWriteProperty(bag.Get(), L"CompressionQuality", CompressionQuality, VT_R4);
  IEWICWriteProperty(bag.Get(), L"Lossless", Lossless, VT_BOOL);
  if (UseCodecOptions) {
    IEWICWriteProperty(bag.Get(), L"UseCodecOptions", 1, VT_BOOL);
    IEWICWriteProperty(bag.Get(), L"Quality", Quality, VT_UI1);
    IEWICWriteProperty(bag.Get(), L"Overlap", Overlap, VT_UI1);
    IEWICWriteProperty(bag.Get(), L"Subsampling", Subsampling, VT_UI1);
  }
  IEWICWriteProperty(bag.Get(), L"HorizontalTileSlices", HorizontalTileSlices, VT_UI2);
  IEWICWriteProperty(bag.Get(), L"VerticalTileSlices", VerticalTileSlices, VT_UI2);
  IEWICWriteProperty(bag.Get(), L"FrequencyOrder", FrequencyOrder, VT_BOOL);
  IEWICWriteProperty(bag.Get(), L"TiffCompressionMethod", TiffCompressionMethod, VT_UI1);
  const int w = bitmap.GetImageWidth(), h = bitmap.GetImageHeight();
  GUID format{};
  if (!WriteFormatOf(bitmap.GetPixelFormat(), format)) return false;
  const GUID asked = format;
  if (FAILED(frame->Initialize(bag.Get())) || FAILED(frame->SetSize(UINT(w), UINT(h))) ||
      FAILED(frame->SetResolution(DpiX, DpiY)) || FAILED(frame->SetPixelFormat(&format)))
    return false;
  // an encoder that wants another layout would take our rows for something they are not
  if (format != asked) return false;
  const UINT rowLen = UINT(bitmap.GetRowLength());
  std::vector<uint8_t> copy;
  for (int y = 0; y < h; ++y) {
    uint8_t* row = bitmap.GetRowAddress(y);
    if (bitmap.GetPixelFormat() == ieCMYK) {  // the library keeps CMYK inverted
      copy.assign(row, row + rowLen);
      InvertRow(copy.data(), size_t(w) * 4);
      row = copy.data();
    }
    if (FAILED(frame->WritePixels(1, rowLen, rowLen, row))) return false;
  }
  return SUCCEEDED(frame->Commit());
}

bool TIEWICWriter::Close() {
  if (!Encoder_) return true;
  const bool ok = SUCCEEDED(Encoder_->Commit());
  Encoder_->Release();
  Encoder_ = nullptr;
  return ok;
}

// ---- codec entries ----

namespace {

constexpr uint32_t kMaxHDPhotoIFDEntries = 4096;

// The container's first directory must exist and the coded image (and alpha plane) it points at must
// lie inside the stream: the platform's decoder takes a cut-short file for a whole one.
bool HDPhotoDataPresent(TIEStream& stream) {
  const int64_t start = stream.GetPosition();
  const int64_t avail = stream.GetSize() - start;
  uint8_t head[8];
  if (avail < 8 || stream.Read(head, 8) != 8) return false;
  const uint32_t ifd = IEReadU32LE(head + 4);
  uint8_t n[2];
  stream.SetPosition(start + ifd);
  if (int64_t(ifd) + 2 > avail || stream.Read(n, 2) != 2) return false;
  const uint32_t count = IEReadU16LE(n);
  if (count == 0 || count > kMaxHDPhotoIFDEntries || int64_t(ifd) + 2 + 12 * int64_t(count) > avail) return false;
  std::vector<uint8_t> entries(size_t(count) * 12);
  if (stream.Read(entries.data(), int32_t(entries.size())) != int32_t(entries.size())) return false;
  uint64_t image = 0, imageBytes = 0, alpha = 0, alphaBytes = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t* e = entries.data() + 12 * i;
    const uint32_t value = IEReadU16LE(e + 2) == 3 ? IEReadU16LE(e + 8) : IEReadU32LE(e + 8);
    switch (IEReadU16LE(e)) {
      case 0xBC80: image = value; break;
      case 0xBC81: imageBytes = value; break;
      case 0xBCC0: alpha = value; break;
      case 0xBCC1: alphaBytes = value; break;
      default: break;
    }
  }
  return imageBytes > 0 && image + imageBytes <= uint64_t(avail) && alpha + alphaBytes <= uint64_t(avail);
}

}  // namespace

void IEHDPRead(TIEStream& stream, TIEBitmap& bitmap, TIOParamsVals& params, bool, TIECodecProgress& progress) {
  progress.Report(0);
  const int64_t start = stream.GetPosition();
  const bool whole = HDPhotoDataPresent(stream);
  stream.SetPosition(start);
  if (!whole) {
    progress.Abort();
    return;
  }
  {
    TIEWICReader reader;
    reader.Open(stream, iffHDP);
    reader.ReadFrame(params.ImageIndex, bitmap, progress.Aborting, &params);
  }
  progress.Report(100);
}

void IEHDPWrite(TIEStream& stream, TIEBitmap& bitmap, const TIOParamsVals& params, TIECodecProgress& progress) {
  if (!IEWICHDPEncoderAvailable()) {
    progress.Abort();
    return;
  }
  progress.Report(0);
  const int64_t start = stream.GetPosition();
  bool ok;
  {
    TIEWICWriter writer;
    ok = writer.Open(stream, iffHDP) && writer.WriteFrame(bitmap, &params);
    ok = writer.Close() && ok;
  }
  if (ok) {
    stream.SetPosition(start);
    ok = IEHDPUpdateTags(stream, params);
  }
  if (!ok) progress.Abort();
  progress.Report(100);
}

bool IEHDPUpdateTags(TIEStream& stream, const TIOParamsVals& params) {
  return IETIFFUpdateTags(&stream, &stream, std::wstring(), params, 0, std::wstring());
}
