#include "iopreviews.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <type_traits>

#include "iedrawhelpers.h"
#include "ieformats.h"
#include "iepalettedialog.h"
#include "ieplatformbitmap.h"
#include "iestreams.h"
#include "ieutils.h"
#include "imageryio.h"
#include "imageryproc.h"
#include "imageryview.h"

using namespace ui;

UI_IMPLEMENT_CLASS(TfIOPreviews, TForm, nullptr, nullptr, nullptr, nullptr)

namespace {

const char* const kColours8[] = {"B/W", "4", "8", "16", "32", "64", "128", "256"};

// TIFF "B/W", "16", "256", "65536", "16M" as (bits, samples).
const int kTIFFColours[5][2] = {{1, 1}, {4, 1}, {8, 1}, {16, 1}, {8, 3}};
// BMP colour index as (bits, samples); PCX uses the first four rows, PNG and TGA their own.
const int kBMPColours[5][2] = {{1, 1}, {4, 1}, {8, 1}, {8, 3}, {8, 3}};
const int kPNGColours[3][2] = {{1, 1}, {8, 1}, {8, 3}};

// The integer an edit holds, or `def` for text that is no integer.
int EditInt(TEdit* e, int def) {
  const std::string s = e->GetText();
  if (s.empty()) return def;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(s.c_str(), &end, 10);
  if (end == s.c_str() || *end || errno == ERANGE || v < INT_MIN || v > INT_MAX) return def;
  return int(v);
}

std::string IntText(int v) { return std::to_string(v); }

// Rounded to the nearest integer, ties to even.
int RoundEven(double v) { return int(std::nearbyint(v)); }

std::string SizeText(int64_t bytes) { return std::to_string(bytes) + " bytes"; }

// A word of the table as a caption of the 8-bit controls (system code page).
std::string Caption(uint8_t slot, TMsgLanguage language, const char* suffix = "") {
  const std::wstring w = IEGetLocalizedWord(slot, language);
  std::string s;
  if (!w.empty()) {
    const int n = WideCharToMultiByte(CP_ACP, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
    s.resize(size_t(std::max(n, 0)));
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, w.data(), int(w.size()), &s[0], n, nullptr, nullptr);
  }
  return s + suffix;
}

int ColourIndexOfBMP(int samples, int bits, int current) {
  if (samples == 1 && bits == 1) return 0;
  if (samples == 1 && bits == 4) return 1;
  if (samples == 1 && bits == 8) return 2;
  if (samples == 3 && (bits == 5 || bits == 8)) return 3;
  return current;
}

int ColourIndexOfPCX(int samples, int bits, int current) {
  if (samples == 1 && bits == 1) return 0;
  if (samples == 1 && bits == 4) return 1;
  if (samples == 1 && bits == 8) return 2;
  if (samples == 3) return 3;
  return current;
}

int ColourIndexOfPNG(int samples, int bits) {
  if (samples == 1) return bits == 1 ? 0 : 1;
  return 2;
}

}  // namespace

// ---------------------------------------------------------------------------------------------------
// construction

void TfIOPreviews::Create(TComponent* owner) {
  inherited::Create(owner);
  SetCaption("Parameters Preview");
  SetBorderStyle(bsDialog);
  SetBorderIcons(biSystemMenu);
  SetPosition(poScreenCenter);
  SetClientWidthProp(527);
  SetClientHeightProp(425);
  GetFont()->SetName("MS Sans Serif");
  GetFont()->SetHeight(-11);
  BuildControls();
  OnActivate = ui::TNotifyEvent(this, &TfIOPreviews::FormActivate);
  OnResize = ui::TNotifyEvent(this, &TfIOPreviews::FormResize);
  FormResize(this);  // the size set above came before the handler
}

