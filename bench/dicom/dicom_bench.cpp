// Lossless JPEG decoding through the DICOM reader: 100 frames of 512 x 512 16-bit samples (12 bits
// used, CT-like), each frame read on its own (parse, decode, value mapping). The frames are written
// uncompressed to /tmp/tq-dicom-bench/src.dcm and compressed there once by the host's dcmcjpeg
// (first-order prediction); compare.sh times dcmdjpeg decompressing the same file. MB/s counts the
// 16-bit sample bytes.
// Usage: dicom [rounds]
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "benchcommon.h"
#include "iedicom.h"
#include "ieljpeg.h"
#include "vodevovur.h"

namespace {

constexpr int kSide = 512, kFrames = 100;
const std::string kDir = "Z:\\tmp\\tq-dicom-bench";

std::vector<uint8_t> Element(uint16_t g, uint16_t e, const char* vr, const std::vector<uint8_t>& v) {
  std::vector<uint8_t> o = {uint8_t(g), uint8_t(g >> 8), uint8_t(e), uint8_t(e >> 8), uint8_t(vr[0]), uint8_t(vr[1])};
  const uint32_t n = uint32_t(v.size());
  const std::string s(vr);
  if (s == "OW" || s == "OB")
    o.insert(o.end(), {0, 0, uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)});
  else
    o.insert(o.end(), {uint8_t(n), uint8_t(n >> 8)});
  o.insert(o.end(), v.begin(), v.end());
  return o;
}
std::vector<uint8_t> Str(std::string s) {
  if (s.size() & 1) s += s[0] >= '0' && s[0] <= '9' ? '\0' : ' ';
  return std::vector<uint8_t>(s.begin(), s.end());
}
std::vector<uint8_t> US(uint16_t v) { return {uint8_t(v), uint8_t(v >> 8)}; }

bool WriteSource(const std::string& path) {
  std::vector<uint8_t> f(128, 0);
  f.insert(f.end(), {'D', 'I', 'C', 'M'});
  auto add = [&f](const std::vector<uint8_t>& e) { f.insert(f.end(), e.begin(), e.end()); };
  add(Element(2, 0x02, "UI", Str("1.2.840.10008.5.1.4.1.1.7")));
  add(Element(2, 0x03, "UI", Str("1.2.3.4.5")));
  add(Element(2, 0x10, "UI", Str("1.2.840.10008.1.2.1")));
  add(Element(8, 0x16, "UI", Str("1.2.840.10008.5.1.4.1.1.7")));
  add(Element(8, 0x18, "UI", Str("1.2.3.4.5")));
  add(Element(0x28, 0x02, "US", US(1)));
  add(Element(0x28, 0x04, "CS", Str("MONOCHROME2")));
  add(Element(0x28, 0x08, "IS", Str(std::to_string(kFrames))));
  add(Element(0x28, 0x10, "US", US(kSide)));
  add(Element(0x28, 0x11, "US", US(kSide)));
  add(Element(0x28, 0x100, "US", US(16)));
  add(Element(0x28, 0x101, "US", US(12)));
  add(Element(0x28, 0x102, "US", US(11)));
  add(Element(0x28, 0x103, "US", US(0)));
  std::vector<uint8_t> px(size_t(kSide) * kSide * kFrames * 2);
  uint32_t seed = 11;
  for (int k = 0; k < kFrames; ++k)
    for (int y = 0; y < kSide; ++y)
      for (int x = 0; x < kSide; ++x) {
        seed = seed * 1103515245 + 12345;
        const double r = std::hypot(x - 256.0, y - 256.0 + k);
        int v = r < 200 ? 1000 + int(300 * std::sin(x * 0.05) * std::cos(y * 0.04)) : 50;
        v += int((seed >> 16) % 40);
        const size_t i = ((size_t(k) * kSide + y) * kSide + x) * 2;
        px[i] = uint8_t(v);
        px[i + 1] = uint8_t(v >> 8);
      }
  add(Element(0x7FE0, 0x10, "OW", px));
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;
  const bool ok = std::fwrite(f.data(), 1, f.size(), out) == f.size();
  return std::fclose(out) == 0 && ok;
}

