// TImageryProc, the image library's processing component: every operation works on one TIEBitmap, the
// working bitmap (the component's own or one a caller hands in), passes a pixel-format gate first,
// pushes an undo snapshot when AutoUndo is on, and ends with ImageChanged and FinishWork. The undo and
// redo stacks keep image snapshots in delete-on-close temporary files.
#pragma once
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "ieareaops.h"
#include "iebitmap.h"
#include "iefreenotifier.h"
#include "iemsglanguage.h"
#include "ieimagecontrollink.h"
#include "ieresample.h"
#include "iestreams.h"
#include "ieutils.h"

// A set of pixel formats: bit n stands for format n. The empty set means any format.
using TIEPixelFormatSet = uint16_t;
TIEPixelFormatSet IEFormatSet(std::initializer_list<TIEPixelFormat> formats);

// The gate's conversion table: for each current format, the formats tried in order (ieNoFormat ends).
extern const TIEPixelFormat IEFormatCandidates[kIEPixelFormatCount][7];

// Kinds of undo snapshots. The view kinds are made by an attached view only.
enum TIEUndoSource : uint8_t {
  ieuUnknown = 0,
  ieuImage = 1,
  ieuSelection = 2,
  ieuObject = 3,
  ieuLayer = 4,
  ieuFullLayer = 5,
  ieuObjectsAndLayers = 6,
};

class TIEMask;
class TIEView;
namespace ui {
class TFont;
class TForm;
class TImage;
}
struct TIEViewHandlerRecord;

using TNotifyEvent = std::function<void(void* Sender)>;
using TIESaveUndoEvent = std::function<void(void* Sender, TIEUndoSource source)>;

// A 3x3 convolution filter: coefficients in row order (top row first), then the divisor (0 acts as 1).
struct TIEFilter3x3 {
  int32_t Values[3][3];
  int32_t Divisor;
};
static_assert(sizeof(TIEFilter3x3) == 40, "filter record");

// The settings of the processing dialogs between uses. The dialogs belong to the application, not to
// this library: the component only keeps these values, with the defaults Reset gives them; their
// meaning is the dialogs' (the user filter alone is a convolution filter in the usual sense).
class TIPDialogParams {
 public:
  TIPDialogParams() { Reset(); }
  void Reset();
  int ParamA() const { return A; }
  int ParamB() const { return B; }
  int ParamC() const { return C; }
  int ParamD() const { return D; }
  // Each setter also empties the preview stream, which was made for the previous value.
  void SetParamA(int v);
  void SetParamB(int v);
  void SetParamC(int v);
  void SetParamD(int v);
  TIEMemoryStream& PreviewStream() { return Preview; }

  int Values[11];            // 0
  TIEFilter3x3 UserFilter;   // the identity: centre 1, divisor 0
  TIERGB Colors[4];          // black, white, black, white
  bool FlagA;                // False
  int RectA[4];              // 0, 0, 150, 150
  TIERGB Color;              // white
  int Value;                 // 0
  bool FlagB;                // True
  int RectB[4];              // 0, 0, 150, 150
  double Factor;             // 1.7
  bool FlagC;                // True
  int ValuesC[3];            // 10, 10, 0
  bool FlagD;                // False
  int ValuesD[2];            // 0, 1
  double Factors[2];         // 0.0, 1.0
  int ValuesE[2];            // 1, 4
  bool FlagE;                // True

 private:
  void Store(int& param, int v);  // the value, and the preview stream emptied
  int A, B, C, D;  // -1 after Reset
  TIEMemoryStream Preview;
};

// Options of the processing preview dialog (bits of TPRPreviewsParams).
enum TPRPreviewsParamsItems : uint8_t {
  prppDefaultLockPreview = 1,
  prppShowResetButton = 2,
  prppHardReset = 4,
  prppResetSelectedTab = 8,
};
using TPRPreviewsParams = uint8_t;

// The processing preview dialog's event (sender, dialog); nothing in this library fires it.
using TIEPreviewEvent = std::function<void(void* sender, ui::TForm* dialog)>;

// The processing unit's tables, built by IEProcStaticInit (the library's shared start-up):
// entry b of the expansion table holds eight 3-byte pixels for the bits of b, most significant first,
// all 255 for a set bit; the predefined filters start with "None", "Blur", "Edges", "Emboss".
extern uint8_t IEExpand1To24Table[256][24];
extern std::vector<TIEFilter3x3> IEPredefinedFilters;
extern std::vector<std::string> IEPredefinedFilterNames;
extern unsigned IERawClipboardFormat;  // "IMAGERY RAW FORMAT"
void IEProcAddPredefinedFilter(const TIEFilter3x3& filter, const std::string& name);
void IEProcStaticInit();
void IEProcStaticFini();

// Same size, pixel format, alpha presence, pixels (over each row's pixel bytes) and alpha pixels.
bool IEBitmapsEqual(TIEBitmap* a, TIEBitmap* b);

