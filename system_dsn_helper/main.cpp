// tarnwick-system-dsn: adds one System DSN as root, on behalf of the window,
// which runs it through pkexec once the user has authenticated as an
// administrator. Everything it reads comes from an unprivileged caller and is
// treated as hostile: one bounded, exactly framed request on standard input,
// no arguments, nothing from the caller's environment, nothing opened on the
// caller's behalf. The setup library then validates the attributes as always.
//
// Exit codes (pkexec passes them through and keeps 126 and 127 for itself):
//   0  the data source was created
//   1  the installer refused; its error records are in the answer
//   2  the request was malformed or not allowed; one record says what
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <sql.h>
#include <odbcinst.h>
#include <sys/stat.h>
#include <unistd.h>

#include "caller.h"
#include "dsn/create_dsn.h"
#include "dsn/installer.h"
#include "inherited_state.h"
#include "system_dsn_client/system_dsn_request.h"

namespace {

constexpr int ExitCreated = 0;
constexpr int ExitRefused = 1;
constexpr int ExitNotAllowed = 2;

// unixODBC numbers its records from 1; it keeps ten, the bound is a guard.
constexpr WORD MaxRecordIndex = 100;

// The helper never takes longer than this, whatever the caller does (an input
// that never ends, a lock held by a hung writer): the alarm ends it. The test
// suite builds a copy of the helper with a shorter one to watch that happen.
#ifndef TARNWICK_HELPER_RUN_SECONDS
#define TARNWICK_HELPER_RUN_SECONDS 60
#endif
constexpr unsigned MaxRunSeconds = TARNWICK_HELPER_RUN_SECONDS;

// The keys of the attribute list the window sends, spelled as it spells them,
// and nothing else: no Driver (every client would load the library it names),
// none of the driver manager's own keys (DMEnvAttr, DMConnAttr, DMStmtAttr,
// which unixODBC applies in every process that connects, environment
// variables included), no key that nobody asked for.
constexpr std::array<std::string_view, 8> AllowedKeys = {"DSN",        "FIL",         "JetIniPath", "DBQ",
                                                         "DefaultDir", "Description", "UID",        "PWD"};

void WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return; // the caller has gone; nothing else can be told
        }
        done += static_cast<std::size_t>(n);
    }
}

int Answer(int exitCode, const dsn::SystemDsnAnswer& answer) {
    WriteAll(STDOUT_FILENO, dsn::EncodeAnswer(answer));
    return exitCode;
}

int NotAllowed(std::uint32_t code, std::string message) {
    return Answer(ExitNotAllowed, {false, {{code, "Tarnwick's System DSN helper: " + std::move(message)}}});
}

// Standard input up to one byte past the limit: enough to tell an oversized
// request from a full one without reading the rest of it.
std::optional<std::string> ReadRequestStream() {
    std::string stream(dsn::MaxSystemDsnMessage + 1, '\0');
    std::size_t filled = 0;
    while (filled < stream.size()) {
        const ssize_t n = read(STDIN_FILENO, stream.data() + filled, stream.size() - filled);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::nullopt;
        }
        if (n == 0) {
            break;
        }
        filled += static_cast<std::size_t>(n);
    }
    stream.resize(filled);
    return stream;
}

// Printable and short, to quote a caller's bytes in a record.
std::string Printable(std::string_view text) {
    constexpr std::size_t Longest = 40;
    std::string shown;
    for (const char c : text.substr(0, Longest)) {
        const auto byte = static_cast<unsigned char>(c);
        shown += byte < 0x20 || byte == 0x7f ? '?' : c;
    }
    return text.size() > Longest ? shown + "..." : shown;
}

// What is wrong with the keys of a complete attribute list, or nothing.
std::optional<std::string> KeyProblem(const std::string& attributes) {
    std::vector<std::string_view> seen;
    for (std::size_t at = 0; at < attributes.size() && attributes[at] != '\0';) {
        const std::string_view entry(attributes.data() + at);
        at += entry.size() + 1;
        const auto equals = entry.find('=');
        if (equals == std::string_view::npos) {
            return "the attribute \"" + Printable(entry) + "\" has no '='";
        }
        const std::string_view key = entry.substr(0, equals);
        bool allowed = false;
        for (const std::string_view name : AllowedKeys) {
            allowed = allowed || key == name;
        }
        if (!allowed) {
            return "the key \"" + Printable(key) +
                   "\" is not accepted: a System DSN made here holds only DSN, FIL, JetIniPath, DBQ, DefaultDir, "
                   "Description, UID and PWD";
        }
        for (const std::string_view earlier : seen) {
            if (earlier == key) {
                return "the key " + std::string(key) + " appears more than once";
            }
        }
        seen.push_back(key);
    }
    return std::nullopt;
}

