// Parallel passes over independent lines (rows or columns) of an image.
#pragma once
#include <functional>

// Runs body(first, count) over `lines` independent lines, in bands on one worker per core when there
// is enough work, else in this thread. A worker's failure is raised here.
void IEForBands(int lines, const std::function<void(int, int)>& body);
