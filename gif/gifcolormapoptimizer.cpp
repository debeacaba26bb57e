#include "gifcolormapoptimizer.h"

#include <algorithm>

#include "gifextension.h"

namespace {

uint32_t SquaredDistance(const TGIFColor& a, const TGIFColor& b) {
  const int dr = a.Red - b.Red, dg = a.Green - b.Green, db = a.Blue - b.Blue;
  return uint32_t(dr * dr + dg * dg + db * db);
}

// The first of the `count` colours nearest to `c`.
int NearestColor(const TGIFPalette& colors, int count, const TGIFColor& c) {
  int best = 0;
  uint32_t bestDistance = UINT32_MAX;
  for (int i = 0; i < count; ++i) {
    const uint32_t d = SquaredDistance(colors[size_t(i)], c);
    if (d < bestDistance) {
      bestDistance = d;
      best = i;
    }
  }
  return best;
}

bool ByCountDescending(const THistogramEntry* a, const THistogramEntry* b) { return a->Count > b->Count; }

}  // namespace

// --- histogram ---

THistogram::THistogram(const TGIFColorMap& colorMap) : entries_(size_t(colorMap.Count())), colorCount_(colorMap.Count()) {
  for (int i = 0; i < colorCount_; ++i) {
    THistogramEntry& e = entries_[size_t(i)];
    e.OldIndex = i;
    e.Color = colorMap.Entries()[size_t(i)];
    list_.push_back(&e);
  }
}

bool THistogram::CountFrame(TGIFSubImage& frame) {
  if (frame.Empty()) return false;
  frames_.push_back(&frame);
  TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
  const bool transparent = frame.Transparent() && gce;
  const uint8_t transparentIndex = transparent ? uint8_t(gce->TransparentColorIndex()) : 0;
  bool showsTransparency = false, warned = false;
  for (uint8_t& p : frame.Pixels()) {
    if (transparent && p == transparentIndex) {
      showsTransparency = true;
      continue;
    }
    if (p >= colorCount_) {
      p = 0;
      if (!warned) frame.ReportWarning("Color not in color table");
      warned = true;
    }
    ++entries_[p].Count;
  }
  if (transparent && !showsTransparency) {
    gce->SetTransparent(false);
    gce->SetTransparentColorIndex(0);
    frame.SetTransparentFlag(false);
  }
  return showsTransparency;
}

int THistogram::DropUnused() {
  std::stable_sort(list_.begin(), list_.end(), ByCountDescending);
  auto firstUnused = std::find_if(list_.begin(), list_.end(), [](const THistogramEntry* e) { return e->Count == 0; });
  list_.erase(firstUnused, list_.end());
  colorCount_ = int(list_.size());
  return colorCount_;
}

void THistogram::RemapFrames(bool useTransparency, uint8_t newTransparentIndex) {
  uint8_t table[TGIFColorMap::kMaxColors] = {};
  for (const THistogramEntry* e : list_) table[e->OldIndex] = uint8_t(e->NewIndex);
  for (TGIFSubImage* frame : frames_) {
    TGIFGraphicControlExtension* gce = frame->GraphicControlExtension();
    const bool transparent = useTransparency && frame->Transparent() && gce;
    const uint8_t oldTransparent = transparent ? uint8_t(gce->TransparentColorIndex()) : 0;
    for (uint8_t& p : frame->Pixels()) p = transparent && p == oldTransparent ? newTransparentIndex : table[p];
    if (transparent) gce->SetTransparentColorIndex(newTransparentIndex);
  }
}

// --- optimizer ---

void TColorMapOptimizer::Run() {
  TGIFImage::TFrameChange change(image_);
  CountColors();
  for (auto& h : histograms_) {
    h->DropUnused();
    merged_.insert(merged_.end(), h->List().begin(), h->List().end());
  }
  // Without a counted frame there is no colour to keep, and the maps stay as they are.
  if (histograms_.empty()) return;
  MergeEqualColors();
  BuildColorMap();
  ApplyColorMap();
  for (auto& h : histograms_) h->RemapFrames(useTransparency_, newTransparentIndex_);
}

