// The undo and redo stacks of the processing component attached to a view: every snapshot kind pushed,
// changed, undone and redone; the limits over mixed kinds; image snapshots going back to their layer;
// layer records of layers that are gone and records with bad stored lengths.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "iebitmap.h"
#include "ielayer.h"
#include "iestreams.h"
#include "ievect.h"
#include "imageryproc.h"
#include "imageryview.h"

using namespace ui;

namespace {

void Pattern(TIEBitmap* b, int w, int h, int seed) {
  b->Allocate(w, h, ie24RGB);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b->SetRGB(x, y, IEMakeRGB(uint8_t(x * 5 + seed), uint8_t(y * 3 + seed), uint8_t(x * y)));
}

std::string PixelsOf(TIEBitmap* b) {
  uint32_t h = 2166136261u;
  for (int y = 0; y < b->GetImageHeight(); ++y)
    for (int x = 0; x < b->GetImageWidth(); ++x) {
      const TIERGB p = b->GetRGB(x, y);
      for (uint8_t v : {p.r, p.g, p.b}) h = (h ^ v) * 16777619u;
    }
  return std::to_string(b->GetImageWidth()) + "x" + std::to_string(b->GetImageHeight()) + ":" + std::to_string(h);
}

// What the kinds keep: every layer's place, settings and pixels, and every object's kind and box.
std::string Describe(TImageryView* v) {
  std::string s;
  for (int i = 0; i < v->GetLayerCount(); ++i) {
    TIELayer* l = v->GetLayer(i);
    s += "L" + std::to_string(i) + "(" + std::to_string(l->PosX) + "," + std::to_string(l->PosY) + " t" +
         std::to_string(l->Transparency) + (l->Visible ? " v " : " h ") + l->Name + " " + PixelsOf(l->Bitmap) + ") ";
  }
  if (auto* vect = As<TImageryVect>(v))
    for (int i = 0; i < vect->ObjectsCount(); ++i) {
      const TIEVObjectRecord* r = vect->ObjectRecord(vect->GetObjectHandle(i));
      s += "O" + std::to_string(int(r->Kind)) + "(" + std::to_string(r->X1) + "," + std::to_string(r->Y1) + "," +
           std::to_string(r->X2) + "," + std::to_string(r->Y2) + ") ";
    }
  return s;
}

int AddObject(TImageryVect* v, TIEVKind kind, int x1, int y1, int x2, int y2) {
  TIEVObjectRecord* t = v->ObjectRecord(IEV_TEMPLATE);
  t->Kind = kind;
  t->X1 = x1;
  t->Y1 = y1;
  t->X2 = x2;
  t->Y2 = y2;
  return v->AddObject(*t);
}

// Layer 0 of 30 x 20, layer 1 (current) of 12 x 9 at (3, 4), and, in a vector view, a line and a box.
template <class View>
View* MakeView() {
  View* v = New<View>(nullptr);
  Pattern(v->GetIEBitmap(), 30, 20, 1);
  v->GetLayer(0)->Name = "base";
  v->AddLayer();
  Pattern(v->GetIEBitmap(), 12, 9, 50);
  v->GetLayer(1)->PosX = 3;
  v->GetLayer(1)->PosY = 4;
  v->GetLayer(1)->Name = "top";
  v->UpdateView();
  if (auto* vect = As<TImageryVect>(v)) {
    AddObject(vect, ievkLINE, 1, 2, 20, 15);
    AddObject(vect, ievkBOX, 5, 5, 9, 12);
  }
  return v;
}

struct KindCase {
  const char* name;
  TIEUndoSource kind;
  std::function<void(TImageryVect*)> change;  // changes only what the kind keeps
};

const KindCase kKindCases[] = {
    {"image of the current layer", ieuImage,
     [](TImageryVect* v) { Pattern(v->GetIEBitmap(), 14, 6, 9); }},
    {"objects", ieuObject,
     [](TImageryVect* v) {
       v->ObjectRecord(v->GetObjectHandle(0))->X2 = 28;
       AddObject(v, ievkELLIPSE, 2, 2, 8, 8);
     }},
    {"layer settings", ieuLayer,
     [](TImageryVect* v) {
       v->GetLayer(1)->PosX = -6;
       v->GetLayer(1)->Transparency = 40;
       v->GetLayer(0)->Visible = false;
       v->GetLayer(0)->Name = "renamed";
     }},
    {"layer settings and the current layer's pixels", ieuFullLayer,
     [](TImageryVect* v) {
       v->GetLayer(1)->PosY = 11;
       v->GetLayer(0)->Transparency = 7;
       Pattern(v->GetIEBitmap(), 5, 5, 77);
     }},
    {"layers and objects", ieuObjectsAndLayers,
     [](TImageryVect* v) {
       Pattern(v->GetLayer(0)->Bitmap, 30, 20, 99);
       v->AddLayer();
       v->RemoveAllObjects();
       AddObject(v, ievkTEXT, 0, 0, 3, 3);
     }},
};

}  // namespace

