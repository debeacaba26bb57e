// TWAIN acquisition settings of a TImageryIO. This library acquires nothing: the source-manager
// record stays empty unless a caller fills it, and destroying the parameters tears down whatever it
// names. The debug log writes lines only while IETWainLogFileName is set.
#pragma once
#include <windows.h>

#include <string>

class TImageryIO;

// The loaded source manager: its library, its entry point and its proxy window (all 0 when none).
struct TIETWainRecord {
  HMODULE LibraryHandle = nullptr;
  FARPROC EntryPoint = nullptr;
  HWND ProxyWindow = nullptr;
};

class TIETWainParams {
 public:
  explicit TIETWainParams(TImageryIO* owner) : Owner(owner) {}
  ~TIETWainParams();  // tears the record down (a failing log write is dropped here)
  TIETWainParams(const TIETWainParams&) = delete;
  TIETWainParams& operator=(const TIETWainParams&) = delete;

  TImageryIO* Owner;
  TIETWainRecord Record;
};

// Destroys the proxy window (when it still exists) and frees the source manager's library, clearing
// the record and logging each step.
void IETWainTeardown(TIETWainRecord& record);

// Empty (the default): no log. Otherwise each IETWainLogWrite appends "date time : message".
extern std::string IETWainLogFileName;
// Raises EIEError when the log cannot be opened or written.
void IETWainLogWrite(const std::string& message);
// Closes the log file a previous write left open (the I/O unit's shut-down).
void IETWainLogClose();
