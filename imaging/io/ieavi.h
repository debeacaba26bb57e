// The platform AVI library behind TImageryIO's AVI frame members: initialised on first use, once per
// process, and shut down with the I/O unit.
#pragma once

extern bool IEAVIFileInitialized;
void IEAVIFileEnsureInit();
void IEAVIFileFini();  // the library's exit call when it was initialised
