// The text control's layout engine: word wrap, paragraph alignment and justification, line spacing,
// zoomed drawing, and the control's own painting over an off-screen bitmap.
#include <algorithm>
#include <cmath>
#include <vector>

#include "iegdiplus.h"
#include "ietextcontrol.h"

using namespace ui;

namespace {

char Printable(char c) { return (uint8_t(c) <= 30 || uint8_t(c) == 127) ? ' ' : c; }
bool Blank(char c) { return uint8_t(c) <= 32; }
TColor InvertColor(TColor c) {
  COLORREF rgb = ColorToRGB(c);
  return TColor(RGB(255 - GetRValue(rgb), 255 - GetGValue(rgb), 255 - GetBValue(rgb)));
}

// A glyph recorded at zoom 1 and drawn scaled once the layout is done.
struct Glyph {
  int x, baseline, index;
  char c;
  bool selected;
};

}  // namespace

void TIETextControl::DrawText(TIECanvas* canvas, int left, int top, int width, int height) {
  if (width <= 1 || height <= 1) return;
  CollectedText.clear();
  EnsureCaches();
  const double zoom = ZoomFactor;
  const bool zoomed = zoom != 1.0;
  const int len = int(Text.size());
  TFont* font = canvas->GetFont();
  HDC dc = canvas->GetHandle();

  // frame and fill of the box
  canvas->GetPen()->SetWidth(1);
  font->SetColor(TextFont->GetColor());
  canvas->GetPen()->SetColor(TextFont->GetColor());
  canvas->GetPen()->SetStyle(BorderPen->GetStyle());
  if (!FixedColors) canvas->GetPen()->SetColor(BorderPen->GetColor());
  canvas->GetBrush()->SetColor(BackgroundBrush->GetColor());
  canvas->GetBrush()->SetStyle(BackgroundBrush->GetStyle());
  canvas->Rectangle(left, top, left + int(std::lround(width * zoom)), top + int(std::lround(height * zoom)));
  canvas->GetPen()->SetStyle(psSolid);

  // the text box inside the margins
  const int W = int(width - width * MarginRight / 100 - width * MarginLeft / 100) - 2;
  const int H = int(height - height * MarginBottom / 100 - height * MarginTop / 100) - 2;
  const int x0 = int(width * MarginLeft / 100) + 1;
  const int y0 = int(height * MarginTop / 100) + 1;
  const int clipLeft = left + int(std::lround(x0 * zoom)), clipTop = top + int(std::lround(y0 * zoom));
  const RECT clip{clipLeft, clipTop, clipLeft + int(std::lround(W * zoom)), clipTop + int(std::lround(H * zoom))};
  const UINT oldAlign = SetTextAlign(dc, TA_BASELINE);

  TIETextFormat uniform;
  FormatFromDefaults(uniform);
  auto formatAt = [&](int i) -> const TIETextFormat& { return UniformFormat ? uniform : FormatOf(i); };
  // Selects a format's font (scaled) into the canvas; the width of a space makes the canvas select it.
  const TIETextFormat* applied = nullptr;
  double appliedScale = 0;
  auto apply = [&](const TIETextFormat& f, double scale) {
    if (applied == &f && appliedScale == scale) return;
    applied = &f;
    appliedScale = scale;
    font->SetName(f.FontName);
    font->SetHeight(scale == 1.0 ? f.FontHeight : int(std::lround(f.FontHeight * scale)));
    font->SetStyle(f.FontStyle & 15);
    canvas->TextWidth(" ");
    dc = canvas->GetHandle();
  };
  // Glyph widths and line metrics of each format, measured once per layout: a memo has few formats.
  struct Metrics {
    const TIETextFormat* format;
    int16_t width[256];
    int height, leading, descent;
  };
  std::vector<Metrics> metrics;
  auto metricsOf = [&](const TIETextFormat& f) -> Metrics& {
    for (Metrics& m : metrics)
      if (m.format == &f) return m;
    apply(f, 1.0);
    TEXTMETRICA tm{};
    GetTextMetricsA(dc, &tm);
    metrics.push_back(Metrics{&f, {}, int(tm.tmHeight), int(tm.tmInternalLeading), int(tm.tmDescent)});
    std::fill(std::begin(metrics.back().width), std::end(metrics.back().width), int16_t(-1));
    return metrics.back();
  };
  auto measure = [&](int i, const TIETextFormat& f) {
    if (CacheGlyphWidth[size_t(i)] >= 0) return;
    Metrics& m = metricsOf(f);
    const char ch = i < len ? Printable(Text[size_t(i)]) : ' ';
    int16_t& w = m.width[uint8_t(ch)];
    if (w < 0) {
      apply(f, 1.0);
      w = int16_t(canvas->TextWidth(std::string(1, ch)));
    }
    CacheGlyphWidth[size_t(i)] = w;
    if (FixedLineHeight > 0) {
      CacheLineHeight[size_t(i)] = int16_t(FixedLineHeight);
      CacheLeading[size_t(i)] = CacheDescent[size_t(i)] = 0;
    } else {
      CacheLineHeight[size_t(i)] = int16_t(m.height);
      CacheLeading[size_t(i)] = uint8_t(std::clamp(m.leading, 0, 255));
      CacheDescent[size_t(i)] = uint8_t(std::clamp(m.descent, 0, 255));
    }
  };
  // Characters go out in runs of one format and selection state on one baseline: one call per run,
  // each glyph at its own position.
  struct Run {
    const TIETextFormat* format = nullptr;
    double scale = 1.0;
    bool selected = false;
    int x = 0, baseline = 0, nextX = 0;
    std::string chars;
    std::vector<INT> dx;
  } run;
  auto flush = [&] {
    if (run.chars.empty()) return;
    const TIETextFormat& f = *run.format;
    apply(f, run.scale);
    TColor fore = FixedColors ? TextFont->GetColor() : f.Color;
    TColor back = f.BackColor;
    bool opaque = !FixedColors && f.BackStyle == bsSolid;
    if (run.selected) {
      fore = InvertColor(fore);
      back = InvertColor(back);
      opaque = true;
    }
    SetTextColor(dc, ColorToRGB(fore));
    SetBkColor(dc, ColorToRGB(back));
    SetBkMode(dc, opaque ? OPAQUE : TRANSPARENT);
    if (canvas->ReadsRightToLeft()) {
      // each glyph moves right by its own width
      int x = run.x;
      for (size_t k = 0; k < run.chars.size(); ++k) {
        canvas->ClippedTextOut(clip, x, run.baseline, std::string(1, run.chars[k]));
        x += run.dx[k];
      }
    } else {
      ExtTextOutA(dc, run.x, run.baseline, UINT(canvas->GetTextFlags()) | ETO_CLIPPED, &clip, run.chars.data(),
                  UINT(run.chars.size()), run.dx.data());
    }
    run.chars.clear();
    run.dx.clear();
  };
  auto drawGlyph = [&](int x, int baseline, int width, char c, const TIETextFormat& f, double scale, bool selected) {
    if (!run.chars.empty() &&
        (run.format != &f || run.scale != scale || run.selected != selected || run.baseline != baseline || x < run.nextX))
      flush();
    if (run.chars.empty()) {
      run.format = &f;
      run.scale = scale;
      run.selected = selected;
      run.x = x;
      run.baseline = baseline;
    } else {
      run.dx.back() = x - run.nextX + run.dx.back();
    }
    run.chars += Printable(c);
    run.dx.push_back(width);
    run.nextX = x + width;
  };

  std::vector<Glyph> glyphs;
  std::vector<int> xs;
  int pos = 0;
  int lineTop = top + y0;
  bool collecting = CollectText;
  while (pos < len) {
    const int lineStart = pos;
    // measuring pass: where the line breaks
    int x = 0, lineEnd = -1;
    for (int j = lineStart; j < len; ++j) {
      measure(j, formatAt(j));
      const int w = CacheGlyphWidth[size_t(j)];
      if (Text[size_t(j)] == '\n') {
        lineEnd = j + 1;
        break;
      }
      // Every line holds at least one character: a box narrower than a glyph would otherwise
      // produce empty lines for ever.
      if (j > lineStart && x + w + 2 >= W) {
        int k = j - 1;
        while (k >= lineStart && Text[size_t(k)] != ' ') --k;
        lineEnd = k >= lineStart ? k + 1 : j;
        break;
      }
      x += w;
    }
    if (lineEnd < 0) lineEnd = len;
    int lineH = 0, lineDesc = 0;
    xs.assign(size_t(lineEnd - lineStart), 0);
    int lastVisible = -1;
    for (int k = lineStart, cx = 0; k < lineEnd; ++k) {
      lineH = std::max<int>(lineH, CacheLineHeight[size_t(k)]);
      lineDesc = std::max<int>(lineDesc, CacheDescent[size_t(k)]);
      xs[size_t(k - lineStart)] = cx;
      cx += CacheGlyphWidth[size_t(k)];
      if (!Blank(Text[size_t(k)])) lastVisible = k;
    }
    const int e = lastVisible < 0 ? 0 : xs[size_t(lastVisible - lineStart)] + CacheGlyphWidth[size_t(lastVisible)];
    const bool paragraphEnd = lineEnd == len || Text[size_t(lineEnd - 1)] == '\n';
    const uint8_t align = formatAt(lineEnd > lineStart ? lineEnd - 1 : -1).Alignment;
    int offset = 0;
    if (align == 1) offset = W - e - 1;
    else if (align == 2) offset = (W - e) / 2;
    else if (align == 3 && !paragraphEnd && e > 0) {
      const double f = double(W) / double(e + 1);
      for (auto& v : xs) v = int(v * f);
    }

    const bool below = lineTop + lineH > top + y0 + H;
    if (below && AutoHeight && GetVisible() && GetParent()) {
      const int grown = int(std::lround((lineTop + lineH - top + (height - y0 - H)) * zoom));
      if (grown > GetHeight()) {
        SetHeight(grown);
        break;
      }
    }
    if (below) collecting = false;

    // drawing pass
    const int baseline = lineTop + lineH - lineDesc;
    int prevEnd = -1;
    for (int k = lineStart; k < lineEnd; ++k) {
      const int px = left + x0 + offset + xs[size_t(k - lineStart)];
      CharX[size_t(k)] = px;
      CharY[size_t(k)] = lineTop;
      CacheLineHeight[size_t(k)] = int16_t(lineH);
      const TIETextFormat& f = formatAt(k);
      const bool selected = k >= SelStart && k < SelStop;
      if (zoomed) {
        glyphs.push_back({px, baseline, k, Text[size_t(k)], selected});
      } else {
        // a gap opened by justification gets the background of the character after it
        if (prevEnd >= 0 && prevEnd < px && f.BackStyle == bsSolid) {
          flush();
          for (int gx = prevEnd; gx < px; ++gx) {
            drawGlyph(gx, baseline, 1, ' ', f, 1.0, selected);
            flush();
          }
        }
        drawGlyph(px, baseline, CacheGlyphWidth[size_t(k)], Text[size_t(k)], f, 1.0, selected);
      }
      prevEnd = px + CacheGlyphWidth[size_t(k)];
      if (collecting && Text[size_t(k)] != '\n') CollectedText += Text[size_t(k)];
    }
    if (collecting) CollectedText += '\n';
    if (lineEnd == len && Text[size_t(len - 1)] != '\n') {
      CharX[size_t(len)] = left + x0 + offset + (xs.empty() ? 0 : xs.back() + CacheGlyphWidth[size_t(len - 1)]);
      CharY[size_t(len)] = lineTop;
      CacheLineHeight[size_t(len)] = int16_t(lineH);
    }
    lineTop += lineH + LineSpacing;
    pos = lineEnd;
  }
  if (len == 0 || (pos == len && Text[size_t(len - 1)] == '\n')) {
    // the caret after a final line feed (or in an empty text) stands at the start of a new line
    measure(len, len > 0 ? formatAt(len - 1) : (UniformFormat ? uniform : CurrentFormat));
    CharX[size_t(len)] = left + x0;
    CharY[size_t(len)] = lineTop;
  }

  flush();
  if (zoomed) {
    for (const Glyph& g : glyphs) {
      const int x = left + int(std::lround((g.x - left) * zoom));
      const int w = left + int(std::lround((g.x + CacheGlyphWidth[size_t(g.index)] - left) * zoom)) - x;
      drawGlyph(x, top + int(std::lround((g.baseline - top) * zoom)), w, g.c, formatAt(g.index), zoom, g.selected);
    }
    flush();
    for (int i = 0; i <= len; ++i) {
      if (CharX[size_t(i)] < 0) continue;
      CharX[size_t(i)] = left + int(std::lround((CharX[size_t(i)] - left) * zoom));
      CharY[size_t(i)] = top + int(std::lround((CharY[size_t(i)] - top) * zoom));
      CacheLineHeight[size_t(i)] = int16_t(std::lround(CacheLineHeight[size_t(i)] * zoom));
    }
  }
  const size_t c = size_t(std::clamp(CaretPos, 0, len));
  CaretX = CharX[c];
  CaretY = CharY[c];
  CaretHeight = CacheLineHeight[c];
  SetTextAlign(dc, oldAlign);
}

