#include "gifframeoptimizer.h"

#include <algorithm>
#include <cstring>

#include "gifextension.h"

namespace {

const char* const kOptimizing = "Optimizing...";
const int kMaxDelay = 0xFFFF;  // the graphic control extension's delay field holds 16 bits

// GIF disposal methods.
const int kDisposalNone = 0;      // not specified
const int kDisposalKeep = 1;      // leave the frame in place
const int kDisposalRestoreBackground = 2;
const int kDisposalRestorePrevious = 3;

int DisposalOf(const TGIFSubImage& frame) {
  const TGIFGraphicControlExtension* gce = frame.GraphicControlExtension();
  return gce ? gce->Disposal() : kDisposalNone;
}

int TransparentIndexOf(const TGIFSubImage& frame) {
  return frame.GraphicControlExtension() ? frame.GraphicControlExtension()->TransparentColorIndex() : 0;
}

bool UsesIndex(const TGIFSubImage& frame, int index) {
  const std::vector<uint8_t>& p = frame.Pixels();
  return std::find(p.begin(), p.end(), uint8_t(index)) != p.end();
}

void ClearTransparency(TGIFSubImage& frame) {
  if (TGIFGraphicControlExtension* gce = frame.GraphicControlExtension()) gce->SetTransparent(false);
  frame.SetTransparentFlag(false);
}

struct TRect {
  int left, top, right, bottom;  // right and bottom exclusive
  bool Empty() const { return right <= left || bottom <= top; }
  bool operator==(const TRect& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
};

TRect BoundsOf(const TGIFSubImage& frame) {
  return {frame.Left(), frame.Top(), frame.Left() + frame.Width(), frame.Top() + frame.Height()};
}

TRect Intersection(const TRect& a, const TRect& b) {
  return {std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right), std::min(a.bottom, b.bottom)};
}

TGIFGraphicControlExtension& EnsureGraphicControl(TGIFSubImage& frame) {
  if (TGIFGraphicControlExtension* gce = frame.GraphicControlExtension()) return *gce;
  return static_cast<TGIFGraphicControlExtension&>(
      *frame.AddExtension(std::make_unique<TGIFGraphicControlExtension>(&frame)));
}

// The optimizer's progress: `total` steps, reported as a percentage.
class TProgress {
 public:
  TProgress(TGIFImage& image, int total) : image_(image), total_(std::max(1, total)) {}
  void Step() { ++count_; }
  void Skip(int steps) { count_ += steps; }
  void Report() { image_.ReportProgress(ui::psRunning, int(int64_t(count_) * 100 / total_), false, kOptimizing); }

 private:
  TGIFImage& image_;
  int total_, count_ = 0;
};

}  // namespace

int FindSharedTransparentIndex(TGIFSubImage& frame) {
  TGIFImage* image = frame.Image();
  if (!image || frame.ColorMap().Count() > 0) return -1;
  TGIFImageList& frames = image->Images();
  for (int i = 0; i < frames.Count(); ++i) {
    TGIFSubImage& other = frames[i];
    if (&other == &frame || !other.Transparent() || !other.GraphicControlExtension() || other.ColorMap().Count() > 0)
      continue;
    const int index = TransparentIndexOf(other);
    // The spare index must not be a colour this frame shows.
    if (index < image->GlobalColorMap().Count() && !UsesIndex(frame, index)) return index;
  }
  return -1;
}

