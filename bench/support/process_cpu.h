// The CPU time the whole process (all its threads) has used, for benchmarks that report
// a share of one core.
#pragma once

#include <time.h>

namespace tarnwick::bench {

inline double ProcessCpuSeconds() {
    timespec ts{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace tarnwick::bench
