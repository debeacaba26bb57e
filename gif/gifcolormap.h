// Colour maps of a GIF image: the header's global map and each frame's local map.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "gifbitmap.h"
#include "gifutil.h"

// A colour as 0x00BBGGRR.
inline uint32_t GIFColorValue(uint8_t r, uint8_t g, uint8_t b) { return r | (g << 8) | (uint32_t(b) << 16); }

// A new platform palette of `colors` (at most 256, each marked not to be collapsed onto another
// entry); null for none. The caller's to delete.
HPALETTE GIFMakePalette(const TGIFPalette& colors);

class TGIFColorMap {
 public:
  static constexpr int kMaxColors = 256;

  virtual ~TGIFColorMap() = default;
  void Clear();
  int Count() const { return int(entries_.size()); }
  const TGIFPalette& Entries() const { return entries_; }
  // Entries are ordered by falling use.
  bool Sorted() const { return sorted_; }
  void SetSorted(bool sorted) { sorted_ = sorted; }
  int BitsNeeded() const { return BitsForColors(Count()); }
  // Raises "Color table overflow" when the map is full.
  int AppendColor(uint32_t color);
  // Sorted maps search forward, others backward (so the later of two equal entries is found); -1 if none.
  int FindColor(uint32_t color) const;
  int FindOrAppend(uint32_t color);
  void RemoveColor(int index);
  // An index outside the map warns "Invalid color index" and uses 0; an empty map raises.
  uint32_t ColorAt(int index);
  void LoadFromPalette(const TGIFPalette& palette);  // at most 256 entries
  void LoadFromTable(const uint8_t* rgb, int count);  // red-green-blue triplets
  void LoadFromRGBQuads(const RGBQUAD* quads, int count);  // at most 256 entries
  // The colour table of the DIB section selected into `dc` (nothing when it has none).
  void LoadFromDIB(HDC dc);
  // A new platform palette of the entries (the caller's to delete); null for an empty map.
  HPALETTE MakePalette() const;
  void Assign(const TGIFColorMap& source);
  // Reorders the entries by falling use, rewriting the pixels that use the map and dropping unused
  // entries from the end; returns whether anything changed.
  virtual bool SortByUse();
  // Tells the map's owner that the entries changed (every change above does): the header's map drops
  // the image's palette, a frame's map its pictures too and signals a change of the image. Within a
  // change of the image's frames nothing is done: the change drops them at its end.
  virtual void NotifyChange() = 0;
  // Reads `count` entries of 3 bytes; raises "Premature end of data" when they are not all there.
  void ReadEntries(TGIFByteStream& stream, int count);
  // The entries, then black ones up to 2^BitsNeeded.
  void WriteTable(TGIFByteStream& stream) const;

 protected:
  virtual void ReportWarning(const std::string& message) = 0;
  // Adds to counts[i] the number of pixels of index i among the frames that use this map.
  virtual void CountUse(uint32_t counts[kMaxColors]) = 0;
  // Rewrites the pixels (and transparent indices) of those frames through newIndex.
  virtual void RemapPixels(const uint8_t newIndex[kMaxColors]) = 0;

 private:
  TGIFPalette entries_;
  bool sorted_ = false;
};

class TGIFHeader;
class TGIFSubImage;

class TGIFGlobalColorMap : public TGIFColorMap {
 public:
  explicit TGIFGlobalColorMap(TGIFHeader* header) : header_(header) {}
  bool SortByUse() override;  // nothing to sort while the image has no frames
  void NotifyChange() override;

 protected:
  void ReportWarning(const std::string& message) override;
  void CountUse(uint32_t counts[kMaxColors]) override;
  void RemapPixels(const uint8_t newIndex[kMaxColors]) override;

 private:
  TGIFHeader* header_;
};

class TGIFLocalColorMap : public TGIFColorMap {
 public:
  explicit TGIFLocalColorMap(TGIFSubImage* frame) : frame_(frame) {}
  void NotifyChange() override;

 protected:
  void ReportWarning(const std::string& message) override;
  void CountUse(uint32_t counts[kMaxColors]) override;
  void RemapPixels(const uint8_t newIndex[kMaxColors]) override;

 private:
  TGIFSubImage* frame_;
};
