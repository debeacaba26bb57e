// TIETIFFHandler: a whole TIFF structure held as data (every page's tags, their value blocks, the
// EXIF/GPS/interoperability sub-directories and the image data blocks the offsets tags point to), so
// tags can be looked up, set, copied between files and deleted, and the file written back.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "iestreams.h"

struct TIETIFFTag;
using TIETIFFTagList = std::vector<TIETIFFTag>;

// One directory entry. Value bytes stay in the file's byte order; the handler's byte-order flag says
// how to read them.
struct TIETIFFTag {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  uint8_t inlineValue[4] = {0, 0, 0, 0};  // a value of 4 bytes or less, as in the file
  std::vector<uint8_t> block;             // a longer value
  std::shared_ptr<TIETIFFTagList> subIFD;  // sub-directory tags (EXIF, GPS, interoperability)
  std::vector<std::vector<uint8_t>> dataBlocks;  // offsets tags: the data each element pointed to
};

class TIETIFFHandler {
 public:
  // Bounds on what a file may make us follow or allocate.
  static constexpr int kMaxSubIFDDepth = 4;
  static constexpr int kMaxPages = 65536;

  TIETIFFHandler() = default;
  TIETIFFHandler(const TIETIFFHandler&) = delete;
  TIETIFFHandler& operator=(const TIETIFFHandler&) = delete;
  static std::unique_ptr<TIETIFFHandler> CreateFromFile(const std::wstring& fileName);
  static std::unique_ptr<TIETIFFHandler> CreateFromStream(TIEStream& stream);

  bool LoadFromFile(const std::wstring& fileName);  // false when the file is missing or not a TIFF
  // Reads the header and the page chain from the stream's position (offsets count from position 0).
  // False when the header is not a TIFF header; unreadable entries are dropped, not trusted.
  bool ReadStream(TIEStream& stream);
  void Clear();

  bool BigEndian() const { return bigEndian_; }
  uint16_t Magic() const { return magic_; }
  int PagesCount() const { return static_cast<int>(pages_.size()); }
  TIETIFFTagList* Page(int page);  // nullptr outside 0..count-1

  int FindTag(int page, uint16_t tag);  // -1 when absent (also for a missing page)
  static int FindTagInList(const TIETIFFTagList& list, uint16_t tag);
  // Integer value of element i: BYTE/ASCII/UNDEFINED unsigned byte, SBYTE signed byte, SHORT/SSHORT
  // unsigned 16 bits, LONG/SLONG 32 bits; 0 for other types, absent tags, offsets tags and elements
  // beyond the count.
  int64_t GetTagValue(const TIETIFFTagList& list, uint16_t tag, uint32_t i) const;
  int64_t GetTagValueAt(const TIETIFFTagList& list, int index, uint32_t i) const;
  const uint8_t* GetElementPtr(const TIETIFFTag& entry, uint32_t i) const;  // nullptr out of range
  // Replaces the tag by one element of a numeric type: integers for BYTE..SLONG and UNDEFINED,
  // RATIONAL/SRATIONAL as Trunc(value x 10000) / 10000, FLOAT, DOUBLE. False for other types.
  bool SetTagValue(TIETIFFTagList& list, uint16_t tag, uint16_t type, double value);
  void SetTagValue(TIETIFFTagList& list, uint16_t tag, const std::string& text);  // ASCII, NUL counted
  void DeleteTag(TIETIFFTagList& list, int index);
  void DeleteTag(int page, int index);
  void DeletePage(int page);
  // Copies entry `index` of the source page (blocks, sub-directories, data blocks) into the
  // destination page, replacing a tag of that number. Nothing when a page is missing, the index is
  // negative or the byte orders differ.
  void CopyTag(int srcPage, int index, const TIETIFFHandler& source, int dstPage);
  void SortPage(int page);  // ascending tag numbers

  // Writes every page when `page` is outside 0..count-1, else that page only; returns false when the
  // stream did not take every byte.
  bool WriteStream(TIEStream& stream, int page);
  void WriteFile(const std::wstring& fileName, int page);  // raises the file stream's exceptions

  static bool IsSubIFDTag(uint16_t tag);
  // The offsets tags of this magic paired with their byte-count tags.
  std::vector<std::pair<uint16_t, uint16_t>> GetOffsetsTags() const;

 private:
  struct Reader;
  struct Writer;
  bool bigEndian_ = false;
  uint16_t magic_ = 42;
  std::vector<std::shared_ptr<TIETIFFTagList>> pages_;
};

// Size in bytes of one element of a TIFF field type; 0 for a type this structure does not know.
uint32_t IETIFFTypeSize(uint16_t type);
