#include "gifimage.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "gifcolorreduction.h"
#include "gifdecoder.h"
#include "gifencoder.h"
#include "gifextension.h"
#include "gifpainter.h"
#include "uibitmap.h"

TGIFPaletteMode GIFDefaultPaletteMode = gpWebSafe216;
int GIFDefaultPaletteBits = 8;
TGIFDitherStyle GIFDefaultDitherStyle = gdNearest;
TGIFCompression GIFDefaultCompression = gifLZW;
ui::TThreadPriority GIFDefaultThreadPriority = ui::tpNormal;
int GIFDefaultAnimationSpeed = 100;
bool GIFBuildBitmapsOnLoad = false;
bool GIFOptimizeOnStore = false;

namespace {

const uint8_t kImageSeparator = ',';
const uint8_t kExtensionIntroducer = '!';
const uint8_t kTrailer = ';';
const size_t kDescriptorSize = 10;
const size_t kScreenSize = 7;
// The most pixels one byte of LZW data can stand for: a 12-bit code names a string of at most 4096
// pixels. A frame larger than its data could ever fill is refused before anything is allocated.
const uint64_t kMaxPixelsPerDataByte = 4096;
// Pixels that one load may allocate beyond what the frames' data can fill: a truncated file keeps
// its cut frame, but many frames of little data cannot claim much memory each.
const uint64_t kMaxUnbackedPixels = 1 << 20;
// Colours of a 24-bit picture remembered while it becomes a frame, searched from the last hit.
const int kRecentColors = 8;

void StepBack(TGIFByteStream& stream) { stream.SetPosition(stream.Position() - 1); }

int ReadSkippingZeros(TGIFByteStream& stream) {
  int b;
  do b = ReadStreamByte(stream);
  while (b == 0);
  return b;
}

}  // namespace

// --- items ---

void TGIFItem::ReportWarning(const std::string& message) {
  if (image_) image_->ReportWarning(this, 1, message);
}

void TGIFItem::WriteToFile(const std::wstring& fileName) {
  TGIFFileStream file(fileName, TGIFFileStream::Mode::Create);
  SaveToStream(file);
}

void TGIFItem::ReadFromFile(const std::wstring& fileName) {
  TGIFFileStream file(fileName, TGIFFileStream::Mode::Read);
  LoadFromStream(file);
}

// --- header ---

void TGIFHeader::Assign(const TGIFHeader& source) {
  TGIFImage::TFrameChange change(Image());
  screen_ = source.screen_;
  colorMap_.Assign(source.colorMap_);
}

void TGIFHeader::Assign(const TGIFColorMap& map) {
  TGIFImage::TFrameChange change(Image());
  Clear();
  colorMap_.Assign(map);
}

void TGIFHeader::Clear() {
  TGIFImage::TFrameChange change(Image());
  screen_ = TGIFLogicalScreen();
  colorMap_.Clear();
}

void TGIFHeader::Prepare() {
  const int globalBits = colorMap_.BitsNeeded();
  const int maxBits = Image() ? Image()->BitsPerPixel() : globalBits;
  uint8_t packed = uint8_t(((maxBits - 1) & 7) << 4);
  if (colorMap_.Count() > 0) {
    packed |= 0x80;
    if (colorMap_.Sorted()) packed |= 0x08;
    packed |= uint8_t((globalBits - 1) & 7);
  } else {
    packed |= uint8_t((maxBits - 1) & 7);
  }
  screen_.Packed = packed;
}

void TGIFHeader::SaveToStream(TGIFByteStream& stream) {
  const int version = Image() ? Image()->RequiredVersion() : 1;
  if (version == 0) RaiseGIFError("Unsupported GIF version");
  stream.Write(version == 1 ? "GIF87a" : "GIF89a", 6);
  Prepare();
  uint8_t s[kScreenSize];
  WriteU16LE(s, screen_.Width);
  WriteU16LE(s + 2, screen_.Height);
  s[4] = screen_.Packed;
  s[5] = screen_.BackgroundIndex;
  s[6] = screen_.AspectRatio;
  stream.Write(s, kScreenSize);
  if (screen_.Packed & 0x80) colorMap_.WriteTable(stream);
}

