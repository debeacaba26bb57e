// The Linux machine around the Windows program under test: its paths and its tools.
// Tests use the host's independent decoders (netpbm, libtiff tools, PIL, ImageMagick, OpenJPEG) to
// check what our codecs write, and read files that those tools wrote.
#pragma once
#include <string>
#include <vector>

namespace tq {

// Unix path -> Windows path as this wine prefix sees it (Z:\...). Empty on failure.
std::string WinPath(const std::string& unixPath);
// Windows path -> Unix path. Empty on failure (or when not running under wine).
std::string UnixPath(const std::string& winPath);

// Folders handed over by ctest (tests/CMakeLists.txt), as Windows paths.
std::string SourceDir();   // the source tree
std::string WorkDir();     // this test's own scratch folder, created by the build
std::string WorkFile(const std::string& name);  // WorkDir() + "\" + name

// True when the process runs under wine (so host tools are reachable).
bool UnderWine();

// Runs `command` with /bin/sh on the host (Unix paths inside). Returns the exit code, or -1 when the
// host shell could not be started; `output` (if given) receives standard output and error.
int RunHost(const std::string& command, std::string* output = nullptr);
// Quotes one argument for /bin/sh.
std::string ShellQuote(const std::string& s);

// Whole-file helpers for fixtures.
bool ReadFileBytes(const std::string& winPath, std::vector<unsigned char>& out);
bool WriteFileBytes(const std::string& winPath, const void* data, size_t size);

}  // namespace tq
