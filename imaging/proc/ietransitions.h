// TIETransitionEffects animates the change from one picture to another on an image view: on every tick
// of its timer it paints one frame of the chosen effect into a frame bitmap, copies the frame onto the
// view's canvas and reports it through the view's events, until the run time has passed. Codes 1..30
// are painted here from row tables and block transfers, 31..187 by the painters of the effect table,
// 188 is a pan and zoom over a pixel buffer. Progress is a position of 0..1024.
#pragma once
#include <windows.h>

#include <cstdint>
#include <vector>

#include "ieregions.h"
#include "ieview.h"

class TIEBitmap;
namespace ui {
class TBitmap;
class TTimer;
}  // namespace ui

class TIETransitionEffects;
// (Sender: the view, position of the frame about to be painted, 0..1024)
using TIETransitionStepEvent = ui::TEvent<void(ui::TObject* Sender, int step)>;
// (Sender: the view, the frame shown, the engine, its position)
using TIEOnTransitionPaint =
    ui::TEvent<void(ui::TObject* Sender, ui::TBitmap* Bitmap, TIETransitionEffects* Transition, int Step)>;

constexpr uint8_t kPanZoomEffect = 188;
constexpr int kTransitionFullPosition = 1024;

class TIETransitionEffects {
 public:
  explicit TIETransitionEffects(TIEView* owner);
  ~TIETransitionEffects();
  TIETransitionEffects(const TIETransitionEffects&) = delete;
  TIETransitionEffects& operator=(const TIETransitionEffects&) = delete;

  // Starts a run of `effect` (1..188) from `fromPicture` to `toPicture`, each drawn at (0, 0) of a
  // frame of width x height over the owner's background (0 for either size: the owner's client size).
  // The pictures are copied, so the caller may free them. Effect 188 needs PanZoomBitmap and takes no
  // pictures. A running transition is stopped first. False (nothing started) for code 0, codes above
  // 188, 188 without a pixel buffer, a missing picture or an empty frame.
  bool Start(ui::TBitmap* fromPicture, ui::TBitmap* toPicture, uint8_t effect, int width = 0, int height = 0);
  // Ends a running transition: timer off, bitmaps back to 1 x 1, the paint lock released, the view
  // updated when UpdateOnStop is set, then OnTransitionStop. Nothing on an idle engine.
  void Stop();
  // One timer step: reports and paints the frame of the current position, copies it to the view, ends
  // the run once the duration has passed, and computes the next position.
  void TimerStep();
  // Paints the frame of the current effect for `position` (clamped to 0..1024, which becomes Position).
  void PaintFrame(int position);
  void PaintTableEffect(int code, int position);
  void PaintPanZoom(int position);

  void SetOnTransitionPaint(TIEOnTransitionPaint handler) { OnTransitionPaint = std::move(handler); }
  TIEOnTransitionPaint GetOnTransitionPaint() const { return OnTransitionPaint; }
  void SetRandomSeed(uint32_t seed) { Rng.Seed = seed; }

  bool GetRunning() const { return Running; }
  int GetPosition() const { return Position; }
  uint8_t GetEffect() const { return Effect; }
  int GetFrameWidth() const { return FrameWidth; }
  int GetFrameHeight() const { return FrameHeight; }
  int GetFrameCount() const { return FrameCount; }
  ui::TBitmap* GetFrameBitmap() const { return FrameBitmap; }
  ui::TBitmap* GetFromBitmap() const { return FromBitmap; }
  ui::TBitmap* GetToBitmap() const { return ToBitmap; }
  ui::TTimer* GetTimer() const { return Timer; }

  // The position for the fraction t of the run time by a timing curve (0 linear, 1 exponential,
  // 2 logarithmic; `current` for any other), kept within 0..1024.
  static int TimingPosition(uint8_t timing, double t, int current);

  int Duration = 1000;        // milliseconds
  uint8_t Timing = 0;         // see TimingPosition
  bool UpdateOnStop = false;  // the last frame shown is the whole to-picture; the view updates after the stop
  TIEBitmap* PanZoomBitmap = nullptr;  // not owned
  RECT PanZoomFrom{}, PanZoomTo{};     // (left, top, right, bottom) of PanZoomBitmap at positions 0 and 1024
  ui::TNotifyEvent OnTransitionStop;
  TIETransitionStepEvent OnTransitionStep;

 private:
  void SizeBitmaps(int width, int height);
  void BuildRowTables();
  void CopyFrameToView(ui::TBitmap* bitmap);
  void PaintBuiltIn(int code, int p);
  void PaintFade(int p, bool towardsBackground);
  void PaintPushColumns(int c, bool toFirst, bool slide);
  void PaintRandomPoints(int p);
  void PaintRandomBoxes(int p);

  ui::TBitmap* FromBitmap;
  ui::TBitmap* ToBitmap;
  ui::TBitmap* FrameBitmap;
  std::vector<uint8_t*> FromRows, ToRows, FrameRows;  // row i (0 at the top) of each bitmap
  int FrameWidth = 1, FrameHeight = 1;
  bool Running = false;
  TIEView* Owner;
  ui::TTimer* Timer;
  int Position = 0;
  int RandomCount = 0;  // pixels per row (25) or 8 x 8 cells (26) copied so far in this run
  uint8_t Effect = 0;
  DWORD StartTick = 0;
  TIEOnTransitionPaint OnTransitionPaint;
  int FrameCount = 0;
  TIERandom Rng;
};