// Runs a shell command on the host and waits for it.
bool Host(const std::string& command) {
  const std::string script = kDir + "\\make.sh", rc = kDir + "\\make.rc";
  DeleteFileA(rc.c_str());
  const std::string body = "cd /tmp/tq-dicom-bench && (" + command + ") >make.log 2>&1; echo $? > make.rc\n";
  FILE* f = std::fopen(script.c_str(), "wb");
  if (!f) return false;
  std::fwrite(body.data(), 1, body.size(), f);
  std::fclose(f);
  std::string cmd = "Z:\\bin\\sh /tmp/tq-dicom-bench/make.sh";
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, &cmd[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return false;
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  for (int waited = 0; waited < 600000; waited += 50) {
    if (FILE* r = std::fopen(rc.c_str(), "rb")) {
      int code = -1;
      const bool got = std::fscanf(r, "%d", &code) == 1;
      std::fclose(r);
      if (got) return code == 0;
    }
    Sleep(50);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  IELibraryStaticInit();
  CreateDirectoryA(kDir.c_str(), nullptr);
  const std::string compressed = kDir + "\\ll.dcm";
  if (GetFileAttributesA(compressed.c_str()) == INVALID_FILE_ATTRIBUTES) {
    if (!WriteSource(kDir + "\\src.dcm") || !Host("dcmcjpeg +e1 src.dcm ll.dcm")) {
      std::printf("could not make %s (dcmcjpeg needed on the host)\n", compressed.c_str());
      return 1;
    }
  }
  std::vector<uint8_t> file;
  if (FILE* f = std::fopen(compressed.c_str(), "rb")) {
    std::fseek(f, 0, SEEK_END);
    file.resize(size_t(std::ftell(f)));
    std::fseek(f, 0, SEEK_SET);
    file.resize(std::fread(file.data(), 1, file.size(), f));
    std::fclose(f);
  }
  const double mb = double(kSide) * kSide * 2 * kFrames / 1e6;
  double best = 1e9;
  bool failed = false;
  // one bitmap for all frames, as a viewer paging through them loads each into the same image
  TIEBitmap b;
  for (int r = 0; r < rounds; ++r) {
    const double t0 = BenchNow();
    for (int k = 0; k < kFrames; ++k) {
      TIEMemStream m(file.data(), int64_t(file.size()));
      TIOParamsVals params(nullptr);
      params.ImageIndex = k;
      std::atomic<bool> abort{false};
      TIECodecProgress progress;
      progress.Aborting = &abort;
      IEDICOMRead(m, params, &b, progress, false);
      failed |= abort || b.GetImageWidth() != kSide;
    }
    best = std::min(best, BenchNow() - t0);
  }
  {
    // the decoder alone, on the first frame's code stream (the item before the first SOI marker)
    size_t at = 0;
    for (size_t i = 4; i + 3 < file.size(); ++i)
      if (file[i] == 0xFF && file[i + 1] == 0xD8 && file[i + 2] == 0xFF) {
        at = i;
        break;
      }
    const uint32_t len = at ? uint32_t(file[at - 4] | (file[at - 3] << 8) | (file[at - 2] << 16) |
                                       (uint32_t(file[at - 1]) << 24))
                            : 0;
    std::vector<uint16_t> out(size_t(kSide) * kSide);
    std::atomic<bool> abort{false};
    TIECodecProgress progress;
    progress.Aborting = &abort;
    double bestDecoder = 1e9;
    for (int r = 0; r < rounds && len; ++r) {
      const double t0 = BenchNow();
      for (int k = 0; k < kFrames; ++k) {
        TIEMemStream m(file.data() + at, len);
        IEDecodeLosslessJPEG(m, out.data(), nullptr, len, kSide, kSide, 1, progress);
      }
      bestDecoder = std::min(bestDecoder, BenchNow() - t0);
    }
    std::printf("%dx%dx16 x %d frames ours:  decoder alone %7.1f MB/s\n", kSide, kSide, kFrames, mb / bestDecoder);
  }
  std::printf("%dx%dx16 x %d frames ours:  decode %7.1f MB/s  (%zu bytes, best of %d)%s\n", kSide, kSide, kFrames,
              mb / best, file.size(), rounds, failed ? "  DECODE FAILED" : "");
  IELibraryStaticFini();
  return failed ? 1 : 0;
}
