#include "gifcolormap.h"

#include <algorithm>
#include <numeric>

#include "gifextension.h"
#include "gifimage.h"

namespace {
TGIFColor ToColor(uint32_t c) { return {uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16)}; }

// A transparent frame's transparent index stays in its map even when no pixel shows it yet: sorting
// must not cut it off the end, or a later merge that fills pixels with it would point past the map.
void CountTransparentIndex(TGIFSubImage& frame, uint32_t counts[TGIFColorMap::kMaxColors]) {
  if (frame.Transparent() && frame.GraphicControlExtension())
    ++counts[frame.GraphicControlExtension()->TransparentColorIndex()];
}
}  // namespace

void TGIFColorMap::Clear() {
  entries_.clear();
  entries_.shrink_to_fit();
  sorted_ = false;
  NotifyChange();
}

int TGIFColorMap::AppendColor(uint32_t color) {
  if (Count() >= kMaxColors) RaiseGIFError("Color table overflow");
  entries_.push_back(ToColor(color));
  sorted_ = false;
  NotifyChange();
  return Count() - 1;
}

int TGIFColorMap::FindColor(uint32_t color) const {
  const TGIFColor c = ToColor(color);
  if (sorted_) {
    for (int i = 0; i < Count(); ++i)
      if (entries_[size_t(i)] == c) return i;
  } else {
    for (int i = Count() - 1; i >= 0; --i)
      if (entries_[size_t(i)] == c) return i;
  }
  return -1;
}

int TGIFColorMap::FindOrAppend(uint32_t color) {
  int i = FindColor(color);
  return i >= 0 ? i : AppendColor(color);
}

void TGIFColorMap::RemoveColor(int index) {
  if (index < 0 || index >= Count()) RaiseGIFError("Invalid color index");
  entries_.erase(entries_.begin() + index);
  sorted_ = false;
  NotifyChange();
}

uint32_t TGIFColorMap::ColorAt(int index) {
  if (index < 0 || index >= Count()) {
    ReportWarning("Invalid color index");
    if (Count() == 0) RaiseGIFError("Color table is empty");
    index = 0;
  }
  const TGIFColor& c = entries_[size_t(index)];
  return GIFColorValue(c.Red, c.Green, c.Blue);
}

void TGIFColorMap::LoadFromPalette(const TGIFPalette& palette) {
  if (palette.empty()) return;
  entries_.assign(palette.begin(), palette.begin() + std::min<size_t>(palette.size(), kMaxColors));
  sorted_ = false;
  NotifyChange();
}

void TGIFColorMap::LoadFromTable(const uint8_t* rgb, int count) {
  count = std::max(0, std::min(count, kMaxColors));
  entries_.resize(size_t(count));
  for (int i = 0; i < count; ++i) entries_[size_t(i)] = {rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]};
  sorted_ = false;
  NotifyChange();
}

void TGIFColorMap::LoadFromRGBQuads(const RGBQUAD* quads, int count) {
  count = std::max(0, std::min(count, kMaxColors));
  entries_.resize(size_t(count));
  for (int i = 0; i < count; ++i) entries_[size_t(i)] = {quads[i].rgbRed, quads[i].rgbGreen, quads[i].rgbBlue};
  sorted_ = false;
  NotifyChange();
}

void TGIFColorMap::LoadFromDIB(HDC dc) {
  RGBQUAD quads[kMaxColors];
  const UINT count = GetDIBColorTable(dc, 0, kMaxColors, quads);
  if (count > 0) LoadFromRGBQuads(quads, int(count));
}

HPALETTE TGIFColorMap::MakePalette() const { return GIFMakePalette(entries_); }

HPALETTE GIFMakePalette(const TGIFPalette& colors) {
  if (colors.empty()) return nullptr;
  const size_t count = std::min<size_t>(colors.size(), TGIFColorMap::kMaxColors);
  std::vector<uint8_t> storage(sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY));
  auto* log = reinterpret_cast<LOGPALETTE*>(storage.data());
  log->palVersion = 0x300;
  log->palNumEntries = WORD(count);
  for (size_t i = 0; i < count; ++i)
    log->palPalEntry[i] = PALETTEENTRY{colors[i].Red, colors[i].Green, colors[i].Blue, PC_NOCOLLAPSE};
  return CreatePalette(log);
}

void TGIFColorMap::Assign(const TGIFColorMap& source) {
  entries_ = source.entries_;
  sorted_ = source.sorted_;
  NotifyChange();
}

