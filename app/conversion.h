// The conversion run's own routines: the private temporary folder, output names, the texts read
// from the main window's edits, and the per-slide export loop that the progress window runs.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>

#include "powerpoint.h"

namespace app {

// The braced, upper-case text form of a new GUID ("{0F1E...}"); empty when none can be made.
std::wstring NewGuidFolderName();
// The run's temporary folder, without a trailing "\": the platform's temporary path + "tevarnic\" +
// a new GUID. Empty when no GUID can be made: the shared parent must never stand in for a private
// folder, since the run deletes its folder at the end. Paths stay wide all the way to the files: a
// user or folder name outside the system code page must not turn into question marks.
std::wstring NewTempFolderPath();
// Creates the folder with every missing level; true when it exists afterwards.
bool ForceDirectories(const std::wstring& path);
// Deletes the folder and everything in it, silently and for good; true on success.
bool DeleteFolder(const std::wstring& path);

// The text as a 32-bit decimal integer (optional leading blanks and sign), or `fallback` when it
// is not one.
int StrToIntDef(const std::wstring& text, int fallback);
// n / d rounded to the nearest integer, halves to the even neighbour; d > 0.
int64_t RoundHalfEven(int64_t n, int64_t d);
// Trims blanks and control characters from both ends.
std::wstring TrimText(const std::wstring& text);

// The output file of slide `index` (from 1): folder + prefix + index + extension.
std::wstring OutputFileName(const std::wstring& folder, const std::wstring& prefix, int index,
                            const std::wstring& extension);
// True when every output name made from `prefix` (prefix + number + extension) is one Windows lets
// a file have: none of \ / : * ? " < > | or a control character (":" would even name a hidden stream
// of another file), and no device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, with any
// extension).
bool IsAllowedImageName(const std::wstring& prefix);
// The progress label after `done` of `count` slides: the rounded percentage followed by "%".
std::wstring PercentText(int done, int count);

extern const wchar_t kFileLockedMessage[];  // follows the output path

// What one run exports, read from the main window when the loop starts.
struct ExportJob {
  std::wstring folder;     // with its trailing "\"
  std::wstring prefix;
  std::wstring key;        // the format key, compared case-sensitively
  std::wstring extension;  // with its dot
  int width = 640, height = 480, quality = 90;
  std::wstring tempDir;    // the run's temporary folder with its trailing "\"
};

// The progress window as the loop sees it.
class ExportHost {
 public:
  virtual ~ExportHost() = default;
  virtual void ProcessMessages() = 0;
  virtual bool IsCancelled() const = 0;
  virtual void SetCancelled() = 0;
  virtual void SetMaximum(int count) = 0;
  // Slide `done` is finished; `label` is its percentage text.
  virtual void ShowProgress(int done, const std::wstring& label) = 0;
  virtual void ShowMessage(const std::wstring& text) = 0;
};

// Exports every slide of the presentation to its output file, through `slide`. Leaves after the
// last slide or once the host is cancelled (checked once per slide, before the slide's output file
// is touched, so a Cancel never removes a file it does not write again) or the slide's existing
// file cannot be removed. Errors of the application, the renderer and the writers are raised to the
// caller.
void ExportSlides(TPowerPointPresentation& presentation, TPowerPointSlide& slide, const ExportJob& job,
                  ExportHost& host);

}  // namespace app