class TImageryProc {
 public:
  explicit TImageryProc(bool withOwner = false);  // AutoUndo follows whether an owner created it
  virtual ~TImageryProc();
  TImageryProc(const TImageryProc&) = delete;
  TImageryProc& operator=(const TImageryProc&) = delete;

  // ---- working bitmap ----
  TIEBitmap* GetWorkingBitmap() const { return WorkingBitmap; }
  // Works on `bitmap` (owned by the caller) from now on; nullptr returns to a new bitmap of its own.
  void SetAttachedIEBitmap(TIEBitmap* bitmap);
  // Frees the working bitmap when owned and takes `bitmap` without owning it (nullptr allowed).
  void ReplaceWorkingBitmap(TIEBitmap* bitmap);
  // Works on the view's pixel buffer from now on and follows it through the view's bitmap-change
  // handler; nullptr returns to a bitmap of the component's own. Finished operations update the view.
  void SetAttachedImageryValue(TIEView* view);
  TIEView* GetAttachedImagery() const { return AttachedImagery; }
  // The view's callback: its image object changed (take it again), or the view goes (forget it).
  void ViewBitmapChanged(bool destroying);
  // An attached view or image control is being freed: the component forgets it and falls back to a
  // working bitmap of its own, which is empty after an image control.
  void ForgetRemovedComponent(ui::TComponent* component, ui::TOperation operation);
  bool PrepareImage(TIEPixelFormatSet allowed);
  bool EnsurePixelFormat(TIEPixelFormatSet allowed);
  // The undo entry (AutoUndo) taken before PrepareImage converts, but only when the gate will accept.
  bool PrepareWithUndo(TIEPixelFormatSet allowed, const std::string& caption);
  void ImageChanged();
  virtual void FinishWork();  // OnProgress (100), then OnFinishWork
  // The attached view's Background, else the component's own colour (black at creation).
  TColor GetBackgroundValue() const;
  void SetBackgroundValue(TColor c);

  // ---- attached image control ----
  // The working bitmap (one of the component's own) works on the control's picture bitmap from now
  // on, a view attachment ends; nullptr frees the working bitmap's storage. A control that is freed
  // while attached detaches itself (ForgetRemovedComponent).
  void SetAttachedTImageValue(ui::TImage* image);
  ui::TImage* GetAttachedTImage() const { return TImageLink.GetImage(); }

  // ---- settings kept for the processing dialogs ----
  TPRPreviewsParams GetPreviewsParamsValue() const { return PreviewsParams; }
  void SetPreviewsParamsValue(TPRPreviewsParams value) { PreviewsParams = value; }
  ui::TFont* GetPreviewFont() const { return PreviewFont; }
  void SetPreviewFontValue(ui::TFont* font);  // copies the font (Assign)
  TIPDialogParams& GetDialogParams() { return *DialogParams; }
  TMsgLanguage MsgLanguage = msSystem;
  TIEPreviewEvent OnPreview;

  // ---- operations ----
  void Clear();  // fills with Background
  // w = -1 keeps the proportions from h (and h = -1 from the new width); 0 keeps the present size;
  // another negative value is taken as its magnitude. Both negative: refused.
  void Resample(int w, int h, TResampleFilter filter);
  void ResampleToBitmap(TIEBitmap* dest, int w, int h, TResampleFilter filter);
  // Changes the canvas size without scaling; placement 0 left/top, 1 centre, 2 right/bottom; the new
  // area takes Background and, below 255, the fill alpha (an alpha channel is made for it).
  void ImageResize(int w, int h, uint8_t hPlace, uint8_t vPlace, int fillAlpha = 255);
  // Turns the image by `angle` degrees (positive counter-clockwise) into a canvas holding all of it:
  // nearest mapping without antialias; with it, quality 1 bilinear or 2 bicubic (ie24RGB, angles that
  // are not right angles) or the blended shears. Background -1 is Background. Quality above 2 or an
  // angle that is not finite: nothing (no undo entry).
  void Rotate(bool antialias, int quality, TColor background, double angle);
  // Grey of the image or of its selection; the image becomes ie24RGB.
  void ConvertToGray();
  // Fills the image or its selection with `color`.
  void Fill(TIERGB color);
  // Crops to the rectangle of inclusive corners, limited to the image first; nothing when nothing of
  // it lies inside or when it covers the whole image.
  void Crop(int x1, int y1, int x2, int y2);
  void CropRect(const TIERect& rect);
  // Crops to the area that is not fully transparent, without an undo entry; a fully transparent image
  // is left as it is.
  void CropToOpaqueArea();
  // Below 3 colours: black and white (threshold at the mean grey, or the ordered dither), the image
  // becoming 1-bit; 3 to 1024: quantized in place (24-bit); above: unchanged (the undo entry is made).
  void ConvertTo(int numColors, bool threshold);
  // As ConvertTo; `palette` (at least max(numColors, 2) entries) receives black and white below 3
  // colours, else the quantizer's entries. numColors 0 or no palette: nothing.
  void ConvertToPalette(int numColors, TIERGB* palette, bool threshold);

