#pragma once

// The benchmarks' table: one row a measure, ours against a reference, the
// ratio, and whether the target was met.

#include <cstdio>
#include <string>
#include <vector>

namespace tarnwick::bench {

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