void TfIOPreviews::BuildControls() {
  auto make = [this](auto* tag, TWinControl* parent, int l, int t, int w, int h) {
    using T = std::remove_pointer_t<decltype(tag)>;
    T* c = New<T>(this);
    c->SetParent(parent);
    c->SetBounds(l, t, w, h);
    return c;
  };
  auto label = [&](TWinControl* parent, int l, int t, const char* text) {
    TLabel* c = make((TLabel*)nullptr, parent, l, t, 150, 13);
    c->SetCaption(text);
    return c;
  };
  auto combo = [&](TWinControl* parent, int l, int t, int w, std::initializer_list<const char*> items) {
    TComboBox* c = make((TComboBox*)nullptr, parent, l, t, w, 21);
    c->SetStyle(csDropDownList);
    for (const char* s : items) c->GetItems()->Add(s);
    return c;
  };
  auto edit = [&](TWinControl* parent, int l, int t, int w) {
    TEdit* c = make((TEdit*)nullptr, parent, l, t, w, 21);
    c->SetText("0");
    return c;
  };
  auto check = [&](TWinControl* parent, int l, int t, int w, const char* text) {
    TCheckBox* c = make((TCheckBox*)nullptr, parent, l, t, w, 17);
    c->SetCaption(text);
    return c;
  };
  auto swatch = [&](TWinControl* parent, int l, int t) {
    TPanel* c = make((TPanel*)nullptr, parent, l, t, 41, 21);
    c->SetParentColor(false);  // shows its own colour, never its parent's
    c->SetCaption("");
    return c;
  };
  auto group = [&](TWinControl* parent, int l, int t, int w, int h, const char* text) {
    TGroupBox* c = make((TGroupBox*)nullptr, parent, l, t, w, h);
    c->SetCaption(text);
    return c;
  };
  auto trackBar = [&](TWinControl* parent, int l, int t, int w, int max, int freq) {
    TTrackBar* c = make((TTrackBar*)nullptr, parent, l, t, w, 25);
    c->SetMax(max);
    c->SetFrequency(freq);
    c->SetThumbLength(10);
    return c;
  };
  auto upDown = [&](TEdit* buddy, int min, int max) {
    TUpDown* c = New<TUpDown>(this);
    c->SetParent(buddy->GetParent());
    c->SetMin(min);
    c->SetMax(max);
    c->SetAssociate(buddy);
    return c;
  };
  // the two size rows every page ends with: captions at (x, top), values at (x, top + 16)
  auto sizes = [&](TWinControl* page, int x, int top, TLabel*& oc, TLabel*& ov, TLabel*& cc, TLabel*& cv) {
    oc = label(page, x, top, "Original size:");
    ov = label(page, x, top + 16, "---");
    cc = label(page, x + 150, top, "Compressed size:");
    cv = label(page, x + 150, top + 16, "---");
  };
  const ui::TNotifyEvent onTrack13(this, &TfIOPreviews::TrackBar13Change);
  const ui::TNotifyEvent onEdit22(this, &TfIOPreviews::Edit22Change);
  const ui::TNotifyEvent onTiff(this, &TfIOPreviews::ComboBox2Click);
  const ui::TNotifyEvent onTiff2(this, &TfIOPreviews::ComboBox16Change);
  const ui::TNotifyEvent onGif(this, &TfIOPreviews::ComboBox5Click);
  const ui::TNotifyEvent onBmp(this, &TfIOPreviews::ComboBox6Change);
  const ui::TNotifyEvent onPcx(this, &TfIOPreviews::ComboBox8Change);
  const ui::TNotifyEvent onPng(this, &TfIOPreviews::ComboBox10Change);
  const ui::TNotifyEvent onTga(this, &TfIOPreviews::ComboBox14Click);
  const ui::TNotifyEvent onJ2k(this, &TfIOPreviews::TrackBar1Change);

  Image1 = make((TImage*)nullptr, this, 0, 0, 527, 425);
  Image1->SetAlign(alClient);
  Label1 = label(this, 5, 1, "Source:");
  Imagery1 = make((TImageryView*)nullptr, this, 6, 17, 191, 135);
  Label2 = label(this, 227, 1, "Result:");
  Imagery2 = make((TImageryView*)nullptr, this, 227, 17, 191, 135);
  for (TImageryView* v : {Imagery1, Imagery2}) {
    v->SetBackgroundValue(clWhite);
    v->SetOnProgressValue([this](void* s, int per) { Imagery1Progress(s, per); });
    // the dialog's own font for whatever the views' writers draw as text
    TFont* f = v->GetIO()->PreviewFont;
    f->SetCharset(DEFAULT_CHARSET);
    f->SetColor(clWindowText);
    f->SetHeight(-11);
    f->SetName("MS Sans Serif");
    f->SetStyle(0);
  }
  Imagery1->SetCursorValue(1782);
  Imagery2->SetCursorValue(1780);
  Imagery1->OnViewChange = [this](void* s, int change) { Imagery1ViewChange(s, change); };
  ProgressBar1 = make((TProgressBar*)nullptr, this, 6, 157, 412, 10);

  Button1 = make((TButton*)nullptr, this, 432, 15, 87, 23);
  Button1->SetCaption("OK");
  Button1->SetDefault(true);
  Button1->SetModalResult(mrOk);
  Button1->OnClick = ui::TNotifyEvent(this, &TfIOPreviews::Button1Click);
  Button2 = make((TButton*)nullptr, this, 432, 43, 87, 23);
  Button2->SetCaption("Cancel");
  Button2->SetCancel(true);
  Button2->SetModalResult(mrCancel);
  Button3 = make((TButton*)nullptr, this, 432, 76, 87, 23);
  Button3->SetCaption("&Preview");
  Button3->OnClick = ui::TNotifyEvent(this, &TfIOPreviews::Button3Click);
  Button4 = make((TButton*)nullptr, this, 432, 106, 87, 23);
  Button4->SetCaption("&Apply");
  Button4->SetEnabled(false);
  Button4->OnClick = ui::TNotifyEvent(this, &TfIOPreviews::Button4Click);
  chkLockPreview = check(this, 12, 398, 200, "Lock Preview");
  chkLockPreview->SetHint("Automatically updates your preview with the changes you have selected");
  chkLockPreview->SetShowHint(false);
  chkLockPreview->OnClick = ui::TNotifyEvent(this, &TfIOPreviews::SpeedButton1Click);
  ColorDialog1 = New<TColorDialog>(this);

  PageControl1 = make((TPageControl*)nullptr, this, 8, 172, 417, 217);
  PageControl1->SetHotTrack(true);
  PageControl1->OnChanging = TTabChangingEvent(this, &TfIOPreviews::PageControl1Changing);
  PageControl1->OnChange = ui::TNotifyEvent(this, &TfIOPreviews::PageControl1Change);
  auto sheet = [&](const char* name, const char* caption) {
    TTabSheet* s = New<TTabSheet>(this);
    s->SetName(name);
    s->SetPageControl(PageControl1);
    s->SetCaption(caption);
    return s;
  };

  // JPEG, full
  TabSheetJPEG1 = sheet("TabSheetJPEG1", "JPEG");
  Label23 = label(TabSheetJPEG1, 8, 8, "Quality:");
  Edit22 = edit(TabSheetJPEG1, 100, 5, 41);
  TrackBar13 = trackBar(TabSheetJPEG1, 145, 3, 250, 100, 5);
  GroupBox5 = group(TabSheetJPEG1, 4, 32, 396, 98, " Advanced ");
  label(GroupBox5, 8, 18, "Color space:");
  ComboBox13 = combo(GroupBox5, 92, 14, 100, {"RGB", "GrayScale", "YCbCr", "CMYK", "YCbCrK"});
  Label26 = label(GroupBox5, 8, 44, "DCT method:");
  ComboBox1 = combo(GroupBox5, 92, 40, 100, {"ISLOW", "IFAST", "FLOAT"});
  Label27 = label(GroupBox5, 8, 70, "Smoothing factor:");
  Edit23 = edit(GroupBox5, 110, 66, 40);
  UpDown11 = upDown(Edit23, 0, 100);
  CheckBox2 = check(GroupBox5, 220, 16, 160, "&Optimal Huffman");
  CheckBox3 = check(GroupBox5, 220, 42, 160, "P&rogressive");
  sizes(TabSheetJPEG1, 8, 140, Label3, Label4, Label24, Label25);
  TrackBar13->OnChange = onTrack13;
  for (TComboBox* c : {ComboBox13, ComboBox1}) c->OnChange = onTrack13;
  for (TCheckBox* c : {CheckBox2, CheckBox3}) c->OnClick = onTrack13;
  for (TEdit* e : {Edit22, Edit23}) e->OnChange = onEdit22;

  // JPEG, simplified
  TabSheetJPEG2 = sheet("TabSheetJPEG2", "JPEG");
  Label72 = label(TabSheetJPEG2, 8, 8, "Quality:");
  Edit16 = edit(TabSheetJPEG2, 100, 5, 41);
  TrackBar2 = trackBar(TabSheetJPEG2, 145, 3, 250, 100, 5);
  sizes(TabSheetJPEG2, 8, 61, Label73, Label74, Label75, Label76);
  TrackBar2->OnChange = ui::TNotifyEvent(this, &TfIOPreviews::TrackBar2Change);
  Edit16->OnChange = ui::TNotifyEvent(this, &TfIOPreviews::Edit16Change);

  // TIFF, full
  TabSheetTIFF1 = sheet("TabSheetTIFF1", "TIFF");
  Label5 = label(TabSheetTIFF1, 8, 8, "Compression:");
  ComboBox2 = combo(TabSheetTIFF1, 90, 4, 110, {});
  Label6 = label(TabSheetTIFF1, 210, 8, "Image index:");
  Edit1 = edit(TabSheetTIFF1, 290, 4, 40);
  UpDown1 = upDown(Edit1, 0, 1000);
  Label7 = label(TabSheetTIFF1, 8, 32, "Photometric:");
  ComboBox3 = combo(TabSheetTIFF1, 90, 28, 110, {"WHITEISZERO/Gray", "BLACKISZERO/Gray", "RGB", "RGBPALETTE",
                                               "TRANSPMASK", "CMYK", "YCBCR", "CIELAB"});
  Label19 = label(TabSheetTIFF1, 210, 32, "Colors:");
  ComboBox4 = combo(TabSheetTIFF1, 290, 28, 80, {"B/W", "16", "256", "65536", "16M"});
  GroupBox1 = group(TabSheetTIFF1, 4, 54, 396, 96, " Scanned document info ");
  Label12 = label(GroupBox1, 8, 18, "Name:");
  Edit4 = edit(GroupBox1, 80, 14, 110);
  Label13 = label(GroupBox1, 200, 18, "Description:");
  Edit5 = edit(GroupBox1, 280, 14, 110);
  Label14 = label(GroupBox1, 8, 44, "Page name:");
  Edit6 = edit(GroupBox1, 80, 40, 110);
  Label15 = label(GroupBox1, 200, 44, "Page number:");
  Edit7 = edit(GroupBox1, 280, 40, 40);
  Label16 = label(GroupBox1, 326, 44, "of");
  Edit8 = edit(GroupBox1, 345, 40, 40);
  Label8 = label(GroupBox1, 8, 70, "Horiz. Position (inch):");
  Edit2 = edit(GroupBox1, 130, 66, 50);
  Label10 = label(GroupBox1, 200, 70, "Vert. Position (inch):");
  Edit3 = edit(GroupBox1, 330, 66, 50);
  for (TEdit* e : {Edit4, Edit5, Edit6}) e->SetText("");
  sizes(TabSheetTIFF1, 8, 154, Label9, Label11, Label17, Label18);
  for (TComboBox* c : {ComboBox2, ComboBox3, ComboBox4}) c->OnChange = onTiff;
  for (TEdit* e : {Edit1, Edit2, Edit3, Edit4, Edit5, Edit6, Edit7, Edit8}) e->OnChange = onTiff;

  // TIFF, simplified
  TabSheetTIFF2 = sheet("TabSheetTIFF2", "TIFF");
  Label81 = label(TabSheetTIFF2, 8, 8, "Compression:");
  ComboBox16 = combo(TabSheetTIFF2, 90, 4, 110, {});
  Label82 = label(TabSheetTIFF2, 8, 34, "Colors:");
  ComboBox17 = combo(TabSheetTIFF2, 90, 30, 110, {"2", "16", "256", "16777216"});
  sizes(TabSheetTIFF2, 8, 61, Label77, Label78, Label79, Label80);
  for (TComboBox* c : {ComboBox16, ComboBox17}) c->OnChange = onTiff2;

  // GIF, full
  TabSheetGIF1 = sheet("TabSheetGIF1", "GIF");
  Label21 = label(TabSheetGIF1, 8, 8, "Colors:");
  ComboBox5 = combo(TabSheetGIF1, 90, 4, 80, {});
  Label20 = label(TabSheetGIF1, 200, 8, "Image index:");
  Edit9 = edit(TabSheetGIF1, 280, 4, 40);
  UpDown2 = upDown(Edit9, 0, 1000);
  CheckBox4 = check(TabSheetGIF1, 8, 32, 100, "&Transparent:");
  Label34 = label(TabSheetGIF1, 120, 34, "Transparent color:");
  Panel3 = swatch(TabSheetGIF1, 230, 30);
  CheckBox5 = check(TabSheetGIF1, 8, 58, 100, "I&nterlaced:");
  Label35 = label(TabSheetGIF1, 120, 60, "Background:");
  Panel4 = swatch(TabSheetGIF1, 230, 56);
  GroupBox2 = group(TabSheetGIF1, 4, 82, 396, 70, " Advanced ");
  Label31 = label(GroupBox2, 8, 18, "Horiz. Position:");
  Edit10 = edit(GroupBox2, 110, 14, 50);
  Label32 = label(GroupBox2, 200, 18, "Vert. Position:");
  Edit11 = edit(GroupBox2, 300, 14, 50);
  Label33 = label(GroupBox2, 8, 44, "Delay time:");
  Edit12 = edit(GroupBox2, 110, 40, 50);
  Label36 = label(GroupBox2, 166, 44, "1/100 s");
  sizes(TabSheetGIF1, 8, 156, Label22, Label28, Label29, Label30);
  ComboBox5->OnChange = onGif;
  for (TCheckBox* c : {CheckBox4, CheckBox5}) c->OnClick = onGif;
  for (TEdit* e : {Edit9, Edit10, Edit11, Edit12}) e->OnChange = onGif;
  Panel3->OnClick = ui::TNotifyEvent(this, &TfIOPreviews::Panel3Click);
  Panel4->OnClick = ui::TNotifyEvent(this, &TfIOPreviews::Panel3Click);

  // GIF, simplified
  TabSheetGIF2 = sheet("TabSheetGIF2", "GIF");
  Label87 = label(TabSheetGIF2, 8, 8, "Colors:");
  ComboBox18 = combo(TabSheetGIF2, 90, 4, 80, {});
  sizes(TabSheetGIF2, 8, 61, Label83, Label84, Label85, Label86);
  for (TComboBox* c : {ComboBox5, ComboBox18})
    for (const char* s : kColours8) c->GetItems()->Add(s);
  ComboBox18->OnChange = ui::TNotifyEvent(this, &TfIOPreviews::ComboBox18Change);

  // BMP and PCX
  TabSheetBMP1 = sheet("TabSheetBMP1", "BMP");
  Label37 = label(TabSheetBMP1, 8, 8, "Compression:");
  ComboBox6 = combo(TabSheetBMP1, 90, 4, 110, {"UNCOMPRESSED", "RLE"});
  Label38 = label(TabSheetBMP1, 8, 34, "Colors:");
  ComboBox7 = combo(TabSheetBMP1, 90, 30, 110, {"B/W", "16", "256", "16M", "16M (32bit)"});
  sizes(TabSheetBMP1, 8, 140, Label39, Label40, Label41, Label42);
  for (TComboBox* c : {ComboBox6, ComboBox7}) c->OnChange = onBmp;
  TabSheetPCX1 = sheet("TabSheetPCX1", "PCX");
  Label43 = label(TabSheetPCX1, 8, 8, "Compression:");
  ComboBox8 = combo(TabSheetPCX1, 90, 4, 110, {"UNCOMPRESSED", "RLE"});
  Label44 = label(TabSheetPCX1, 8, 34, "Colors:");
  ComboBox9 = combo(TabSheetPCX1, 90, 30, 110, {"B/W", "16", "256", "16M"});
  sizes(TabSheetPCX1, 8, 140, Label45, Label46, Label47, Label48);
  for (TComboBox* c : {ComboBox8, ComboBox9}) c->OnChange = onPcx;

  // PNG
  TabSheetPNG1 = sheet("TabSheetPNG1", "PNG");
  Label49 = label(TabSheetPNG1, 8, 8, "Colors:");
  ComboBox10 = combo(TabSheetPNG1, 90, 4, 80, {"B/W", "256", "16M"});
  Label54 = label(TabSheetPNG1, 200, 8, "Background:");
  Panel1 = swatch(TabSheetPNG1, 290, 4);
  GroupBox3 = group(TabSheetPNG1, 4, 32, 396, 76, " Advanced ");
  Label55 = label(GroupBox3, 8, 18, "Filter:");
  ComboBox11 = combo(GroupBox3, 90, 14, 80, {"None", "Sub", "Paeth"});
  CheckBox6 = check(GroupBox3, 200, 16, 120, "I&nterlaced:");
  Label56 = label(GroupBox3, 8, 46, "Compression:");
  ComboBox12 = combo(GroupBox3, 90, 42, 80, {"None", "1", "2", "3", "4", "5", "6", "7", "8", "Max"});
  sizes(TabSheetPNG1, 8, 140, Label50, Label51, Label52, Label53);
  for (TComboBox* c : {ComboBox10, ComboBox11, ComboBox12}) c->OnChange = onPng;
  CheckBox6->OnClick = onPng;
  Panel1->OnClick = ui::TNotifyEvent(this, &TfIOPreviews::Panel1Click);

  // TGA
  TabSheetTGA1 = sheet("TabSheetTGA1", "TGA");
  Label62 = label(TabSheetTGA1, 8, 8, "Colors:");
  ComboBox14 = combo(TabSheetTGA1, 90, 4, 80, {"B/W", "256", "16M"});
  Label63 = label(TabSheetTGA1, 200, 8, "Background:");
  Panel5 = swatch(TabSheetTGA1, 290, 4);
  CheckBox1 = check(TabSheetTGA1, 8, 34, 120, "Compression:");
  Label64 = label(TabSheetTGA1, 8, 62, "&Name:");
  Edit13 = edit(TabSheetTGA1, 90, 58, 300);
  Label65 = label(TabSheetTGA1, 8, 88, "&Description:");
  Edit14 = edit(TabSheetTGA1, 90, 84, 300);
  for (TEdit* e : {Edit13, Edit14}) e->SetText("");
  sizes(TabSheetTGA1, 8, 140, Label58, Label59, Label60, Label61);
  ComboBox14->OnChange = onTga;
  CheckBox1->OnClick = onTga;
  for (TEdit* e : {Edit13, Edit14}) e->OnChange = onTga;
  Panel5->OnClick = ui::TNotifyEvent(this, &TfIOPreviews::Panel1Click);

  // JPEG 2000
  TabSheetJ20001 = sheet("TabSheetJ20001", "JPEG2000");
  Label66 = label(TabSheetJ20001, 8, 8, "Rate:");
  Edit15 = edit(TabSheetJ20001, 100, 5, 41);
  TrackBar1 = trackBar(TabSheetJ20001, 145, 3, 250, 1000, 20);
  Label71 = label(TabSheetJ20001, 8, 38, "Photometric:");
  ComboBox15 = combo(TabSheetJ20001, 100, 34, 100, {"GrayScale", "RGB", "YCbCr"});
  sizes(TabSheetJ20001, 8, 140, Label67, Label68, Label69, Label70);
  TrackBar1->OnChange = onJ2k;
  ComboBox15->OnChange = onJ2k;
  Edit15->OnChange = ui::TNotifyEvent(this, &TfIOPreviews::Edit15Change);
}