void TGIFHeader::LoadFromStream(TGIFByteStream& stream) {
  const uint64_t start = stream.Position();
  auto isGif = [](const uint8_t* sig) {
    return std::toupper(sig[0]) == 'G' && std::toupper(sig[1]) == 'I' && std::toupper(sig[2]) == 'F';
  };
  uint8_t sig[6];
  ReadStreamExact(stream, sig, 6);
  if (!isGif(sig)) {
    // Some files carry a 4-byte prefix before the signature.
    stream.SetPosition(start + 4);
    ReadStreamExact(stream, sig, 6);
    if (!isGif(sig)) RaiseGIFError("Invalid GIF signature");
  }
  uint8_t s[kScreenSize];
  ReadStreamExact(stream, s, kScreenSize);
  screen_.Width = ReadU16LE(s);
  screen_.Height = ReadU16LE(s + 2);
  screen_.Packed = s[4];
  screen_.BackgroundIndex = s[5];
  screen_.AspectRatio = s[6];
  if (screen_.Packed & 0x80)
    colorMap_.ReadEntries(stream, 2 << (screen_.Packed & 7));
  else
    colorMap_.Clear();
}

// --- frame ---

TGIFSubImage::TGIFSubImage(TGIFImage* image) : TGIFItem(image), colorMap_(this) {}

TGIFSubImage::~TGIFSubImage() { extensions_.clear(); }

void TGIFSubImage::Clear() {
  TGIFImage::TFrameChange change(Image());
  extensions_.clear();
  colorMap_.Clear();
  pixels_.clear();
  pixels_.shrink_to_fit();
  descriptor_.Width = descriptor_.Height = 0;
  transparent_ = false;
  graphicControl_ = nullptr;
}

void TGIFSubImage::SetFrameBounds(int left, int top, int width, int height) {
  TGIFImage::TFrameChange change(Image());
  const bool resized = width != descriptor_.Width || height != descriptor_.Height;
  descriptor_.Left = uint16_t(left);
  descriptor_.Top = uint16_t(top);
  descriptor_.Width = uint16_t(width);
  descriptor_.Height = uint16_t(height);
  if (resized) AllocPixels();
  TGIFImage* image = Image();
  if (!image) return;
  TGIFLogicalScreen& screen = image->Header().Screen();
  const int right = std::min(0xFFFF, Left() + Width()), bottom = std::min(0xFFFF, Top() + Height());
  if (right > screen.Width) {
    if (screen.Width != 0) ReportWarning("Image width too small for contained frames");
    screen.Width = uint16_t(right);
    ReportWarning("Image exceeds Logical Screen size");
  }
  if (bottom > screen.Height) {
    if (screen.Height != 0) ReportWarning("Image height too small for contained frames");
    screen.Height = uint16_t(bottom);
    ReportWarning("Image exceeds Logical Screen size");
  }
}

bool TGIFSubImage::Empty() const { return pixels_.empty() || Width() == 0 || Height() == 0; }

void TGIFSubImage::AllocPixels() {
  pixels_.clear();
  pixels_.shrink_to_fit();
  const uint64_t n = uint64_t(Width()) * uint64_t(Height());
  if (n > TGIFImage::kMaxFramePixels) RaiseGIFError("Image dimensions too large");
  pixels_.assign(size_t(n), 0);
}

uint8_t* TGIFSubImage::PixelRow(int y) {
  if (y < 0 || y >= Height()) RaiseGIFError("Invalid pixel coordinates");
  if (pixels_.empty()) AllocPixels();
  if (pixels_.empty()) RaiseGIFError("Image is empty");
  return pixels_.data() + size_t(y) * size_t(Width());
}

uint8_t TGIFSubImage::PixelAt(int x, int y) {
  if (x < 0 || x >= Width()) RaiseGIFError("Invalid pixel coordinates");
  return PixelRow(y)[x];
}

TGIFColorMap& TGIFSubImage::ActiveColorMap() {
  if (colorMap_.Count() > 0) return colorMap_;
  if (Image() && Image()->GlobalColorMap().Count() > 0) return Image()->GlobalColorMap();
  return colorMap_;
}

int TGIFSubImage::RequiredVersion() const { return colorMap_.Sorted() || !extensions_.empty() ? 2 : 1; }

void TGIFSubImage::SetInterlaced(bool on) {
  descriptor_.Packed = uint8_t((descriptor_.Packed & ~0x40) | (on ? 0x40 : 0));
}