// What is wrong with a decoded request, or nothing. Only "add a System DSN
// for the Access driver" can be expressed at all; this checks the rest.
std::optional<std::pair<std::uint32_t, std::string>> RequestProblem(const dsn::SystemDsnRequest& request) {
    if (request.driver != dsn::AccessDriverName) {
        return {{ODBC_ERROR_INVALID_NAME,
                 std::string("only data sources for the driver \"") + dsn::AccessDriverName + "\" can be created"}};
    }
    // c_str() adds one NUL, so the scan stops inside the string even when
    // the list lacks its final empty entry.
    if (request.attributes.empty() ||
        dsn::AttributeListLength(request.attributes.c_str()) != request.attributes.size()) {
        return {{ODBC_ERROR_INVALID_KEYWORD_VALUE,
                 "the attribute list does not end with its empty entry, or bytes follow it"}};
    }
    if (auto problem = KeyProblem(request.attributes)) {
        return {{ODBC_ERROR_INVALID_KEYWORD_VALUE, std::move(*problem)}};
    }
    const std::string& directory = request.directory;
    if (directory.empty() || directory.front() != '/' || directory.find('\0') != std::string::npos ||
        directory.size() > dsn::MaxRequestDirectory) {
        return {{ODBC_ERROR_INVALID_PATH, "the caller's current directory is not an absolute path"}};
    }
    return std::nullopt;
}

std::vector<dsn::InstallerRecord> CollectInstallerRecords() {
    std::vector<dsn::InstallerRecord> records;
    for (WORD index = 1; index <= MaxRecordIndex; ++index) {
        std::vector<char> text(1024, '\0');
        DWORD code = 0;
        WORD length = 0;
        // unixODBC writes the terminator one byte past the capacity.
        RETCODE status = SQLInstallerError(index, &code, text.data(), static_cast<WORD>(text.size() - 1), &length);
        if (status == SQL_SUCCESS_WITH_INFO) {
            text.assign(static_cast<std::size_t>(length) + 1, '\0');
            status = SQLInstallerError(index, &code, text.data(), length, &length);
        }
        if (status != SQL_SUCCESS && status != SQL_SUCCESS_WITH_INFO) {
            break;
        }
        records.push_back({static_cast<std::uint32_t>(code), std::string(text.data())});
    }
    return records;
}

} // namespace

int main(int argc, char**) {
    // The system odbc.ini is created 0644 by the setup library; nothing the
    // helper makes is ever writable by others.
    umask(022);
    // Nothing the caller set up before pkexec may hold the helper back or end
    // it half-way. An answer the caller no longer reads must not turn into a
    // kill by signal, which the caller could not tell from a crash, so
    // SIGPIPE is ignored; SIGALRM, neither blocked nor ignored, ends it.
    ResetInheritedState();
    alarm(MaxRunSeconds);

    if (argc != 1) {
        return NotAllowed(ODBC_ERROR_GENERAL_ERR, "takes no arguments; the request comes on standard input");
    }
    std::optional<Caller> caller;
    if (auto problem = FindCaller(caller)) {
        return NotAllowed(ODBC_ERROR_GENERAL_ERR, *problem);
    }
    // Started by pkexec as root: the system files are /etc's, whatever the
    // environment says (pkexec clears it; this holds even if it did not).
    if (caller) {
        for (const char* name : {"ODBCSYSINI", "ODBCINSTINI", "ODBCINI"}) {
            unsetenv(name);
        }
    }
    // The helper only ever adds System DSNs. Set while the helper has one
    // thread, this tells the setup library so without unixODBC's config-mode
    // lock (which unixODBC 2.3.13 and later hold across the setup call).
    dsn::UseSystemDataSourcesForProcess();

    const std::optional<std::string> stream = ReadRequestStream();
    if (!stream) {
        return NotAllowed(ODBC_ERROR_GENERAL_ERR, std::string("cannot read the request: ") + std::strerror(errno));
    }
    if (stream->size() > dsn::MaxSystemDsnMessage) {
        return NotAllowed(ODBC_ERROR_INVALID_BUFF_LEN, "the request is longer than 64 KiB");
    }
    std::string problem;
    const std::optional<dsn::SystemDsnRequest> request = dsn::DecodeRequest(*stream, &problem);
    if (!request) {
        return NotAllowed(ODBC_ERROR_GENERAL_ERR, "malformed request: " + problem);
    }
    if (const auto refusal = RequestProblem(*request)) {
        return NotAllowed(refusal->first, refusal->second);
    }
    // The setup library resolves a relative DBQ or DefaultDir against the
    // current directory; pkexec starts the helper in root's home, so go to
    // the caller's, as the caller.
    if (const auto refusal = EnterDirectoryAs(caller, request->directory)) {
        return NotAllowed(ODBC_ERROR_INVALID_PATH,
                          "cannot change to the caller's current directory " + request->directory + ": " + *refusal);
    }

    // Through the program's own installer, which tells the setup library the
    // request is for a System DSN without unixODBC's config-mode lock.
    const bool created = dsn::SystemInstaller().ConfigDataSource(nullptr, ODBC_ADD_SYS_DSN, request->driver.c_str(),
                                                                 request->attributes.c_str());
    return Answer(created ? ExitCreated : ExitRefused, {created, CollectInstallerRecords()});
}