TEST(ViewUndo, EveryKindRestoresWhatItKeepsAndRedoesTheChange) {
  for (const KindCase& c : kKindCases) {
    SCOPED_TRACE(c.name);
    TImageryVect* v = MakeView<TImageryVect>();
    TImageryProc* proc = v->GetProc();
    std::vector<TIEUndoSource> events;
    proc->OnSaveUndo = [&](void*, TIEUndoSource s) { events.push_back(s); };
    const std::string before = Describe(v);
    proc->PushUndoCaptioned("step", c.kind);
    ASSERT_EQ(proc->UndoEntryCount(), 1);
    EXPECT_EQ(proc->UndoSourceOf(0), c.kind);
    EXPECT_EQ(proc->UndoCaptionOf(0), "step");
    EXPECT_EQ(events, std::vector<TIEUndoSource>{c.kind});

    c.change(v);
    const std::string after = Describe(v);
    ASSERT_NE(before, after);
    proc->Undo(false);
    EXPECT_EQ(Describe(v), before);
    c.change(v);
    proc->Undo(false);  // the entry stays: the same state again
    EXPECT_EQ(Describe(v), before);
    EXPECT_EQ(proc->UndoEntryCount(), 1);
    EXPECT_EQ(proc->GetWorkingBitmap(), v->GetIEBitmap());

    c.change(v);
    proc->Undo(true);
    EXPECT_EQ(Describe(v), before);
    ASSERT_EQ(proc->RedoEntryCount(), 1);
    EXPECT_EQ(proc->RedoCaptionOf(0), "");
    proc->Redo();
    EXPECT_EQ(Describe(v), after);
    EXPECT_EQ(proc->RedoEntryCount(), 1);  // redo keeps its entry too
    EXPECT_EQ(events.size(), 1u);          // the redo snapshot is not reported
    v->Free();
  }
}

TEST(ViewUndo, LayerRecordsLeaveThePixelsAndFullRecordsOnlyTheCurrentLayers) {
  TImageryVect* v = MakeView<TImageryVect>();
  TImageryProc* proc = v->GetProc();
  const std::string layer0 = PixelsOf(v->GetLayer(0)->Bitmap), layer1 = PixelsOf(v->GetLayer(1)->Bitmap);
  proc->PushUndo(ieuLayer);
  Pattern(v->GetLayer(0)->Bitmap, 30, 20, 5);
  Pattern(v->GetLayer(1)->Bitmap, 12, 9, 5);
  const std::string changed0 = PixelsOf(v->GetLayer(0)->Bitmap), changed1 = PixelsOf(v->GetLayer(1)->Bitmap);
  proc->Undo(false);
  EXPECT_EQ(PixelsOf(v->GetLayer(0)->Bitmap), changed0);
  EXPECT_EQ(PixelsOf(v->GetLayer(1)->Bitmap), changed1);

  proc->PushUndo(ieuFullLayer);  // limit 1: replaces the layer entry; layer 1 is current
  Pattern(v->GetLayer(0)->Bitmap, 30, 20, 6);
  Pattern(v->GetLayer(1)->Bitmap, 12, 9, 6);
  const std::string again0 = PixelsOf(v->GetLayer(0)->Bitmap);
  proc->Undo(false);
  EXPECT_EQ(PixelsOf(v->GetLayer(0)->Bitmap), again0);
  EXPECT_EQ(PixelsOf(v->GetLayer(1)->Bitmap), changed1);
  EXPECT_NE(layer0, changed0);
  EXPECT_NE(layer1, changed1);
  v->Free();
}