TGIFExtension* TGIFSubImage::AddExtension(std::unique_ptr<TGIFExtension> extension) {
  TGIFImage::TFrameChange change(Image());
  extensions_.push_back(std::move(extension));
  return extensions_.back().get();
}

void TGIFSubImage::RemoveExtension(TGIFExtension* extension) {
  TGIFImage::TFrameChange change(Image());
  auto it = std::find_if(extensions_.begin(), extensions_.end(),
                         [&](const std::unique_ptr<TGIFExtension>& e) { return e.get() == extension; });
  if (it != extensions_.end()) extensions_.erase(it);
}

void TGIFSubImage::Assign(const TGIFSubImage& source) {
  if (&source == this) return;
  TGIFImage::TFrameChange change(Image());
  Clear();
  if (source.Empty()) return;
  descriptor_ = source.descriptor_;
  transparent_ = source.transparent_;
  pixels_ = source.pixels_;
  colorMap_.Assign(source.colorMap_);
  TGIFMemoryStream buffer;
  for (const auto& extension : source.extensions_) extension->SaveToStream(buffer);
  buffer.SetPosition(0);
  LoadExtensions(buffer);
}

void TGIFSubImage::Assign(const TGIFPixelSource& source) {
  TGIFImage::TFrameChange change(Image());
  Clear();
  if (source.Width() <= 0 || source.Height() <= 0) return;
  if (source.Width() > 0xFFFF || source.Height() > 0xFFFF) RaiseGIFError("Invalid image dimensions");
  SetFrameBounds(0, 0, source.Width(), source.Height());
  const int bits = source.BitsPerPixel();
  if (bits == 1 || bits == 4 || bits == 8) {
    CopyPixels(source, 32);
  } else {
    TGIFImage* image = Image();
    TGIFImage defaults;
    TGIFImage& settings = image ? *image : defaults;
    const TGIFPalette* given = settings.GivenPalette.empty() ? nullptr : &settings.GivenPalette;
    std::unique_ptr<TGIFBitmap> reduced = MakePalettedBitmap(
        source, settings.PaletteMode, settings.DitherStyle, settings.PaletteBits(), given);
    // An unusable palette mode or dither style leaves the frame blank (index 0, no colour map).
    if (!reduced->Empty()) CopyPixels(*reduced, 32);
  }
  if (source.MaskRow(0)) {
    std::vector<uint8_t> mask(pixels_.size());
    for (int y = 0; y < Height(); ++y) std::memcpy(&mask[size_t(y) * size_t(Width())], source.MaskRow(y), size_t(Width()));
    AddTransparencyMask(mask.data(), size_t(Width()));
  }
}

void TGIFSubImage::CopyPixels(const TGIFPixelSource& picture, int reportEveryRows) {
  TGIFImage* image = Image();
  if (image) image->ReportProgress(ui::psStarting, 0, false, "Converting...");
  const int bits = picture.BitsPerPixel();
  const int w = Width(), h = Height();
  if (bits != 24) colorMap_.LoadFromPalette(picture.Palette());
  uint32_t recent[kRecentColors];
  uint8_t recentIndex[kRecentColors];
  int recentCount = 0, lastHit = 0;
  for (int y = 0; y < h; ++y) {
    const uint8_t* s = picture.Row(y);
    uint8_t* d = pixels_.data() + size_t(y) * size_t(w);
    switch (bits) {
      case 8: std::memcpy(d, s, size_t(w)); break;
      case 4:
        for (int x = 0; x < w; ++x) d[x] = uint8_t((s[x >> 1] >> ((x & 1) ? 0 : 4)) & 15);
        break;
      case 1:
        for (int x = 0; x < w; ++x) d[x] = uint8_t((s[x >> 3] >> (7 - (x & 7))) & 1);
        break;
      default:
        for (int x = 0; x < w; ++x) {
          const uint32_t c = GIFColorValue(s[3 * x + 2], s[3 * x + 1], s[3 * x]);
          int found = -1;
          for (int k = 0; k < recentCount && found < 0; ++k) {
            const int slot = (lastHit - k + kRecentColors) % kRecentColors;
            if (recent[slot] == c) found = slot;
          }
          if (found >= 0) {
            lastHit = found;
          } else {
            lastHit = (lastHit + 1) % kRecentColors;
            recent[lastHit] = c;
            recentIndex[lastHit] = uint8_t(colorMap_.FindOrAppend(c));
            recentCount = std::min(recentCount + 1, kRecentColors);
          }
          d[x] = recentIndex[lastHit];
        }
    }
    if (image && (y + 1) % reportEveryRows == 0)
      image->ReportProgress(ui::psRunning, int((y + 1) * 100LL / h), false, "Converting...");
  }
  if (image) image->ReportProgress(ui::psEnding, 100, false, "Converting...");
}