  // ---- selection-aware operations ----
  // The selection of an attached TImageryView: x2 and y2 exclusive, the whole image without one; the
  // mask is the view's (nullptr without a view). True when the view has a non-empty selection.
  bool GetSelectionInfo(int& x1, int& y1, int& x2, int& y2, TIEMask*& mask);
  // The frame of an operation on the selection: undo entry (AutoUndo), the format gate, then the work
  // bitmap: the working bitmap itself, or a copy of the selection's bounding box (rectangle from 0).
  bool BeginSelectionOp(TIEPixelFormatSet allowed, const std::string& caption, TIEBitmap*& work, int& x1, int& y1,
                        int& x2, int& y2, TIEMask*& mask);
  // Puts a box copy's pixels back where the mask selects them (and frees it); ImageChanged.
  void EndSelectionOp(TIEBitmap* work, TIEMask* mask);

  // ---- undo and redo (positions count from the newest entry, 0 = newest) ----
  virtual void PushUndo(TIEUndoSource kind);
  virtual void PushUndoCaptioned(const std::string& caption, TIEUndoSource kind);
  virtual void PushRedo(TIEUndoSource kind);
  virtual void PushRedoCaptioned(const std::string& caption, TIEUndoSource kind);
  virtual void Undo(bool saveRedo) { UndoToPosition(0, saveRedo); }
  virtual void UndoToPosition(int position, bool saveRedo);
  virtual void Redo() { RedoToPosition(0); }
  virtual void RedoToPosition(int position);
  virtual bool UndoAvailable() { return !UndoStack.empty(); }
  virtual bool RedoAvailable() { return !RedoStack.empty(); }
  virtual int UndoEntryCount() { return int(UndoStack.size()); }
  virtual int RedoEntryCount() { return int(RedoStack.size()); }
  virtual std::string UndoCaptionOf(int position);
  virtual std::string RedoCaptionOf(int position);
  TIEUndoSource UndoSourceOf(int index);  // counted from the oldest entry
  // The image snapshot at a position (nullptr for another kind or a position out of range).
  TIEBitmap* UndoSnapshotOf(int position);
  virtual void DiscardNewestUndo();
  virtual void DiscardNewestRedo();
  void DiscardUndoEntry(int position);
  virtual void DiscardUndoStack() { UndoStack.clear(); }
  virtual void DiscardRedoStack() { RedoStack.clear(); }
  int GetUndoLimit() const { return UndoLimit; }
  void SetUndoLimitValue(int limit) { UndoLimit = limit; }  // entries already stacked stay
  TIELocation UndoStorage = ieTempFile;  // where image snapshots keep their pixels

  bool AutoUndo;
  bool AutoConvertFormat = true;
  TIEProgressEvent OnProgress;
  TNotifyEvent OnFinishWork;
  TIESaveUndoEvent OnSaveUndo;

 private:
  struct UndoEntry {
    std::unique_ptr<TIEBitmap> Image;  // ieuImage snapshots
    std::unique_ptr<TIEMemoryStream> Stream;  // the view's state for the other kinds
    uint8_t Kind = ieuUnknown;
    std::string Caption;
  };
  using Stack = std::vector<UndoEntry>;
  // A snapshot of `kind` of the present state; false when none can be made (no entry).
  bool MakeSnapshot(TIEUndoSource kind, UndoEntry& entry);
  bool PushEntry(Stack& stack, TIEUndoSource kind, bool fireEvent);
  void PushCaptioned(Stack& stack, const std::string& caption, TIEUndoSource kind, bool fireEvent);
  void RestoreEntry(const UndoEntry& entry, uint8_t kind);
  int EffectiveLimit() const { return UndoLimit < 0 ? 0 : UndoLimit; }

  void RemoveViewHandler();
  TIEBitmap* WorkingBitmap;
  bool OwnsBitmap = true;
  TIEView* AttachedImagery = nullptr;
  TIEViewHandlerRecord* ViewHandler = nullptr;  // registration with AttachedImagery
  TColor BackgroundColor = 0;  // Background while no view is attached
  TIEImageControlLink TImageLink;  // the attached image control
  std::unique_ptr<TIEFreeNotifier> FreeNotifier;  // watches the attached view and image control
  // Resamples into dest without the finish notification (the caller gives it).
  bool ResampleInto(TIEBitmap* dest, int w, int h, TResampleFilter filter);
  TPRPreviewsParams PreviewsParams = prppShowResetButton | prppHardReset;
  ui::TFont* PreviewFont;  // owned
  std::unique_ptr<TIPDialogParams> DialogParams;
  int UndoLimit = 1;
  Stack UndoStack, RedoStack;  // oldest first
};
