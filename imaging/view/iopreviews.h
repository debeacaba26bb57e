// The parameters preview dialog: the user picks the save parameters of JPEG, TIFF, GIF, BMP, PCX, PNG,
// TGA or JPEG 2000 for an image while seeing the result and the compressed size. It edits a working
// copy of the parameters and writes the values of the page showing into the edited parameter object
// only on OK or Apply. TImageryIO::DoPreviews opens it (through the view's services, Execute); the
// window is built in code.
#pragma once
#include <cstdint>
#include <string>

#include "iedefs.h"
#include "iewords.h"
#include "imageryio.h"
#include "ioparams.h"
#include "uibuttons.h"
#include "uiboxes.h"
#include "uicomctrls.h"
#include "uidialogs.h"
#include "uiforms.h"
#include "uistdctrls.h"
#include "uitabs.h"

class TImageryView;

// The page set bits, ieppAll.., are the component's (imageryio.h).

class TfIOPreviews : public ui::TForm {
  UI_DECLARE_CLASS(TfIOPreviews, ui::TForm)
 public:
  // Make it with TCustomForm::CreateNew<TfIOPreviews>(owner).
  void Create(ui::TComponent* owner) override;
  // The dialog on `io`'s bitmap (shown, never copied) and parameters, set up from the component's
  // options, run modally on the pages of `pages` and freed; True when the user closed it with OK.
  static bool Execute(TImageryIO& io, uint16_t pages);

  // Every caption from the word table in `language`.
  void Localize(TMsgLanguage language);
  // Stores the page set, bit 2 resolved to the page of the edited parameters' file type; False when
  // nothing but bit 2 was asked for (no page of that file type).
  bool SetPages(uint16_t pages);
  uint16_t GetPages() const { return pages_; }

  static bool IsLZWAvailable();
  static int CompressionToIndex(int compression);
  static int IndexToCompression(int index);

  void ReadWorkingValues();
  void ShowWorkingValues();
  void ComputePreview();

  // Set by the opener before the modal run.
  TIOParamsVals* EditedParams = nullptr;  // never owned
  bool DefaultLockPreview = false;
  bool Simplified = false;
  uint8_t BlackWhiteMethod = 1;  // 1 threshold at the mean grey, 0 ordered dither

  ui::TImage* Image1 = nullptr;
  ui::TLabel *Label1 = nullptr, *Label2 = nullptr;
  TImageryView *Imagery1 = nullptr, *Imagery2 = nullptr;
  ui::TProgressBar* ProgressBar1 = nullptr;
  ui::TPageControl* PageControl1 = nullptr;
  ui::TButton *Button1 = nullptr, *Button2 = nullptr, *Button3 = nullptr, *Button4 = nullptr;
  ui::TCheckBox* chkLockPreview = nullptr;
  ui::TColorDialog* ColorDialog1 = nullptr;

