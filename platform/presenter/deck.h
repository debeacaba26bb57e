// The model of an opened presentation: slide size, and per slide its background and the shapes to
// draw, already resolved against layouts, masters and the theme. Readers fill it; the slide painter
// draws it.
#pragma once
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace presenter {

struct TextParagraph {
  std::wstring text;
  int sizeHundredthPt = 0;  // 0: the shape's default size
  bool hasColor = false;
  COLORREF color = RGB(0, 0, 0);
  bool bold = false;
  enum Align { Left, Center, Right } align = Left;
};

struct ShapeModel {
  enum Kind { Rectangle, Ellipse, RoundRectangle, Line, Picture, TableCell } kind = Rectangle;
  double x = 0, y = 0, cx = 0, cy = 0;  // EMU in slide coordinates
  bool flipH = false, flipV = false;     // for lines: which diagonal of the box
  bool hasFill = false;
  COLORREF fill = 0;
  bool hasLine = false;
  COLORREF line = 0;
  double lineWidth = 12700;  // EMU
  bool isTitle = false;
  enum Anchor { Top, Middle, Bottom } anchor = Top;  // vertical place of the text in the box
  double fontScale = 1.0;    // autofit shrink
  std::vector<TextParagraph> paragraphs;
  std::shared_ptr<const std::string> image;  // encoded PNG/JPEG bytes of a picture
  double cropLeft = 0, cropTop = 0, cropRight = 0, cropBottom = 0;  // fractions of the picture left out
};

struct SlideModel {
  COLORREF background = RGB(255, 255, 255);
  bool hidden = false;
  std::vector<ShapeModel> shapes;
};

// EMU per inch and per point, the units of slide coordinates.
constexpr double kEmuPerInch = 914400.0;
constexpr double kEmuPerPoint = 12700.0;
// The largest slide side a deck may declare (56 inches).
constexpr long kMaxSlideExtent = 51206400;

struct Deck {
  long cx = 9144000, cy = 6858000;  // slide size in EMU
  std::vector<SlideModel> slides;
};

// Reads a .pptx or .ppt file, chosen by its content. False with an error text when the file is
// missing, unreadable, too large or not a presentation this reader understands.
bool LoadDeck(const std::wstring& path, Deck& deck, std::string& error);
// The same for bytes already in memory.
bool LoadDeckFromBytes(const std::string& bytes, Deck& deck, std::string& error);

}  // namespace presenter