void TGIFSubImage::AddTransparencyMask(const uint8_t* mask, size_t stride) {
  colorMap_.SortByUse();
  const int count = colorMap_.Count();
  if (count < 1 || count > 255) return;
  const int index = colorMap_.AppendColor(0);
  bool any = false;
  for (int y = 0; y < Height(); ++y) {
    const uint8_t* m = mask + size_t(y) * stride;
    uint8_t* row = pixels_.data() + size_t(y) * size_t(Width());
    for (int x = 0; x < Width(); ++x)
      if (m[x]) {
        row[x] = uint8_t(index);
        any = true;
      }
  }
  if (!any) {
    colorMap_.RemoveColor(index);
    return;
  }
  auto gce = std::make_unique<TGIFGraphicControlExtension>(this);
  gce->SetTransparent(true);
  gce->SetTransparentColorIndex(index);
  AddExtension(std::move(gce));
}

// Bytes of image data in the sub-blocks after the code size byte (what the stream holds of them).
static uint64_t MeasureImageData(TGIFByteStream& stream) {
  const uint64_t start = stream.Position();
  uint64_t total = 0;
  if (ReadStreamByte(stream) >= 0) {
    for (int n = ReadStreamByte(stream); n > 0; n = ReadStreamByte(stream)) {
      const uint64_t present = std::min<uint64_t>(uint64_t(n), stream.Remaining());
      total += present;
      stream.SetPosition(stream.Position() + present);
    }
  }
  stream.SetPosition(start);
  return total;
}

void TGIFSubImage::DecodePixels(TGIFByteStream& stream) {
  const uint64_t n = uint64_t(Width()) * uint64_t(Height());
  if (n > TGIFImage::kMaxFramePixels) RaiseGIFError("Image dimensions exceed the data");
  const uint64_t backed = MeasureImageData(stream) * kMaxPixelsPerDataByte;
  if (n > backed) {
    uint64_t ownBudget = kMaxUnbackedPixels;
    uint64_t& budget = Image() ? Image()->unbackedPixelBudget_ : ownBudget;
    if (n - backed > budget) RaiseGIFError("Image dimensions exceed the data");
    budget -= n - backed;
  }
  pixels_.assign(size_t(n), 0);
  if (transparent_ && graphicControl_)
    std::fill(pixels_.begin(), pixels_.end(), uint8_t(graphicControl_->TransparentColorIndex()));
  const int codeSize = ReadStreamByte(stream);
  if (codeSize < 0) {
    ReportWarning("Premature end of data");
    return;
  }
  if (codeSize < 1 || codeSize > TGIFDecoder::kMaxCodeSize) {
    ReportWarning("Invalid GIF data");
    if (!SkipSubBlocks(stream)) ReportWarning("Premature end of data");
    return;
  }
  auto decoder = std::make_unique<TGIFDecoder>(stream, codeSize, [this](const std::string& m) { ReportWarning(m); });
  const int w = Width(), h = Height();
  bool complete = true;
  if (!Interlaced()) {
    for (size_t i = 0; i < pixels_.size(); ++i) {
      const int v = decoder->NextValue();
      if (v < 0) {
        complete = false;
        break;
      }
      pixels_[i] = uint8_t(v);
    }
  } else {
    int y = 0, pass = 0, step = 8;
    for (int r = 0; r < h && complete && y < h; ++r) {
      uint8_t* row = pixels_.data() + size_t(y) * size_t(w);
      for (int x = 0; x < w; ++x) {
        const int v = decoder->NextValue();
        if (v < 0) {
          complete = false;
          break;
        }
        row[x] = uint8_t(v);
      }
      y += step;
      while (y >= h && pass < 3) {
        if (pass > 0) step /= 2;
        ++pass;
        y = step / 2;
      }
    }
  }
  if (complete) decoder->NextValue();  // normally the end code
  decoder->SkipRest();
}

