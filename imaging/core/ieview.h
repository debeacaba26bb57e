// TIEView, the abstract base of the image library's views: a self-painted windowed control that lets
// the library's non-visual components (the I/O and processing components) work on whatever image a
// view shows without knowing the concrete view class. Components attach through bitmap-change
// handlers: the view calls them when the image object behind it is replaced (destroying false) and
// once more from its destruction (destroying true), after which a handler must only forget the view.
#pragma once
#include <cstdint>
#include <functional>
#include <vector>

#include "uicontrols.h"
#include "uibitmap.h"
#include "uiforms.h"

class TIEBitmap;
class TIEMask;
class TIEStream;
class TIEView;
enum TIEUndoSource : uint8_t;

// (Sender: the view, destroying)
using TIEBitmapChangeHandler = std::function<void(TIEView* Sender, bool destroying)>;
// The registration of one bitmap-change handler; the view owns it and frees it on removal or
// destruction. Its address is the handle that the registering component keeps.
struct TIEViewHandlerRecord {
  TIEBitmapChangeHandler Handler;
};

class TIEView : public ui::TCustomControl {
  UI_DECLARE_CLASS(TIEView, ui::TCustomControl)
 public:
  TIEView();
  void Create(ui::TComponent* owner) override;
  void BeforeDestruction() override;
  ~TIEView() override;

  // Appends a handler (the same one twice gets two records) and returns its registration.
  TIEViewHandlerRecord* AddBitmapChangeHandler(TIEBitmapChangeHandler handler);
  // Nothing for nullptr or a registration that is not in the list.
  void RemoveBitmapChangeHandler(TIEViewHandlerRecord* handle);
  int BitmapChangeHandlerCount() const { return int(Handlers.size()); }
  // Calls every registered handler with destroying false, in registration order.
  virtual void NotifyBitmapChangeHandlers();

 protected:
  // Tells every registered handler, once, that the view is going (destroying true) and drops the
  // registrations; a descendant calls it while its bitmaps still exist.
  void ReleaseBitmapChangeHandlers();

 public:

  ui::TColor GetBackground() const { return Background; }
  void SetBackground(ui::TColor c) { SetBackgroundValue(c); }
  virtual void SetBackgroundValue(ui::TColor value);
  ui::TFormBorderStyle GetBorderStyle() const { return BorderStyle; }
  void SetBorderStyleValue(ui::TFormBorderStyle value);  // bsNone or bsSingle; recreates the window
  bool GetCtl3D() const { return Ctl3D; }
  void SetCtl3D(bool value);  // recreates the window

  // The image shown, as a platform bitmap and as a pixel buffer (nullptr in this class).
  virtual ui::TBitmap* GetBitmap() { return nullptr; }
  virtual TIEBitmap* GetPixelBuffer() { return nullptr; }
  virtual TIEBitmap* GetAlphaChannel() = 0;
  virtual bool QueryAlphaPresent() = 0;
  virtual void DropAlphaBlended(bool merge) = 0;
  // Paint lock: while it is above 0 the view does not repaint by itself. Both resume forms return the
  // remaining count; ResumePainting updates the view when it reaches 0.
  virtual void SuspendPainting() = 0;
  virtual int ResumePainting() = 0;
  virtual int ResumePaintingQuietly() = 0;

  int GetDpiX() const { return DpiX; }
  int GetDpiY() const { return DpiY; }
  virtual void SetDpiX(int value);  // 0 is ignored
  virtual void SetDpiY(int value);
  virtual void SetDpi(int x, int y);
  // The resolution a component's parameters give the image shown: the concrete view takes it without
  // updating its layout; this class ignores it.
  virtual void SetImageDpiX(int value) { (void)value; }
  virtual void SetImageDpiY(int value) { (void)value; }
  // The image changed (the concrete view fires its event).
  virtual void ImageChange() {}
  // Recomputes the view for its current image and repaints; the concrete view overrides it.
  virtual void UpdateView() { Invalidate(); }
  // The control sits on a form or in a window: only then it paints and is a target of posted messages.
  virtual bool HasParentWindow();
  // The selection the processing component works inside, or nullptr for a view without one.
  virtual TIEMask* GetSelectionMask() { return nullptr; }
  // Paints the view's background onto a width x height canvas, as the concrete view would behind its
  // image; this class fills it with the background colour.
  virtual void PaintBackgroundTo(ui::TCanvas* canvas, int width, int height);

  ui::TCanvas* GetCanvas() const { return Canvas(); }

  // Fired, with the view as Sender, after the control's own handling of the mouse entering and leaving it.
  ui::TNotifyEvent OnMouseEnter;
  ui::TNotifyEvent OnMouseLeave;

  // ---- what the processing component's undo stacks keep of a view ----
  // Appends the view's state of an undo kind other than the image (selection, objects, layer
  // records, layer records with the current layer's pixels, layers and objects) to `stream`; false
  // when this view keeps nothing of that kind, and then the stack makes no entry.
  virtual bool WriteUndoState(TIEUndoSource kind, TIEStream& stream) {
    (void)kind;
    (void)stream;
    return false;
  }
  // Puts back what WriteUndoState wrote; the stream stands at its start.
  virtual void ReadUndoState(TIEUndoSource kind, TIEStream& stream) {
    (void)kind;
    (void)stream;
  }
  // The layer an image snapshot is taken of (-1: a view without layers), and the bitmap an image
  // snapshot of layer `index` goes back to, the index limited to the layers present.
  virtual int UndoLayerIndex() { return -1; }
  virtual TIEBitmap* UndoLayerBitmap(int index) {
    (void)index;
    return nullptr;
  }

 protected:
  void CreateParams(ui::TCreateParams& p) override;
  void WndProc(ui::TMessage& m) override;

  ui::TFormBorderStyle BorderStyle = ui::bsSingle;
  ui::TColor Background = ui::clBtnFace;
  bool Ctl3D = true;
  int DpiX = 0;
  int DpiY = 0;

 private:
  std::vector<TIEViewHandlerRecord*> Handlers;
};
