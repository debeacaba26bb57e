#include "iefreenotifier.h"

#include <utility>

TIEFreeNotifier::TIEFreeNotifier(THandler handler) : Handler(std::move(handler)) {}

void TIEFreeNotifier::Watch(ui::TComponent* component) {
  if (component) FreeNotification(component);
}

void TIEFreeNotifier::Unwatch(ui::TComponent* component) {
  if (component) RemoveFreeNotification(component);
}

void TIEFreeNotifier::Notification(ui::TComponent* component, ui::TOperation operation) {
  ui::TComponent::Notification(component, operation);
  if (Handler) Handler(component, operation);
}
