// The per-format members of TImageryIO, as tables: each row names a format and its file type, and
// the class declares, and ioformatmembers.cpp defines, one thin entry per row over the component's
// common load and save wrappers.
#pragma once

// Formats loaded by stream and by file whose loaders return nothing: Load<F>Stream, Load<F>File.
#define IE_FORMAT_LOADERS(X)                                                                            \
  X(JPEG, iffJPEG) X(PCX, iffPCX) X(BMP, iffBMP) X(ICO, iffICO) X(CUR, iffCUR) X(PNG, iffPNG)          \
  X(TGA, iffTGA) X(PXM, iffPXM) X(JP2, iffJP2) X(J2K, iffJ2K) X(WBMP, iffWBMP) X(DCX, iffDCX)          \
  X(CameraRAW, iffRAW) X(RawBitmap, iffRawBitmap) X(PSD, iffPSD) X(DICOM, iffDICOM) X(HDP, iffHDP)

// Multi-image formats whose loaders return the file's image count (-1 when the load was handed to
// an I/O thread).
#define IE_FORMAT_COUNTING_LOADERS(X) X(TIFF, iffTIFF) X(GIF, iffGIF)

// Formats saved by stream and by file: Save<F>Stream, Save<F>File.
#define IE_FORMAT_SAVERS(X)                                                                             \
  X(TIFF, iffTIFF) X(GIF, iffGIF) X(JPEG, iffJPEG) X(PCX, iffPCX) X(BMP, iffBMP) X(ICO, iffICO)        \
  X(PNG, iffPNG) X(TGA, iffTGA) X(PXM, iffPXM) X(JP2, iffJP2) X(J2K, iffJ2K) X(WBMP, iffWBMP)          \
  X(PS, iffPS) X(PDF, iffPDF) X(DCX, iffDCX) X(PSD, iffPSD) X(HDP, iffHDP)

// Load workers: the stream loader's work on the calling thread (no hand-over to an I/O thread).
#define IE_FORMAT_READ_WORKERS(X)                                                                       \
  X(ReadPCX, iffPCX) X(ReadBMP, iffBMP) X(ReadICO, iffICO) X(ReadCUR, iffCUR) X(ReadDCX, iffDCX)       \
  X(ReadRawBitmap, iffRawBitmap) X(ReadHDP, iffHDP)

// Save workers: the stream saver's work on the calling thread.
#define IE_FORMAT_WRITE_WORKERS(X)                                                                      \
  X(WriteBMP, iffBMP) X(WritePS, iffPS) X(WritePDF, iffPDF) X(WriteDCX, iffDCX) X(WriteHDP, iffHDP)