void MergeFrame(TGIFSubImage& frame, TGIFSubImage& previous) {
  if (frame.Empty() || previous.Empty()) return;
  const int previousDisposal = DisposalOf(previous);
  if (previousDisposal == kDisposalRestoreBackground || previousDisposal == kDisposalRestorePrevious) return;
  const TRect common = Intersection(BoundsOf(frame), BoundsOf(previous));
  if (common.Empty()) return;

  const bool wasTransparent = frame.Transparent() && frame.GraphicControlExtension();
  int target = wasTransparent ? TransparentIndexOf(frame) : -1;
  if (!wasTransparent) {
    const int local = frame.ColorMap().Count();
    const int global = frame.Image() ? frame.Image()->GlobalColorMap().Count() : 0;
    const bool room = local > 0 ? local < TGIFColorMap::kMaxColors
                                : global > 0 && global < TGIFColorMap::kMaxColors;
    if (!room) return;
  }

  TGIFColorMap& frameMap = frame.ActiveColorMap();
  TGIFColorMap& previousMap = previous.ActiveColorMap();
  const TGIFPalette& frameColors = frameMap.Entries();
  const TGIFPalette& previousColors = previousMap.Entries();
  const bool previousTransparent = previous.Transparent() && previous.GraphicControlExtension();
  const int previousTransparentIndex = TransparentIndexOf(previous);
  for (int y = common.top; y < common.bottom; ++y) {
    uint8_t* row = frame.PixelRow(y - frame.Top());
    const uint8_t* beneath = previous.PixelRow(y - previous.Top());
    for (int x = common.left; x < common.right; ++x) {
      uint8_t& p = row[x - frame.Left()];
      const uint8_t q = beneath[x - previous.Left()];
      if (p == target || (previousTransparent && q == previousTransparentIndex)) continue;
      bool same;
      if (&frameMap == &previousMap)
        same = p == q;
      else
        same = p < frameColors.size() && q < previousColors.size() && frameColors[p] == previousColors[q];
      if (!same) continue;
      if (target < 0) {
        target = FindSharedTransparentIndex(frame);
        if (target < 0) target = frameMap.AppendColor(0);
      }
      p = uint8_t(target);
    }
  }

  if (!wasTransparent && target >= 0) {
    TGIFGraphicControlExtension& gce = EnsureGraphicControl(frame);
    gce.SetTransparent(true);
    gce.SetTransparentColorIndex(target);
  }
}

