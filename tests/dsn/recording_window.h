#pragma once

#include <string>
#include <vector>

#include "dsn/window_operations.h"

namespace tarnwick::testing {

// Records what the core does to the window, in order.
class RecordingWindow : public dsn::WindowOperations {
public:
    void AppendLogLine(const std::string& line) override { lines.push_back(line); }
    void DisableCancel() override {
        ++disableCancelCalls;
        linesWhenCancelDisabled = lines.size();
    }

    std::vector<std::string> lines;
    int disableCancelCalls = 0;
    std::size_t linesWhenCancelDisabled = 0;
};

} // namespace tarnwick::testing
