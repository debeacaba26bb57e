// TImageryView, the library's image view: a TIEView that owns a pixel buffer (TIEBitmap, kept in the
// view's own 24-bit platform bitmap), shows it through a back buffer over its background, and is the
// image holder of an I/O component and a processing component that it creates on first use and frees
// with itself. Created with no owner and never given a window it does all its bookkeeping on a 50 x 50
// viewport and paints nothing: that is how a program saves a platform bitmap through the library's
// writers (Create(nullptr), Assign, GetIO, SaveByExtension, Free).
#pragma once
#include <functional>
#include <string>

#include "ieutils.h"
#include "ieview.h"

class TIEBitmap;
class TIEMask;
class TIETBitmapAdapter;
class TImageryIO;
class TImageryProc;
enum TIEUndoSource : uint8_t;

class TImageryView : public TIEView {
  UI_DECLARE_CLASS(TImageryView, TIEView)
 public:
  using TIESaveUndoEvent = std::function<void(void* Sender, TIEUndoSource source)>;
  using TIENotify = std::function<void(void* Sender)>;

  TImageryView();
  void Create(ui::TComponent* owner) override;
  void BeforeDestruction() override;
  ~TImageryView() override;

  // nullptr blanks the image; a TImageryView copies its image, background and resolution; a platform
  // TBitmap is copied (the caller's bitmap is never changed) and made 24-bit unless it is 1-bit
  // black and white or 24-bit already; any other source is ignored.
  void Assign(ui::TPersistent* source) override;

  TImageryIO* GetIO();      // created on first use, attached to this view
  TImageryProc* GetProc();  // likewise
  bool HasIO() const { return IO != nullptr; }
  bool HasProc() const { return Proc != nullptr; }

  // Fills the image with Background, drops its alpha channel without blending and updates.
  void Blank();
  // A 1 x 1 image of the Background colour.
  void ClearImage();
  // Width and height both below 2.
  virtual bool IsEmpty();

  // The drawing area: the client size with a window on a parent, otherwise 50 x 50.
  virtual int GetViewportWidth();
  virtual int GetViewportHeight();

  // ---- update lock and paint lock ----
  void SuspendUpdates() { ++UpdateLock; }
  void ResumeUpdates();         // updates when the lock reaches 0
  void ResumeUpdatesQuietly();  // never updates
  int GetUpdateLock() const { return UpdateLock; }
  void SuspendPainting() override { ++PaintLock; }
  int ResumePainting() override;
  int ResumePaintingQuietly() override;
  int GetPaintLock() const { return PaintLock; }
  void UpdateView() override;
  int GetUpdateCount() const { return UpdateCount; }  // completed UpdateView runs
  void SetUpdateReason(uint8_t reason) { UpdateReason = reason; }  // 0 general .. 4 size/background

  // ---- image ----
  ui::TBitmap* GetBitmap() override { return Bitmap; }
  TIEBitmap* GetPixelBuffer() override { return IEBitmap; }
  TIEBitmap* GetIEBitmap() { return IEBitmap; }
  TIEBitmap* GetAlphaChannel() override;  // created on first use
  bool QueryAlphaPresent() override;
  void DropAlphaBlended(bool merge) override;
  bool GetLegacyBitmap() const { return LegacyBitmap; }
  // False: the pixels move out of the view's platform bitmap (to memory, or a temporary file when
  // large) and GetBitmap gives nullptr; True: back into a platform bitmap of the view's own.
  virtual void SetLegacyBitmapValue(bool value);
  TIEMask* GetSelectionMask() { return SelectionMask; }
  int GetImageWidth() const { return ImageWidth; }
  int GetImageHeight() const { return ImageHeight; }
  bool GetEnableAlphaChannel() const { return EnableAlphaChannel; }
  void SetEnableAlphaChannel(bool v);
  std::string GetImageryVersion() const;
  void SetImageryVersion(const std::string&) {}  // the version is the library's: writing keeps it

  void SetBackgroundValue(ui::TColor value) override;
  void ImageChange() override;
  // While the view is read from a layout or designed, the image takes the control's size (blank).
  void SetBounds(int left, int top, int width, int height) override;

  // ---- events handed to the I/O and processing components ----
  virtual void SetOnProgressValue(TIEProgressEvent e);
  virtual void SetOnFinishWorkValue(TIENotify e);
  void SetOnSaveUndoValue(TIESaveUndoEvent e);
  virtual TIEProgressEvent GetOnProgressValue() { return OnProgress; }
  virtual TIENotify GetOnFinishWorkValue() { return OnFinishWork; }
  TIESaveUndoEvent GetOnSaveUndoValue() const { return OnSaveUndo; }
  ui::TNotifyEvent OnImageChange;
  ui::TNotifyEvent OnPaint;

  // ---- cursors ----
  int GetViewCursor() const { return Cursor; }
  int GetBaseCursor() const { return BaseCursor; }
  void SetCursorValue(int id);       // the application's cursor; shown at once
  void ShowTemporaryCursor(int id);  // only on a view with an owner
  void RestoreBaseCursor() { ShowTemporaryCursor(BaseCursor); }
  bool GetHasOwner() const { return HasOwner; }

 protected:
  void WndProc(ui::TMessage& m) override;
  void Paint() override;
  // Paints the back buffer's rectangle r onto the window, recomposing the buffer when it is dirty.
  void DrawBackBufferToScreen(const RECT& r);
  void ComposeBackBuffer();

 private:
  void AssignPlatformBitmap(ui::TBitmap* source);

  ui::TBitmap* Bitmap = nullptr;               // the view's own 24-bit bitmap (legacy storage)
  TIETBitmapAdapter* BitmapAdapter = nullptr;  // puts Bitmap behind IEBitmap
  TIEBitmap* IEBitmap = nullptr;
  TIEBitmap* BackBuffer = nullptr;
  TIEMask* SelectionMask = nullptr;
  TImageryIO* IO = nullptr;
  TImageryProc* Proc = nullptr;
  bool LegacyBitmap = true;
  bool EnableAlphaChannel = true;
  bool Center = true;
  int ImageWidth = 0, ImageHeight = 0;
  int LastImageWidth = 0, LastImageHeight = 0;
  int UpdateLock = 0;
  int PaintLock = 0;
  int UpdateCount = 0;
  uint8_t UpdateReason = 0;
  bool Updating = false;
  bool BackBufferDirty = true;
  bool FullRepaintPending = true;
  bool InvalidateOnUpdate = true;
  bool HasOwner = false;
  bool HasGdiPlusUse = false;  // this view holds one use of the GDI+ binding
  bool CursorPending = true;
  int Cursor = 1785;
  int BaseCursor = 0;
  int MaskDepth = 1;
  TIEProgressEvent OnProgress;
  TIENotify OnFinishWork;
  TIESaveUndoEvent OnSaveUndo;
};