// ---------------------------------------------------------------------------------------------------
// opener's interface

void TfIOPreviews::Localize(TMsgLanguage lang) {
  auto set = [lang](std::initializer_list<TControl*> controls, uint8_t slot, const char* suffix) {
    const std::string text = Caption(slot, lang, suffix);
    for (TControl* c : controls) c->SetCaption(text);
  };
  auto group = [lang](std::initializer_list<TControl*> controls, uint8_t slot) {
    const std::string text = " " + Caption(slot, lang) + " ";
    for (TControl* c : controls) c->SetCaption(text);
  };
  SetCaption(Caption(37, lang));
  set({Button3}, 0, "");
  set({Label1}, 1, ":");
  set({Label2}, 2, ":");
  set({Button1}, 3, "");
  set({Button2}, 4, "");
  CancelCaption = L"&" + IEGetLocalizedWord(4, lang);
  set({chkLockPreview}, 5, "");
  set({Button4}, 120, "");
  set({Label23, Label72}, 38, ":");
  set({Label26}, 39, ":");
  set({Label27}, 40, ":");
  set({CheckBox2}, 42, "");
  set({CheckBox3}, 46, "");
  set({Label3, Label73, Label67, Label9, Label77, Label22, Label83, Label39, Label45, Label50, Label58}, 43, ":");
  set({Label24, Label75, Label69, Label17, Label79, Label29, Label85, Label41, Label47, Label52, Label60}, 44, ":");
  group({GroupBox5, GroupBox2, GroupBox3}, 45);
  set({Label5, Label81, Label37, Label43, Label56, CheckBox1}, 47, ":");
  set({Label6, Label20}, 48, ":");
  set({Label71, Label7}, 49, ":");
  group({GroupBox1}, 50);
  set({Label12, Label64}, 51, ":");
  set({Label13, Label65}, 52, ":");
  set({Label14}, 53, ":");
  set({Label15}, 54, ":");
  set({Label16}, 55, "");
  set({Label8}, 56, ":");
  set({Label10}, 57, ":");
  set({Label19, Label82, Label21, Label87, Label38, Label44, Label49, Label62}, 58, ":");
  set({CheckBox4}, 59, "");
  set({Label34}, 60, ":");
  set({CheckBox5}, 61, ":");
  set({CheckBox6}, 61, "");
  set({Label35, Label54, Label63}, 62, ":");
  set({Label31}, 63, ":");
  set({Label32}, 64, ":");
  set({Label33}, 65, ":");
  set({Label55}, 66, ":");
  set({Label66}, 123, ":");
}