void TGIFSubImage::EncodePixels(TGIFByteStream& stream) {
  int bits, colors;
  if (colorMap_.Count() > 0) {
    bits = colorMap_.BitsNeeded();
    colors = colorMap_.Count();
  } else {
    bits = Image() ? Image()->BitsPerPixel() : 0;
    colors = 1 << bits;
  }
  std::unique_ptr<TGIFEncoder> encoder;
  if (Image() && Image()->Compression == gifRunLength)
    encoder = std::make_unique<TRLEEncoder>();
  else
    encoder = std::make_unique<TLZWEncoder>();
  encoder->Encode(stream, bits, colors, pixels_.empty() ? nullptr : pixels_.data(), Interlaced(), Height(), Width());
}

void TGIFSubImage::SaveToStream(TGIFByteStream& stream) {
  for (const auto& extension : extensions_) extension->SaveToStream(stream);
  if (Empty()) return;
  if (colorMap_.Count() > 0)
    descriptor_.Packed = uint8_t(((colorMap_.BitsNeeded() - 1) & 7) | 0x80 | (colorMap_.Sorted() ? 0x20 : 0));
  else
    descriptor_.Packed &= 0x40 | 0x10 | 0x08;
  uint8_t d[kDescriptorSize];
  d[0] = descriptor_.Separator;
  WriteU16LE(d + 1, descriptor_.Left);
  WriteU16LE(d + 3, descriptor_.Top);
  WriteU16LE(d + 5, descriptor_.Width);
  WriteU16LE(d + 7, descriptor_.Height);
  d[9] = descriptor_.Packed;
  stream.Write(d, kDescriptorSize);
  if (colorMap_.Count() > 0) colorMap_.WriteTable(stream);
  EncodePixels(stream);
}

void TGIFSubImage::LoadExtensions(TGIFByteStream& stream) {
  int b = ReadStreamByte(stream);
  while (b >= 0 && b != kImageSeparator && b != kTrailer) {
    if (b != kExtensionIntroducer) {
      ReportWarning("Invalid extension introducer");
      break;
    }
    StepBack(stream);
    std::unique_ptr<TGIFExtension> extension = CreateExtensionFor(stream, this);
    if (!extension) RaiseGIFError("Unknown extension type");
    extension->LoadFromStream(stream);
    AddExtension(std::move(extension));
    b = ReadStreamByte(stream);
  }
  if (b >= 0) StepBack(stream);
}

void TGIFSubImage::LoadFromStream(TGIFByteStream& stream) {
  TGIFImage::TFrameChange change(Image());
  Clear();
  descriptor_ = TGIFImageDescriptor();
  LoadExtensions(stream);
  const int next = ReadStreamByte(stream);
  if (next < 0 || next == kTrailer || next == 0) {
    if (next >= 0) StepBack(stream);
    return;
  }
  StepBack(stream);
  uint8_t d[kDescriptorSize];
  ReadStreamExact(stream, d, kDescriptorSize);
  descriptor_.Separator = d[0];
  descriptor_.Left = ReadU16LE(d + 1);
  descriptor_.Top = ReadU16LE(d + 3);
  descriptor_.Width = ReadU16LE(d + 5);
  descriptor_.Height = ReadU16LE(d + 7);
  descriptor_.Packed = d[9];
  if (descriptor_.Width == 0 || descriptor_.Height == 0) {
    descriptor_.Width = uint16_t(Image() ? Image()->Width() : 0);
    descriptor_.Height = uint16_t(Image() ? Image()->Height() : 0);
    ReportWarning("Image exceeds Logical Screen size");
  }
  if (descriptor_.Packed & 0x80) colorMap_.ReadEntries(stream, 2 << (descriptor_.Packed & 7));
  DecodePixels(stream);
}

// --- frame list ---

int TGIFImageList::Add(std::unique_ptr<TGIFSubImage> frame) {
  TGIFImage::TFrameChange change(image_);
  items_.push_back(std::move(frame));
  return Count() - 1;
}

void TGIFImageList::Delete(int index) {
  if (index < 0 || index >= Count()) RaiseGIFError("Invalid frame index");
  TGIFImage::TFrameChange change(image_);
  items_.erase(items_.begin() + index);
}

