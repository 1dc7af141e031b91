#include "cHiResTimer.h"

#include <time.h>

cHiResTimer::cHiResTimer() {
    timespec res{};
    hasCounter_ = clock_getres(CLOCK_MONOTONIC, &res) == 0 && res.tv_sec == 0 && res.tv_nsec > 0;
    frequency_ = 1'000'000'000;  // the counter ticks in nanoseconds
}

int64_t cHiResTimer::CounterNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

void cHiResTimer::StartTimer() { start_ = CounterNow(); }
void cHiResTimer::StopTimer() { elapsed_ = CounterNow() - start_; }
double cHiResTimer::ElapsedTime() const {
    return frequency_ == 0 ? 0.0 : static_cast<double>(elapsed_) / static_cast<double>(frequency_);
}
