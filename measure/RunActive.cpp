#include "measure/RunActive.h"

std::atomic<int> runActive{0};
