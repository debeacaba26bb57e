// The vector editor's object model: handles and their special values, the record template, shared
// bitmaps with reference counts, polylines, selection, copying and assignment.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <typeinfo>

#include "iebitmap.h"
#include "ievect.h"
#include "ievectglobals.h"

using namespace ui;

namespace {

TIEBitmap* MakeBitmap(TIEBitmap& b, int w, int h, uint8_t value) {
  b.Allocate(w, h, ie24RGB);
  b.Fill(value);
  return &b;
}

class Vect : public ::testing::Test {
 protected:
  void SetUp() override { view = New<TImageryVect>(nullptr); }
  void TearDown() override { view->Free(); }
  int Add(TIEVKind kind, int x1 = 0, int y1 = 0, int x2 = 10, int y2 = 10) {
    TIEVObjectRecord* t = view->ObjectRecord(IEV_TEMPLATE);
    t->Kind = kind;
    t->X1 = x1;
    t->Y1 = y1;
    t->X2 = x2;
    t->Y2 = y2;
    return view->AddObject(*t);
  }
  TImageryVect* view = nullptr;
};

TEST_F(Vect, ANewViewHasNoObjectsAndTheErrorIconAsTemplateBitmap) {
  EXPECT_EQ(view->ObjectsCount(), 0);
  const RECT e = view->GetObjectsExtent();
  EXPECT_EQ(e.right, 0);
  EXPECT_EQ(e.bottom, 0);
  TIEVObjectRecord* t = view->ObjectRecord(IEV_TEMPLATE);
  TIEBitmap* icon = view->SharedBitmap(t->BitmapIndex);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(icon->GetImageWidth(), 64);
  EXPECT_EQ(icon->GetImageHeight(), 64);
  ASSERT_TRUE(t->Font);
  EXPECT_STREQ(t->Font->lfFaceName, "Arial");
  EXPECT_EQ(t->Flags, 15);
  EXPECT_EQ(t->BrushStyle, 1);
}

TEST_F(Vect, HandlesAreRecordIndexesAndBadOnesAreRefused) {
  EXPECT_THROW(view->ObjectRecord(IEV_LAST), EIEVectError);  // no object created yet
  const int a = Add(ievkBOX), b = Add(ievkLINE), c = Add(ievkELLIPSE, 20, 30, 5, 8);
  EXPECT_EQ(a, 0);
  EXPECT_EQ(b, 1);
  EXPECT_EQ(c, 2);
  EXPECT_EQ(view->ObjectRecord(IEV_LAST), view->ObjectRecord(2));
  EXPECT_EQ(view->ObjectRecord(IEV_ALL), nullptr);
  EXPECT_EQ(view->ObjectRecord(IEV_NONE), nullptr);
  for (int bad : {3, 100, -5, -1000}) EXPECT_THROW(view->ObjectRecord(bad), EIEVectError) << bad;
  EXPECT_THROW(view->SelectObject(7), EIEVectError);
  // a box is put in order, a line keeps its end points
  const TIEVObjectRecord* e = view->ObjectRecord(c);
  EXPECT_EQ(e->X1, 5);
  EXPECT_EQ(e->Y1, 8);
  EXPECT_EQ(e->X2, 20);
  TIEVObjectRecord* t = view->ObjectRecord(IEV_TEMPLATE);
  t->Kind = ievkLINE;
  t->X1 = 9;
  t->X2 = 1;
  EXPECT_EQ(view->ObjectRecord(view->AddObject(*t))->X1, 9);
  const RECT ext = view->GetObjectsExtent();
  EXPECT_EQ(ext.right, 21);
  EXPECT_EQ(ext.bottom, 31);
  view->RemoveAllObjects();
  EXPECT_EQ(view->ObjectsCount(), 0);
  EXPECT_EQ(Add(ievkBOX), 0);  // numbering starts again
}

TEST_F(Vect, SharedBitmapsAreCountedReleasedAndCompacted) {
  TIEBitmap img, other;
  MakeBitmap(img, 8, 8, 40);
  MakeBitmap(other, 4, 4, 90);
  const int templSlot = view->ObjectRecord(IEV_TEMPLATE)->BitmapIndex;
  ASSERT_EQ(templSlot, 0);
  const int a = Add(ievkBITMAP), b = Add(ievkBITMAP);
  // objects made from the template share its bitmap
  EXPECT_EQ(view->SharedBitmapRefCount(templSlot), 3);
  view->SetObjBitmap(a, &img);
  view->SetObjBitmap(b, &img);
  const int slot = view->ObjectRecord(a)->BitmapIndex;
  EXPECT_EQ(view->ObjectRecord(b)->BitmapIndex, slot);
  EXPECT_EQ(view->SharedBitmapRefCount(slot), 2);
  EXPECT_EQ(view->SharedBitmapRefCount(templSlot), 1);
  const int c = Add(ievkBITMAP);
  view->SetObjBitmap(c, &other);
  const int otherSlot = view->ObjectRecord(c)->BitmapIndex;
  EXPECT_GT(otherSlot, slot);

  view->SetObjBitmap(a, nullptr);
  EXPECT_EQ(view->ObjectRecord(a)->BitmapIndex, -1);
  EXPECT_EQ(view->SharedBitmapRefCount(slot), 1);
  view->SetObjBitmap(b, nullptr);
  EXPECT_EQ(view->SharedBitmapRefCount(slot), 0);
  EXPECT_EQ(view->SharedBitmap(slot), nullptr);
  const int before = view->SharedBitmapsCount();
  view->CompactSharedBitmaps();
  EXPECT_EQ(view->SharedBitmapsCount(), before - 1);
  EXPECT_EQ(view->ObjectRecord(c)->BitmapIndex, otherSlot - 1);
  EXPECT_EQ(view->SharedBitmap(otherSlot - 1)->GetImageWidth(), 4);
  EXPECT_EQ(view->ObjectRecord(IEV_TEMPLATE)->BitmapIndex, templSlot);

  // bad indexes are errors, not reads past the table
  EXPECT_THROW(view->SetObjBitmapIndex(c, 99), EIEVectError);
  EXPECT_THROW(view->SharedBitmap(99), EIEVectError);
  view->SetObjBitmapIndex(a, otherSlot - 1);
  EXPECT_EQ(view->SharedBitmapRefCount(otherSlot - 1), 2);
}

TEST_F(Vect, WithoutSharingEveryObjectOwnsItsSlot) {
  view->SetShareBitmaps(false);
  TIEBitmap img;
  MakeBitmap(img, 8, 8, 40);
  const int a = Add(ievkBITMAP), b = Add(ievkBITMAP);
  view->SetObjBitmap(a, &img);
  view->SetObjBitmap(b, &img);
  EXPECT_NE(view->ObjectRecord(a)->BitmapIndex, view->ObjectRecord(b)->BitmapIndex);
  EXPECT_EQ(view->SharedBitmapRefCount(view->ObjectRecord(a)->BitmapIndex), 1);
  view->SetObjBitmapIndex(a, view->ObjectRecord(b)->BitmapIndex);  // a copy in a new slot
  EXPECT_NE(view->ObjectRecord(a)->BitmapIndex, view->ObjectRecord(b)->BitmapIndex);
}

TEST_F(Vect, RemovingAllObjectsKeepsTheTemplateBitmap) {
  TIEBitmap img;
  MakeBitmap(img, 8, 8, 40);
  view->SetObjBitmap(Add(ievkBITMAP), &img);
  view->RemoveAllObjects();
  EXPECT_EQ(view->SharedBitmapsCount(), 1);
  TIEBitmap* t = view->SharedBitmap(view->ObjectRecord(IEV_TEMPLATE)->BitmapIndex);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->GetImageWidth(), 64);
  EXPECT_EQ(view->SharedBitmapRefCount(0), 1);
}