void TGIFImageList::Clear() {
  TGIFImage::TFrameChange change(image_);
  items_.clear();
}

void TGIFImageList::SaveToStream(TGIFByteStream& stream) {
  for (int i = 0; i < Count(); ++i) {
    items_[size_t(i)]->SaveToStream(stream);
    image_->ReportProgress(ui::psRunning, (i + 1) * 100 / Count(), false, "Saving...");
  }
}

void TGIFImageList::LoadFromStream(TGIFByteStream& stream) {
  int b = ReadSkippingZeros(stream);
  while (b >= 0 && b != kTrailer) {
    if (b != kExtensionIntroducer && b != kImageSeparator) {
      image_->ReportWarning(this, 1, "Unknown GIF block type");
      StepBack(stream);
      return;
    }
    StepBack(stream);
    auto frame = std::make_unique<TGIFSubImage>(image_);
    frame->LoadFromStream(stream);
    Add(std::move(frame));
    // Frames draw from their pixels; the one picture kept ready is the still one, made of frame 0.
    if (GIFBuildBitmapsOnLoad && Count() == 1 && image_->PaintableScreen()) image_->CompositeBitmap();
    const uint64_t size = stream.Size();
    image_->ReportProgress(ui::psRunning, size ? int(stream.Position() * 100 / size) : 100, GIFBuildBitmapsOnLoad,
                           "Loading...");
    b = ReadSkippingZeros(stream);
  }
  if (b == kTrailer) StepBack(stream);
}

// --- image ---

TGIFImage::TGIFImage() : header_(this), images_(this) { Clear(); }

TGIFImage::~TGIFImage() {
  StopPainters(true);
  *alive_ = false;
  // What is left are painters whose event handler frees the image (or a synchronous one up the
  // stack): they are stopped already and let go of the image here, under their list's lock.
  {
    ui::TList* list = painters_->LockList();
    for (int i = 0; i < list->Count(); ++i) static_cast<TGIFPainter*>(list->Get(i))->Detach();
    list->Clear();
    painters_->UnlockList();
  }
  drawPainter_ = nullptr;
  images_.Clear();
  ui::FreeAndNil(composite_);
  ui::FreeAndNil(animation_);
  DropPalettes();
}

void TGIFImage::Clear() {
  TFrameChange change(*this);
  images_.Clear();
  header_.Clear();
  header_.Prepare();
}

void TGIFImage::SetWidth(int width) {
  for (int i = 0; i < images_.Count(); ++i)
    if (images_[i].Left() + images_[i].Width() > width) RaiseGIFError("Image width too small for contained frames");
  if (width == Width()) return;
  {
    TFrameChange change(*this);
    header_.Screen().Width = uint16_t(width);
  }
  Changed();
}

void TGIFImage::SetHeight(int height) {
  for (int i = 0; i < images_.Count(); ++i)
    if (images_[i].Top() + images_[i].Height() > height) RaiseGIFError("Image height too small for contained frames");
  if (height == Height()) return;
  {
    TFrameChange change(*this);
    header_.Screen().Height = uint16_t(height);
  }
  Changed();
}

uint32_t TGIFImage::BackgroundColor() { return GlobalColorMap().ColorAt(header_.Screen().BackgroundIndex); }

int TGIFImage::RequiredVersion() const {
  int version = 0;
  for (int i = 0; i < images_.Count() && version < 2; ++i) version = std::max(version, images_[i].RequiredVersion());
  return version;
}

int TGIFImage::BitsPerPixel() {
  int bits = GlobalColorMap().BitsNeeded();
  for (int i = 0; i < images_.Count(); ++i) bits = std::max(bits, images_[i].ColorMap().BitsNeeded());
  return bits;
}

int TGIFImage::AddFrame(std::unique_ptr<TGIFSubImage> frame) {
  const int index = images_.Add(std::move(frame));
  Changed();
  return index;
}

int TGIFImage::AddFrame(const TGIFPixelSource& picture) { return AddFrameFrom(picture); }

