// TIEViewServices, what the input/output component asks of the image view: the view's own files and
// streams (layers, vector objects, both), PSD layers in and out of a view, and the parameters preview
// dialog, whose views belong to the view library. The view stands above the component, so the
// component calls it only through this interface, which the view library installs in every program
// that links it. A program without the view has none: the view's stream types are not detected,
// loading them fails (Aborting) and DoPreviews opens nothing.
#pragma once
#include <cstdint>
#include <string>

#include "ieformats.h"
#include "iepsd.h"

class TIEBitmap;
class TIEStream;
class TIEView;
class TImageryIO;

class TIEViewServices {
 public:
  // True when the stream's next bytes start a stream of `type` (iffLYR, iffIEV or iffALL); the
  // position is restored.
  virtual bool IsViewStream(TIEFileFormatCode type, TIEStream& stream) = 0;
  // `view` (may be nullptr) takes what a stream of `type` holds; false when it is not a view of the
  // kind that keeps it or the stream is not of that type. A damaged stream raises.
  virtual bool LoadViewStream(TIEView* view, TIEFileFormatCode type, TIEStream& stream) = 0;
  // A file of `type`: `view` takes it when it is of the kind the file needs (an objects file also
  // gives `image` a transparent white canvas of the objects' extent); otherwise a temporary vector
  // view loads it and `image` becomes its merged picture. False when it was not loaded; may raise.
  virtual bool LoadViewFile(TIEView* view, TIEFileFormatCode type, const std::wstring& fileName,
                            TIEBitmap* image) = 0;

  // True when `view` (may be nullptr) keeps layers, which PSD layers then go into and come from.
  virtual bool HasLayers(TIEView* view) = 0;
  // Only layer 0 stays.
  virtual void ClearLayers(TIEView* view) = 0;
  // The layers read from a PSD file (their bitmaps taken over) replace layer 0 onwards, or join the
  // view's layers; a first layer off the origin gets a transparent canvas of width x height beneath
  // it. The view is updated.
  virtual void AddPSDLayers(TIEView* view, TIEPSDLayerList& layers, bool replace, int width, int height) = 0;
  // Copies of the view's layers for the PSD writer, and `merged`: all of them drawn together, in
  // layer 0's pixel format.
  virtual void GetPSDLayers(TIEView* view, TIEPSDLayerList& layers, TIEBitmap& merged) = 0;

  // Runs the parameters preview dialog on `io`'s bitmap and parameters, on the pages of `pages`;
  // True when the user left it with OK.
  virtual bool ExecutePreviews(TImageryIO& io, uint16_t pages) = 0;

 protected:
  ~TIEViewServices() = default;
};

// The view's services, or nullptr in a program without the view.
TIEViewServices* IEViewServices();
void IESetViewServices(TIEViewServices* services);
