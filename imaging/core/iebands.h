// Parallel passes over independent lines (rows or columns) of an image.
#pragma once
#include <functional>

// How many bands IEForBands splits `lines` into: one per core (at most maxWorkers when that is
// positive) while every band keeps at least minLines lines; 1 means the pass runs in the calling
// thread.
int IEBandCount(int lines, int maxWorkers = 0, int minLines = 32);
// Runs body(first, count) over `lines` independent lines, in IEBandCount(lines, maxWorkers, minLines)
// bands on one worker each when there are several, else in this thread. A worker's failure is raised
// here.
void IEForBands(int lines, const std::function<void(int, int)>& body, int maxWorkers = 0, int minLines = 32);