bool TfIOPreviews::SetPages(uint16_t pages) {
  pages_ = pages;
  if ((pages & ieppFileType) && EditedParams) {
    switch (EditedParams->FileType) {
      case iffTIFF: pages_ |= ieppTIFF; break;
      case iffGIF: pages_ |= ieppGIF; break;
      case iffJPEG: pages_ |= ieppJPEG; break;
      case iffPCX: pages_ |= ieppPCX; break;
      case iffBMP: pages_ |= ieppBMP; break;
      case iffPNG: pages_ |= ieppPNG; break;
      case iffTGA: pages_ |= ieppTGA; break;
      case iffJP2:
      case iffJ2K: pages_ |= ieppJ2000; break;
      default: break;
    }
  }
  return pages_ != ieppFileType;
}

bool TfIOPreviews::IsLZWAvailable() { return IEGlobalTIFFLZWCompressor != nullptr; }

int TfIOPreviews::CompressionToIndex(int compression) {
  const bool lzw = IsLZWAvailable();
  switch (compression) {
    case 1: case 2: case 3: case 4: return compression;
    case 5: return lzw ? 5 : 6;  // without the coder, LZW is written as PackBits
    case 7: return lzw ? 6 : 5;
    case 8: return lzw ? 7 : 6;
    case 9:
    case 10: return lzw ? 8 : 7;  // Deflate under either code: the writer stores both alike
    default: return 0;
  }
}

int TfIOPreviews::IndexToCompression(int index) {
  const bool lzw = IsLZWAvailable();
  if (index >= 1 && index <= 4) return index;
  if (lzw) {
    switch (index) {
      case 5: return 5;
      case 6: return 7;
      case 7: return 8;
      case 8: return 9;
    }
  } else {
    switch (index) {
      case 5: return 7;
      case 6: return 8;
      case 7: return 9;
    }
  }
  return 0;
}

// ---------------------------------------------------------------------------------------------------
// activation and working values

void TfIOPreviews::FormActivate(TObject*) {
  // The pages are built and the values read on the first activation only: the form is activated again
  // whenever one of its own dialogs (palette, colour) closes, which must not drop the user's edits or
  // change the page.
  if (activated_) return;
  ready_ = true;
  chkLockPreview->SetChecked(DefaultLockPreview);
  Button3->SetEnabled(!chkLockPreview->GetChecked());
  PageControl1->Hide();
  for (int i = 0; i < PageControl1->PageCount(); ++i) PageControl1->Pages(i)->SetTabVisible(false);
  const TIEFileFormatInfo* info = EditedParams ? IEFileFormatByType(EditedParams->FileType) : nullptr;
  struct TPage {
    TTabSheet* sheet;
    uint16_t bit;
  };
  const TPage simple[] = {{TabSheetJPEG2, ieppJPEG}, {TabSheetTIFF2, ieppTIFF}, {TabSheetGIF2, ieppGIF},
                          {TabSheetBMP1, ieppBMP},   {TabSheetPCX1, ieppPCX},   {TabSheetPNG1, ieppPNG},
                          {TabSheetTGA1, ieppTGA},   {TabSheetJ20001, ieppJ2000}};
  const TPage full[] = {{TabSheetJPEG1, ieppJPEG}, {TabSheetTIFF1, ieppTIFF}, {TabSheetGIF1, ieppGIF},
                        {TabSheetBMP1, ieppBMP},   {TabSheetPCX1, ieppPCX},   {TabSheetPNG1, ieppPNG},
                        {TabSheetTGA1, ieppTGA},   {TabSheetJ20001, ieppJ2000}};
  for (const TPage& p : Simplified ? simple : full) {
    const bool visible = (pages_ & ieppAll) || (pages_ & p.bit);
    p.sheet->SetTabVisible(visible);
    if (visible && info && (info->DialogPages & p.bit)) PageControl1->SetActivePage(p.sheet);
  }
  // Without a shown page of the file type, the first shown page.
  TTabSheet* active = PageControl1->GetActivePage();
  if (!active || !active->GetTabVisible()) {
    active = nullptr;
    for (int i = 0; i < PageControl1->PageCount() && !active; ++i)
      if (PageControl1->Pages(i)->GetTabVisible()) active = PageControl1->Pages(i);
    PageControl1->SetActivePage(active);
  }
  if (Simplified) {
    for (TLabel* l : {Label39, Label41, Label45, Label47, Label50, Label52, Label58, Label60, Label67, Label69})
      l->SetTop(61);
    for (TLabel* l : {Label40, Label42, Label46, Label48, Label51, Label53, Label59, Label61, Label68, Label70})
      l->SetTop(77);
    chkLockPreview->SetTop(Screen->PixelsPerInch() * 151 / 48);
    for (TControl* c : std::initializer_list<TControl*>{Label54, Panel1, GroupBox3, Label63, Panel5, Label64, Edit13,
                                                        Label65, Edit14, Label71, ComboBox15})
      c->Hide();
  }
  for (TComboBox* c : {ComboBox2, ComboBox16}) {
    TStrings* items = c->GetItems();
    items->Clear();
    for (const char* s : {"UNCOMPRESSED", "CCITT1D", "G3FAX1D", "G3FAX2D", "G4FAX"}) items->Add(s);
    if (IsLZWAvailable()) items->Add("LZW");
    for (const char* s : {"JPEG", "PACKBITS", "ZIP"}) items->Add(s);
  }
  for (TImageryView* v : {Imagery1, Imagery2}) v->SetChessboardParams(12, bsSolid);
  PageControl1->Show();
  ReadWorkingValues();
  ShowWorkingValues();
  Imagery1->ZoomToFit();
  Application->ProcessMessages();
  PageControl1Change(PageControl1);
  activated_ = true;
  ComputePreview();
}

void TfIOPreviews::ReadWorkingValues() {
  if (!EditedParams) return;
  const TIOParamsVals& p = *EditedParams;
  w_.JPEGQuality = p.JPEGQuality;
  w_.JPEGColorSpace = p.JPEGColorSpace;
  if (p.JPEGDCTMethod <= 2) w_.JPEGDCTMethod = p.JPEGDCTMethod;
  w_.JPEGOptimalHuffman = p.JPEGOptimalHuffman;
  w_.JPEGSmooth = p.JPEGSmooth;
  w_.JPEGProgressive = p.JPEGProgressive;
  w_.J2000Rate = p.J2000Rate;
  w_.J2000ColorSpace = p.J2000ColorSpace;
  w_.TIFFLZWCompress = p.TIFFLZWCompress;
  w_.TIFFCompression = p.TIFFCompression;
  w_.TIFFImageIndex = p.TIFFImageIndex;
  w_.TIFFPhotometric = p.TIFFPhotometric;
  w_.TIFFXPos = p.TIFFXPos;
  w_.TIFFYPos = p.TIFFYPos;
  w_.TIFFDocumentName = p.TIFFDocumentName;
  w_.TIFFImageDescription = p.TIFFImageDescription;
  w_.TIFFPageName = p.TIFFPageName;
  w_.TIFFPageNumber = p.TIFFPageNumber;
  w_.TIFFPageCount = p.TIFFPageCount;
  w_.SamplesPerPixel = p.SamplesPerPixel;
  w_.BitsPerSample = p.BitsPerSample;
  w_.GIFLZWDecompress = p.GIFLZWDecompress;
  w_.GIFLZWCompress = p.GIFLZWCompress;
  w_.GIFImageIndex = p.GIFImageIndex;
  w_.GIFXPos = p.GIFXPos;
  w_.GIFYPos = p.GIFYPos;
  w_.GIFDelayTime = p.GIFDelayTime;
  w_.GIFFlagTranspColor = p.GIFFlagTranspColor;
  w_.GIFTranspColor = p.GIFTranspColor;
  w_.GIFInterlaced = p.GIFInterlaced;
  w_.GIFBackground = p.GIFBackground;
  w_.GIFBits = p.BitsPerSample;
  w_.BMPCompression = p.BMPCompression;
  w_.PCXCompression = p.PCXCompression;
  w_.PNGInterlaced = p.PNGInterlaced;
  w_.PNGBackground = p.PNGBackground;
  w_.PNGFilter = p.PNGFilter;
  w_.PNGCompression = p.PNGCompression;
  w_.TGAKeyColor = p.TGABackground;
  w_.TGACompressed = p.TGACompressed;
  w_.TGAComments = p.TGAImageName;
  w_.TGADescriptor = p.TGADescriptor;
  const int s = p.SamplesPerPixel, b = p.BitsPerSample;
  w_.BMPColors = ColourIndexOfBMP(s, b, w_.BMPColors);
  w_.PCXColors = ColourIndexOfPCX(s, b, w_.PCXColors);
  w_.PNGColors = w_.TGAColors = ColourIndexOfPNG(s, b);
}