TEST_F(Vect, PolylineVerticesDropRepeatsAndExtendTheBox) {
  const int h = Add(ievkPOLYLINE);
  struct Step {
    int x, y;
    int count;
  };
  const Step kSteps[] = {{5, 5, 1}, {5, 5, 1}, {9, 5, 2}, {9, 2, 3}, {9, 2, 3}, {1, 7, 4}};
  for (const Step& s : kSteps) {
    view->AddPolylinePoint(h, s.x, s.y);
    EXPECT_EQ(view->ObjectRecord(h)->PolyCount(), s.count) << s.x << "," << s.y;
  }
  const TIEVObjectRecord* r = view->ObjectRecord(h);
  EXPECT_EQ(r->X1, 1);
  EXPECT_EQ(r->Y1, 2);
  EXPECT_EQ(r->X2, 9);
  EXPECT_EQ(r->Y2, 7);
  EXPECT_EQ(r->PolyBounds.left, 1);
  EXPECT_EQ(r->PolyBounds.bottom, 7);
}

TEST_F(Vect, SelectionHonoursTheSelectableBitAndNeverDuplicates) {
  const int a = Add(ievkBOX, 0, 0, 10, 10), b = Add(ievkBOX, 5, 5, 50, 50), c = Add(ievkBOX, 2, 2, 4, 4);
  view->ObjectRecord(c)->Flags &= ~ievfSelectable;
  int events = 0;
  view->OnSelectObject = [&](TObject*) { ++events; };
  view->SelectObject(c);
  EXPECT_EQ(view->SelectedObjectsCount(), 0);
  view->SelectInRect(IEV_ALL, 20, 20, 0, 0);  // a and c lie inside; c cannot be selected
  view->SelectInRect(IEV_ALL, 0, 0, 20, 20);
  view->SelectInRect(a, 0, 0, 10, 10);  // bounds are inclusive
  EXPECT_EQ(view->SelectedObjectsCount(), 1);
  EXPECT_TRUE(view->IsSelected(a));
  EXPECT_FALSE(view->IsSelected(b));
  EXPECT_EQ(events, 0);
  view->SelectObjectNotify(IEV_LAST);  // the last created: c, not selectable
  EXPECT_EQ(events, 1);
  view->DeselectObject(b);  // not selected: nothing
  EXPECT_EQ(events, 1);
  view->DeselectObject(a);
  EXPECT_EQ(view->SelectedObjectsCount(), 0);
  EXPECT_EQ(events, 2);
}

