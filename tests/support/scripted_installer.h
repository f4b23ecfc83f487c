#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dsn/installer.h"

namespace tarnwick::testing {

// An installer whose answers a test writes down beforehand, for statuses and
// shapes the real libodbcinst never gives. It records every call.
class ScriptedInstaller : public dsn::Installer {
public:
    struct Record {
        std::int16_t status = 0;
        std::uint32_t code = 1;
        std::string text;
        bool writesText = true; // false: leaves the message buffer as it is
    };

    struct Request {
        void* parentWindow;
        std::uint16_t request;
        const char* driver;
        std::string attributes; // every byte up to and including the empty entry's NUL
    };

    // Records answered for index 1, 2, ...; past them, `statusPastEnd`.
    std::vector<Record> records;
    std::int16_t statusPastEnd = 100;
    bool accepts = true;

    std::vector<Request> requests;
    std::vector<std::uint16_t> indexesAsked;
    std::vector<std::uint16_t> capacitiesTold;
    bool bufferCleared = true; // the message's first byte was NUL on every call

    bool ConfigDataSource(void* parentWindow, std::uint16_t request, const char* driver,
                          const char* attributes) override {
        requests.push_back({parentWindow, request, driver, CopyList(attributes)});
        return accepts;
    }

    std::int16_t InstallerError(std::uint16_t index, std::uint32_t* errorCode, char* message, std::uint16_t capacity,
                                std::uint16_t* textLength) override {
        indexesAsked.push_back(index);
        capacitiesTold.push_back(capacity);
        bufferCleared = bufferCleared && message[0] == '\0';
        if (index == 0 || index > records.size()) {
            return index == 0 ? -1 : statusPastEnd;
        }
        const Record& record = records[index - 1];
        *errorCode = record.code;
        *textLength = static_cast<std::uint16_t>(record.text.size());
        if (record.writesText) {
            // As unixODBC does: a text longer than the capacity is cut to
            // `capacity` bytes and its terminator written one byte further.
            const std::size_t count = std::min<std::size_t>(record.text.size(), capacity);
            std::memcpy(message, record.text.data(), count);
            message[count] = '\0';
        }
        return record.status;
    }

private:
    static std::string CopyList(const char* list) {
        const char* end = list;
        while (*end != '\0') {
            end += std::strlen(end) + 1;
        }
        return std::string(list, end + 1);
    }
};

} // namespace tarnwick::testing
