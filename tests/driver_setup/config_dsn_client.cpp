// A stand-in for an installer client, run as a child process by the tests so
// that every call gets its own process (unixODBC reads ODBCSYSINI once) and its
// own environment (LD_PRELOAD faults, another user).
//
//   config_dsn_client [--as-nobody] REQUEST DRIVER [KEYWORD=VALUE...]
//       calls SQLConfigDataSource once, with the arguments as the attribute list
//   config_dsn_client --add-many PREFIX COUNT DRIVER [KEYWORD=VALUE...]
//       adds the system data sources PREFIX0 .. PREFIX<COUNT-1>, one call each
//   config_dsn_client --get SECTION KEY [SECTION KEY...]
//       prints what SQLGetPrivateProfileString reads from odbc.ini
//
// REQUEST is a number (4 adds a system data source) or one of the names below.
// Like any client under unixODBC 2.3.13 and later, it names the kind of data
// source in ODBCSEARCH for each request, unless its environment already holds
// ODBCSEARCH (set it empty to leave the setup to find out by itself).
// Prints "result=<BOOL>" and one line per installer error record; exits 0 when
// the call succeeded, 1 when it failed, 2 on bad usage.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <odbcinst.h>

namespace {

int RequestCode(const std::string& name) {
    static const std::map<std::string, int> names = {
        {"add", ODBC_ADD_DSN},         {"config", ODBC_CONFIG_DSN},         {"remove", ODBC_REMOVE_DSN},
        {"add-sys", ODBC_ADD_SYS_DSN}, {"config-sys", ODBC_CONFIG_SYS_DSN}, {"remove-sys", ODBC_REMOVE_SYS_DSN}};
    const auto it = names.find(name);
    return it != names.end() ? it->second : std::atoi(name.c_str());
}

std::string AttributeList(char** begin, char** end) {
    std::string list;
    for (char** entry = begin; entry != end; ++entry) {
        list += *entry;
        list += '\0';
    }
    list += '\0';
    return list;
}

void PrintRecords() {
    for (WORD i = 1; i <= 16; ++i) {
        DWORD code = 0;
        char message[1024] = {};
        WORD length = 0;
        const SQLRETURN status = SQLInstallerError(i, &code, message, sizeof message - 1, &length);
        if (status != SQL_SUCCESS && status != SQL_SUCCESS_WITH_INFO) {
            break;
        }
        std::printf("record %u code=%lu message=%s\n", static_cast<unsigned>(i), static_cast<unsigned long>(code),
                    message);
    }
}

// Drops root for the permission cases: root may write any file regardless of
// its mode, so only another user can show what a refusal looks like.
bool BecomeNobody() {
    if (geteuid() != 0) {
        return true;
    }
    const passwd* nobody = getpwnam("nobody");
    if (nobody == nullptr) {
        std::fprintf(stderr, "no user nobody\n");
        return false;
    }
    if (setgroups(0, nullptr) != 0 || setresgid(nobody->pw_gid, nobody->pw_gid, nobody->pw_gid) != 0 ||
        setresuid(nobody->pw_uid, nobody->pw_uid, nobody->pw_uid) != 0) {
        std::perror("dropping privileges");
        return false;
    }
    return true;
}

// The config mode unixODBC gives ConfigDSN for a request.
const char* SearchFor(int request) {
    const bool system = request == ODBC_ADD_SYS_DSN || request == ODBC_CONFIG_SYS_DSN || request == ODBC_REMOVE_SYS_DSN;
    return system ? "ODBC_SYSTEM_DSN" : "ODBC_USER_DSN";
}

int Configure(int request, const char* driver, const std::string& attributes) {
    static const bool searchGiven = std::getenv("ODBCSEARCH") != nullptr;
    if (!searchGiven) {
        setenv("ODBCSEARCH", SearchFor(request), 1);
    }
    const BOOL result = SQLConfigDataSource(nullptr, static_cast<WORD>(request), driver, attributes.c_str());
    std::printf("result=%d\n", static_cast<int>(result));
    if (!result) {
        PrintRecords();
    }
    return result ? 0 : 1;
}

int AddMany(int argc, char** argv) {
    const std::string prefix = argv[2];
    const int count = std::atoi(argv[3]);
    for (int i = 0; i < count; ++i) {
        std::string list = "DSN=" + prefix + std::to_string(i) + '\0' + AttributeList(argv + 5, argv + argc);
        if (Configure(ODBC_ADD_SYS_DSN, argv[4], list) != 0) {
            return 1;
        }
    }
    return 0;
}

int Get(int argc, char** argv) {
    for (int i = 2; i + 1 < argc; i += 2) {
        char value[4096] = {};
        const int length =
            SQLGetPrivateProfileString(argv[i], argv[i + 1], "<missing>", value, sizeof value, "odbc.ini");
        std::printf("%s.%s=%s (%d)\n", argv[i], argv[i + 1], value, length);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "--as-nobody") == 0) {
        if (!BecomeNobody()) {
            return 2;
        }
        first = 2;
    }
    if (argc > first && std::strcmp(argv[first], "--add-many") == 0 && argc >= 5 && first == 1) {
        return AddMany(argc, argv);
    }
    if (argc > first && std::strcmp(argv[first], "--get") == 0 && first == 1) {
        return Get(argc, argv);
    }
    if (argc < first + 2) {
        std::fprintf(stderr, "usage: %s [--as-nobody] REQUEST DRIVER [KEYWORD=VALUE...]\n", argv[0]);
        return 2;
    }
    return Configure(RequestCode(argv[first]), argv[first + 1], AttributeList(argv + first + 2, argv + argc));
}