void TfIOPreviews::ShowWorkingValues() {
  ready_ = false;
  TIEBitmap* src = Imagery1->GetIEBitmap();
  const std::string original = SizeText(int64_t(src->GetRowLength()) * src->GetImageHeight());
  TTabSheet* page = PageControl1->GetActivePage();
  auto colourIndex = [](int samples, int bits, bool sixteenM) {
    if (samples == 1) {
      if (bits == 1) return 0;
      if (bits >= 2 && bits <= 4) return 1;
      if (bits >= 5 && bits <= 8) return 2;
      if (bits == 16 && !sixteenM) return 3;
    } else if (samples == 3 && bits == 8) {
      return sixteenM ? 3 : 4;
    }
    return -2;  // leaves the selection
  };
  if (page == TabSheetJPEG1) {
    Edit22->SetText(IntText(w_.JPEGQuality));
    TrackBar13->SetPosition(w_.JPEGQuality);
    ComboBox13->SetItemIndex(w_.JPEGColorSpace);
    ComboBox1->SetItemIndex(w_.JPEGDCTMethod);
    CheckBox2->SetChecked(w_.JPEGOptimalHuffman);
    CheckBox3->SetChecked(w_.JPEGProgressive);
    Edit23->SetText(IntText(w_.JPEGSmooth));
    Label4->SetCaption(original);
  } else if (page == TabSheetJPEG2) {
    Edit16->SetText(IntText(w_.JPEGQuality));
    TrackBar2->SetPosition(w_.JPEGQuality);
    Label74->SetCaption(original);
  } else if (page == TabSheetJ20001) {
    Edit15->SetText(IntText(RoundEven(w_.J2000Rate * 1000)));
    TrackBar1->SetPosition(RoundEven(w_.J2000Rate * 1000));
    ComboBox15->SetItemIndex(w_.J2000ColorSpace);
    Label68->SetCaption(original);
  } else if (page == TabSheetTIFF1) {
    const int ci = colourIndex(w_.SamplesPerPixel, w_.BitsPerSample, false);
    if (ci >= 0) ComboBox4->SetItemIndex(ci);
    ComboBox2->SetItemIndex(CompressionToIndex(w_.TIFFCompression));
    Edit1->SetText(IntText(w_.TIFFImageIndex));
    ComboBox3->SetItemIndex(w_.TIFFPhotometric);
    if (w_.TIFFPhotometric >= 5 && w_.TIFFPhotometric <= 7) ComboBox4->SetItemIndex(4);
    else if (w_.TIFFPhotometric == 0 || w_.TIFFPhotometric == 1) ComboBox4->SetItemIndex(w_.BitsPerSample == 1 ? 0 : 2);
    else if (ComboBox4->GetItemIndex() == 0) ComboBox4->SetItemIndex(4);
    Edit4->SetText(w_.TIFFDocumentName);
    Edit5->SetText(w_.TIFFImageDescription);
    Edit6->SetText(w_.TIFFPageName);
    Edit7->SetText(IntText(w_.TIFFPageNumber));
    Edit8->SetText(IntText(w_.TIFFPageCount));
    Edit2->SetText(IntText(w_.TIFFXPos));
    Edit3->SetText(IntText(w_.TIFFYPos));
    Label11->SetCaption(original);
  } else if (page == TabSheetTIFF2) {
    ComboBox16->SetItemIndex(CompressionToIndex(w_.TIFFCompression));
    if (w_.TIFFCompression >= 1 && w_.TIFFCompression <= 4) {
      w_.SamplesPerPixel = 1;
      w_.BitsPerSample = 1;
    } else if (w_.TIFFCompression == 7) {
      w_.SamplesPerPixel = 3;
      w_.BitsPerSample = 8;
    }
    const int ci = colourIndex(w_.SamplesPerPixel, w_.BitsPerSample, true);
    if (ci >= 0) ComboBox17->SetItemIndex(ci);
    Label78->SetCaption(original);
  } else if (page == TabSheetGIF1) {
    ComboBox5->SetItemIndex(w_.GIFBits - 1);
    Edit9->SetText(IntText(w_.GIFImageIndex));
    CheckBox4->SetChecked(w_.GIFFlagTranspColor);
    Label34->SetEnabled(w_.GIFFlagTranspColor);
    Panel3->SetEnabled(w_.GIFFlagTranspColor);
    Panel3->SetColor(IERGBToColor(w_.GIFTranspColor));
    CheckBox5->SetChecked(w_.GIFInterlaced);
    Edit10->SetText(IntText(w_.GIFXPos));
    Edit11->SetText(IntText(w_.GIFYPos));
    Edit12->SetText(IntText(w_.GIFDelayTime));
    Panel4->SetColor(IERGBToColor(w_.GIFBackground));
    Label28->SetCaption(original);
  } else if (page == TabSheetGIF2) {
    ComboBox18->SetItemIndex(w_.GIFBits - 1);
    Label84->SetCaption(original);
  } else if (page == TabSheetBMP1) {
    ComboBox6->SetItemIndex(w_.BMPCompression);
    ComboBox7->SetItemIndex(w_.BMPColors);
    Label40->SetCaption(original);
  } else if (page == TabSheetPCX1) {
    ComboBox8->SetItemIndex(w_.PCXCompression);
    ComboBox9->SetItemIndex(w_.PCXColors);
    Label46->SetCaption(original);
  } else if (page == TabSheetPNG1) {
    ComboBox10->SetItemIndex(w_.PNGColors);
    CheckBox6->SetChecked(w_.PNGInterlaced);
    Panel1->SetColor(IERGBToColor(w_.PNGBackground));
    ComboBox11->SetItemIndex(w_.PNGFilter);
    ComboBox12->SetItemIndex(w_.PNGCompression);
    Label51->SetCaption(original);
  } else if (page == TabSheetTGA1) {
    ComboBox14->SetItemIndex(w_.TGAColors);
    Panel5->SetColor(IERGBToColor(w_.TGAKeyColor));
    CheckBox1->SetChecked(w_.TGACompressed);
    Edit13->SetText(w_.TGAComments);
    Edit14->SetText(w_.TGADescriptor);
    Label59->SetCaption(original);
  }
  ready_ = true;
}

// ---------------------------------------------------------------------------------------------------
// buttons, pages, views