  // JPEG, full and simplified
  ui::TTabSheet *TabSheetJPEG1 = nullptr, *TabSheetJPEG2 = nullptr;
  ui::TEdit *Edit22 = nullptr, *Edit23 = nullptr, *Edit16 = nullptr;
  ui::TTrackBar *TrackBar13 = nullptr, *TrackBar2 = nullptr;
  ui::TComboBox *ComboBox13 = nullptr, *ComboBox1 = nullptr;
  ui::TUpDown* UpDown11 = nullptr;
  ui::TCheckBox *CheckBox2 = nullptr, *CheckBox3 = nullptr;
  ui::TGroupBox* GroupBox5 = nullptr;
  ui::TLabel *Label3 = nullptr, *Label4 = nullptr, *Label23 = nullptr, *Label24 = nullptr, *Label25 = nullptr,
             *Label26 = nullptr, *Label27 = nullptr, *Label72 = nullptr, *Label73 = nullptr, *Label74 = nullptr,
             *Label75 = nullptr, *Label76 = nullptr;
  // TIFF
  ui::TTabSheet *TabSheetTIFF1 = nullptr, *TabSheetTIFF2 = nullptr;
  ui::TComboBox *ComboBox2 = nullptr, *ComboBox3 = nullptr, *ComboBox4 = nullptr, *ComboBox16 = nullptr,
                *ComboBox17 = nullptr;
  ui::TEdit *Edit1 = nullptr, *Edit2 = nullptr, *Edit3 = nullptr, *Edit4 = nullptr, *Edit5 = nullptr,
            *Edit6 = nullptr, *Edit7 = nullptr, *Edit8 = nullptr;
  ui::TUpDown* UpDown1 = nullptr;
  ui::TGroupBox* GroupBox1 = nullptr;
  ui::TLabel *Label5 = nullptr, *Label6 = nullptr, *Label7 = nullptr, *Label8 = nullptr, *Label9 = nullptr,
             *Label10 = nullptr, *Label11 = nullptr, *Label12 = nullptr, *Label13 = nullptr, *Label14 = nullptr,
             *Label15 = nullptr, *Label16 = nullptr, *Label17 = nullptr, *Label18 = nullptr, *Label19 = nullptr,
             *Label77 = nullptr, *Label78 = nullptr, *Label79 = nullptr, *Label80 = nullptr, *Label81 = nullptr,
             *Label82 = nullptr;
  // GIF
  ui::TTabSheet *TabSheetGIF1 = nullptr, *TabSheetGIF2 = nullptr;
  ui::TComboBox *ComboBox5 = nullptr, *ComboBox18 = nullptr;
  ui::TEdit *Edit9 = nullptr, *Edit10 = nullptr, *Edit11 = nullptr, *Edit12 = nullptr;
  ui::TUpDown* UpDown2 = nullptr;
  ui::TCheckBox *CheckBox4 = nullptr, *CheckBox5 = nullptr;
  ui::TPanel *Panel3 = nullptr, *Panel4 = nullptr;
  ui::TGroupBox* GroupBox2 = nullptr;
  ui::TLabel *Label20 = nullptr, *Label21 = nullptr, *Label22 = nullptr, *Label28 = nullptr, *Label29 = nullptr,
             *Label30 = nullptr, *Label31 = nullptr, *Label32 = nullptr, *Label33 = nullptr, *Label34 = nullptr,
             *Label35 = nullptr, *Label36 = nullptr, *Label83 = nullptr, *Label84 = nullptr, *Label85 = nullptr,
             *Label86 = nullptr, *Label87 = nullptr;
  // BMP, PCX
  ui::TTabSheet *TabSheetBMP1 = nullptr, *TabSheetPCX1 = nullptr;
  ui::TComboBox *ComboBox6 = nullptr, *ComboBox7 = nullptr, *ComboBox8 = nullptr, *ComboBox9 = nullptr;
  ui::TLabel *Label37 = nullptr, *Label38 = nullptr, *Label39 = nullptr, *Label40 = nullptr, *Label41 = nullptr,
             *Label42 = nullptr, *Label43 = nullptr, *Label44 = nullptr, *Label45 = nullptr, *Label46 = nullptr,
             *Label47 = nullptr, *Label48 = nullptr;
  // PNG
  ui::TTabSheet* TabSheetPNG1 = nullptr;
  ui::TComboBox *ComboBox10 = nullptr, *ComboBox11 = nullptr, *ComboBox12 = nullptr;
  ui::TCheckBox* CheckBox6 = nullptr;
  ui::TPanel* Panel1 = nullptr;
  ui::TGroupBox* GroupBox3 = nullptr;
  ui::TLabel *Label49 = nullptr, *Label50 = nullptr, *Label51 = nullptr, *Label52 = nullptr, *Label53 = nullptr,
             *Label54 = nullptr, *Label55 = nullptr, *Label56 = nullptr;
  // TGA
  ui::TTabSheet* TabSheetTGA1 = nullptr;
  ui::TComboBox* ComboBox14 = nullptr;
  ui::TCheckBox* CheckBox1 = nullptr;
  ui::TEdit *Edit13 = nullptr, *Edit14 = nullptr;
  ui::TPanel* Panel5 = nullptr;
  ui::TLabel *Label58 = nullptr, *Label59 = nullptr, *Label60 = nullptr, *Label61 = nullptr, *Label62 = nullptr,
             *Label63 = nullptr, *Label64 = nullptr, *Label65 = nullptr;
  // JPEG 2000
  ui::TTabSheet* TabSheetJ20001 = nullptr;
  ui::TEdit* Edit15 = nullptr;
  ui::TTrackBar* TrackBar1 = nullptr;
  ui::TComboBox* ComboBox15 = nullptr;
  ui::TLabel *Label66 = nullptr, *Label67 = nullptr, *Label68 = nullptr, *Label69 = nullptr, *Label70 = nullptr,
             *Label71 = nullptr;

  // "&" + the localised Cancel word: the palette dialog's Cancel button.
  std::wstring CancelCaption = L"&Cancel";

