// Small helpers shared by the GIF tests: pictures, streams and the host's decoders.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "gifbitmap.h"
#include "gifimage.h"
#include "hostenv.h"

namespace giftest {

// A 24-bit picture whose pixel (x, y) is f(x, y) as {r, g, b}.
inline TGIFBitmap Picture(int w, int h, const std::function<TGIFColor(int, int)>& f) {
  TGIFBitmap bmp(w, h, 24);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      TGIFColor c = f(x, y);
      uint8_t* p = bmp.Row(y) + 3 * x;
      p[0] = c.Blue; p[1] = c.Green; p[2] = c.Red;
    }
  return bmp;
}

inline std::vector<uint8_t> SaveBytes(TGIFImage& image) {
  TGIFMemoryStream s;
  image.SaveToStream(s);
  return s.Data();
}

inline void WriteWorkFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  ASSERT_TRUE(tq::WriteFileBytes(tq::WorkFile(name), bytes.data(), bytes.size()));
}

inline std::vector<uint8_t> ReadWorkFile(const std::string& name) {
  std::vector<unsigned char> bytes;
  EXPECT_TRUE(tq::ReadFileBytes(tq::WorkFile(name), bytes)) << name;
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

// Runs a Python script (with PIL) on the host in the work folder; returns its exit code.
inline int RunPython(const std::string& script, std::string* out = nullptr) {
  std::string o;
  int rc = tq::RunHost("/usr/bin/python3 -c " + tq::ShellQuote(script), &o);
  if (out) *out = o;
  if (rc != 0) ADD_FAILURE() << o;
  return rc;
}

// Collects the warnings an image reports.
struct WarningLog {
  std::vector<std::string> messages;
  void Attach(TGIFImage& image) {
    image.WarningEvent = [this](const void*, int, const std::string& m) { messages.push_back(m); };
  }
  bool Has(const std::string& m) const {
    for (const auto& s : messages)
      if (s == m) return true;
    return false;
  }
};

}  // namespace giftest
