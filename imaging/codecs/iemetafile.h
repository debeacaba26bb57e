// Content tests of Windows metafiles: enhanced (EMF) and old-style (WMF, with or without the
// placeable header). Both restore the stream position.
#pragma once
#include "iestreams.h"

bool IEEMFTest(TIEStream& Stream);
bool IEWMFTest(TIEStream& Stream);
