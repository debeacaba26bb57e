#include "ppt_reader.h"

#include <algorithm>
#include <map>
#include <set>

#include "byte_order.h"
#include "compound_file.h"

namespace presenter {
namespace {

constexpr size_t kMaxSlides = 10000;
// User edits followed back from the newest; real files have a handful.
constexpr size_t kMaxUserEdits = 4096;
// Record nesting deeper than this is not a real document.
constexpr int kMaxRecordDepth = 32;
// Text atoms kept per slide, and characters per atom.
constexpr size_t kMaxTextsPerSlide = 1000;
constexpr uint32_t kMaxTextChars = 1u << 20;
// Slide coordinates are in master units, 576 per inch.
constexpr double kEmuPerMasterUnit = 914400.0 / 576.0;

constexpr uint32_t kCurrentUserHeaderToken = 0xE391C05F;
constexpr uint32_t kEncryptedHeaderToken = 0xF3D1C4DF;

enum RecordType : uint16_t {
  kDocument = 0x03E8,
  kDocumentAtom = 0x03E9,
  kSlide = 0x03EE,
  kSlidePersistAtom = 0x03F3,
  kTextCharsAtom = 0x0FA0,
  kTextBytesAtom = 0x0FA8,
  kSlideListWithText = 0x0FF0,
  kUserEditAtom = 0x0FF5,
  kCurrentUserAtom = 0x0FF6,
  kPersistDirectoryAtom = 0x1772,
};

struct Record {
  uint16_t version;   // 0xF: a container
  uint16_t instance;
  uint16_t type;
  uint64_t body;      // offset of the body
  uint32_t length;
};

const uint8_t* Bytes(const std::string& s) { return reinterpret_cast<const uint8_t*>(s.data()); }

// The record at `offset` of `s`, whose body must lie inside `end` (and the stream).
bool RecordAt(const std::string& s, uint64_t offset, uint64_t end, Record& r) {
  end = std::min<uint64_t>(end, s.size());
  if (offset + 8 > end) return false;
  const uint8_t* p = Bytes(s) + offset;
  const uint16_t vi = ReadU16LE(p);
  r = {uint16_t(vi & 0xF), uint16_t(vi >> 4), ReadU16LE(p + 2), offset + 8, ReadU32LE(p + 4)};
  return r.body + r.length <= end;
}

std::wstring TextOf(const std::string& s, const Record& r) {
  std::wstring t;
  const uint8_t* p = Bytes(s) + r.body;
  const uint32_t n = std::min(r.type == kTextCharsAtom ? r.length / 2 : r.length, kMaxTextChars);
  t.reserve(n);
  for (uint32_t i = 0; i < n; i++) t += r.type == kTextCharsAtom ? wchar_t(ReadU16LE(p + 2 * i)) : wchar_t(p[i]);
  // Paragraph (CR) and line (VT) breaks both become new lines.
  for (wchar_t& c : t)
    if (c == 0x0B || c == 0x0D) c = L'\n';
  return t;
}

// Text atoms anywhere inside [begin, end), depth first.
void CollectText(const std::string& s, uint64_t begin, uint64_t end, int depth, std::vector<std::wstring>& out) {
  Record r;
  for (uint64_t o = begin; depth < kMaxRecordDepth && out.size() < kMaxTextsPerSlide && RecordAt(s, o, end, r);
       o = r.body + r.length) {
    if (r.version == 0xF) CollectText(s, r.body, r.body + r.length, depth + 1, out);
    else if (r.type == kTextCharsAtom || r.type == kTextBytesAtom) out.push_back(TextOf(s, r));
  }
}

// persist id -> stream offset, newest edit first; an older edit only fills gaps.
bool ReadPersistDirectory(const std::string& doc, uint32_t editOffset, std::map<uint32_t, uint32_t>& persist,
                          uint32_t& documentRef, std::string& error) {
  std::set<uint32_t> seen;
  documentRef = 0;
  for (size_t edits = 0;; edits++) {
    Record r;
    if (edits >= kMaxUserEdits || !seen.insert(editOffset).second) {
      error = "the chain of user edits loops";
      return false;
    }
    if (!RecordAt(doc, editOffset, doc.size(), r) || r.type != kUserEditAtom || r.length < 28) {
      error = "a user edit record is missing or damaged";
      return false;
    }
    const uint8_t* e = Bytes(doc) + r.body;
    if (!documentRef) documentRef = ReadU32LE(e + 16);
    const uint32_t previous = ReadU32LE(e + 8), directory = ReadU32LE(e + 12);
    Record pd;
    if (!RecordAt(doc, directory, doc.size(), pd) || pd.type != kPersistDirectoryAtom) {
      error = "a persist directory is missing or damaged";
      return false;
    }
    for (uint64_t o = pd.body; o + 4 <= pd.body + pd.length;) {
      const uint32_t head = ReadU32LE(Bytes(doc) + o);
      const uint32_t first = head & 0xFFFFF, count = head >> 20;
      o += 4;
      for (uint32_t k = 0; k < count; k++, o += 4) {
        if (o + 4 > pd.body + pd.length) {
          error = "a persist directory entry runs past its record";
          return false;
        }
        persist.emplace(first + k, ReadU32LE(Bytes(doc) + o));
      }
    }
    if (previous == 0) return true;
    editOffset = previous;
  }
}

}  // namespace

bool LoadPpt(const std::string& bytes, Deck& deck, std::string& error) {
  CompoundFile cfb;
  if (!cfb.Open(bytes, error)) return false;
  std::string doc, user;
  if (!cfb.ReadStream(L"PowerPoint Document", doc, error)) {
    error = "not a presentation: " + error;
    return false;
  }
  if (!cfb.ReadStream(L"Current User", user, error)) return false;
  Record cu;
  if (!RecordAt(user, 0, user.size(), cu) || cu.type != kCurrentUserAtom || cu.length < 12) {
    error = "the current-user record is missing or damaged";
    return false;
  }
  const uint32_t token = ReadU32LE(Bytes(user) + cu.body + 4);
  if (token == kEncryptedHeaderToken) {
    error = "the presentation is encrypted";
    return false;
  }
  if (token != kCurrentUserHeaderToken) {
    error = "the current-user record is damaged";
    return false;
  }
  std::map<uint32_t, uint32_t> persist;
  uint32_t documentRef = 0;
  if (!ReadPersistDirectory(doc, ReadU32LE(Bytes(user) + cu.body + 8), persist, documentRef, error)) return false;
  auto found = persist.find(documentRef);
  Record docRec;
  if (found == persist.end() || !RecordAt(doc, found->second, doc.size(), docRec) || docRec.type != kDocument) {
    error = "the document container is missing";
    return false;
  }
  const uint64_t docEnd = docRec.body + docRec.length;
  bool sized = false;
  Record r;
  for (uint64_t o = docRec.body; RecordAt(doc, o, docEnd, r); o = r.body + r.length) {
    if (r.type == kDocumentAtom && r.length >= 8) {
      const int32_t w = int32_t(ReadU32LE(Bytes(doc) + r.body)), h = int32_t(ReadU32LE(Bytes(doc) + r.body + 4));
      if (w <= 0 || h <= 0 || w * kEmuPerMasterUnit > kMaxSlideExtent || h * kEmuPerMasterUnit > kMaxSlideExtent) {
        error = "the slide size is invalid";
        return false;
      }
      deck.cx = long(w * kEmuPerMasterUnit + 0.5);
      deck.cy = long(h * kEmuPerMasterUnit + 0.5);
      sized = true;
    }
    // Instance 0 lists the slides; 1 the masters, 2 the notes.
    if (r.type != kSlideListWithText || r.instance != 0) continue;
    // Per slide: placeholder texts kept in the list right after its persist atom (title first),
    // then the texts of the slide's own drawing.
    struct SlideTexts {
      std::vector<std::wstring> list, drawing;
    };
    std::vector<SlideTexts> slides;
    Record a;
    for (uint64_t p = r.body; RecordAt(doc, p, r.body + r.length, a); p = a.body + a.length) {
      if (a.type == kSlidePersistAtom && a.length >= 4) {
        if (slides.size() >= kMaxSlides) {
          error = "the deck has more than " + std::to_string(kMaxSlides) + " slides";
          return false;
        }
        slides.emplace_back();
        auto slide = persist.find(ReadU32LE(Bytes(doc) + a.body));
        Record sr;
        if (slide != persist.end() && RecordAt(doc, slide->second, doc.size(), sr) && sr.type == kSlide)
          CollectText(doc, sr.body, sr.body + sr.length, 0, slides.back().drawing);
      } else if ((a.type == kTextCharsAtom || a.type == kTextBytesAtom) && !slides.empty() &&
                 slides.back().list.size() < kMaxTextsPerSlide) {
        slides.back().list.push_back(TextOf(doc, a));
      }
    }
    for (SlideTexts& t : slides) {
      std::vector<std::wstring> slideTexts = std::move(t.list);
      slideTexts.insert(slideTexts.end(), t.drawing.begin(), t.drawing.end());
      deck.slides.emplace_back();
      double y = deck.cy * 0.06;
      for (size_t i = 0; i < slideTexts.size(); i++) {
        ShapeModel m;
        m.isTitle = i == 0;
        m.x = deck.cx * 0.06;
        m.cx = deck.cx * 0.88;
        m.y = y;
        m.cy = deck.cy * (i == 0 ? 0.18 : 0.12);
        y += m.cy;
        TextParagraph p;
        p.text = slideTexts[i];
        m.paragraphs.push_back(std::move(p));
        deck.slides.back().shapes.push_back(std::move(m));
      }
    }
  }
  if (!sized) {
    error = "the document has no slide size";
    return false;
  }
  return true;
}

}  // namespace presenter