void TfIOPreviews::Button1Click(TObject*) {
  if (!EditedParams) return;
  TIOParamsVals& p = *EditedParams;
  TTabSheet* page = PageControl1->GetActivePage();
  auto bitsSamples = [&p](const int (*table)[2], int index, int count) {
    if (index < 0 || index >= count) return;
    p.BitsPerSample = table[index][0];
    p.SamplesPerPixel = table[index][1];
  };
  if (page == TabSheetJPEG1 || page == TabSheetJPEG2) {
    p.JPEGQuality = w_.JPEGQuality;
    p.JPEGColorSpace = w_.JPEGColorSpace;
    if (w_.JPEGDCTMethod <= 2) p.JPEGDCTMethod = w_.JPEGDCTMethod;
    p.JPEGOptimalHuffman = w_.JPEGOptimalHuffman;
    p.JPEGSmooth = w_.JPEGSmooth;
    p.JPEGProgressive = w_.JPEGProgressive;
    p.FileType = iffJPEG;
  } else if (page == TabSheetTIFF1 || page == TabSheetTIFF2) {
    p.TIFFCompression = w_.TIFFCompression;
    p.SetImageIndexValue(w_.TIFFImageIndex);
    p.TIFFPhotometric = w_.TIFFPhotometric;
    p.TIFFXPos = w_.TIFFXPos;
    p.TIFFYPos = w_.TIFFYPos;
    p.TIFFDocumentName = w_.TIFFDocumentName;
    p.TIFFImageDescription = w_.TIFFImageDescription;
    p.TIFFPageName = w_.TIFFPageName;
    p.TIFFPageNumber = w_.TIFFPageNumber;
    p.TIFFPageCount = w_.TIFFPageCount;
    p.SamplesPerPixel = w_.SamplesPerPixel;
    p.BitsPerSample = w_.BitsPerSample;
    p.FileType = iffTIFF;
  } else if (page == TabSheetGIF1 || page == TabSheetGIF2) {
    p.SetImageIndexValue(w_.GIFImageIndex);
    p.GIFXPos = w_.GIFXPos;
    p.GIFYPos = w_.GIFYPos;
    p.GIFDelayTime = w_.GIFDelayTime;
    p.GIFFlagTranspColor = w_.GIFFlagTranspColor;
    p.GIFTranspColor = w_.GIFTranspColor;
    p.GIFInterlaced = w_.GIFInterlaced;
    p.GIFBackground = w_.GIFBackground;
    p.BitsPerSample = w_.GIFBits;
    p.FileType = iffGIF;
  } else if (page == TabSheetBMP1) {
    p.BMPCompression = w_.BMPCompression;
    bitsSamples(kBMPColours, w_.BMPColors, 5);
    p.FileType = iffBMP;
  } else if (page == TabSheetPCX1) {
    p.PCXCompression = w_.PCXCompression;
    bitsSamples(kBMPColours, w_.PCXColors, 4);
    p.FileType = iffPCX;
  } else if (page == TabSheetPNG1) {
    bitsSamples(kPNGColours, w_.PNGColors, 3);
    p.PNGBackground = w_.PNGBackground;
    p.PNGInterlaced = w_.PNGInterlaced;
    p.PNGFilter = w_.PNGFilter;
    p.PNGCompression = w_.PNGCompression;
    p.FileType = iffPNG;
  } else if (page == TabSheetTGA1) {
    bitsSamples(kPNGColours, w_.TGAColors, 3);
    p.TGABackground = w_.TGAKeyColor;
    p.TGACompressed = w_.TGACompressed;
    p.TGAImageName = w_.TGAComments;
    p.TGADescriptor = w_.TGADescriptor;
    p.FileType = iffTGA;
  } else if (page == TabSheetJ20001) {
    switch (ComboBox15->GetItemIndex()) {
      case 0:
        p.BitsPerSample = 8;
        p.SamplesPerPixel = 1;
        p.J2000ColorSpace = 0;
        break;
      case 1:
      case 2:
        p.BitsPerSample = 8;
        p.SamplesPerPixel = 3;
        p.J2000ColorSpace = uint8_t(ComboBox15->GetItemIndex());
        break;
      default: break;
    }
    p.J2000Rate = w_.J2000Rate;
    p.FileType = iffJ2K;
  }
}

void TfIOPreviews::Button4Click(TObject* sender) {
  Button1Click(sender);
  Button4->SetEnabled(false);
}

void TfIOPreviews::Button3Click(TObject*) { ComputePreview(); }

void TfIOPreviews::SpeedButton1Click(TObject*) {
  if (chkLockPreview->GetChecked()) ComputePreview();
  Button3->SetEnabled(!chkLockPreview->GetChecked());
}

void TfIOPreviews::PageControl1Changing(TObject*, bool&) { ready_ = false; }

void TfIOPreviews::PageControl1Change(TObject*) {
  ready_ = true;
  ReadWorkingValues();
  ShowWorkingValues();
  if (chkLockPreview->GetChecked()) ComputePreview();
  Button4->SetEnabled(false);
}

void TfIOPreviews::Imagery1ViewChange(void*, int) { FollowSource(); }

void TfIOPreviews::FollowSource() {
  Imagery2->SuspendPainting();
  Imagery2->SetZoom(Imagery1->GetZoom());
  Imagery2->SetViewOrigin(Imagery1->GetViewOriginX(), Imagery1->GetViewOriginY());
  Imagery2->ResumePainting();
}

void TfIOPreviews::Imagery1Progress(void*, int per) {
  ProgressBar1->SetPosition(per / progressDivisor_ + progressBase_);
}

void TfIOPreviews::FormResize(TObject*) {
  if (!Image1) return;
  if (IEDialogBackgroundStyle != 1 && IEDialogBackgroundStyle != 2) return;
  TIETBitmapAdapter picture(Image1->GetPicture()->Bitmap());
  if (IEDialogBackgroundStyle == 1) IEMakeStripeBitmap(&picture, Image1->GetWidth(), Image1->GetHeight());
  else IEMakeShadedNoiseBitmap(&picture, Image1->GetWidth(), Image1->GetHeight());
  Image1->Invalidate();
}

void TfIOPreviews::Refresh() {
  if (!chkLockPreview->GetChecked()) return;
  ComputePreview();
  Imagery2->Invalidate();
}

// ---------------------------------------------------------------------------------------------------
// preview

void TfIOPreviews::SimulateResult(bool paletteReduction) {
  try {
    Imagery2->Assign(Imagery1);
  } catch (...) {
    SetCaption("Result can not be shown but parameters may be entered");
  }
  TIOParamsVals& p2 = Imagery2->GetIO()->Params;
  p2.Assign(Imagery1->GetIO()->Params);
  if (!paletteReduction) return;
  const int64_t count = IEColorCountFromBits(p2.BitsPerSample, p2.SamplesPerPixel);
  if (count <= 256) {
    p2.FreeColorMap();
    p2.ColorMap.assign(size_t(std::max<int64_t>(count, 2)), TIERGB{0, 0, 0});
    p2.ColorMapCount = int(count);
    Imagery2->GetProc()->ConvertToPalette(int(count), p2.ColorMap.data(), BlackWhiteMethod == 1);
    p2.ColorMap.resize(size_t(count));
  } else {
    p2.FreeColorMap();
  }
}

void TfIOPreviews::ComputePreview() {
  if (!activated_) return;
  const int savedCursor = Screen->GetCursor();
  Screen->SetCursor(crHourGlass);
  TIEMemoryStream memory;
  TNulStream counter;
  struct TRestore {
    TfIOPreviews* f;
    int cursor;
    ~TRestore() {
      f->ProgressBar1->SetPosition(0);
      Screen->SetCursor(cursor);
    }
  } restore{this, savedCursor};
  TImageryIO* io1 = Imagery1->GetIO();
  TImageryIO* io2 = Imagery2->GetIO();
  TIOParamsVals& p1 = io1->Params;
  io1->SetBlackWhiteMethod(BlackWhiteMethod);
  progressBase_ = 0;
  progressDivisor_ = 1;
  TTabSheet* page = PageControl1->GetActivePage();
  const bool bw = BlackWhiteMethod == 1;
  auto setBits = [&p1](const int (*table)[2], int index, int count) {
    if (index < 0 || index >= count) return;
    p1.BitsPerSample = table[index][0];
    p1.SamplesPerPixel = table[index][1];
  };
  auto measure = [&](TIEFileFormatCode type, std::initializer_list<TLabel*> labels) {
    io1->SaveStreamAsFileType(counter, type);
    const std::string text = SizeText(counter.GetSize());
    for (TLabel* l : labels) l->SetCaption(text);
  };
  if (page == TabSheetJPEG1 || page == TabSheetJPEG2) {
    progressDivisor_ = 2;
    p1.JPEGQuality = w_.JPEGQuality;
    p1.JPEGColorSpace = w_.JPEGColorSpace;
    if (w_.JPEGDCTMethod <= 2) p1.JPEGDCTMethod = w_.JPEGDCTMethod;
    p1.JPEGOptimalHuffman = w_.JPEGOptimalHuffman;
    p1.JPEGSmooth = w_.JPEGSmooth;
    p1.JPEGProgressive = w_.JPEGProgressive;
    io1->SaveStreamAsFileType(memory, iffJPEG);
    const std::string text = SizeText(memory.GetSize());
    Label25->SetCaption(text);
    Label76->SetCaption(text);
    memory.SetPosition(0);
    progressBase_ = 50;
    io2->LoadStreamAsFileType(memory, iffJPEG);
  } else if (page == TabSheetJ20001) {
    progressDivisor_ = 2;
    p1.J2000Rate = w_.J2000Rate;
    p1.J2000ColorSpace = w_.J2000ColorSpace;
    p1.BitsPerSample = 8;
    p1.SamplesPerPixel = 3;
    io1->SaveStreamAsFileType(memory, iffJ2K);
    Label70->SetCaption(SizeText(memory.GetSize()));
    memory.SetPosition(0);
    progressBase_ = 50;
    io2->LoadStreamAsFileType(memory, iffJ2K);
  } else if (page == TabSheetTIFF1 || page == TabSheetTIFF2) {
    p1.TIFFLZWCompress = w_.TIFFLZWCompress;
    p1.TIFFCompression = w_.TIFFCompression;
    p1.TIFFPhotometric = w_.TIFFPhotometric;
    p1.SamplesPerPixel = w_.SamplesPerPixel;
    p1.BitsPerSample = w_.BitsPerSample;
    measure(iffTIFF, {Label18, Label80});
    if ((w_.TIFFPhotometric == 0 || w_.TIFFPhotometric == 1) && w_.SamplesPerPixel == 1 && w_.BitsPerSample == 8) {
      SimulateResult(false);
      Imagery2->GetProc()->ConvertToGray();
      io2->Params.FreeColorMap();
    } else {
      SimulateResult(w_.TIFFPhotometric < 5);
    }
  } else if (page == TabSheetGIF1 || page == TabSheetGIF2) {
    p1.GIFLZWCompress = w_.GIFLZWCompress;
    p1.GIFLZWDecompress = w_.GIFLZWDecompress;
    p1.BitsPerSample = w_.GIFBits;
    p1.SamplesPerPixel = 1;
    p1.GIFInterlaced = w_.GIFInterlaced;
    measure(iffGIF, {Label30, Label86});
    SimulateResult(true);
  } else if (page == TabSheetBMP1 || page == TabSheetPCX1) {
    const bool isBMP = page == TabSheetBMP1;
    if (isBMP) {
      p1.BMPCompression = w_.BMPCompression;
      setBits(kBMPColours, w_.BMPColors, 5);
      measure(iffBMP, {Label42});
    } else {
      p1.PCXCompression = w_.PCXCompression;
      setBits(kBMPColours, w_.PCXColors, 4);
      measure(iffPCX, {Label48});
    }
    SimulateResult(false);
    const int64_t count = IEColorCountFromBits(io2->Params.BitsPerSample, io2->Params.SamplesPerPixel);
    if (count <= 256) Imagery2->GetProc()->ConvertTo(int(count), bw);
  } else if (page == TabSheetPNG1) {
    setBits(kPNGColours, w_.PNGColors, 3);
    p1.PNGInterlaced = w_.PNGInterlaced;
    p1.PNGFilter = w_.PNGFilter;
    p1.PNGCompression = w_.PNGCompression;
    measure(iffPNG, {Label53});
    SimulateResult(true);
  } else if (page == TabSheetTGA1) {
    setBits(kPNGColours, w_.TGAColors, 3);
    p1.TGACompressed = w_.TGACompressed;
    measure(iffTGA, {Label61});
    SimulateResult(true);
  }
  FollowSource();
}

