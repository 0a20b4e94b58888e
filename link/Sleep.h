// The program's millisecond sleep, replaceable so that tests never wait for real time.
#pragma once

using SleepFunction = void (*)(int milliseconds);

void SleepMilliseconds(int milliseconds);

// Installs a replacement (nullptr restores the real sleep); returns the previous one.
// Safe to call from any thread.
SleepFunction SetSleepFunction(SleepFunction function);
