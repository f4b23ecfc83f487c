// Several processes hammer one sandbox odbc.ini with add, update and remove
// requests through the real SQLConfigDataSource and our setup library. Each
// process works on data sources of its own, so the final state is known
// exactly, while every request still contends for the same file.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <sql.h>
#include <odbcinst.h>

#include <sys/wait.h>
#include <unistd.h>

#include "odbc_sandbox.h"

namespace {

using tarnwick::testing::OdbcSandbox;
using tarnwick::testing::RunCommand;

namespace fs = std::filesystem;

constexpr const char* kDriverName = "Microsoft Access Driver (*.mdb)";

// Requests per process and data source names per process. With fewer names
// than requests each name is added, updated and removed many times over.
constexpr int kProcesses = 4;
constexpr int kNamesPerProcess = 25;

int RequestsPerProcess() {
    // The sanitized build runs every request several times slower; the
    // variable lets it keep the soak within its minute.
    if (const char* value = std::getenv("TARNWICK_SOAK_REQUESTS")) {
        return std::max(1, std::atoi(value));
    }
    return 1500;
}

using Entries = std::vector<std::pair<std::string, std::string>>;

// Sets a key where it stands, or appends it.
void Assign(Entries& entries, const std::string& key, const std::string& value) {
    const auto it = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.first == key; });
    if (it != entries.end()) {
        it->second = value;
    } else {
        entries.push_back({key, value});
    }
}

enum class Kind { Add, Update, Remove };

struct Request {
    Kind kind;
    std::string name;
    Entries attributes; // without DSN, in the order sent
};

// A small deterministic generator, so the parent can replay what each child did.
class Sequence {
public:
    explicit Sequence(std::uint32_t seed) : state_(seed * 2654435761u + 1) {}
    std::uint32_t Next(std::uint32_t bound) {
        state_ = state_ * 1664525u + 1013904223u;
        return (state_ >> 8) % bound;
    }

private:
    std::uint32_t state_;
};

// The requests of one process, and what each of its data sources must hold
// at the end (absent when it was removed last, or never created).
struct Plan {
    std::vector<Request> requests;
    std::map<std::string, std::optional<Entries>> final;
};

Plan MakePlan(int process, int count) {
    Plan plan;
    Sequence random(static_cast<std::uint32_t>(process + 1));
    for (int n = 0; n < kNamesPerProcess; ++n) {
        plan.final["Soak " + std::to_string(process) + "-" + std::to_string(n)] = std::nullopt;
    }
    for (int i = 0; i < count; ++i) {
        const std::string name =
            "Soak " + std::to_string(process) + "-" + std::to_string(random.Next(kNamesPerProcess));
        auto& state = plan.final[name];
        Request request{Kind::Add, name, {}};
        const std::uint32_t choice = random.Next(8);
        if (state && choice < 2) {
            request.kind = Kind::Remove;
            state.reset();
        } else {
            // Adding over an existing data source replaces all its keys;
            // changing one keeps the keys the request does not name.
            request.kind = state && choice < 5 ? Kind::Update : Kind::Add;
            const std::string dir = "/srv/soak/p" + std::to_string(process);
            request.attributes = {{"DBQ", "db" + std::to_string(i) + ".mdb"}, {"DefaultDir", dir}};
            // Keys that come and go between versions.
            if (random.Next(2) == 0) {
                request.attributes.push_back({"Description", "request " + std::to_string(i) + " of " + name});
            }
            if (random.Next(3) == 0) {
                request.attributes.push_back({"UID", "user" + std::to_string(i)});
            }
            Entries stored;
            if (request.kind == Kind::Update) {
                stored.assign(state->begin() + 1, state->end()); // all but Driver, which leads
            }
            Assign(stored, "DSN", name);
            for (const auto& [key, value] : request.attributes) {
                Assign(stored, key, value);
            }
            Assign(stored, "Database", dir + "/db" + std::to_string(i) + ".mdb");
            stored.insert(stored.begin(), {"Driver", kDriverName});
            state = stored;
        }
        plan.requests.push_back(request);
    }
    return plan;
}

std::string AttributeList(const Request& request) {
    std::string list = "DSN=" + request.name + '\0';
    for (const auto& [key, value] : request.attributes) {
        list += key + "=" + value + '\0';
    }
    return list + '\0';
}

std::string InstallerErrors() {
    std::string text;
    for (WORD i = 1; i <= 8; ++i) {
        DWORD code = 0;
        char message[SQL_MAX_MESSAGE_LENGTH] = "";
        WORD length = 0;
        if (SQLInstallerError(i, &code, message, sizeof message, &length) != SQL_SUCCESS) {
            break;
        }
        text += " [" + std::to_string(code) + "] " + message;
    }
    return text;
}