void CropFrame(TGIFSubImage& frame) {
  if (frame.Empty() || !frame.Transparent() || !frame.GraphicControlExtension()) return;
  if (DisposalOf(frame) == kDisposalRestoreBackground) return;
  const uint8_t clear = uint8_t(TransparentIndexOf(frame));
  const int w = frame.Width(), h = frame.Height();
  int left = w, right = -1, top = h, bottom = -1;
  for (int y = 0; y < h; ++y) {
    const uint8_t* row = frame.PixelRow(y);
    for (int x = 0; x < w; ++x)
      if (row[x] != clear) {
        left = std::min(left, x);
        right = std::max(right, x);
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
  }
  if (right < 0) {
    // Nothing visible: the frame becomes empty but keeps its extensions (its delay among them).
    frame.Pixels().clear();
    frame.Pixels().shrink_to_fit();
    frame.SetFrameBounds(frame.Left(), frame.Top(), 0, 0);
    return;
  }
  const int cw = right - left + 1, ch = bottom - top + 1;
  if (cw == w && ch == h) return;
  std::vector<uint8_t> cut(size_t(cw) * size_t(ch));
  for (int y = 0; y < ch; ++y) std::memcpy(&cut[size_t(y) * size_t(cw)], frame.PixelRow(top + y) + left, size_t(cw));
  frame.SetFrameBounds(frame.Left() + left, frame.Top() + top, cw, ch);
  frame.Pixels() = std::move(cut);
}

void TGIFImage::OptimizeFrames(TGIFOptimizeOptions options, TGIFPaletteMode paletteMode, int /*paletteBits*/,
                               TGIFDitherStyle /*ditherStyle*/) {
  if (Empty()) return;
  // Checked before anything changes, so a refused call leaves the image as it was.
  if ((options & ooReduceColor) && !(options & ooCleanup) && paletteMode == gpGivenPalette)
    RaiseGIFError("Invalid reduction method");

  TFrameChange change(*this);
  ReportProgress(ui::psStarting, 0, false, kOptimizing);
  try {
    TProgress progress(*this, images_.Count() * 6);

    if (options & ooColorMap) {
      if (GlobalColorMap().Count() > 0) GlobalColorMap().SortByUse();
      for (int i = 0; i < images_.Count(); ++i) {
        progress.Step();
        if (images_[i].ColorMap().Count() > 0) {
          images_[i].ColorMap().SortByUse();
          progress.Report();
        }
      }
    }

    if (options & ooCleanup) {
      for (int i = 0; i < images_.Count(); ++i) {
        progress.Step();
        TGIFSubImage& frame = images_[i];
        if (frame.Transparent() && frame.GraphicControlExtension() && !UsesIndex(frame, TransparentIndexOf(frame)))
          ClearTransparency(frame);
        progress.Report();
      }
      // A frame that restores what lay beneath it needs no restoring when the next frame paints over
      // all of it with opaque pixels and does not itself return to the state this disposal left.
      for (int i = 0; i + 1 < images_.Count(); ++i) {
        progress.Step();
        TGIFSubImage& frame = images_[i];
        TGIFSubImage& next = images_[i + 1];
        const int disposal = DisposalOf(frame);
        if ((disposal == kDisposalRestoreBackground || disposal == kDisposalRestorePrevious) && !next.Empty() &&
            !next.Transparent() && DisposalOf(next) != kDisposalRestorePrevious) {
          const TRect mine = BoundsOf(frame);
          if (Intersection(mine, BoundsOf(next)) == mine)
            // "Leave in place" rather than "unspecified": some decoders carry an earlier frame's
            // disposal over to frames that leave it unspecified.
            frame.GraphicControlExtension()->SetDisposal(kDisposalKeep);
        }
        progress.Report();
      }
    } else {
      progress.Skip(2 * images_.Count());
    }

    if (options & ooMerge) {
      for (int b = images_.Count() - 1; b >= 1; --b) {
        progress.Step();
        int p = b - 1;
        while (p > 0 && DisposalOf(images_[p]) == kDisposalRestorePrevious) --p;
        MergeFrame(images_[b], images_[p]);
        progress.Report();
      }
    } else {
      progress.Skip(images_.Count());
    }

    if (options & ooCrop) {
      // The first frame stays whole: the parts of the screen that no frame has covered yet are
      // shown differently by different decoders (background colour, first palette entry or
      // transparent), while its transparent pixels are transparent everywhere.
      progress.Step();
      for (int b = images_.Count() - 1; b >= 1; --b) {
        progress.Step();
        TGIFSubImage& frame = images_[b];
        if (!frame.Empty() && frame.Transparent()) {
          const int delay = frame.GraphicControlExtension() ? frame.GraphicControlExtension()->Delay() : 0;
          CropFrame(frame);
          if (frame.Empty()) {
            // The time the empty frame stood on screen goes to the frame before it, whose picture
            // was showing all that time.
            if (delay > 0) {
              TGIFGraphicControlExtension& gce = EnsureGraphicControl(images_[b - 1]);
              gce.SetDelay(std::min(kMaxDelay, gce.Delay() + delay));
            }
            images_.Delete(b);
          }
        }
        progress.Report();
      }
    } else {
      progress.Skip(images_.Count());
    }

    progress.Skip(images_.Count());

    if (options & ooCleanup) {
      for (int idx = images_.Count() - 1; idx >= 0; --idx) {
        TGIFSubImage& frame = images_[idx];
        const bool single = images_.Count() == 1;
        std::vector<TGIFExtension*> drop;
        for (auto it = frame.Extensions().rbegin(); it != frame.Extensions().rend(); ++it) {
          TGIFExtension* extension = it->get();
          if (dynamic_cast<TGIFCommentExtension*>(extension) || dynamic_cast<TGIFTextExtension*>(extension) ||
              dynamic_cast<TGIFUnknownAppExtension*>(extension) ||
              (dynamic_cast<TGIFAppExtNSLoop*>(extension) && (idx != 0 || single)))
            drop.push_back(extension);
        }
        for (TGIFExtension* extension : drop) frame.RemoveExtension(extension);
        if (TGIFGraphicControlExtension* gce = frame.GraphicControlExtension()) {
          if ((gce->Delay() == 0 || single) && !gce->Transparent() && !gce->UserInput() &&
              (gce->Disposal() < kDisposalRestoreBackground || single))
            frame.RemoveExtension(gce);
        }
        if (frame.Empty() && frame.Extensions().empty()) images_.Delete(idx);
      }
      progress.Report();
    }
  } catch (...) {
    ReportProgress(ui::psEnding, 0, false, kOptimizing);
    throw;
  }
  ReportProgress(ui::psEnding, 100, false, kOptimizing);
}
