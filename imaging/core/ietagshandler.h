// TIETagsHandler: an EXIF maker note (tag 37500). The note's layout is recognised by its signature;
// its directory is kept as a self-contained little-endian directory in an internal stream (entry
// count, 12-byte entries, then the value blocks, offsets counting from the stream's start) and is
// written back in the layout of its format.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "iestreams.h"

struct TIEEXIFMakerNoteDeviceInfo {
  std::string Signature;
  uint8_t OffsetBase = 0;  // 0: value offsets count from the enclosing TIFF data, 1: from the note's header
  uint8_t HeaderForm = 0;  // 0 none, 1 an 8-byte TIFF header after the signature, 2 a 32-bit directory offset
  uint8_t EmbeddedHeader[8] = {};
  uint8_t ByteOrder = 0;   // 0 as the enclosing file, 1 from the embedded header, 2 little-, 3 big-endian
};

struct TIEMakerNoteEntry {
  uint16_t Tag = 0;
  uint16_t Type = 0;
  uint32_t Count = 0;
  uint32_t Value = 0;  // inline value, or the position of the value block in the internal stream
};

class TIETagsHandler {
 public:
  static constexpr int kMaxEntries = 256;
  static constexpr int32_t kMaxWrittenNote = 65000;  // longer notes are not written at all

  TIETagsHandler() = default;
  TIETagsHandler(const TIETagsHandler&) = delete;
  TIETagsHandler& operator=(const TIETagsHandler&) = delete;

  void Clear();
  void Assign(const TIETagsHandler* source);  // nullptr does nothing
  // Reads a note of `size` bytes at the stream's position; the position is where value offsets of
  // base 0 are measured from (the TIFF data starts at stream position 0). False when refused: the
  // handler is then empty.
  bool ReadFromStream(TIEStream& stream, int32_t size, bool littleEndianDefault);
  // Writes the note at the stream's position; returns the bytes written, 0 (nothing written) when the
  // handler is empty or the note would exceed kMaxWrittenNote.
  int32_t WriteToStream(TIEStream& stream) const;
  // Reloads the entry array from the internal stream (after a caller filled the stream directly).
  void LoadEntries();

  TIEMemoryStream& InternalStream() { return internal_; }
  const TIEMemoryStream& InternalStream() const { return internal_; }
  const TIEEXIFMakerNoteDeviceInfo& Format() const { return format_; }
  int EntriesCount() const { return static_cast<int>(entries_.size()); }
  const TIEMakerNoteEntry& Entry(int i) const { return entries_.at(i); }
  const std::vector<uint8_t>& RawNote() const { return raw_; }

 private:
  void DetectFormat();
  std::vector<uint8_t> raw_;
  TIEEXIFMakerNoteDeviceInfo format_;
  TIEMemoryStream internal_;
  std::vector<TIEMakerNoteEntry> entries_;
};
