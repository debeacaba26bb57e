// Helpers of the codec tests (this folder and codecs_png): files, host tools, a stream that fills up,
// mutation runs.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "iestreams.h"
#include "ieformats.h"

namespace misctest {

std::wstring W(const std::string& s);
std::vector<uint8_t> FileBytes(const std::string& winPath);
std::vector<uint8_t> StreamBytes(TIEMemoryStream& s);
// Under wine with netpbm, PIL and ImageMagick on the host.
bool HostToolsHere();

// A destination that takes at most `limit` bytes in all, like a full disk.
class LimitedStream : public TIEMemoryStream {
 public:
  explicit LimitedStream(int64_t limit) : limit_(limit) {}
  int32_t Write(const void* b, int32_t count) override;

 private:
  int64_t limit_;
};

// `rounds` mutations of a valid file, loaded as `type`: every second one truncated (which must set
// the abort flag), the others with up to eight random bytes changed. Nothing may crash, hang or
// allocate more than 2^22 pixels.
void Mutate(const std::vector<uint8_t>& valid, int rounds, TIEFileFormatCode type);

}  // namespace misctest