TEST(ViewUndo, KindsNeedTheirViewAndNoneMakeAnEntryWithoutOne) {
  struct Case {
    const char* holder;
    TIEUndoSource kind;
    bool made;
  };
  const Case kCases[] = {
      {"none", ieuImage, true},          {"none", ieuSelection, false},   {"none", ieuObject, false},
      {"none", ieuLayer, false},         {"none", ieuFullLayer, false},   {"none", ieuObjectsAndLayers, false},
      {"none", ieuUnknown, false},       {"none", TIEUndoSource(7), false},
      {"view", ieuObject, false},        {"view", ieuLayer, true},        {"view", ieuFullLayer, true},
      {"view", ieuObjectsAndLayers, true}, {"view", TIEUndoSource(9), false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(std::string(c.holder) + " " + std::to_string(int(c.kind)));
    TImageryView* view = nullptr;
    TImageryProc own(true);
    TImageryProc* proc = &own;
    if (std::string(c.holder) == "view") {
      view = MakeView<TImageryView>();
      proc = view->GetProc();
    } else {
      Pattern(own.GetWorkingBitmap(), 8, 8, 3);
    }
    int events = 0;
    proc->OnSaveUndo = [&](void*, TIEUndoSource s) {
      EXPECT_EQ(s, c.kind);
      ++events;
    };
    proc->PushUndo(c.kind);
    EXPECT_EQ(proc->UndoEntryCount(), c.made ? 1 : 0);
    EXPECT_EQ(events, 1);  // reported whether or not an entry was made
    if (view) view->Free();
  }
}

TEST(ViewUndo, APlainViewKeepsWholeLayerSetsWithoutObjects) {
  TImageryView* v = MakeView<TImageryView>();
  TImageryProc* proc = v->GetProc();
  const std::string before = Describe(v);
  proc->PushUndo(ieuObjectsAndLayers);
  v->AddLayer();
  Pattern(v->GetLayer(0)->Bitmap, 7, 7, 2);
  v->GetLayer(1)->PosX = 20;
  proc->Undo(false);
  EXPECT_EQ(Describe(v), before);
  EXPECT_EQ(proc->GetWorkingBitmap(), v->GetIEBitmap());
  v->Free();
}

TEST(ViewUndo, LimitsKeepTheNewestEntriesOfMixedKinds) {
  struct Case {
    int limit;
    std::vector<TIEUndoSource> kept;  // oldest first
  };
  const std::vector<TIEUndoSource> pushed = {ieuLayer, ieuObject, ieuImage, ieuFullLayer, ieuObjectsAndLayers};
  const Case kCases[] = {{0, {}},
                         {-1, {}},
                         {1, {ieuObjectsAndLayers}},
                         {3, {ieuImage, ieuFullLayer, ieuObjectsAndLayers}},
                         {9, pushed}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.limit);
    TImageryVect* v = MakeView<TImageryVect>();
    TImageryProc* proc = v->GetProc();
    proc->SetUndoLimitValue(c.limit);
    int events = 0;
    proc->OnSaveUndo = [&](void*, TIEUndoSource) { ++events; };
    std::vector<std::string> states;
    for (size_t k = 0; k < pushed.size(); ++k) {
      states.push_back(Describe(v));
      proc->PushUndoCaptioned("step " + std::to_string(k), pushed[k]);
      v->GetLayer(1)->PosX += 10;  // every kind but the objects keeps the place of layer 1
      AddObject(v, ievkLINE, int(k), 0, 9, 9);
    }
    EXPECT_EQ(events, c.limit > 0 ? 5 : 0);
    ASSERT_EQ(proc->UndoEntryCount(), int(c.kept.size()));
    for (size_t i = 0; i < c.kept.size(); ++i) {
      EXPECT_EQ(proc->UndoSourceOf(int(i)), c.kept[i]);
      EXPECT_EQ(proc->UndoCaptionOf(int(c.kept.size() - 1 - i)), "step " + std::to_string(pushed.size() - c.kept.size() + i));
    }
    if (!c.kept.empty()) {
      // the newest entry keeps layers and objects: undoing it gives back the state before the last push
      proc->UndoToPosition(0, false);
      EXPECT_EQ(Describe(v), states.back());
    }
    // out-of-range positions do nothing
    proc->UndoToPosition(-1, true);
    proc->UndoToPosition(int(c.kept.size()), true);
    proc->RedoToPosition(-3);
    proc->DiscardUndoEntry(-1);
    proc->DiscardUndoEntry(int(c.kept.size()));
    EXPECT_EQ(proc->UndoEntryCount(), int(c.kept.size()));
    EXPECT_EQ(proc->RedoEntryCount(), 0);
    v->Free();
  }
}