TEST_F(Vect, AssignCopiesObjectsFromAVectorViewOnly) {
  TImageryVect* source = New<TImageryVect>(nullptr);
  TIEVObjectRecord* t = source->ObjectRecord(IEV_TEMPLATE);
  t->Kind = ievkMEMO;
  t->Text = "memo";
  t->MemoFormats.resize(1);
  t->MemoFormats[0].FontName = "Courier New";
  t->MemoCharFormats.assign(5, 0);
  const int m = source->AddObject(*t);
  TIEBitmap img;
  MakeBitmap(img, 8, 8, 40);
  t->Kind = ievkBITMAP;
  source->SetObjBitmap(source->AddObject(*t), &img);
  source->ObjectRecord(m)->UserData = std::malloc(3);
  source->ObjectRecord(m)->UserDataLength = 3;
  std::memcpy(source->ObjectRecord(m)->UserData, "abc", 3);
  source->SetMeasureScale(2.5);

  Add(ievkBOX);
  view->Assign(source);
  ASSERT_EQ(view->ObjectsCount(), 2);
  const TIEVObjectRecord* memo = view->ObjectRecord(0);
  EXPECT_EQ(memo->Kind, ievkMEMO);
  EXPECT_EQ(memo->Text, "memo");
  ASSERT_EQ(memo->MemoFormats.size(), 1u);
  EXPECT_EQ(memo->MemoFormats[0].FontName, "Courier New");
  ASSERT_EQ(memo->UserDataLength, 3);
  EXPECT_NE(memo->UserData, source->ObjectRecord(m)->UserData);
  EXPECT_EQ(std::memcmp(memo->UserData, "abc", 3), 0);
  TIEBitmap* copied = view->SharedBitmap(view->ObjectRecord(1)->BitmapIndex);
  ASSERT_NE(copied, nullptr);
  EXPECT_NE(copied, source->SharedBitmap(source->ObjectRecord(1)->BitmapIndex));
  EXPECT_EQ(view->SharedBitmapRefCount(view->ObjectRecord(1)->BitmapIndex), 1);
  EXPECT_EQ(view->GetMeasureScale(), 2.5);

  TImageryView* plain = New<TImageryView>(nullptr);
  view->Assign(plain);
  EXPECT_EQ(view->ObjectsCount(), 2);
  view->Assign(nullptr);
  EXPECT_EQ(view->ObjectsCount(), 0);
  plain->Free();
  source->Free();
}

