#pragma once
// Helpers shared by the benchmark programs: timing statistics, the summary line of a target,
// memory readings, and tiny MP3 clips.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

namespace ravekbench {

using Clock = std::chrono::steady_clock;

inline double MillisecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::milli>(to - from).count();
}

inline double MicrosecondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::micro>(to - from).count();
}

struct Stats {
    std::size_t count = 0;
    double min = 0, median = 0, mean = 0, p90 = 0, max = 0;
};

inline Stats Summarise(std::vector<double> samples) {
    Stats s;
    s.count = samples.size();
    if (samples.empty()) {
        // Nothing measured: no figure can meet a target.
        s.min = s.median = s.mean = s.p90 = s.max = std::numeric_limits<double>::infinity();
        return s;
    }
    std::sort(samples.begin(), samples.end());
    s.min = samples.front();
    s.max = samples.back();
    const std::size_t n = samples.size();
    s.median = n % 2 ? samples[n / 2] : (samples[n / 2 - 1] + samples[n / 2]) / 2;
    s.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(n);
    s.p90 = samples[std::min(n - 1, (n * 9) / 10)];
    return s;
}

inline void PrintStats(const std::string& label, const Stats& s, const char* unit) {
    std::printf("  %-52s n=%-4zu min %9.3f  median %9.3f  mean %9.3f  p90 %9.3f  max %9.3f %s\n", label.c_str(), s.count,
                s.min, s.median, s.mean, s.p90, s.max, unit);
}

// Times `body` `runs` times (after `warmup` untimed runs); `between` runs untimed after each run.
inline std::vector<double> TimeRuns(int warmup, int runs, const std::function<void()>& body,
                                    const std::function<void()>& between = {}) {
    std::vector<double> ms;
    for (int i = 0; i < warmup + runs; ++i) {
        auto t0 = Clock::now();
        body();
        auto t1 = Clock::now();
        if (i >= warmup) ms.push_back(MillisecondsBetween(t0, t1));
        if (between) between();
    }
    return ms;
}

// Counts the targets met and missed, for the closing line.
struct Verdicts {
    int met = 0;
    int missed = 0;
    ~Verdicts() { std::printf("\nSUMMARY: %d target(s) met, %d missed\n", met, missed); }
};

// The summary line of one target: the figure measured, the limit, PASS or MISS.
inline void Target(Verdicts& verdicts, const std::string& what, double measured, double limit, const char* unit) {
    const bool pass = measured < limit;
    (pass ? verdicts.met : verdicts.missed)++;
    std::printf("TARGET %-58s %10.3f %-3s (target < %g %s)  %s\n", what.c_str(), measured, unit, limit, unit,
                pass ? "PASS" : "MISS");
    std::fflush(stdout);
}

// A field of /proc/self/status in kB (VmRSS, VmHWM, ...), -1 when absent.
inline long StatusKilobytes(const std::string& field, const std::string& statusFile = "/proc/self/status") {
    std::ifstream in(statusFile);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) != 0) continue;
        return std::stol(line.substr(field.size() + 1));
    }
    return -1;
}

// A silent MPEG-2 layer III clip (22,050 Hz mono, 8 kbit/s): `frames` frames of 26 bytes, each
// 576 samples (26 ms). Decoders play the zeroed side information as silence.
inline std::string SilentMp3(int frames) {
    std::string frame(26, '\0');
    frame[0] = static_cast<char>(0xFF);
    frame[1] = static_cast<char>(0xF3);  // sync, MPEG-2, layer III, no CRC
    frame[2] = static_cast<char>(0x10);  // 8 kbit/s, 22,050 Hz, no padding
    frame[3] = static_cast<char>(0xC0);  // mono
    std::string clip;
    for (int i = 0; i < frames; ++i) clip += frame;
    return clip;
}

inline void WriteBytes(const std::filesystem::path& file, const std::string& bytes) {
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace ravekbench
