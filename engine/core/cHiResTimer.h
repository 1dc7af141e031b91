#pragma once
// Elapsed-time measurement over the monotonic high-resolution clock; readings in seconds.
#include <cstdint>

class cHiResTimer {
public:
    cHiResTimer();
    void StartTimer();
    void StopTimer();
    double ElapsedTime() const;
    bool HasHiResCounter() const { return hasCounter_; }
    int64_t Frequency() const { return frequency_; }

private:
    static int64_t CounterNow();
    int64_t start_ = 0;
    int64_t elapsed_ = 0;
    int64_t frequency_ = 0;
    bool hasCounter_ = false;
};