TEST_F(Vect, FontStylesComeFromTheFontRecord) {
  TFont f;
  f.SetName("Arial");
  f.SetStyle(fsBold | fsUnderline);
  f.SetColor(0x123456);
  const int h = Add(ievkTEXT);
  view->SetObjFont(h, &f);
  EXPECT_EQ(view->GetObjFontStyles(h), fsBold | fsUnderline);
  EXPECT_EQ(view->ObjectRecord(h)->PenColor, 0x123456);
  EXPECT_EQ(view->GetObjFontStyles(Add(ievkBOX)), 0);  // a box copies no font
}

TEST(VectStartUp, TheClipboardFormatHasOneIdAcrossProcessesAndTheRegistryStartsEmpty) {
  ASSERT_NE(IEVectClipboardFormat, 0u);
  EXPECT_EQ(RegisterClipboardFormatA("ZODUROV EDIV"), IEVectClipboardFormat);
  char name[64] = {};
  GetClipboardFormatNameA(IEVectClipboardFormat, name, sizeof name);
  EXPECT_STREQ(name, "ZODUROV EDIV");
  EXPECT_EQ(CreateExtendedObject("Anything"), nullptr);
  EXPECT_EQ(ExtendedClassName(typeid(int)), "");
  EXPECT_EQ(IEVectShortcuts[iescBold], 0x4000 | 'B');
}

}  // namespace

namespace {

// Run as a child of the test below: prints the identifier this process got at start-up.
TEST(VectStartUp, ChildReportsItsClipboardFormatId) {
  if (!GetEnvironmentVariableA("TQ_REPORT_VECT_CLIPBOARD_ID", nullptr, 0)) GTEST_SKIP() << "a child of the test below";
  std::printf("CLIPBOARD ID %u\n", IEVectClipboardFormat);
  std::fflush(stdout);
}

TEST(VectStartUp, AnotherProcessGetsTheSameClipboardFormatId) {
  wchar_t exe[MAX_PATH];
  GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring cmd = L"\"" + std::wstring(exe) + L"\" --gtest_filter=VectStartUp.ChildReportsItsClipboardFormatId";
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  ASSERT_TRUE(CreatePipe(&readEnd, &writeEnd, &sa, 0));
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = writeEnd;
  PROCESS_INFORMATION pi{};
  SetEnvironmentVariableA("TQ_REPORT_VECT_CLIPBOARD_ID", "1");
  const BOOL started = CreateProcessW(nullptr, &cmd[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
  SetEnvironmentVariableA("TQ_REPORT_VECT_CLIPBOARD_ID", nullptr);
  CloseHandle(writeEnd);
  ASSERT_TRUE(started);
  std::string out;
  char buf[512];
  DWORD got = 0;
  while (ReadFile(readEnd, buf, sizeof buf, &got, nullptr) && got > 0) out.append(buf, got);
  WaitForSingleObject(pi.hProcess, 30000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  CloseHandle(readEnd);
  const size_t at = out.find("CLIPBOARD ID ");
  ASSERT_NE(at, std::string::npos) << out;
  EXPECT_EQ(std::strtoul(out.c_str() + at + 13, nullptr, 10), IEVectClipboardFormat);
}

}  // namespace
