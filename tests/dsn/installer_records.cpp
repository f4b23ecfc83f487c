#include "installer_records.h"

#include <cstdio>
#include <stdexcept>

#include <sql.h>
#include <odbcinst.h>

namespace tarnwick::testing {

std::vector<std::string> HeldRecordLines() {
    std::vector<std::string> lines;
    for (WORD index = 1; index <= 64; ++index) {
        DWORD code = 0;
        char text[2048] = "";
        const SQLRETURN status = SQLInstallerError(index, &code, text, sizeof text - 1, nullptr);
        if (status == SQL_NO_DATA) {
            break;
        }
        char line[2200];
        std::snprintf(line, sizeof line, " ODBC Error %d: %s\n", static_cast<int>(code), text);
        lines.emplace_back(line);
    }
    return lines;
}

void ClearInstallerRecords() {
    for (int round = 0; round < 64 && !HeldRecordLines().empty(); ++round) {
        UWORD mode = 0;
        SQLGetConfigMode(&mode);
    }
    if (!HeldRecordLines().empty()) {
        throw std::runtime_error("libodbcinst keeps its error records");
    }
}

void PostInstallerRecord(unsigned code, const std::string& text) { SQLPostInstallerError(code, text.c_str()); }

} // namespace tarnwick::testing