std::size_t OpenDescriptors() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        ++count;
    }
    return count;
}

// Runs in a child process: sends every request of the plan. Exit status 0 when
// all succeeded and no descriptor was left open, else a message on stderr.
int RunWorker(int process, int count) {
    const std::size_t descriptorsBefore = OpenDescriptors();
    for (const Request& request : MakePlan(process, count).requests) {
        const WORD code = request.kind == Kind::Remove   ? ODBC_REMOVE_SYS_DSN
                          : request.kind == Kind::Update ? ODBC_CONFIG_SYS_DSN
                                                         : ODBC_ADD_SYS_DSN;
        const std::string list = AttributeList(request);
        if (!SQLConfigDataSource(nullptr, code, kDriverName, list.c_str())) {
            std::fprintf(stderr, "process %d: request %d for %s refused:%s\n", process, static_cast<int>(code),
                         request.name.c_str(), InstallerErrors().c_str());
            return 1;
        }
    }
    const std::size_t descriptorsAfter = OpenDescriptors();
    if (descriptorsAfter != descriptorsBefore) {
        std::fprintf(stderr, "process %d: %zu descriptors open before the requests, %zu after\n", process,
                     descriptorsBefore, descriptorsAfter);
        return 2;
    }
    return 0;
}

// The sections of an ini text with their entries, in file order.
std::vector<std::pair<std::string, Entries>> ParseIni(const std::string& text) {
    std::vector<std::pair<std::string, Entries>> sections;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line.front() == '#' || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            sections.push_back({line.substr(1, line.find(']') - 1), {}});
        } else if (const auto eq = line.find('='); eq != std::string::npos && !sections.empty()) {
            sections.back().second.push_back({line.substr(0, eq), line.substr(eq + 1)});
        }
    }
    return sections;
}

constexpr const char* kExisting =
    "# data sources that were here before\n[Orders]\nDriver=PostgreSQL Unicode\nServername=db\n\n";

TEST(Soak, ConcurrentAddUpdateRemoveKeepsEveryDataSourceExact) {
    OdbcSandbox sandbox;
    sandbox.WriteOdbcIni(kExisting);
    sandbox.Export();
    const int count = RequestsPerProcess();

    std::vector<pid_t> children;
    for (int process = 0; process < kProcesses; ++process) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            _exit(RunWorker(process, count));
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "worker status " << status;
    }

    std::map<std::string, Entries> expected{{"Orders", {{"Driver", "PostgreSQL Unicode"}, {"Servername", "db"}}}};
    for (int process = 0; process < kProcesses; ++process) {
        for (const auto& [name, entries] : MakePlan(process, count).final) {
            if (entries) {
                expected[name] = *entries;
            }
        }
    }
    const std::string text = sandbox.ReadOdbcIni();
    EXPECT_TRUE(text.starts_with(kExisting)) << "the comment and the earlier data source moved or changed";
    std::map<std::string, Entries> found;
    for (auto& [name, entries] : ParseIni(text)) {
        EXPECT_TRUE(found.emplace(name, entries).second) << "section [" << name << "] appears twice";
    }
    EXPECT_EQ(found.size(), expected.size());
    for (const auto& [name, entries] : expected) {
        const auto it = found.find(name);
        if (it == found.end()) {
            ADD_FAILURE() << "data source " << name << " is missing";
        } else {
            EXPECT_EQ(it->second, entries) << "data source " << name;
        }
    }
    for (const auto& [name, entries] : found) {
        EXPECT_TRUE(expected.contains(name)) << "unexpected data source " << name;
    }

    // unixODBC's own tool reads the file and lists exactly those data sources.
    const auto listing = RunCommand({"odbcinst", "-q", "-s"}, sandbox.Environment());
    ASSERT_EQ(listing.exitCode, 0) << listing.output;
    std::set<std::string> listed;
    std::istringstream lines(listing.output);
    for (std::string line; std::getline(lines, line);) {
        if (line.size() > 2 && line.front() == '[' && line.back() == ']') {
            listed.insert(line.substr(1, line.size() - 2));
        }
    }
    std::set<std::string> names;
    for (const auto& [name, entries] : expected) {
        names.insert(name);
    }
    EXPECT_EQ(listed, names);

    // No temporary file or anything else left beside the two files and the
    // writers' lock file.
    std::set<std::string> files;
    for (const auto& entry : fs::directory_iterator(sandbox.Dir())) {
        files.insert(entry.path().filename().string());
    }
    EXPECT_EQ(files, (std::set<std::string>{".odbc.ini.lock", "odbc.ini", "odbcinst.ini"}));
}

} // namespace
