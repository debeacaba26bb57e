// The per-format members: thin entries over the common wrappers, one per row of the tables in
// ieformatmembers.h, and the few whose work differs (JPEG 2000 by content, PSD, camera RAW).
#include "iej2000.h"
#include "imageryio.h"

#define IE_DEFINE_LOADERS(F, type)                                                                       \
  void TImageryIO::Load##F##Stream(TIEStream& stream) { LoadStream(stream, type); }                      \
  void TImageryIO::Load##F##File(const std::wstring& fileName) { LoadFile(fileName, type); }
#define IE_DEFINE_COUNTING_LOADERS(F, type)                                                              \
  int TImageryIO::Load##F##Stream(TIEStream& stream) { return LoadStream(stream, type); }                \
  int TImageryIO::Load##F##File(const std::wstring& fileName) { return LoadFile(fileName, type); }
#define IE_DEFINE_SAVERS(F, type)                                                                        \
  void TImageryIO::Save##F##Stream(TIEStream& stream) { SaveStreamAsFileType(stream, type); }            \
  void TImageryIO::Save##F##File(const std::wstring& fileName) { SaveFile(fileName, type); }
#define IE_DEFINE_READ_WORKER(name, type) \
  void TImageryIO::name(TIEStream& stream) { LoadStreamWork(stream, type); }
#define IE_DEFINE_WRITE_WORKER(name, type) \
  void TImageryIO::name(TIEStream& stream) { SaveStreamWork(stream, type); }

IE_FORMAT_LOADERS(IE_DEFINE_LOADERS)
IE_FORMAT_COUNTING_LOADERS(IE_DEFINE_COUNTING_LOADERS)
IE_FORMAT_SAVERS(IE_DEFINE_SAVERS)
IE_FORMAT_READ_WORKERS(IE_DEFINE_READ_WORKER)
IE_FORMAT_WRITE_WORKERS(IE_DEFINE_WRITE_WORKER)

int TImageryIO::ReadTIFF(TIEStream& stream) { return LoadStreamWork(stream, iffTIFF); }

int TImageryIO::ReadGIF(TIEStream& stream) { return LoadStreamWork(stream, iffGIF); }

void TImageryIO::ReadJ2000(TIEStream& stream) {
  // one reader serves both; the file type recorded is what the stream holds
  LoadStreamWork(stream, IEJ2KTest(stream) ? iffJ2K : iffJP2);
}

void TImageryIO::ReadPSD(TIEStream& stream) { LoadStreamWork(stream, iffPSD); }

void TImageryIO::ReadCameraRAW(TIEStream& stream) { LoadStreamWork(stream, iffRAW); }

void TImageryIO::WriteJ2000(TIEStream& stream, int codeStream) {
  SaveStreamWork(stream, codeStream ? iffJ2K : iffJP2);
}

void TImageryIO::WritePSD(TIEStream& stream) { SaveStreamWork(stream, iffPSD); }

void TImageryIO::LoadViewStream(TIEStream& stream, TIEFileFormatCode fileType) {
  if (fileType == iffIEV || fileType == iffLYR || fileType == iffALL) LoadStream(stream, fileType);
}

TIEFileFormatCode TImageryIO::RawHandOverType() const {
  // the built-in camera RAW entry comes first in the registry: "raw" names another type only when an
  // application replaced it
  const TIEFileFormatCode t = IEFileTypeOfExtension("raw");
  return t != iffRAW ? t : 0;
}
