// The frame optimizer's work on single frames; TGIFImage::OptimizeFrames strings the steps together
// over a whole animation.
#pragma once
#include "gifimage.h"

// Makes the pixels of `frame` that show the same colour as `previous`, the frame shown beneath it,
// transparent. Nothing happens when either is empty, when `previous` is cleared after display
// (disposal 2 or 3), when they do not overlap, or when `frame` has no room for a transparent index.
void MergeFrame(TGIFSubImage& frame, TGIFSubImage& previous);

// Cuts a transparent frame to the box of its visible pixels; a frame without any becomes empty. A
// frame that restores to the background after display is left whole, since its bounds are the area
// it clears. (The optimizer never crops the first frame.)
void CropFrame(TGIFSubImage& frame);

// For a frame without a local map: the transparent index of another transparent frame without a local
// map, when `frame` shows that index nowhere (so it can serve as its transparent index too); else -1.
int FindSharedTransparentIndex(TGIFSubImage& frame);