void TIETextControl::PaintBackground() {
  const int w = GetClientWidth(), h = GetClientHeight();
  TCanvas* c = OffScreen->Canvas();
  if (BackgroundBrush->GetStyle() != bsSolid && BackgroundBitmap && GetParent()) {
    c->CopyRect(RECT{0, 0, w, h}, BackgroundBitmap->Canvas(),
                RECT{GetLeft(), GetTop(), GetLeft() + w, GetTop() + h});
  }
  if (BackgroundBrush->GetStyle() != bsClear) {
    c->SetBrush(BackgroundBrush);
    c->FillRect(RECT{0, 0, w, h});
  }
}

void TIETextControl::Paint() {
  if (!GetVisible() || !GetParent()) return;
  const bool focused = Focused();
  if (focused) DestroyCaret();
  const int w = GetClientWidth(), h = GetClientHeight();
  if (w <= 0 || h <= 0) return;
  OffScreen->SetSize(w, h);
  PaintBackground();
  {
    TIECanvas canvas(OffScreen->Canvas(), false, true);
    DrawText(&canvas, 0, 0, int(w / ZoomFactor), int(h / ZoomFactor));
  }
  Canvas()->CopyRect(RECT{0, 0, w, h}, OffScreen->Canvas(), RECT{0, 0, w, h});
  if (focused) {
    CreateCaret(GetHandle(), nullptr, 0, std::max(1, CaretHeight));
    SetCaretPos(CaretX, CaretY);
    ShowCaret(GetHandle());
  }
}