TEST(ViewUndo, AnImageSnapshotGoesBackToItsLayerOrTheLastOneLeft) {
  TImageryView* v = MakeView<TImageryView>();
  v->AddLayer();
  Pattern(v->GetIEBitmap(), 6, 6, 30);  // layer 2 of 3, current
  TImageryProc* proc = v->GetProc();
  proc->SetUndoLimitValue(2);
  const std::string layer2 = PixelsOf(v->GetIEBitmap());
  proc->PushUndo(ieuImage);
  ASSERT_EQ(proc->UndoSnapshotOf(0)->SpareInteger, 2);
  v->SetCurrentLayer(1);
  const std::string layer1 = PixelsOf(v->GetIEBitmap());
  proc->PushUndo(ieuImage);
  EXPECT_EQ(proc->UndoSnapshotOf(0)->SpareInteger, 1);

  // restored into layer 1 while layer 0 is current
  Pattern(v->GetLayer(1)->Bitmap, 4, 4, 0);
  v->SetCurrentLayer(0);
  const std::string layer0 = PixelsOf(v->GetIEBitmap());
  proc->Undo(false);
  EXPECT_EQ(PixelsOf(v->GetLayer(1)->Bitmap), layer1);
  EXPECT_EQ(PixelsOf(v->GetLayer(0)->Bitmap), layer0);

  // two layers removed: the layer 2 snapshot goes to the only one left
  v->RemoveLayer(2);
  v->RemoveLayer(1);
  ASSERT_EQ(v->GetLayerCount(), 1);
  proc->UndoToPosition(1, false);
  EXPECT_EQ(PixelsOf(v->GetLayer(0)->Bitmap), layer2);
  EXPECT_EQ(PixelsOf(proc->GetWorkingBitmap()), layer2);
  v->Free();
}

TEST(ViewUndo, RecordsOfLayersThatAreGoneAreSkipped) {
  TImageryView* v = MakeView<TImageryView>();
  v->AddLayer();
  v->GetLayer(2)->PosX = 8;
  TImageryProc* proc = v->GetProc();
  proc->PushUndo(ieuFullLayer);  // layer 2 current: its pixels are in the record
  const std::string layer2 = PixelsOf(v->GetLayer(2)->Bitmap);
  v->RemoveLayer(1);
  ASSERT_EQ(v->GetLayerCount(), 2);
  v->GetLayer(0)->PosX = 50;
  v->GetLayer(1)->PosX = 60;
  Pattern(v->GetLayer(1)->Bitmap, 3, 3, 1);
  proc->Undo(false);
  ASSERT_EQ(v->GetLayerCount(), 2);
  EXPECT_EQ(v->GetLayer(0)->PosX, 0);
  EXPECT_EQ(v->GetLayer(1)->PosX, 8);
  EXPECT_EQ(PixelsOf(v->GetLayer(1)->Bitmap), layer2);
  v->Free();
}

// Records built by hand and read by the view as the undo stack reads them: the walk follows stored
// lengths, steps over foreign records and ends at a length that cannot be a record.
TEST(ViewUndo, LayerRecordsWithBadLengthsEndTheWalk) {
  TImageryView* v = MakeView<TImageryView>();
  TIELayer* top = v->GetLayer(1);
  auto record = [&](int posX) {
    TIEMemoryStream s;
    top->PosX = posX;
    top->SaveToStream(s, false);
    const auto* p = static_cast<const uint8_t*>(s.Memory());
    return std::vector<uint8_t>(p, p + s.GetSize());
  };
  const std::vector<uint8_t> good = record(5);
  std::vector<uint8_t> foreign = record(70);
  for (int i = 4; i < 20; ++i) foreign[size_t(i)] ^= 0x5A;  // an Id no layer has
  auto withLength = [&](int32_t length) {
    std::vector<uint8_t> r = record(70);
    std::memcpy(r.data(), &length, 4);
    return r;
  };
  const int32_t n = int32_t(good.size());
  struct Case {
    const char* name;
    std::vector<std::vector<uint8_t>> parts;
    int expectPosX;
  };
  const Case kCases[] = {
      {"a foreign record is stepped over", {foreign, good}, 5},
      {"the good record alone", {good}, 5},
      {"a length of 0 ends the walk", {withLength(0), good}, 99},
      {"a negative length ends the walk", {withLength(-n), good}, 99},
      {"a length shorter than the header ends the walk", {withLength(19), good}, 99},
      {"a length past the stream ends the walk", {good, withLength(1 << 30)}, 5},
      {"a length past the stream on the only record", {withLength(n + 1)}, 99},
      {"a stream ending inside a header", {good, std::vector<uint8_t>(good.begin(), good.begin() + 10)}, 5},
      {"a matching record with a length past the stream", {withLength(3 * n), good}, 99},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes;
    for (const auto& p : c.parts) bytes.insert(bytes.end(), p.begin(), p.end());
    top->PosX = 99;
    TIEMemStream in(bytes.data(), int64_t(bytes.size()));
    v->ReadUndoState(ieuLayer, in);
    EXPECT_EQ(top->PosX, c.expectPosX);
    EXPECT_EQ(v->GetLayerCount(), 2);
  }
  v->Free();
}
