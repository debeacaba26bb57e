// The user-interface library's free notification for the image library's non-visual components,
// which are not components of that library themselves: a small component that asks the controls a
// component is attached to (an image control, a view) to tell it when they are freed, and hands each
// removal to its owner's handler while the control still exists.
#pragma once
#include <functional>

#include "uicomponent.h"

class TIEFreeNotifier : public ui::TComponent {
 public:
  // (component being removed, operation)
  using THandler = std::function<void(ui::TComponent* component, ui::TOperation operation)>;
  explicit TIEFreeNotifier(THandler handler);
  void Watch(ui::TComponent* component);    // nullptr: nothing
  void Unwatch(ui::TComponent* component);  // nullptr: nothing

 protected:
  void Notification(ui::TComponent* component, ui::TOperation operation) override;

 private:
  THandler Handler;
};