bool TGIFColorMap::SortByUse() {
  if (Count() < 2) return false;
  sorted_ = true;
  uint32_t counts[kMaxColors] = {};
  CountUse(counts);
  const int n = Count();
  std::vector<int> order(static_cast<size_t>(n));
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return counts[a] > counts[b]; });
  bool same = true;
  for (int i = 0; i < n; ++i) same = same && order[size_t(i)] == i;
  if (same) return false;
  uint8_t newIndex[kMaxColors];
  for (int i = 0; i < kMaxColors; ++i) newIndex[i] = uint8_t(i);  // indices beyond the map stay as they are
  TGIFPalette sorted(static_cast<size_t>(n));
  int used = n;
  for (int i = 0; i < n; ++i) {
    newIndex[order[size_t(i)]] = uint8_t(i);
    sorted[size_t(i)] = entries_[size_t(order[size_t(i)])];
    if (counts[order[size_t(i)]] == 0 && used == n) used = i;
  }
  RemapPixels(newIndex);
  sorted.resize(size_t(used));
  entries_ = std::move(sorted);
  NotifyChange();
  return true;
}

void TGIFColorMap::ReadEntries(TGIFByteStream& stream, int count) {
  std::vector<uint8_t> table(size_t(count) * 3);
  ReadStreamExact(stream, table.data(), table.size());
  LoadFromTable(table.data(), count);
}

void TGIFColorMap::WriteTable(TGIFByteStream& stream) const {
  const size_t total = size_t(1) << BitsNeeded();
  std::vector<uint8_t> table(total * 3, 0);
  for (size_t i = 0; i < entries_.size(); ++i) {
    table[3 * i] = entries_[i].Red;
    table[3 * i + 1] = entries_[i].Green;
    table[3 * i + 2] = entries_[i].Blue;
  }
  stream.Write(table.data(), table.size());
}

// --- global map: the frames without a local map use it ---

bool TGIFGlobalColorMap::SortByUse() {
  if (!header_->Image() || header_->Image()->Empty()) return false;
  return TGIFColorMap::SortByUse();
}

void TGIFGlobalColorMap::ReportWarning(const std::string& message) { header_->ReportWarning(message); }

void TGIFGlobalColorMap::NotifyChange() {
  if (TGIFImage* image = header_ ? header_->Image() : nullptr) image->ColorMapChanged(false);
}

void TGIFGlobalColorMap::CountUse(uint32_t counts[kMaxColors]) {
  // The logical screen's background colour is an entry of this map as well.
  if (header_->Screen().BackgroundIndex < Count()) ++counts[header_->Screen().BackgroundIndex];
  TGIFImageList& frames = header_->Image()->Images();
  for (int f = 0; f < frames.Count(); ++f)
    if (&frames[f].ActiveColorMap() == this) {
      for (uint8_t p : frames[f].Pixels()) ++counts[p];
      CountTransparentIndex(frames[f], counts);
    }
}

void TGIFGlobalColorMap::RemapPixels(const uint8_t newIndex[kMaxColors]) {
  uint8_t& background = header_->Screen().BackgroundIndex;
  if (background < Count()) background = newIndex[background];
  TGIFImageList& frames = header_->Image()->Images();
  for (int f = 0; f < frames.Count(); ++f) {
    TGIFSubImage& frame = frames[f];
    if (&frame.ActiveColorMap() != this) continue;
    for (uint8_t& p : frame.Pixels()) p = newIndex[p];
    if (frame.Transparent() && frame.GraphicControlExtension()) {
      auto* gce = frame.GraphicControlExtension();
      gce->SetTransparentColorIndex(newIndex[gce->TransparentColorIndex()]);
    }
  }
}

void TGIFLocalColorMap::ReportWarning(const std::string& message) { frame_->ReportWarning(message); }

void TGIFLocalColorMap::NotifyChange() {
  if (TGIFImage* image = frame_ ? frame_->Image() : nullptr) image->ColorMapChanged(true);
}

void TGIFLocalColorMap::CountUse(uint32_t counts[kMaxColors]) {
  for (uint8_t p : frame_->Pixels()) ++counts[p];
  CountTransparentIndex(*frame_, counts);
}

void TGIFLocalColorMap::RemapPixels(const uint8_t newIndex[kMaxColors]) {
  for (uint8_t& p : frame_->Pixels()) p = newIndex[p];
  if (frame_->Transparent() && frame_->GraphicControlExtension()) {
    auto* gce = frame_->GraphicControlExtension();
    gce->SetTransparentColorIndex(newIndex[gce->TransparentColorIndex()]);
  }
}