 private:
  // The working values.
  struct TWorking {
    int JPEGQuality = 0, JPEGSmooth = 0;
    uint8_t JPEGColorSpace = 0, JPEGDCTMethod = 0;
    bool JPEGOptimalHuffman = false, JPEGProgressive = false;
    double J2000Rate = 1;
    uint8_t J2000ColorSpace = 0;
    TIETIFFLZWCompressor TIFFLZWCompress = nullptr;
    int TIFFCompression = 0, TIFFImageIndex = 0, TIFFPhotometric = 0, TIFFXPos = 0, TIFFYPos = 0;
    std::string TIFFDocumentName, TIFFImageDescription, TIFFPageName;
    int TIFFPageNumber = 0, TIFFPageCount = 0;
    int SamplesPerPixel = 0, BitsPerSample = 0;
    TIEGIFLZWDecompressor GIFLZWDecompress = nullptr;
    TIEGIFLZWCompressor GIFLZWCompress = nullptr;
    int GIFImageIndex = 0, GIFXPos = 0, GIFYPos = 0, GIFDelayTime = 0, GIFBits = 0;
    bool GIFFlagTranspColor = false, GIFInterlaced = false;
    TIERGB GIFTranspColor{0, 0, 0}, GIFBackground{0, 0, 0};
    uint8_t BMPCompression = 0, PCXCompression = 0;
    int BMPColors = 0, PCXColors = 0, PNGColors = 0, TGAColors = 0;
    bool PNGInterlaced = false;
    TIERGB PNGBackground{0, 0, 0};
    uint8_t PNGFilter = 0;
    int PNGCompression = 0;
    TIERGB TGAKeyColor{0, 0, 0};
    bool TGACompressed = false;
    std::string TGAComments, TGADescriptor;
  } w_;

  void BuildControls();
  void FormActivate(ui::TObject* sender);
  void FormResize(ui::TObject* sender);
  void Button1Click(ui::TObject* sender);
  void Button3Click(ui::TObject* sender);
  void Button4Click(ui::TObject* sender);
  void SpeedButton1Click(ui::TObject* sender);
  void PageControl1Changing(ui::TObject* sender, bool& allowChange);
  void PageControl1Change(ui::TObject* sender);
  void Imagery1ViewChange(void* sender, int change);
  void Imagery1Progress(void* sender, int per);
  void FollowSource();
  void Refresh();
  void EnableApply() { Button4->SetEnabled(true); }
  // page handlers
  void TrackBar13Change(ui::TObject* sender);
  void Edit22Change(ui::TObject* sender);
  void TrackBar2Change(ui::TObject* sender);
  void Edit16Change(ui::TObject* sender);
  void TrackBar1Change(ui::TObject* sender);
  void Edit15Change(ui::TObject* sender);
  // A slider's value taken: its edit shows `value` (without echoing back), the preview is redone.
  void SliderMoved(ui::TEdit* edit, int value);
  // A value typed in a slider's edit: when `changed`, the slider moves to `position` (without echoing
  // back) and its own handler takes the value.
  void EditTyped(bool changed, ui::TTrackBar* slider, int position, void (TfIOPreviews::*sliderChange)(ui::TObject*));
  void ComboBox2Click(ui::TObject* sender);
  void ComboBox16Change(ui::TObject* sender);
  void ComboBox5Click(ui::TObject* sender);
  void ComboBox18Change(ui::TObject* sender);
  void ComboBox6Change(ui::TObject* sender);
  void ComboBox8Change(ui::TObject* sender);
  // The BMP and PCX pages: a colours list and a compression list (its first row: none).
  void ColorsOrCompressionChange(ui::TComboBox* colorsBox, ui::TComboBox* compressionBox, int& colors,
                                 uint8_t& compression);
  void ComboBox10Change(ui::TObject* sender);
  void ComboBox14Click(ui::TObject* sender);
  // colour swatches
  void Panel3Click(ui::TObject* sender);
  void Panel1Click(ui::TObject* sender);
  // The palette dialog on the result's colour map (at most `count` entries of it); True with `color`
  // when the user picked a cell.
  bool PickFromPalette(int count, ui::TColor& color);
  void SimulateResult(bool paletteReduction);

  uint16_t pages_ = 0;
  bool ready_ = false;
  bool activated_ = false;
  int progressBase_ = 0, progressDivisor_ = 1;
  int tiffPhotometricShown_ = -1, tiffColorsShown_ = -1;  // full TIFF page: selections before an edit
};
