#pragma once

#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "ui/toolkit.h"

namespace tarnwick::testing {

// A toolkit that records the message boxes it is asked for and answers from a
// script; its dialogs are never confirmed. The file check is the real one.
class RecordingToolkit : public ui::Toolkit {
public:
    struct Box {
        std::string text;
        std::string caption;
        unsigned flags = 0;
    };

    int MessageBox(const std::string& text, const std::string& caption, unsigned flags) override {
        boxes.push_back({text, caption, flags});
        if (answers.empty()) {
            return ui::IDOK;
        }
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::optional<std::string> OpenFile(const std::string&) override { return std::nullopt; }
    bool SelectDirectory(std::string&, unsigned, int) override { return false; }
    bool FileExists(const std::string& pattern) override {
        existenceChecks.push_back(pattern);
        return ui::QtToolkit().FileExists(pattern);
    }

    std::vector<Box> boxes;
    std::deque<int> answers;
    std::vector<std::string> existenceChecks;
};

} // namespace tarnwick::testing
