#include "deck.h"

#include <cstring>

#include "ppt_reader.h"
#include "pptx_reader.h"

namespace presenter {
namespace {

// Decks larger than this are refused before anything is allocated for them.
constexpr uint64_t kMaxDeckFileSize = 256ull << 20;

class FileHandle {
 public:
  explicit FileHandle(HANDLE h) : h_(h) {}
  ~FileHandle() {
    if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

std::string SystemMessage(DWORD code) {
  char buf[512] = {};
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buf,
                           sizeof buf, nullptr);
  while (n > 0 && (buf[n - 1] == '\r' || buf[n - 1] == '\n' || buf[n - 1] == ' ' || buf[n - 1] == '.')) buf[--n] = 0;
  return n ? std::string(buf) : "system error " + std::to_string(code);
}

}  // namespace

bool LoadDeck(const std::wstring& path, Deck& deck, std::string& error) {
  FileHandle f(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  if (f.get() == INVALID_HANDLE_VALUE) {
    error = "cannot open the file (" + SystemMessage(GetLastError()) + ")";
    return false;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(f.get(), &size)) {
    error = "cannot read the file size (" + SystemMessage(GetLastError()) + ")";
    return false;
  }
  if (uint64_t(size.QuadPart) > kMaxDeckFileSize) {
    error = "the file is too large (" + std::to_string(size.QuadPart) + " bytes)";
    return false;
  }
  std::string bytes(size_t(size.QuadPart), '\0');
  DWORD got = 0;
  if (!bytes.empty() && (!ReadFile(f.get(), &bytes[0], DWORD(bytes.size()), &got, nullptr) || got != bytes.size())) {
    error = "cannot read the file (" + SystemMessage(GetLastError()) + ")";
    return false;
  }
  return LoadDeckFromBytes(bytes, deck, error);
}

bool LoadDeckFromBytes(const std::string& bytes, Deck& deck, std::string& error) {
  deck = Deck();
  static const unsigned char kCompoundSig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  bool ok;
  if (bytes.size() >= 4 && bytes.compare(0, 4, "PK\3\4") == 0) {
    ok = LoadPptx(bytes, deck, error);
  } else if (bytes.size() >= 8 && memcmp(bytes.data(), kCompoundSig, 8) == 0) {
    ok = LoadPpt(bytes, deck, error);
  } else {
    error = bytes.empty() ? "the file is empty" : "the file is not a presentation";
    ok = false;
  }
  if (!ok) deck = Deck();
  return ok;
}

}  // namespace presenter
