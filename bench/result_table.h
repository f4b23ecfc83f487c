#pragma once

// The benchmarks' table: one row a measure, ours against a reference, the
// ratio, and whether the target was met; and the clock they measure with.

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace tarnwick::bench {

// CLOCK_MONOTONIC, in seconds.
inline double Now() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Row {
    std::string measure;
    double ours;
    double reference;
    std::string unit;
    std::string referenceName;
    std::string target;
    bool met;
};

inline void Print(const std::vector<Row>& rows) {
    std::printf("%-34s %12s %12s  %-22s %7s  %s\n", "measure", "tarnwick", "reference", "(reference is)", "ratio",
                "target");
    for (const auto& row : rows) {
        std::printf("%-34s %9.2f %-2s %9.2f %-2s  %-22s %7.3f  %s: %s\n", row.measure.c_str(), row.ours,
                    row.unit.c_str(), row.reference, row.unit.c_str(), row.referenceName.c_str(),
                    row.ours / row.reference, row.target.c_str(), row.met ? "met" : "MISSED");
    }
}

} // namespace tarnwick::bench
