// TIEImagingAnnot: the annotation marks of document-imaging TIFF files (tag 32932) — lines, texts,
// stamps, embedded images — kept as data: the TIFF reader loads the tag's bytes into it and the TIFF
// writer saves it back. Nothing in the library draws them.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class TIEImagingObject {
 public:
  static constexpr int kAttributesSize = 164;
  static constexpr int kFontHeightOffset = 48;  // the LOGFONT of the mark starts here

  uint8_t Attributes[kAttributesSize] = {};  // the mark attribute record, byte for byte
  std::vector<int32_t> Points;               // x, y pairs of line marks (types 3 and 4)
  std::string Text;                          // text marks (types 7 to 10)
  // Embedded image (type 1) as the packed device-independent bitmap the block carries; turning it
  // into a TIEBitmap and back is the image codec's business.
  std::vector<uint8_t> DIB;

  int32_t MarkType() const;
  int PointCount() const { return static_cast<int>(Points.size() / 2); }
};

// The creation scale our writer records, and the one a text mark of scale 0 is read with.
constexpr int32_t IEAnnotTextScale = 7500;

class TIEImagingAnnot {
 public:
  TIEImagingAnnot() = default;
  TIEImagingAnnot(const TIEImagingAnnot&) = delete;
  TIEImagingAnnot& operator=(const TIEImagingAnnot&) = delete;

  int Count() const { return static_cast<int>(objects_.size()); }
  TIEImagingObject& Object(int i) { return *objects_.at(i); }
  TIEImagingObject& AddObject();
  void Clear();
  void Assign(const TIEImagingAnnot* source);  // deep copy; nullptr does nothing
  bool Changed() const { return changed_; }
  void SetChanged(bool v) { changed_ = v; }

  // Appends the marks found. The parse stops at a block that does not fit in the buffer or claims a
  // negative size; what was read before stays.
  void LoadFromBuffer(const void* buffer, int32_t length);
  // A new block the caller frees with std::free; nullptr and 0 without objects.
  void SaveToBuffer(void*& buffer, int32_t& length) const;

 private:
  std::vector<std::unique_ptr<TIEImagingObject>> objects_;
  bool changed_ = false;
};