// ---------------------------------------------------------------------------------------------------
// page handlers

void TfIOPreviews::TrackBar13Change(TObject*) {
  if (!ready_) return;
  const int smooth = EditInt(Edit23, 0);
  const int pos = TrackBar13->GetPosition();
  const int cs = ComboBox13->GetItemIndex(), dct = ComboBox1->GetItemIndex();
  const bool huff = CheckBox2->GetChecked(), prog = CheckBox3->GetChecked();
  if (pos == w_.JPEGQuality && cs == w_.JPEGColorSpace && dct == w_.JPEGDCTMethod && huff == w_.JPEGOptimalHuffman &&
      smooth == w_.JPEGSmooth && prog == w_.JPEGProgressive)
    return;
  w_.JPEGQuality = pos;
  if (cs >= 0) w_.JPEGColorSpace = uint8_t(cs);
  if (dct >= 0) w_.JPEGDCTMethod = uint8_t(dct);
  w_.JPEGOptimalHuffman = huff;
  w_.JPEGSmooth = smooth;
  w_.JPEGProgressive = prog;
  SliderMoved(Edit22, pos);
}

void TfIOPreviews::Edit22Change(TObject*) {
  if (!ready_) return;
  const int quality = EditInt(Edit22, 50), smooth = EditInt(Edit23, 0);
  EditTyped(quality != w_.JPEGQuality || smooth != w_.JPEGSmooth, TrackBar13, quality, &TfIOPreviews::TrackBar13Change);
}

void TfIOPreviews::TrackBar2Change(TObject*) {
  if (!ready_) return;
  const int pos = TrackBar2->GetPosition();
  if (pos == w_.JPEGQuality) return;
  w_.JPEGQuality = pos;
  SliderMoved(Edit16, pos);
}

void TfIOPreviews::Edit16Change(TObject*) {
  if (!ready_) return;
  const int quality = EditInt(Edit16, 50);
  EditTyped(quality != w_.JPEGQuality, TrackBar2, quality, &TfIOPreviews::TrackBar2Change);
}

void TfIOPreviews::TrackBar1Change(TObject*) {
  if (!ready_) return;
  const int pos = TrackBar1->GetPosition(), cs = ComboBox15->GetItemIndex();
  if (pos == RoundEven(w_.J2000Rate * 1000) && cs == w_.J2000ColorSpace) return;
  w_.J2000Rate = pos / 1000.0;
  if (cs >= 0) w_.J2000ColorSpace = uint8_t(cs);
  SliderMoved(Edit15, RoundEven(w_.J2000Rate * 1000));
}

void TfIOPreviews::Edit15Change(TObject*) {
  if (!ready_) return;
  const double rate = EditInt(Edit15, 1000) / 1000.0;
  EditTyped(rate != w_.J2000Rate, TrackBar1, int(rate * 1000), &TfIOPreviews::TrackBar1Change);
}

void TfIOPreviews::SliderMoved(TEdit* edit, int value) {
  ready_ = false;
  edit->SetText(IntText(value));
  ready_ = true;
  Refresh();
  EnableApply();
}

void TfIOPreviews::EditTyped(bool changed, TTrackBar* slider, int position, void (TfIOPreviews::*sliderChange)(TObject*)) {
  if (changed) {
    ready_ = false;
    slider->SetPosition(position);
    ready_ = true;
    (this->*sliderChange)(slider);
  }
  EnableApply();
}

void TfIOPreviews::ComboBox2Click(TObject* sender) {
  if (!ready_) return;
  ready_ = false;
  if (sender == ComboBox3) {
    const int ph = ComboBox3->GetItemIndex();
    if ((ph == 0 || ph == 1) && ComboBox4->GetItemIndex() > 0) ComboBox4->SetItemIndex(2);
    else if (ph == 2 || ph == 5 || ph == 6 || ph == 7) ComboBox4->SetItemIndex(4);
    else if (ph == 3) ComboBox4->SetItemIndex(2);
  } else if (sender == ComboBox4) {
    const int ci = ComboBox4->GetItemIndex();
    const int ph = ComboBox3->GetItemIndex();
    if (ci == 0 && ph > 1) ComboBox3->SetItemIndex(1);
    else if (ci == 1) ComboBox3->SetItemIndex(3);
    else if (ci == 2 && ph >= 2) ComboBox3->SetItemIndex(3);
  }
  ready_ = true;
  const int compression = IndexToCompression(ComboBox2->GetItemIndex());
  const int photometric = ComboBox3->GetItemIndex();
  int samples = w_.SamplesPerPixel, bits = w_.BitsPerSample;
  const int ci = ComboBox4->GetItemIndex();
  // Without a selected colour row there is no layout to take: the working one stays.
  if (ci >= 0 && ci < 5) {
    bits = kTIFFColours[ci][0];
    samples = kTIFFColours[ci][1];
  }
  if (photometric == 5) {
    samples = 4;
    bits = 8;
  }
  if (compression != w_.TIFFCompression || (photometric >= 0 && photometric != w_.TIFFPhotometric) ||
      samples != w_.SamplesPerPixel || bits != w_.BitsPerSample) {
    w_.TIFFCompression = compression;
    if (photometric >= 0) w_.TIFFPhotometric = photometric;
    w_.SamplesPerPixel = samples;
    w_.BitsPerSample = bits;
    Refresh();
  }
  w_.TIFFImageIndex = EditInt(Edit1, 0);
  w_.TIFFXPos = EditInt(Edit2, 0);
  w_.TIFFYPos = EditInt(Edit3, 0);
  w_.TIFFDocumentName = Edit4->GetText();
  w_.TIFFImageDescription = Edit5->GetText();
  w_.TIFFPageName = Edit6->GetText();
  w_.TIFFPageNumber = EditInt(Edit7, 0);
  w_.TIFFPageCount = EditInt(Edit8, 0);
  EnableApply();
}

void TfIOPreviews::ComboBox16Change(TObject* sender) {
  if (!ready_) return;
  int compression = w_.TIFFCompression, photometric = w_.TIFFPhotometric;
  int samples = w_.SamplesPerPixel, bits = w_.BitsPerSample;
  ready_ = false;
  if (sender == ComboBox16) {
    compression = IndexToCompression(ComboBox16->GetItemIndex());
    if (compression >= 1 && compression <= 4) {
      ComboBox17->SetItemIndex(0);
      samples = 1;
      bits = 1;
      photometric = 1;
    } else if (compression == 7) {
      ComboBox17->SetItemIndex(3);
      samples = 3;
      bits = 8;
      photometric = 6;
    }
  } else {
    static const int kSimple[4][2] = {{1, 1}, {1, 4}, {1, 8}, {3, 8}};  // (samples, bits)
    const int ci = ComboBox17->GetItemIndex();
    if (ci >= 0 && ci < 4) {
      samples = kSimple[ci][0];
      bits = kSimple[ci][1];
    }
    if ((bits > 1 && compression <= 4) || (bits != 8 && samples != 3 && compression == 7)) {
      ComboBox16->SetItemIndex(0);
      compression = 0;
    }
  }
  ready_ = true;
  if (compression != w_.TIFFCompression || photometric != w_.TIFFPhotometric || samples != w_.SamplesPerPixel ||
      bits != w_.BitsPerSample) {
    w_.TIFFCompression = compression;
    w_.TIFFPhotometric = photometric;
    w_.SamplesPerPixel = samples;
    w_.BitsPerSample = bits;
    Refresh();
  }
  EnableApply();
}

