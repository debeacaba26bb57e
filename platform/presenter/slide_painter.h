// Draws a slide of the deck model with GDI, and exports it as an enhanced or Windows metafile of an
// exact pixel size. Pictures are decoded with GDI+, so a GdiplusSession must be alive to see them.
#pragma once
#include <windows.h>

#include <string>

#include "deck.h"

namespace presenter {

enum class MetafileFormat { Emf, Wmf };

// The largest width or height an export accepts, in pixels.
constexpr int kMaxExportSide = 20000;

// Paints slide `index` (0-based) into `dc`, whose logical units are pixels 0..width, 0..height.
// The slide is stretched to fill the rectangle whatever its aspect ratio.
void PaintSlide(const Deck& deck, size_t index, HDC dc, int width, int height);

// Writes slide `index` to `path` as a metafile that plays back at exactly width x height pixels.
bool ExportSlide(const Deck& deck, size_t index, const std::wstring& path, MetafileFormat format, int width,
                 int height, std::string& error);

}  // namespace presenter
