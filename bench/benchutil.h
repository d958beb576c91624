// Small helpers the benchmarks share.
#pragma once

#include <chrono>
#include <fstream>
#include <functional>
#include <string>

namespace qgrad::bench {

// The process's peak resident memory so far, in MB.
inline double PeakMegabytes() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}

inline double Seconds(const std::function<void()>& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace qgrad::bench
