// Undo snapshots of the objects around mouse edits, and the change events of the vector view.
#include "iestreams.h"
#include "ievect.h"
#include "imageryproc.h"

using namespace ui;

// ---- change events ----

void TImageryVect::DoVectorialChanged() {
  Modified = true;
  BeforeChangedSent = false;
  if (OnVectorialChanged) OnVectorialChanged(this);
}

// Fired at most once between two DoVectorialChanged, however many steps a drag takes.
void TImageryVect::DoBeforeVectorialChanged() {
  if (!BeforeChangedSent && OnBeforeVectorialChanged) OnBeforeVectorialChanged(this);
  BeforeChangedSent = true;
}

void TImageryVect::DoNewObject(int hobj) {
  if (OnNewObject) OnNewObject(this, hobj);
}

void TImageryVect::DoUserSelectObject(int hobj) {
  if (OnUserSelectObject) OnUserSelectObject(this, hobj);
}

void TImageryVect::DoUserDeselectObject(int hobj) {
  if (OnUserDeselectObject) OnUserDeselectObject(this, hobj);
}

void TImageryVect::DoObjectMoveResize(int hobj, int grip, int& offsetX, int& offsetY) {
  if (OnObjectMoveResize) OnObjectMoveResize(this, hobj, grip, offsetX, offsetY);
}

void TImageryVect::DoObjectClick(int hobj) {
  if (OnObjectClick) OnObjectClick(this, hobj);
}

void TImageryVect::DoObjectDblClick(int hobj) {
  if (OnObjectDblClick) OnObjectDblClick(this, hobj);
}

void TImageryVect::DoObjectOver(int hobj) {
  if (OnObjectOver) OnObjectOver(this, hobj);
}

// ---- snapshots ----

void TImageryVect::PushObjectsUndo() {
  UndoPushed = ObjAutoUndo;
  if (!ObjAutoUndo) return;
  if (ObjUndoMode == ieumShared) GetProc()->PushUndo(ieuObject);
  else SaveUndoSnapshot();
}

void TImageryVect::SaveUndoSnapshot() {
  if (ObjUndoLimit <= 0) return;
  TIEMemoryStream mem;
  SaveObjectsToStream(mem);
  const auto* data = static_cast<const uint8_t*>(mem.Memory());
  std::vector<uint8_t> snapshot(data, data + mem.GetSize());
  while (int(UndoSnapshots.size()) >= ObjUndoLimit) UndoSnapshots.erase(UndoSnapshots.begin());
  UndoSnapshots.push_back(std::move(snapshot));
  if (TIESaveUndoEvent e = GetOnSaveUndoValue()) e(this, ieuObject);
}

void TImageryVect::DropLastUndoSnapshot() {
  if (!UndoSnapshots.empty()) UndoSnapshots.pop_back();
}

void TImageryVect::ClearUndoSnapshots() { UndoSnapshots.clear(); }

// A press that changed nothing leaves no undo entry.
void TImageryVect::DropUnusedUndo() {
  if (Modified || !ObjAutoUndo || !UndoPushed) return;
  UndoPushed = false;
  if (ObjUndoMode == ieumSeparated) {
    DropLastUndoSnapshot();
    return;
  }
  if (!HasProc()) return;
  TImageryProc* proc = GetProc();
  const int n = proc->UndoEntryCount();
  for (int i = n - 1; i >= 0; --i) {
    if (proc->UndoSourceOf(i) == ieuObject) {
      proc->DiscardUndoEntry(n - 1 - i);  // positions count from the newest
      return;
    }
  }
}
