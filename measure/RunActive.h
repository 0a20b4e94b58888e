// The run flag shared by the window thread and the measurement worker: the worker sets it as
// its first action and clears it after its end message has been handled; the window clears it
// to ask for a stop. Nothing else about a run is shared without a lock.
#pragma once

#include <atomic>

extern std::atomic<int> runActive;