void TfIOPreviews::ComboBox5Click(TObject*) {
  if (!ready_) return;
  const int bits = ComboBox5->GetItemIndex() + 1;
  const bool interlaced = CheckBox5->GetChecked();
  if (bits != w_.GIFBits || interlaced != w_.GIFInterlaced) {
    if (bits >= 1) w_.GIFBits = bits;
    w_.GIFInterlaced = interlaced;
    Refresh();
  }
  w_.GIFImageIndex = EditInt(Edit9, 0);
  w_.GIFXPos = EditInt(Edit10, 0);
  w_.GIFYPos = EditInt(Edit11, 0);
  w_.GIFDelayTime = EditInt(Edit12, 0);
  w_.GIFFlagTranspColor = CheckBox4->GetChecked();
  Label34->SetEnabled(w_.GIFFlagTranspColor);
  Panel3->SetEnabled(w_.GIFFlagTranspColor);
  EnableApply();
}

void TfIOPreviews::ComboBox18Change(TObject*) {
  if (!ready_) return;
  const int bits = ComboBox18->GetItemIndex() + 1;
  if (bits >= 1 && bits != w_.GIFBits) {
    w_.GIFBits = bits;
    Refresh();
  }
  EnableApply();
}

void TfIOPreviews::ComboBox6Change(TObject*) { ColorsOrCompressionChange(ComboBox7, ComboBox6, w_.BMPColors, w_.BMPCompression); }

void TfIOPreviews::ComboBox8Change(TObject*) { ColorsOrCompressionChange(ComboBox9, ComboBox8, w_.PCXColors, w_.PCXCompression); }

void TfIOPreviews::ColorsOrCompressionChange(TComboBox* colorsBox, TComboBox* compressionBox, int& colors,
                                             uint8_t& compression) {
  if (!ready_) return;
  const int ci = colorsBox->GetItemIndex();
  const uint8_t compressed = compressionBox->GetItemIndex() > 0 ? 1 : 0;
  if ((ci >= 0 && ci != colors) || compressed != compression) {
    if (ci >= 0) colors = ci;
    compression = compressed;
    Refresh();
  }
  EnableApply();
}

void TfIOPreviews::ComboBox10Change(TObject*) {
  if (!ready_) return;
  const int ci = ComboBox10->GetItemIndex(), filter = ComboBox11->GetItemIndex(), level = ComboBox12->GetItemIndex();
  const bool interlaced = CheckBox6->GetChecked();
  if ((ci >= 0 && ci != w_.PNGColors) || interlaced != w_.PNGInterlaced || (filter >= 0 && filter != w_.PNGFilter) ||
      (level >= 0 && level != w_.PNGCompression)) {
    if (ci >= 0) w_.PNGColors = ci;
    w_.PNGInterlaced = interlaced;
    if (filter >= 0) w_.PNGFilter = uint8_t(filter);
    if (level >= 0) w_.PNGCompression = level;
    Refresh();
  }
  EnableApply();
}

void TfIOPreviews::ComboBox14Click(TObject*) {
  if (!ready_) return;
  const int ci = ComboBox14->GetItemIndex();
  const bool compressed = CheckBox1->GetChecked();
  if ((ci >= 0 && ci != w_.TGAColors) || compressed != w_.TGACompressed) {
    if (ci >= 0) w_.TGAColors = ci;
    w_.TGACompressed = compressed;
    Refresh();
  }
  w_.TGAComments = Edit13->GetText();
  w_.TGADescriptor = Edit14->GetText();
  EnableApply();
}

// ---------------------------------------------------------------------------------------------------
// colour swatches

bool TfIOPreviews::PickFromPalette(int count, TColor& color) {
  const TIOParamsVals& p2 = Imagery2->GetIO()->Params;
  // Never past the map the result holds, never more than the dialog shows.
  const int shown = std::min({count, p2.ColorMapCount, int(p2.ColorMap.size()), 256});
  TImageryPaletteDialog* dlg = TCustomForm::CreateNew<TImageryPaletteDialog>(this);
  bool picked = false;
  try {
    dlg->SetPalette(p2.ColorMap.data(), std::max(shown, 0));
    const std::wstring& c = CancelCaption;
    std::string cancel;
    const int n = WideCharToMultiByte(CP_ACP, 0, c.data(), int(c.size()), nullptr, 0, nullptr, nullptr);
    cancel.resize(size_t(std::max(n, 0)));
    if (n > 0) WideCharToMultiByte(CP_ACP, 0, c.data(), int(c.size()), &cancel[0], n, nullptr, nullptr);
    dlg->CancelButton->SetCaption(cancel);
    picked = dlg->Execute();
    if (picked) color = dlg->SelectedColor;
  } catch (...) {
    dlg->Free();
    throw;
  }
  dlg->Free();
  return picked;
}

void TfIOPreviews::Panel3Click(TObject* sender) {
  TPanel* panel = sender == Panel4 ? Panel4 : Panel3;
  if (Imagery2->GetIO()->Params.ColorMap.empty()) ComputePreview();
  const int bits = std::clamp(w_.GIFBits, 1, 8);
  TColor color = panel->GetColor();
  if (PickFromPalette(1 << bits, color)) panel->SetColor(color);
  const TIERGB rgb = IEColorToRGB(panel->GetColor());
  if (panel == Panel3) w_.GIFTranspColor = rgb;
  else w_.GIFBackground = rgb;
  EnableApply();
}

void TfIOPreviews::Panel1Click(TObject* sender) {
  TPanel* panel = sender == Panel5 ? Panel5 : Panel1;
  const TIOParamsVals& p2 = Imagery2->GetIO()->Params;
  if (!p2.ColorMap.empty()) {
    const int64_t count = IEColorCountFromBits(p2.BitsPerSample, p2.SamplesPerPixel);
    TColor color = panel->GetColor();
    if (PickFromPalette(int(std::min<int64_t>(count, 256)), color)) panel->SetColor(color);
  } else {
    ColorDialog1->SetColor(panel->GetColor());
    if (ColorDialog1->Execute()) panel->SetColor(ColorDialog1->GetColor());
  }
  const TIERGB rgb = IEColorToRGB(panel->GetColor());
  if (panel == Panel1) w_.PNGBackground = rgb;
  else w_.TGAKeyColor = rgb;
  EnableApply();
}

// ---------------------------------------------------------------------------------------------------
// the opener

bool TfIOPreviews::Execute(TImageryIO& io, uint16_t pages) {
  const uint8_t options = io.PreviewsParams;
  TIEBitmap* bitmap = io.GetIEBitmap();
  TfIOPreviews* dlg = TCustomForm::CreateNew<TfIOPreviews>(nullptr);
  bool ok = false;
  try {
    dlg->DefaultLockPreview = (options & ioppDefaultLockPreview) != 0;
    dlg->Button4->SetVisible((options & ioppApplyButton) != 0);
    dlg->EditedParams = &io.Params;
    dlg->Simplified = io.SimplifiedParamsDialogs;
    if (io.SimplifiedParamsDialogs) {
      const int ppi = Screen->PixelsPerInch();
      dlg->PageControl1->SetHeight(ppi * 61 / 48);
      dlg->SetHeight(ppi * 15 / 4);
    }
    dlg->BlackWhiteMethod = io.GetBlackWhiteMethod();
    dlg->Localize(io.MsgLanguage);
    dlg->SetFont(io.PreviewFont);
    // The source view shows the bitmap itself, not a copy (the dialog only reads it); it is detached
    // again before the dialog goes, however it ends.
    dlg->Imagery1->SetExternalBitmap(bitmap);
    dlg->Imagery1->UpdateView();
    dlg->Imagery2->ClearImage();
    if (dlg->SetPages(pages)) {
      if (io.OnIOPreview) io.OnIOPreview(&io, dlg);
      ok = dlg->ShowModal() == mrOk;
    }
  } catch (...) {
    dlg->Imagery1->SetExternalBitmap(nullptr);
    dlg->Free();
    throw;
  }
  dlg->Imagery1->SetExternalBitmap(nullptr);
  dlg->Free();
  return ok;
}
