#include "conversion.h"

#include <objbase.h>
#include <shellapi.h>

#include <climits>
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

std::string NewTempFolderPath() {
  const std::wstring guid = NewGuidFolderName();
  if (guid.empty()) return std::string();
  char temp[MAX_PATH + 1] = {};
  const DWORD n = GetTempPathA(MAX_PATH, temp);
  if (n == 0 || n > MAX_PATH) return std::string();
  std::string path(temp, n);
  if (path.back() != '\\') path += '\\';
  return path + "tevarnic\\" + WideToAnsi(guid);
}

bool ForceDirectories(const std::string& path) {
  std::string p = path;
  while (p.size() > 3 && (p.back() == '\\' || p.back() == '/')) p.pop_back();
  if (p.empty()) return false;
  const DWORD attributes = GetFileAttributesA(p.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  const size_t cut = p.find_last_of("\\/");
  // A drive root or a name without a folder part ends the climb.
  if (cut != std::string::npos && cut > 0 && p[cut - 1] != ':') ForceDirectories(p.substr(0, cut));
  CreateDirectoryA(p.c_str(), nullptr);
  const DWORD after = GetFileAttributesA(p.c_str());
  return after != INVALID_FILE_ATTRIBUTES && (after & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool DeleteFolder(const std::string& path) {
  // A list of one entry ends with two zeros.
  std::vector<char> from(path.begin(), path.end());
  from.push_back('\0');
  from.push_back('\0');
  SHFILEOPSTRUCTA op = {};
  op.hwnd = nullptr;
  op.wFunc = FO_DELETE;
  op.pFrom = from.data();
  op.pTo = "";
  op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;  // no FOF_ALLOWUNDO: gone for good
  return SHFileOperationA(&op) == 0;
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
    if (WideIsExistingFile(output)) {
      WideRemoveFile(output);
      if (WideIsExistingFile(output)) {
        host.ShowMessage(output + kFileLockedMessage);
        host.SetCancelled();
      }
    }
    host.ProcessMessages();
    if (host.IsCancelled()) break;

    slide.ConnectTo(presentation.SlideItem(i));
    host.ProcessMessages();
    if (direct) {
      slide.Export(output, filter, job.width, job.height);
    } else {
      const std::wstring metafile = job.tempDir + std::to_wstring(i) + L".emf";
      slide.Export(metafile, L"emf", job.width, job.height);
      host.ProcessMessages();
      SaveSlideImage(WideToAnsi(metafile), WideToAnsi(output), job.width, job.height, job.quality, job.key);
    }
    host.ShowProgress(i, PercentText(i, count));
    host.ProcessMessages();
  }
}

}  // namespace app
