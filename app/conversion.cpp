#include "conversion.h"

#include <objbase.h>
#include <shellapi.h>

#include <climits>
#include <cwchar>
#include <vector>

#include "VelSysUtils.h"
#include "slide_image.h"

namespace app {

const wchar_t kFileLockedMessage[] = L" was opened by other application, please close it!";

std::wstring NewGuidFolderName() {
  GUID guid;
  if (FAILED(CoCreateGuid(&guid))) return std::wstring();
  wchar_t text[40] = {};
  // The 38-character form with braces and hyphens, upper-case hexadecimal.
  if (StringFromGUID2(guid, text, 40) != 39) return std::wstring();
  return text;
}

std::wstring NewTempFolderPath() {
  const std::wstring guid = NewGuidFolderName();
  if (guid.empty()) return std::wstring();
  wchar_t temp[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathW(MAX_PATH, temp);
  if (n == 0 || n > MAX_PATH) return std::wstring();
  std::wstring path(temp, n);
  if (path.back() != L'\\') path += L'\\';
  return path + L"tevarnic\\" + guid;
}

static bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool ForceDirectories(const std::wstring& path) {
  std::wstring p = path;
  while (p.size() > 3 && (p.back() == L'\\' || p.back() == L'/')) p.pop_back();
  if (p.empty()) return false;
  if (GetFileAttributesW(p.c_str()) != INVALID_FILE_ATTRIBUTES) return IsFolder(p);
  const size_t cut = p.find_last_of(L"\\/");
  // A drive root or a name without a folder part ends the climb.
  if (cut != std::wstring::npos && cut > 0 && p[cut - 1] != L':') ForceDirectories(p.substr(0, cut));
  CreateDirectoryW(p.c_str(), nullptr);
  return IsFolder(p);
}

bool DeleteFolder(const std::wstring& path) {
  // A list of one entry ends with two zeros.
  std::vector<wchar_t> from(path.begin(), path.end());
  from.push_back(L'\0');
  from.push_back(L'\0');
  SHFILEOPSTRUCTW op = {};
  op.hwnd = nullptr;
  op.wFunc = FO_DELETE;
  op.pFrom = from.data();
  op.pTo = L"";
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;  // no FOF_ALLOWUNDO: gone for good
  return SHFileOperationW(&op) == 0;
}

int StrToIntDef(const std::wstring& text, int fallback) {
  size_t i = 0;
  while (i < text.size() && (text[i] == L' ' || text[i] == L'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  if (i == text.size()) return fallback;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < L'0' || text[i] > L'9') return fallback;
    value = value * 10 + (text[i] - L'0');
    if (value > int64_t(INT_MAX) + 1) return fallback;
  }
  if (negative) value = -value;
  if (value > INT_MAX || value < INT_MIN) return fallback;
  return int(value);
}

int64_t RoundHalfEven(int64_t n, int64_t d) {
  const bool negative = n < 0;
  const uint64_t an = negative ? uint64_t(-(n + 1)) + 1 : uint64_t(n);
  uint64_t q = an / uint64_t(d);
  const uint64_t r2 = (an % uint64_t(d)) * 2;
  if (r2 > uint64_t(d) || (r2 == uint64_t(d) && (q & 1))) ++q;
  return negative ? -int64_t(q) : int64_t(q);
}

std::wstring TrimText(const std::wstring& text) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] <= L' ') ++b;
  while (e > b && text[e - 1] <= L' ') --e;
  return text.substr(b, e - b);
}

std::wstring OutputFileName(const std::wstring& folder, const std::wstring& prefix, int index,
                            const std::wstring& extension) {
  return folder + prefix + std::to_wstring(index) + extension;
}

bool IsAllowedImageName(const std::wstring& prefix) {
  for (wchar_t c : prefix)
    if (c < 32 || wcschr(L"\\/:*?\"<>|", c)) return false;
  // Windows takes a name for a device when its part before the first dot (trailing blanks aside) is a
  // device's name, whatever follows. Without a dot in the prefix that part is the prefix and the
  // number, which can make only COM1 to COM9 and LPT1 to LPT9 (the 0 ones are kept from use as well).
  const size_t dot = prefix.find(L'.');
  if (dot == std::wstring::npos) return _wcsicmp(prefix.c_str(), L"COM") != 0 && _wcsicmp(prefix.c_str(), L"LPT") != 0;
  std::wstring base = prefix.substr(0, dot);
  while (!base.empty() && base.back() == L' ') base.pop_back();
  static const wchar_t* const kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL", L"CONIN$", L"CONOUT$"};
  for (const wchar_t* device : kDevices)
    if (_wcsicmp(base.c_str(), device) == 0) return false;
  const bool numbered = base.size() == 4 && base[3] >= L'0' && base[3] <= L'9';
  return !(numbered && (_wcsnicmp(base.c_str(), L"COM", 3) == 0 || _wcsnicmp(base.c_str(), L"LPT", 3) == 0));
}

std::wstring PercentText(int done, int count) {
  if (count <= 0) return L"0%";
  return std::to_wstring(RoundHalfEven(int64_t(done) * 100, count)) + L"%";
}

void ExportSlides(TPowerPointPresentation& presentation, TPowerPointSlide& slide, const ExportJob& job,
                  ExportHost& host) {
  const int count = presentation.SlideCount();
  host.SetMaximum(count);
  const bool direct = job.key == L"WMF" || job.key == L"EMF";
  const std::wstring filter = job.key == L"WMF" ? L"wmf" : L"emf";
  for (int i = 1; i <= count; ++i) {
    const std::wstring output = OutputFileName(job.folder, job.prefix, i, job.extension);
    // Cancel is looked at before the slide's file is touched: a file the run will not write again
    // (the previous run's, in a re-run) must survive a Cancel.
    host.ProcessMessages();
    if (host.IsCancelled()) break;
    if (WideIsExistingFile(output)) {
      WideRemoveFile(output);
      if (WideIsExistingFile(output)) {
        host.ShowMessage(output + kFileLockedMessage);
        host.SetCancelled();
        break;
      }
    }

    slide.ConnectTo(presentation.SlideItem(i));
    host.ProcessMessages();
    if (direct) {
      slide.Export(output, filter, job.width, job.height);
    } else {
      const std::wstring metafile = job.tempDir + std::to_wstring(i) + L".emf";
      slide.Export(metafile, L"emf", job.width, job.height);
      host.ProcessMessages();
      SaveSlideImage(metafile, output, job.width, job.height, job.quality, job.key);
    }
    host.ShowProgress(i, PercentText(i, count));
    host.ProcessMessages();
  }
}

}  // namespace app
