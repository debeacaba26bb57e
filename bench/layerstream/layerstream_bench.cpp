// Loading a layer stream of many one-pixel layers (raw dumps) into a view, with the view showing a
// 1 x 1 picture and a 2000 x 2000 one before the load: each layer is made at its own size, so the two
// take the same time and the time follows the stream, not the picture on screen. Seconds per load and
// layers per second, best of several rounds.
// Usage: layerstream [rounds] [layers]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "benchcommon.h"
#include "iebitmap.h"
#include "iestreams.h"
#include "imageryview.h"
#include "vodevovur.h"

namespace {

void PutU32(TIEMemoryStream& s, uint32_t v) {
  const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
  s.Write(b, 4);
}

// A version 6 stream of `count` layers, each a 1 x 1 raw dump.
void BuildStream(TIEMemoryStream& s, int count) {
  TIEBitmap pixel;
  pixel.Allocate(1, 1, ie24RGB);
  pixel.Fill(double(RGB(10, 20, 30)));
  std::vector<uint8_t> dump;
  pixel.WriteRawImageStream(dump);
  s.Write("DIVEVUZOREDUD", 13);
  PutU32(s, 6);
  PutU32(s, uint32_t(-2));
  PutU32(s, uint32_t(count));
  // every record: 38 fixed bytes, an empty name, no user data, three flags, then the image offset
  const uint32_t record = 38 + 4 + 4 + 3 + 8;
  const uint32_t images = 25 + record * uint32_t(count);
  const uint32_t image = 4 + uint32_t(dump.size());
  for (int i = 0; i < count; ++i) {
    const uint8_t flags[2] = {1, 1};
    s.Write(flags, 2);
    PutU32(s, 255);
    PutU32(s, uint32_t(i % 100));
    PutU32(s, uint32_t(i / 100));
    const uint8_t more[3] = {0, 0, 0};
    s.Write(more, 3);
    const double factor = 2.0;
    s.Write(&factor, 8);
    const uint8_t shape[3] = {0, 1, 0};  // shape, source, blend
    s.Write(shape, 3);
    PutU32(s, 0);
    PutU32(s, 0);
    const uint8_t filter[2] = {0, 0};
    s.Write(filter, 2);
    PutU32(s, 0);  // name
    PutU32(s, 0);  // user data
    const uint8_t tail[3] = {0, 1, 0};  // mask, selectable, dim outside
    s.Write(tail, 3);
    PutU32(s, images + image * uint32_t(i));
    PutU32(s, 0);
  }
  for (int i = 0; i < count; ++i) {
    PutU32(s, uint32_t(dump.size()));
    s.Write(dump.data(), int32_t(dump.size()));
  }
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
  const int layers = argc > 2 ? std::max(1, std::atoi(argv[2])) : 2000;
  if (rounds < 1) rounds = 1;
  IELibraryStaticInit();
  TIEMemoryStream stream;
  BuildStream(stream, layers);
  auto* view = ui::New<TImageryView>(nullptr);
  for (int side : {1, 2000}) {
    double best = 1e9;
    for (int r = 0; r < rounds; ++r) {
      view->ClearLayers();
      view->GetIEBitmap()->Allocate(side, side, ie24RGB);
      view->UpdateView();
      stream.SetPosition(0);
      const double t0 = BenchNow();
      const bool ok = view->LoadLayersFromStream(stream);
      const double t = BenchNow() - t0;
      if (!ok || view->GetLayerCount() != layers) {
        std::printf("load failed\n");
        return 1;
      }
      best = std::min(best, t);
    }
    std::printf("%d one-pixel layers (%lld bytes), picture %d x %d before: %8.3f s per load, %9.0f layers/s "
                "(best of %d)\n",
                layers, static_cast<long long>(stream.GetSize()), side, side, best, layers / best, rounds);
  }
  view->Free();
  IELibraryStaticFini();
  return 0;
}