void TGIFImage::Assign(const TGIFImage& source) {
  if (&source == this) return;
  TFrameChange change(*this);
  Clear();
  // While the frames are copied the source's handlers hear of it; the copy's own come back after.
  const TGIFWarningEvent ownWarning = WarningEvent;
  const ui::TProgressEvent ownProgress = OnProgress;
  WarningEvent = source.WarningEvent;
  OnProgress = source.OnProgress;
  auto restore = [&] {
    WarningEvent = ownWarning;
    OnProgress = ownProgress;
  };
  try {
    ReportProgress(ui::psStarting, 0, false, "Copying...");
    header_.Assign(source.header_);
    ThreadPriority = source.ThreadPriority;
    DrawBackgroundColor = source.DrawBackgroundColor;
    DrawOptions = source.DrawOptions;
    PaletteMode = source.PaletteMode;
    DitherStyle = source.DitherStyle;
    ForceFrame = source.ForceFrame;
    PaintStartEvent = source.PaintStartEvent;
    PaintEvent = source.PaintEvent;
    AfterPaintEvent = source.AfterPaintEvent;
    LoopEvent = source.LoopEvent;
    PaintEndEvent = source.PaintEndEvent;
    const int count = source.images_.Count();
    for (int i = 0; i < count; ++i) {
      auto frame = std::make_unique<TGIFSubImage>(this);
      frame->Assign(source.images_[i]);
      images_.Add(std::move(frame));
      ReportProgress(ui::psRunning, (i + 1) * 100 / count, false, "Copying...");
    }
    ReportProgress(ui::psEnding, 100, false, "Copying...");
  } catch (...) {
    ReportProgress(ui::psEnding, 0, false, "Copying...");
    restore();
    throw;
  }
  restore();
}

void TGIFImage::Assign(const TGIFPixelSource& picture) {
  {
    TFrameChange change(*this);
    Clear();
    AppendFrame(picture);
  }
  Changed();
}

void TGIFImage::LoadFromStream(TGIFByteStream& stream) {
  // Painters stop before anything is read: a holder that redraws at the progress starts none.
  TFrameChange change(*this);
  ReportProgress(ui::psStarting, 0, false, "Loading...");
  Clear();
  unbackedPixelBudget_ = kMaxUnbackedPixels;
  const uint64_t start = stream.Position();
  try {
    header_.LoadFromStream(stream);
    images_.LoadFromStream(stream);
    const int trailer = ReadStreamByte(stream);
    // A stream that ends where the trailer should be was cut short, even when every block it holds
    // is complete.
    if (trailer < 0) ReportWarning(this, 1, "Premature end of data");
    if (trailer >= 0 && trailer != kTrailer) ReportWarning(this, 1, "Invalid Image trailer");
  } catch (...) {
    stream.SetPosition(start);
    ReportProgress(ui::psEnding, 0, false, "Loading...");
    throw;
  }
  ReportProgress(ui::psEnding, 100, false, "Loading...");
}

void TGIFImage::SaveToStream(TGIFByteStream& stream) {
  ReportProgress(ui::psStarting, 0, false, "Saving...");
  try {
    header_.SaveToStream(stream);
    images_.SaveToStream(stream);
    WriteStreamByte(stream, kTrailer);
  } catch (...) {
    ReportProgress(ui::psEnding, 0, false, "Saving...");
    throw;
  }
  ReportProgress(ui::psEnding, 100, false, "Saving...");
}

void TGIFImage::LoadFromFile(const std::wstring& fileName) {
  TGIFFileStream file(fileName, TGIFFileStream::Mode::Read);
  LoadFromStream(file);
}

void TGIFImage::SaveToFile(const std::wstring& fileName) {
  TGIFFileStream file(fileName, TGIFFileStream::Mode::Create);
  SaveToStream(file);
}

void TGIFImage::ColorMapChanged(bool frameMap) {
  if (frameChanges_ > 0) return;
  ui::FreeAndNil(composite_);
  DropPalettes();
  if (frameMap) Changed();
}

void TGIFImage::SetPaletteBits(int bits) {
  if (bits < 3 || bits > 8) RaiseGIFError("Invalid Bits Per Pixel value");
  paletteBits_ = bits;
}

void TGIFImage::ReportWarning(const void* sender, int severity, const std::string& message) {
  if (WarningEvent) WarningEvent(sender, severity, message);
}

void TGIFImage::ReportProgress(ui::TProgressStage stage, int percent, bool redraw, const std::string& message) {
  const RECT whole = {0, 0, Width(), Height()};
  Progress(this, stage, uint8_t(std::max(0, std::min(percent, 100))), redraw, whole, message);
}