void TColorMapOptimizer::CountColors() {
  useTransparency_ = false;
  TGIFImageList& frames = image_.Images();
  if (image_.GlobalColorMap().Count() > 0) {
    auto global = std::make_unique<THistogram>(image_.GlobalColorMap());
    for (int i = 0; i < frames.Count(); ++i)
      if (!frames[i].Empty() && frames[i].ColorMap().Count() == 0 && global->CountFrame(frames[i]))
        useTransparency_ = true;
    if (global->HasFrames()) histograms_.push_back(std::move(global));
  }
  for (int i = 0; i < frames.Count(); ++i) {
    TGIFSubImage& frame = frames[i];
    if (frame.Empty() || frame.ColorMap().Count() == 0) continue;
    auto local = std::make_unique<THistogram>(frame.ColorMap());
    if (local->CountFrame(frame)) useTransparency_ = true;
    histograms_.push_back(std::move(local));
  }
}

void TColorMapOptimizer::MergeEqualColors() {
  std::stable_sort(merged_.begin(), merged_.end(), [](const THistogramEntry* a, const THistogramEntry* b) {
    return GIFColorValue(a->Color.Red, a->Color.Green, a->Color.Blue) >
           GIFColorValue(b->Color.Red, b->Color.Green, b->Color.Blue);
  });
  for (size_t run = 0; run < merged_.size();) {
    THistogramEntry* first = merged_[run];
    size_t next = run + 1;
    for (; next < merged_.size() && merged_[next]->Color == first->Color; ++next) {
      first->Count += merged_[next]->Count;
      merged_[next]->Count = 0;
      merged_[next]->MergedInto = first;
    }
    run = next;
  }
}

void TColorMapOptimizer::BuildColorMap() {
  std::stable_sort(merged_.begin(), merged_.end(), ByCountDescending);
  const int limit = useTransparency_ ? TGIFColorMap::kMaxColors - 1 : TGIFColorMap::kMaxColors;
  finalCount_ = 0;
  while (finalCount_ < limit && size_t(finalCount_) < merged_.size() && merged_[size_t(finalCount_)]->Count > 0)
    ++finalCount_;
  colorMap_.assign(size_t(finalCount_), TGIFColor{0, 0, 0});
  for (int i = 0; i < finalCount_; ++i) {
    merged_[size_t(i)]->NewIndex = i;
    colorMap_[size_t(i)] = merged_[size_t(i)]->Color;
  }
  // Colours that did not fit go to their nearest kept colour. The entries that gave their count to
  // an equal colour come after all counted ones, so the colour they follow has its index by then.
  for (size_t i = size_t(finalCount_); i < merged_.size(); ++i) {
    THistogramEntry* e = merged_[i];
    if (e->Count > 0 || !e->MergedInto)
      e->NewIndex = NearestColor(colorMap_, finalCount_, e->Color);
    else
      e->NewIndex = e->MergedInto->NewIndex;
  }
  if (useTransparency_) {
    newTransparentIndex_ = uint8_t(finalCount_);
    colorMap_.push_back(TGIFColor{0, 0, 0});
    ++finalCount_;
  }
}

void TColorMapOptimizer::ApplyColorMap() {
  TGIFGlobalColorMap& global = image_.GlobalColorMap();
  uint8_t& background = image_.Header().Screen().BackgroundIndex;
  const bool hadBackground = background < global.Count();
  const TGIFColor backgroundColor = hadBackground ? global.Entries()[background] : TGIFColor{0, 0, 0};
  TGIFImageList& frames = image_.Images();
  for (int i = 0; i < frames.Count(); ++i) frames[i].ColorMap().Clear();
  global.Clear();
  global.LoadFromPalette(colorMap_);
  global.SetSorted(true);
  // The logical screen's background keeps its colour as nearly as the new map allows.
  const int kept = useTransparency_ ? finalCount_ - 1 : finalCount_;
  background = hadBackground && kept > 0 ? uint8_t(NearestColor(colorMap_, kept, backgroundColor)) : 0;
}

void TGIFImage::UnifyColorMaps() {
  TColorMapOptimizer optimizer(*this);
  optimizer.Run();
}
