// Builds binary presentations for the tests from the file format's published structure: a
// version 3 compound file (512-byte sectors, FAT, directory, mini FAT and mini stream) holding a
// "Current User" stream and a "PowerPoint Document" stream of records (document container with
// its document atom and slide list, slide containers, persist directories, user edits).
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "zip_builder.h"  // PutU16, PutU32, PatchU32

namespace presenter_test {

// ------------------------------------------------------------------ records

inline std::string PptRecord(uint16_t version, uint16_t instance, uint16_t type, const std::string& body) {
  std::string r;
  PutU16(r, uint32_t(version | instance << 4));
  PutU16(r, type);
  PutU32(r, uint32_t(body.size()));
  return r + body;
}
inline std::string PptContainer(uint16_t type, const std::string& body, uint16_t instance = 0) {
  return PptRecord(0xF, instance, type, body);
}
inline std::string TextChars(const std::wstring& text) {
  std::string b;
  for (wchar_t c : text) PutU16(b, uint32_t(c));
  return PptRecord(0, 0, 0x0FA0, b);
}
inline std::string TextBytes(const std::string& text) { return PptRecord(0, 0, 0x0FA8, text); }
inline std::string TextHeader(uint32_t kind) {
  std::string b;
  PutU32(b, kind);
  return PptRecord(0, 0, 0x0F9F, b);
}

struct PptSlide {
  std::wstring title;        // placeholder text in the slide list (TextCharsAtom)
  std::string body;          // placeholder text in the slide list (TextBytesAtom)
  std::wstring drawingText;  // text inside the slide's own drawing
};

// A slide container: slide atom, then a drawing whose client text box holds `text`.
inline std::string SlideContainer(const std::wstring& text) {
  std::string atom(24, '\0');
  std::string drawing = PptContainer(0xF00D, text.empty() ? std::string() : TextChars(text));  // client text box
  drawing = PptContainer(0xF002, drawing);  // drawing container
  return PptContainer(0x03EE, PptRecord(2, 0, 0x03EF, atom) + PptContainer(0x040C, drawing));
}

inline std::string PersistDirectory(uint32_t firstId, const std::vector<uint32_t>& offsets) {
  std::string b;
  PutU32(b, firstId | uint32_t(offsets.size()) << 20);
  for (uint32_t o : offsets) PutU32(b, o);
  return PptRecord(0, 0, 0x1772, b);
}

inline std::string UserEdit(uint32_t previousEdit, uint32_t persistDirectory, uint32_t documentRef, uint32_t seed) {
  std::string b;
  PutU32(b, 256);  // last slide id
  PutU16(b, 0);
  b += char(0);
  b += char(3);
  PutU32(b, previousEdit);
  PutU32(b, persistDirectory);
  PutU32(b, documentRef);
  PutU32(b, seed);
  PutU16(b, 1);
  PutU16(b, 0);
  return PptRecord(0, 0, 0x0FF5, b);
}

inline std::string CurrentUser(uint32_t editOffset, uint32_t token = 0xE391C05F) {
  std::string b;
  PutU32(b, 0x14);
  PutU32(b, token);
  PutU32(b, editOffset);
  PutU16(b, 4);
  PutU16(b, 0x03F4);
  b += char(3);
  b += char(0);
  PutU16(b, 0);
  b += "test";
  PutU32(b, 8);
  return PptRecord(0, 0, 0x0FF6, b);
}

struct PptStreams {
  std::string document, currentUser;
  uint32_t lastEdit = 0;  // offset of the newest user edit
};

// A document stream with one edit: [padding] document container, slides, persist directory, edit.
// Persist ids: 1 the document, 2.. the slides. Width and height are in master units (576 per inch).
inline PptStreams PptDocument(const std::vector<PptSlide>& slides, int32_t width = 5760, int32_t height = 4320,
                              size_t padding = 0) {
  PptStreams s;
  std::string& d = s.document;
  if (padding) d += PptRecord(0, 0, 0x2EEE, std::string(padding, 'p'));  // a record the reader skips
  std::string atom;
  PutU32(atom, uint32_t(width));
  PutU32(atom, uint32_t(height));
  PutU32(atom, 5760);
  PutU32(atom, 7680);
  atom.append(8, '\0');
  atom.append(14, '\0');
  atom.append(2, '\0');
  std::string list;
  for (size_t i = 0; i < slides.size(); i++) {
    std::string persist;
    PutU32(persist, uint32_t(2 + i));
    PutU32(persist, 0);
    PutU32(persist, 2);
    PutU32(persist, uint32_t(256 + i));
    PutU32(persist, 0);
    list += PptRecord(0, 0, 0x03F3, persist);
    if (!slides[i].title.empty()) list += TextHeader(0) + TextChars(slides[i].title);
    if (!slides[i].body.empty()) list += TextHeader(1) + TextBytes(slides[i].body);
  }
  std::vector<uint32_t> offsets = {uint32_t(d.size())};
  d += PptContainer(0x03E8, PptRecord(1, 0, 0x03E9, atom) + PptContainer(0x0FF0, list, 0));
  for (const PptSlide& slide : slides) {
    offsets.push_back(uint32_t(d.size()));
    d += SlideContainer(slide.drawingText);
  }
  const uint32_t directory = uint32_t(d.size());
  d += PersistDirectory(1, offsets);
  s.lastEdit = uint32_t(d.size());
  d += UserEdit(0, directory, 1, uint32_t(offsets.size() + 1));
  s.currentUser = CurrentUser(s.lastEdit);
  return s;
}

// A later edit that replaces the container of persist id `id` with `container`.
inline void AppendEdit(PptStreams& s, uint32_t id, const std::string& container) {
  const uint32_t at = uint32_t(s.document.size());
  s.document += container;
  const uint32_t directory = uint32_t(s.document.size());
  s.document += PersistDirectory(id, {at});
  const uint32_t edit = uint32_t(s.document.size());
  s.document += UserEdit(s.lastEdit, directory, 1, 100);
  s.lastEdit = edit;
  s.currentUser = CurrentUser(edit);
}

// ------------------------------------------------------------------ compound file

struct CfbStream {
  std::wstring name;
  std::string data;
};

// Layout of a built file, so tests can damage chosen fields.
struct CfbLayout {
  uint32_t fatSectors = 0, directorySector = 0;
};

inline std::string BuildCompoundFile(const std::vector<CfbStream>& streams, CfbLayout* layout = nullptr) {
  const uint32_t kSector = 512, kMini = 64, kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kFatMark = 0xFFFFFFFD;
  // Small streams go to the mini stream, large ones to regular sectors.
  std::string mini;
  std::vector<uint32_t> miniFat;
  std::vector<uint32_t> start(streams.size());
  std::vector<std::string> big;
  std::vector<size_t> bigIndex;
  for (size_t i = 0; i < streams.size(); i++) {
    const std::string& data = streams[i].data;
    if (data.size() < 4096) {
      const uint32_t first = uint32_t(mini.size() / kMini);
      const uint32_t n = uint32_t((data.size() + kMini - 1) / kMini);
      for (uint32_t k = 0; k < n; k++) miniFat.push_back(k + 1 < n ? first + k + 1 : kEnd);
      start[i] = n ? first : kEnd;
      mini += data;
      mini.resize(size_t(first + n) * kMini, '\0');
    } else {
      bigIndex.push_back(i);
    }
  }
  auto sectorsOf = [&](size_t bytes) { return uint32_t((bytes + kSector - 1) / kSector); };
  const uint32_t dirSectors = sectorsOf((streams.size() + 1) * 128);
  const uint32_t miniFatSectors = sectorsOf(miniFat.size() * 4);
  const uint32_t miniSectors = sectorsOf(mini.size());
  uint32_t bigSectors = 0;
  for (size_t i : bigIndex) bigSectors += sectorsOf(streams[i].data.size());
  const uint32_t content = dirSectors + miniFatSectors + miniSectors + bigSectors;
  uint32_t fatSectors = 1;
  while (fatSectors * (kSector / 4) < content + fatSectors) fatSectors++;
  std::vector<uint32_t> fat(fatSectors * (kSector / 4), kFree);
  uint32_t next = 0;
  auto chain = [&](uint32_t n) {
    const uint32_t first = next;
    for (uint32_t k = 0; k < n; k++) fat[first + k] = k + 1 < n ? first + k + 1 : kEnd;
    next += n;
    return n ? first : kEnd;
  };
  for (uint32_t k = 0; k < fatSectors; k++) fat[next++] = kFatMark;
  const uint32_t dirStart = chain(dirSectors);
  const uint32_t miniFatStart = chain(miniFatSectors);
  const uint32_t miniStart = chain(miniSectors);
  std::string body;  // the sectors after the header, in order
  std::string fatBytes;
  for (uint32_t v : fat) PutU32(fatBytes, v);
  body += fatBytes;
  // Directory: root, then the streams as a chain of right siblings.
  std::string dir;
  auto entry = [&](const std::wstring& name, uint8_t type, uint32_t right, uint32_t child, uint32_t first,
                   uint32_t size) {
    std::string e(128, '\0');
    for (size_t k = 0; k < name.size() && k < 31; k++) {
      e[2 * k] = char(name[k] & 255);
      e[2 * k + 1] = char(name[k] >> 8);
    }
    PatchU16(e, 0x40, uint32_t((name.size() + 1) * 2));
    e[0x42] = char(type);
    e[0x43] = 1;  // black
    PatchU32(e, 0x44, kFree);
    PatchU32(e, 0x48, right);
    PatchU32(e, 0x4C, child);
    PatchU32(e, 0x74, first);
    PatchU32(e, 0x78, size);
    dir += e;
  };
  std::vector<uint32_t> bigStart(streams.size(), kEnd);
  uint32_t bigNext = next;
  for (size_t i : bigIndex) {
    bigStart[i] = bigNext;
    bigNext += sectorsOf(streams[i].data.size());
  }
  entry(L"Root Entry", 5, kFree, streams.empty() ? kFree : 1, mini.empty() ? kEnd : miniStart, uint32_t(mini.size()));
  for (size_t i = 0; i < streams.size(); i++)
    entry(streams[i].name, 2, i + 1 < streams.size() ? uint32_t(i + 2) : kFree, kFree,
          streams[i].data.size() < 4096 ? start[i] : bigStart[i], uint32_t(streams[i].data.size()));
  dir.resize(size_t(dirSectors) * kSector, '\0');
  for (size_t o = (streams.size() + 1) * 128; o + 128 <= dir.size(); o += 128) {
    PatchU32(dir, o + 0x44, kFree);
    PatchU32(dir, o + 0x48, kFree);
    PatchU32(dir, o + 0x4C, kFree);
  }
  body += dir;
  std::string mf;
  for (uint32_t v : miniFat) PutU32(mf, v);
  mf.resize(size_t(miniFatSectors) * kSector, char(0xFF));
  body += mf;
  std::string ms = mini;
  ms.resize(size_t(miniSectors) * kSector, '\0');
  body += ms;
  for (size_t i : bigIndex) {
    std::string data = streams[i].data;
    chain(sectorsOf(data.size()));
    data.resize(size_t(sectorsOf(data.size())) * kSector, '\0');
    body += data;
  }
  // The FAT was filled while laying out; write it again now that every chain is in.
  fatBytes.clear();
  for (uint32_t v : fat) PutU32(fatBytes, v);
  body.replace(0, fatBytes.size(), fatBytes);

  std::string h(512, '\0');
  const unsigned char sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  for (int i = 0; i < 8; i++) h[i] = char(sig[i]);
  PatchU16(h, 0x18, 0x3E);
  PatchU16(h, 0x1A, 3);
  PatchU16(h, 0x1C, 0xFFFE);
  PatchU16(h, 0x1E, 9);
  PatchU16(h, 0x20, 6);
  PatchU32(h, 0x2C, fatSectors);
  PatchU32(h, 0x30, dirStart);
  PatchU32(h, 0x38, 4096);
  PatchU32(h, 0x3C, miniFatSectors ? miniFatStart : kEnd);
  PatchU32(h, 0x40, miniFatSectors);
  PatchU32(h, 0x44, kEnd);
  PatchU32(h, 0x48, 0);
  for (uint32_t i = 0; i < 109; i++) PatchU32(h, 0x4C + 4 * i, i < fatSectors ? i : kFree);
  if (layout) {
    layout->fatSectors = fatSectors;
    layout->directorySector = dirStart;
  }
  return h + body;
}

inline std::string BuildPpt(const PptStreams& s) {
  return BuildCompoundFile({{L"Current User", s.currentUser}, {L"PowerPoint Document", s.document}});
}

}  // namespace presenter_test
