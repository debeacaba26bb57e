// Test decks: the ones from the dependency cache (tests/presenter/fixtures.sh) and small packages
// written by the tests themselves.
#pragma once
#include <string>
#include <vector>

#include "hostenv.h"
#include "zip_builder.h"

namespace presenter_test {

// Windows path of a fixture deck from the cache.
inline std::string FixturePath(const char* name) { return tq::WinPath(std::string(PRESENTER_FIXTURES) + "/" + name); }

inline std::string FixtureBytes(const char* name) {
  std::vector<unsigned char> v;
  tq::ReadFileBytes(FixturePath(name), v);
  return std::string(v.begin(), v.end());
}

inline std::wstring Wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

constexpr char kPresentationNs[] =
    "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\" "
    "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
    "xmlns:p=\"http://schemas.openxmlformats.org/presentationml/2006/main\"";

inline std::string Relationships(const std::vector<std::pair<std::string, std::string>>& idTarget) {
  std::string s = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
  for (const auto& r : idTarget)
    s += "<Relationship Id=\"" + r.first + "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
         "relationships/slide\" Target=\"" + r.second + "\"/>";
  return s + "</Relationships>";
}

// A one-slide package whose slide holds `shapes` (spTree children) on a `background` colour.
inline std::string OneSlidePackage(const std::string& shapes, const char* background = "FFFFFF",
                                   const char* size = "cx=\"9144000\" cy=\"6858000\"") {
  const std::string pres = std::string("<p:presentation ") + kPresentationNs +
                           "><p:sldIdLst><p:sldId id=\"256\" r:id=\"rId2\"/></p:sldIdLst><p:sldSz " + size +
                           "/></p:presentation>";
  const std::string slide = std::string("<p:sld ") + kPresentationNs +
                            "><p:cSld><p:bg><p:bgPr><a:solidFill><a:srgbClr val=\"" + background +
                            "\"/></a:solidFill></p:bgPr></p:bg><p:spTree>" + shapes + "</p:spTree></p:cSld></p:sld>";
  return BuildZip({{"ppt/presentation.xml", pres},
                   {"ppt/_rels/presentation.xml.rels", Relationships({{"rId2", "slides/s1.xml"}})},
                   {"ppt/slides/s1.xml", slide}});
}

// An spTree shape: preset geometry `prst` at (x, y) size (cx, cy) in EMU, filled with `fill`.
inline std::string PresetShape(const char* prst, long long x, long long y, long long cx, long long cy,
                               const char* fill) {
  return "<p:sp><p:nvSpPr><p:cNvPr id=\"2\" name=\"s\"/><p:cNvSpPr/><p:nvPr/></p:nvSpPr><p:spPr><a:xfrm><a:off x=\"" +
         std::to_string(x) + "\" y=\"" + std::to_string(y) + "\"/><a:ext cx=\"" + std::to_string(cx) + "\" cy=\"" +
         std::to_string(cy) + "\"/></a:xfrm><a:prstGeom prst=\"" + prst +
         "\"><a:avLst/></a:prstGeom><a:solidFill><a:srgbClr val=\"" + fill + "\"/></a:solidFill></p:spPr></p:sp>";
}

}  // namespace presenter_test
