// The process environment is one array that setenv may move and free: every place of this layer that
// reads or changes it holds this lock (never while waiting for another lock of the layer).
#pragma once
#include <mutex>

namespace win {

std::mutex& environmentMutex();

}  // namespace win
