// Page control and its tab sheets; the track bar.
#pragma once
#include <vector>

#include "uicontrols.h"

namespace ui {

class TPageControl;

// A page of a page control: a plain windowed control shown while it is the active page. Its parent is
// its page control; its caption is its tab's text.
class TTabSheet : public TWinControl {
  UI_DECLARE_CLASS(TTabSheet, TWinControl)
 public:
  TTabSheet();
  TPageControl* GetPageControl() const { return pageControl_; }
  void SetPageControl(TPageControl* pc);
  // Place among the page control's pages.
  int GetPageIndex() const;
  // Place among the shown tabs, -1 while the tab is hidden.
  int TabIndex() const;
  bool GetTabVisible() const { return tabVisible_; }
  // Hiding the tab of the active page makes the next shown page active (or none).
  void SetTabVisible(bool v);
  void SetParent(TWinControl* parent) override;

 protected:
  void CreateParams(TCreateParams& p) override;
  void WndProc(TMessage& m) override;

 private:
  TPageControl* pageControl_ = nullptr;
  bool tabVisible_ = true;
  friend class TPageControl;
};

using TTabChangingEvent = TEvent<void(TObject* Sender, bool& AllowChange)>;

class TPageControl : public TWinControl {
  UI_DECLARE_CLASS(TPageControl, TWinControl)
 public:
  TPageControl();
  int PageCount() const { return static_cast<int>(pages_.size()); }
  TTabSheet* Pages(int i) const { return pages_.at(static_cast<size_t>(i)); }
  TTabSheet* GetActivePage() const { return activePage_; }
  // Shows `page` (one of ours, or null for none); fires no event.
  void SetActivePage(TTabSheet* page);
  int GetActivePageIndex() const { return activePage_ ? activePage_->GetPageIndex() : -1; }
  void SetActivePageIndex(int i);
  bool GetHotTrack() const { return hotTrack_; }
  void SetHotTrack(bool v);
  // The area the pages cover, in client coordinates.
  RECT DisplayRect();
  // A tab chosen by the user: OnChanging may refuse it, OnChange follows it.
  TTabChangingEvent OnChanging;
  TNotifyEvent OnChange;

 protected:
  void CreateParams(TCreateParams& p) override;
  void CreateWnd() override;
  void WndProc(TMessage& m) override;
  void Resize() override;
  void Notification(TComponent* c, TOperation op) override;
  virtual bool CanChange();
  virtual void Change();

 private:
  void InsertPage(TTabSheet* page);
  void RemovePage(TTabSheet* page);
  // The native tabs follow the pages: every shown page's caption, in page order.
  void UpdateTabs();
  void AlignPages();
  void PageTabHidden(TTabSheet* page);
  std::vector<TTabSheet*> pages_;
  TTabSheet* activePage_ = nullptr;
  bool hotTrack_ = false;
  friend class TTabSheet;
};

enum TTrackBarOrientation { trHorizontal, trVertical };

// A track bar with automatic tick marks every Frequency positions.
class TTrackBar : public TWinControl {
  UI_DECLARE_CLASS(TTrackBar, TWinControl)
 public:
  TTrackBar();
  int GetMin() const { return min_; }
  void SetMin(int v);
  int GetMax() const { return max_; }
  void SetMax(int v);
  int GetPosition() const;
  // Clamped to Min..Max; fires OnChange when the position changes.
  void SetPosition(int v);
  int GetFrequency() const { return frequency_; }
  void SetFrequency(int v);
  TTrackBarOrientation GetOrientation() const { return orientation_; }
  void SetOrientation(TTrackBarOrientation o);
  // The thumb's size across the bar, in pixels.
  int GetThumbLength() const { return thumbLength_; }
  void SetThumbLength(int v);
  TNotifyEvent OnChange;

 protected:
  void CreateParams(TCreateParams& p) override;
  void CreateWnd() override;
  void WndProc(TMessage& m) override;
  virtual void Changed();

 private:
  int min_ = 0, max_ = 10;
  mutable int position_ = 0;
  int frequency_ = 1;
  int thumbLength_ = 20;
  TTrackBarOrientation orientation_ = trHorizontal;
};

}  // namespace ui
