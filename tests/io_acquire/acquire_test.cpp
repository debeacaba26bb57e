// The acquisition objects: WIA event dispatch, DirectShow forwarding without a graph, TWAIN tear-down
// and its log.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "../io/iotest_util.h"
#include "hostenv.h"
#include "ieds.h"
#include "imageryio.h"
#include "ietwain.h"
#include "iewia.h"

namespace {

const GUID kItemCreated = {0x4C8F4EF5, 0xE14F, 0x11D2, {0xB3, 0x26, 0x00, 0xC0, 0x4F, 0x68, 0xCE, 0x61}};
const GUID kItemDeleted = {0x1D22A559, 0xE14F, 0x11D2, {0xB3, 0x26, 0x00, 0xC0, 0x4F, 0x68, 0xCE, 0x61}};
const GUID kTreeUpdated = {0xC9859B91, 0x4AB2, 0x4CD6, {0xA1, 0xFC, 0x58, 0x2E, 0xEC, 0x55, 0xE5, 0x85}};
const GUID kOther = {0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};

TEST(Wia, OneObjectPerComponentAndEventKindsDispatched) {
  TImageryIO io;
  TIEWia* wia = io.GetWia();
  ASSERT_NE(nullptr, wia);
  EXPECT_EQ(wia, io.GetWia());
  EXPECT_EQ(&io, wia->Owner);

  auto* cb = new TWiaEventCallBack(wia);
  int fired = 0;
  struct Case {
    const GUID* event;
    uint8_t kind;     // LastEventKind afterwards
    int firedAfter;   // OnDeviceEvent calls so far
  };
  // a tree update before any handler is set still records its kind
  EXPECT_EQ(S_OK, cb->ImageEventCallback(&kTreeUpdated, nullptr, nullptr, nullptr, 0, nullptr, nullptr, 0));
  EXPECT_EQ(1, wia->LastEventKind);
  wia->OnDeviceEvent = [&](TIEWia* sender) {
    EXPECT_EQ(wia, sender);
    ++fired;
  };
  const Case kCases[] = {{&kItemCreated, 2, 1}, {&kOther, 2, 1}, {&kItemDeleted, 3, 2}, {&kTreeUpdated, 1, 3},
                         {&kOther, 1, 3}};
  for (const Case& c : kCases) {
    EXPECT_EQ(S_OK, cb->ImageEventCallback(c.event, nullptr, nullptr, nullptr, 0, nullptr, nullptr, 0));
    EXPECT_EQ(c.kind, wia->LastEventKind);
    EXPECT_EQ(c.firedAfter, fired);
  }
  cb->Owner = nullptr;  // without an owner an event does nothing
  EXPECT_EQ(S_OK, cb->ImageEventCallback(&kItemDeleted, nullptr, nullptr, nullptr, 0, nullptr, nullptr, 0));
  EXPECT_EQ(3, fired);
  cb->Release();
}

TEST(DirectShow, WithoutAGraphForwardingLeavesEverythingAlone) {
  TImageryIO io;
  TIEDirectShow* ds = io.GetDirectShow();
  ASSERT_NE(nullptr, ds);
  EXPECT_EQ(ds, io.GetDirectShow());
  EXPECT_EQ(nullptr, ds->NotifyWindow);  // no view attached: no window registered
  EXPECT_FALSE(ds->Connected());
  EXPECT_EQ(0, ds->GetGraphState());
  int w = 123, h = 456;
  ds->GetNativeVideoSize(w, h);
  EXPECT_EQ(123, w);
  EXPECT_EQ(456, h);
  const HWND someWindow = reinterpret_cast<HWND>(0x1234);
  ds->SetNotifyWindow(someWindow, 8025, 8026);
  EXPECT_EQ(someWindow, ds->NotifyWindow);
  EXPECT_EQ(8025u, ds->NewFrameMessage);
  EXPECT_EQ(8026u, ds->GraphEventMessage);
  const RECT r{0, 0, 10, 10};
  ds->SetVideoPosition(r, r);
  ds->RepaintVideo(nullptr, nullptr);
  ds->Disconnect();
  EXPECT_FALSE(ds->Connected());
}

std::vector<std::string> LogLines(const std::string& name) {
  std::vector<unsigned char> b;
  tq::ReadFileBytes(name, b);
  std::vector<std::string> lines;
  std::string cur;
  for (unsigned char c : b) {
    if (c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else if (c != '\r') {
      cur += char(c);
    }
  }
  return lines;
}

TEST(TWain, TeardownFreesTheWindowAndLibraryAndLogsOnlyWithALogName) {
  const std::string log = tq::WorkFile("twain.log");
  DeleteFileA(log.c_str());
  for (bool withLog : {false, true}) {
    SCOPED_TRACE(withLog);
    ASSERT_EQ(nullptr, GetModuleHandleA("msimg32.dll"));  // loaded by nothing else in this test
    IETWainLogFileName = withLog ? log : std::string();
    TIETWainRecord rec;
    rec.ProxyWindow = CreateWindowExA(0, "STATIC", "proxy", 0, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    rec.LibraryHandle = LoadLibraryA("msimg32.dll");
    ASSERT_TRUE(rec.ProxyWindow && rec.LibraryHandle);
    rec.EntryPoint = GetProcAddress(rec.LibraryHandle, "AlphaBlend");
    const HWND window = rec.ProxyWindow;
    IETWainTeardown(rec);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(nullptr, GetModuleHandleA("msimg32.dll"));
    EXPECT_EQ(nullptr, rec.ProxyWindow);
    EXPECT_EQ(nullptr, rec.LibraryHandle);
    EXPECT_EQ(nullptr, rec.EntryPoint);
    IETWainLogClose();
    const std::vector<std::string> lines = LogLines(log);
    if (!withLog) {
      EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(log.c_str()));
      continue;
    }
    ASSERT_EQ(4u, lines.size());
    const char* kTail[] = {" : DestroyProxyWindow", " :   DestroyProxyWindow : destroyed", " : IETW_UnloadSourceManager",
                           " :   IETW_UnloadSourceManager : Unload OK"};
    for (int i = 0; i < 4; ++i) {
      const std::string& l = lines[size_t(i)];
      const std::string tail = kTail[i];
      ASSERT_GT(l.size(), tail.size());
      EXPECT_EQ(tail, l.substr(l.size() - tail.size())) << l;
    }
  }
  IETWainLogFileName.clear();
  // an empty record (a component's own) tears down without logging anything
  DeleteFileA(log.c_str());
  IETWainLogFileName = log;
  { TImageryIO io; }
  IETWainLogFileName.clear();
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(log.c_str()));
}

}  // namespace
