// The ODBC driver that unixODBC loads for "Microsoft Access Driver (*.mdb)".
// It hands sqliteodbc's own handles to the driver manager and forwards every
// call through the table in sqlite_odbc.h. What is the Access driver's own
// lives here and in the files beside it: the connection (the data source's
// Access file opened by the engine inside an in-memory SQLite database), the
// statement rewrite and the read-only refusal, the info answers, the catalog
// calls and the records.
#include <dlfcn.h>
#include <odbcinst.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include <sql.h>
#include <sqlext.h>

#include "calls.h"
#include "catalog.h"
#include "connection_string.h"
#include "info.h"
#include "sqlite_odbc.h"
#include "statement_rewrite.h"

namespace access_driver {
namespace {

constexpr const char* kPrefix = "[Tarnwick][Access driver] ";
constexpr const char* kReadOnly =
    "The data source is read-only: the Access file is never changed, so INSERT, UPDATE, DELETE and "
    "table definitions are refused";

// What the driver keeps beside sqliteodbc's state for one handle.
struct HandleState {
    std::vector<Record> records;
    std::size_t records_returned = 0;
    ConnectionFacts connection;                     // connections only
    SQLHANDLE parent = nullptr;                     // a statement's connection, a connection's environment
    std::map<SQLUSMALLINT, SQLPOINTER> bit_columns; // a statement's columns bound as SQL_C_BIT
};

std::mutex state_mutex;
std::unordered_map<SQLHANDLE, HandleState> states;
// Each connection's statements that are still allocated.
std::unordered_map<SQLHANDLE, std::set<SQLHANDLE>> statements_of;

template <typename Change> auto WithState(SQLHANDLE handle, Change change) {
    std::lock_guard lock(state_mutex);
    return change(states[handle]);
}

void Forget(SQLHANDLE handle) {
    std::lock_guard lock(state_mutex);
    states.erase(handle);
    statements_of.erase(handle);
    for (auto& [connection, statements] : statements_of)
        statements.erase(handle);
}

void Remember(SQLHANDLE connection, SQLHANDLE statement) {
    std::lock_guard lock(state_mutex);
    statements_of[connection].insert(statement);
}

std::set<SQLHANDLE> StatementsOf(SQLHANDLE connection) {
    std::lock_guard lock(state_mutex);
    const auto found = statements_of.find(connection);
    return found == statements_of.end() ? std::set<SQLHANDLE>() : found->second;
}

void AddRecord(SQLHANDLE handle, std::string sql_state, SQLINTEGER native, std::string message) {
    WithState(handle, [&](HandleState& s) {
        s.records.push_back({std::move(sql_state), native, kPrefix + std::move(message)});
        return 0;
    });
}

// The path of this library, which SQLite loads as the engine's extension.
std::string OwnPath() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&OwnPath), &info) == 0 || !info.dli_fname)
        return {};
    return info.dli_fname;
}

std::string StatementError(SQLHSTMT stmt) {
    SQLCHAR state[6] = "";
    SQLCHAR message[1024] = "";
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (!SQL_SUCCEEDED(
            Backend().GetDiagRec(SQL_HANDLE_STMT, stmt, 1, state, &native, message, sizeof message, &length))) {
        return "no reason given";
    }
    return reinterpret_cast<char*>(message);
}

// Opens the Access file inside sqliteodbc's new connection: the engine's
// tarnwick_open with the path bound, never pasted into the statement.
SQLRETURN OpenAccessFile(SQLHDBC dbc, const std::string& path, const std::string& extension) {
    const SqliteOdbc& backend = Backend();
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(backend.AllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) {
        return Fail(dbc, "HY001", "Cannot allocate a statement to open " + path);
    }
    std::string bound = path;
    SQLLEN bound_length = static_cast<SQLLEN>(bound.size());
    SQLCHAR sql[] = "SELECT tarnwick_open(?)";
    SQLRETURN result = backend.Prepare(stmt, sql, SQL_NTS);
    if (SQL_SUCCEEDED(result)) {
        result = backend.BindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, bound.size(), 0, bound.data(),
                                       bound_length, &bound_length);
    }
    if (SQL_SUCCEEDED(result))
        result = backend.Execute(stmt);
    std::string why;
    if (!SQL_SUCCEEDED(result))
        why = StatementError(stmt);
    backend.FreeHandle(SQL_HANDLE_STMT, stmt);
    if (why.empty())
        return SQL_SUCCESS;
    backend.Disconnect(dbc);
    if (why.find("no such function: tarnwick_open") != std::string::npos) {
        return Fail(dbc, "08001",
                    "The Access engine in " + extension + " could not be loaded into SQLite, so " + path +
                        " cannot be read");
    }
    return Fail(dbc, "08001", "Cannot open the Access file " + path + ": " + why);
}

// Connects sqliteodbc to an in-memory database with the engine loaded and
// opens the data source's file there. `lookup` answers the data source's
// keys (the connection string's, then odbc.ini's).
SQLRETURN ConnectTo(SQLHDBC dbc, const std::string& dsn, const std::function<std::string(const char*)>& lookup) {
    if (!Backend().loaded)
        return Fail(dbc, "IM003", Backend().load_error);
    const std::string path = DatabasePath(lookup);
    if (path.empty()) {
        return Fail(dbc, "08001",
                    "The data source " + (dsn.empty() ? std::string("given") : "\"" + dsn + "\"") +
                        " names no Access file (DBQ)");
    }
    const std::string extension = OwnPath();
    const auto backend_connection = BackendConnectionString(extension);
    if (extension.empty() || !backend_connection) {
        return Fail(dbc, "08001", "The driver's own path (" + extension + ") cannot be handed to SQLite");
    }
    std::string text = *backend_connection;
    const SQLRETURN result = Harvest(SQL_HANDLE_DBC, dbc,
                                     Backend().DriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                                             SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT));
    if (!SQL_SUCCEEDED(result))
        return result;
    const SQLRETURN opened = OpenAccessFile(dbc, path, extension);
    if (!SQL_SUCCEEDED(opened))
        return opened;
    WithState(dbc, [&](HandleState& s) {
        s.connection = {dsn, path};
        return 0;
    });
    return SQL_SUCCESS;
}

std::string ProfileValue(const std::string& dsn, const char* key) {
    if (dsn.empty())
        return {};
    char value[4096] = "";
    SQLGetPrivateProfileString(dsn.c_str(), key, "", value, sizeof value, "odbc.ini");
    return value;
}

// Whether a prepared result has columns that are not a table's columns
// (COUNT(*), SUM(Price), IIf(...)): SQLite gives them no declared type, and
// sqliteodbc describes them as text unless it reads the first row before
// describing them, which it does for a result it holds whole (a static
// cursor) and not for one it streams.
bool HasComputedColumns(SQLHSTMT stmt) {
    SQLSMALLINT columns = 0;
    if (!SQL_SUCCEEDED(Backend().NumResultCols(stmt, &columns)))
        return false;
    for (SQLSMALLINT column = 1; column <= columns; ++column) {
        SQLCHAR type_name[64] = "";
        SQLSMALLINT length = 0;
        if (SQL_SUCCEEDED(Backend().ColAttribute(stmt, static_cast<SQLUSMALLINT>(column), SQL_DESC_TYPE_NAME, type_name,
                                                 sizeof type_name, &length, nullptr)) &&
            std::strcmp(reinterpret_cast<char*>(type_name), "varchar") == 0) {
            return true; // sqliteodbc's guess; the engine's text columns have a size
        }
    }
    return false;
}

// Runs a catalog query on the client's statement: prepared, its parameters
// bound for the one execution, then unbound again.
SQLRETURN RunCatalogQuery(SQLHSTMT stmt, CatalogQuery query) {
    const SqliteOdbc& backend = Backend();
    backend.FreeStmt(stmt, SQL_CLOSE);
    backend.FreeStmt(stmt, SQL_RESET_PARAMS);
    SQLRETURN result = backend.Prepare(stmt, reinterpret_cast<SQLCHAR*>(query.sql.data()), SQL_NTS);
    std::vector<SQLLEN> lengths(query.parameters.size());
    for (std::size_t i = 0; i < query.parameters.size() && SQL_SUCCEEDED(result); ++i) {
        std::string& value = query.parameters[i];
        lengths[i] = static_cast<SQLLEN>(value.size());
        result = backend.BindParameter(stmt, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                                       value.size(), 0, value.data(), lengths[i], &lengths[i]);
    }
    if (SQL_SUCCEEDED(result))
        result = backend.Execute(stmt);
    Harvest(SQL_HANDLE_STMT, stmt, result);
    backend.FreeStmt(stmt, SQL_RESET_PARAMS);
    return result;
}

} // namespace

void Begin(SQLHANDLE handle) {
    WithState(handle, [](HandleState& s) {
        s.records.clear();
        s.records_returned = 0;
        return 0;
    });
}

SQLRETURN Harvest(SQLSMALLINT type, SQLHANDLE handle, SQLRETURN result) {
    if (result != SQL_ERROR && result != SQL_SUCCESS_WITH_INFO)
        return result;
    if (!Backend().loaded)
        return result;
    // sqliteodbc keeps one record per handle and clears it once read.
    SQLCHAR state[6] = "";
    SQLCHAR message[SQL_MAX_MESSAGE_LENGTH * 2] = "";
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    if (SQL_SUCCEEDED(Backend().GetDiagRec(type, handle, 1, state, &native, message, sizeof message, &length))) {
        AddRecord(handle, reinterpret_cast<char*>(state), native, reinterpret_cast<char*>(message));
    }
    return result;
}

SQLRETURN Fail(SQLHANDLE handle, const std::string& sql_state, const std::string& message) {
    AddRecord(handle, sql_state, 0, message);
    return SQL_ERROR;
}

std::optional<Record> DiagRecord(SQLHANDLE handle, SQLSMALLINT number) {
    return WithState(handle, [&](HandleState& s) -> std::optional<Record> {
        if (number < 1 || static_cast<std::size_t>(number) > s.records.size())
            return std::nullopt;
        return s.records[static_cast<std::size_t>(number) - 1];
    });
}

std::optional<Record> NextErrorRecord(SQLHANDLE handle) {
    return WithState(handle, [&](HandleState& s) -> std::optional<Record> {
        if (s.records_returned >= s.records.size())
            return std::nullopt;
        return s.records[s.records_returned++];
    });
}

std::optional<std::string> Text(SQLCHAR* text, SQLINTEGER length) {
    if (!text)
        return std::nullopt;
    if (length == SQL_NTS)
        return std::string(reinterpret_cast<char*>(text));
    // A length that counts the terminating NUL, as some clients give it,
    // ends the text there.
    const auto* begin = reinterpret_cast<const char*>(text);
    const std::size_t size = static_cast<std::size_t>(std::max<SQLINTEGER>(length, 0));
    return std::string(begin, std::find(begin, begin + size, '\0'));
}

SQLRETURN Connect(SQLHDBC dbc, const std::string& dsn) {
    Begin(dbc);
    return ConnectTo(dbc, dsn, [&](const char* key) { return ProfileValue(dsn, key); });
}

SQLRETURN DriverConnect(SQLHDBC dbc, const std::string& in, std::string& out) {
    Begin(dbc);
    auto attributes = ParseConnectionString(in);
    if (!attributes)
        return Fail(dbc, "08001", "The connection string has a '{' without its '}'");
    // A bare name is a data source's name, as sqliteodbc and others take it.
    if (attributes->empty() && in.find_first_of("=;") == std::string::npos)
        (*attributes)["DSN"] = in;
    const auto dsn_entry = attributes->find("DSN");
    const std::string dsn = dsn_entry == attributes->end() ? std::string() : dsn_entry->second;
    const SQLRETURN result = ConnectTo(dbc, dsn, [&](const char* key) {
        const auto given = attributes->find(key);
        return given != attributes->end() ? given->second : ProfileValue(dsn, key);
    });
    if (SQL_SUCCEEDED(result))
        out = in.empty() ? "DSN=" + dsn : in;
    return result;
}

SQLRETURN Prepare(SQLHSTMT stmt, const std::string& sql) {
    Begin(stmt);
    const auto rewritten = tarnwick::access::RewriteAccessSql(sql);
    if (!rewritten.error.empty())
        return Fail(stmt, "42000", rewritten.error);
    if (rewritten.writes)
        return Fail(stmt, "HY000", kReadOnly);
    std::string text = rewritten.sql;
    const SQLRETURN result =
        Harvest(SQL_HANDLE_STMT, stmt,
                Backend().Prepare(stmt, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size())));
    if (SQL_SUCCEEDED(result) && HasComputedColumns(stmt)) {
        Backend().SetStmtAttr(stmt, SQL_ATTR_CURSOR_TYPE, reinterpret_cast<SQLPOINTER>(SQL_CURSOR_STATIC), 0);
    }
    return result;
}

SQLRETURN ExecDirect(SQLHSTMT stmt, const std::string& sql) {
    const SQLRETURN prepared = Prepare(stmt, sql);
    if (!SQL_SUCCEEDED(prepared))
        return prepared;
    const SQLRETURN result = Harvest(SQL_HANDLE_STMT, stmt, Backend().Execute(stmt));
    return result == SQL_SUCCESS && prepared == SQL_SUCCESS_WITH_INFO ? prepared : result;
}

SQLRETURN GetInfo(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT buffer_length, SQLSMALLINT* length) {
    Begin(dbc);
    const ConnectionFacts facts = WithState(dbc, [](HandleState& s) { return s.connection; });
    if (const auto own = OwnInfo(type, facts)) {
        const SQLRETURN result = WriteInfo(*own, value, buffer_length, length);
        if (result == SQL_SUCCESS_WITH_INFO)
            AddRecord(dbc, "01004", 0, "String data, right truncated");
        return result;
    }
    return Harvest(SQL_HANDLE_DBC, dbc, Backend().GetInfo(dbc, type, value, buffer_length, length));
}

SQLRETURN Tables(SQLHSTMT stmt, const std::optional<std::string>& catalog, const std::optional<std::string>& schema,
                 const std::optional<std::string>& table, const std::optional<std::string>& types) {
    Begin(stmt);
    return RunCatalogQuery(stmt, TablesQuery(catalog, schema, table, types));
}

// Turns the bytes of the columns bound as bits, in every row of the rowset
// just fetched, into 0 or 1; rows is the attribute that sizes the rowset.
SQLRETURN AfterFetch(SQLHSTMT stmt, SQLRETURN result, SQLINTEGER rows) {
    if (!SQL_SUCCEEDED(result))
        return result;
    const auto bits = WithState(stmt, [](HandleState& s) { return s.bit_columns; });
    if (bits.empty())
        return result;
    const SqliteOdbc& backend = Backend();
    SQLULEN count = 1, bind_type = SQL_BIND_BY_COLUMN;
    SQLLEN* offset = nullptr;
    backend.GetStmtAttr(stmt, rows, &count, 0, nullptr);
    backend.GetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, &bind_type, 0, nullptr);
    backend.GetStmtAttr(stmt, SQL_ATTR_ROW_BIND_OFFSET_PTR, &offset, 0, nullptr);
    const SQLULEN stride = bind_type == SQL_BIND_BY_COLUMN ? sizeof(SQLCHAR) : bind_type;
    for (const auto& [column, value] : bits) {
        auto* first = static_cast<SQLCHAR*>(value) + (offset ? *offset : 0);
        for (SQLULEN row = 0; row < count; ++row) {
            SQLCHAR& bit = first[row * stride];
            bit = bit != 0 ? 1 : 0;
        }
    }
    return result;
}

// Whether the statement's environment asked for ODBC 2's behaviour.
bool WantsOdbc2(SQLHSTMT stmt) {
    const SQLHANDLE dbc = WithState(stmt, [](HandleState& s) { return s.parent; });
    const SQLHANDLE env = dbc ? WithState(dbc, [](HandleState& s) { return s.parent; }) : nullptr;
    SQLINTEGER version = SQL_OV_ODBC3;
    if (env)
        Backend().GetEnvAttr(env, SQL_ATTR_ODBC_VERSION, &version, 0, nullptr);
    return version == SQL_OV_ODBC2;
}

SQLRETURN Columns(SQLHSTMT stmt, const std::optional<std::string>& catalog, const std::optional<std::string>& schema,
                  const std::optional<std::string>& table, const std::optional<std::string>& column) {
    Begin(stmt);
    return RunCatalogQuery(stmt, ColumnsQuery(catalog, schema, table, column, WantsOdbc2(stmt)));
}

SQLRETURN Statistics(SQLHSTMT stmt, const std::optional<std::string>& table, SQLUSMALLINT unique) {
    Begin(stmt);
    if (!table)
        return Fail(stmt, "HY009", "SQLStatistics needs a table name");
    return RunCatalogQuery(stmt, StatisticsQuery(*table, unique == SQL_INDEX_UNIQUE));
}

SQLRETURN PrimaryKeys(SQLHSTMT stmt, const std::optional<std::string>& table) {
    Begin(stmt);
    if (!table)
        return Fail(stmt, "HY009", "SQLPrimaryKeys needs a table name");
    return RunCatalogQuery(stmt, PrimaryKeysQuery(*table));
}

SQLRETURN SetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length) {
    Begin(dbc);
    if (attribute == SQL_ATTR_ACCESS_MODE) {
        if (reinterpret_cast<SQLULEN>(value) == SQL_MODE_READ_ONLY)
            return SQL_SUCCESS;
        AddRecord(dbc, "01S02", 0, "The data source is read-only; the access mode stays read-only");
        return SQL_SUCCESS_WITH_INFO;
    }
    return Harvest(SQL_HANDLE_DBC, dbc, Backend().SetConnectAttr(dbc, attribute, value, length));
}

SQLRETURN GetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER buffer_length,
                         SQLINTEGER* length) {
    Begin(dbc);
    if (attribute == SQL_ATTR_ACCESS_MODE) {
        const SQLUINTEGER mode = SQL_MODE_READ_ONLY;
        if (value)
            std::memcpy(value, &mode, sizeof mode);
        if (length)
            *length = sizeof mode;
        return SQL_SUCCESS;
    }
    return Harvest(SQL_HANDLE_DBC, dbc, Backend().GetConnectAttr(dbc, attribute, value, buffer_length, length));
}

} // namespace access_driver

using namespace access_driver;

namespace {

// A forwarded call: diagnostics afresh, sqliteodbc's record taken as ours.
#define TARNWICK_FORWARD(type, handle, call)                                                                           \
    Begin(handle);                                                                                                     \
    return Harvest(type, handle, Backend().call)

// The size in bytes of UTF-8 text of `size` UTF-16 characters.
SQLULEN Utf8Size(SQLSMALLINT type, SQLULEN size) {
    const bool text = type == SQL_CHAR || type == SQL_VARCHAR;
    return text && size > 0 && size < (SQLULEN{1} << 30) ? size * 3 : size;
}

bool IsCharacterSizeField(SQLUSMALLINT field) {
    switch (field) {
    case SQL_DESC_LENGTH:
    case SQL_DESC_OCTET_LENGTH:
    case SQL_DESC_DISPLAY_SIZE:
    case SQL_COLUMN_LENGTH:
    case SQL_COLUMN_PRECISION:
        return true;
    default:
        return false;
    }
}

SQLRETURN WriteRecord(const std::optional<Record>& record, SQLCHAR* sql_state, SQLINTEGER* native, SQLCHAR* message,
                      SQLSMALLINT message_max, SQLSMALLINT* message_length) {
    if (!record)
        return SQL_NO_DATA;
    if (sql_state)
        std::memcpy(sql_state, record->sql_state.c_str(), std::min<std::size_t>(record->sql_state.size() + 1, 6));
    if (native)
        *native = record->native;
    return WriteInfo(record->message, message, message_max, message_length);
}

} // namespace

extern "C" {

#define TARNWICK_EXPORT __attribute__((visibility("default")))

TARNWICK_EXPORT SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
    const SqliteOdbc& backend = Backend();
    if (!backend.loaded) {
        // The environment and the connection are handles of our own, so that
        // the connection attempt can say why there is nothing to connect to: a
        // failed environment would leave unixODBC nowhere to read a record from.
        if (type == SQL_HANDLE_STMT)
            return Fail(input, "IM003", backend.load_error);
        if (output == nullptr)
            return SQL_ERROR;
        *output = new char;
        Forget(*output);
        return SQL_SUCCESS;
    }
    if (type != SQL_HANDLE_ENV)
        Begin(input);
    const SQLSMALLINT input_type = type == SQL_HANDLE_DBC ? SQL_HANDLE_ENV : SQL_HANDLE_DBC;
    SQLRETURN result = backend.AllocHandle(type, input, output);
    if (type != SQL_HANDLE_ENV)
        result = Harvest(input_type, input, result);
    // sqliteodbc frees a connection's statements itself on disconnect, so a
    // new handle may reuse the address of one whose state is still here.
    if (SQL_SUCCEEDED(result) && output) {
        Forget(*output);
        if (type == SQL_HANDLE_STMT)
            Remember(input, *output);
        if (type != SQL_HANDLE_ENV)
            WithState(*output, [&](HandleState& s) { return s.parent = input; });
    }
    return result;
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
    if (!Backend().loaded) {
        Forget(handle);
        delete static_cast<char*>(handle);
        return SQL_SUCCESS;
    }
    const SQLRETURN result = Backend().FreeHandle(type, handle);
    if (SQL_SUCCEEDED(result))
        Forget(handle);
    return result;
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT stmt, SQLUSMALLINT option) {
    if (option == SQL_DROP) {
        const SQLRETURN result = Backend().FreeHandle(SQL_HANDLE_STMT, stmt);
        if (SQL_SUCCEEDED(result))
            Forget(stmt);
        return result;
    }
    if (option == SQL_UNBIND)
        WithState(stmt, [](HandleState& s) {
            s.bit_columns.clear();
            return 0;
        });
    TARNWICK_FORWARD(SQL_HANDLE_STMT, stmt, FreeStmt(stmt, option));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT stmt) {
    TARNWICK_FORWARD(SQL_HANDLE_STMT, stmt, CloseCursor(stmt));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value,
                                                SQLINTEGER length) {
    if (!Backend().loaded)
        return SQL_SUCCESS;
    TARNWICK_FORWARD(SQL_HANDLE_ENV, env, SetEnvAttr(env, attribute, value, length));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value,
                                                SQLINTEGER buffer_length, SQLINTEGER* length) {
    TARNWICK_FORWARD(SQL_HANDLE_ENV, env, GetEnvAttr(env, attribute, value, buffer_length, length));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLConnect(SQLHDBC dbc, SQLCHAR* dsn, SQLSMALLINT dsn_length, SQLCHAR*, SQLSMALLINT,
                                             SQLCHAR*, SQLSMALLINT) {
    return Connect(dbc, Text(dsn, dsn_length).value_or(""));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLDriverConnect(SQLHDBC dbc, SQLHWND, SQLCHAR* in, SQLSMALLINT in_length,
                                                   SQLCHAR* out, SQLSMALLINT out_max, SQLSMALLINT* out_length,
                                                   SQLUSMALLINT) {
    std::string completed;
    const SQLRETURN result = DriverConnect(dbc, Text(in, in_length).value_or(""), completed);
    if (!SQL_SUCCEEDED(result))
        return result;
    if (WriteInfo(completed, out, out_max, out_length) == SQL_SUCCESS_WITH_INFO && out) {
        AddRecord(dbc, "01004", 0, "String data, right truncated");
        return SQL_SUCCESS_WITH_INFO;
    }
    return result;
}

// ODBC frees the statements a client left allocated when it disconnects;
// sqliteodbc would keep their SQLite statements and refuse to close the
// database (25000, "unfinished statements"), so they are freed here first.
TARNWICK_EXPORT SQLRETURN SQL_API SQLDisconnect(SQLHDBC dbc) {
    for (SQLHANDLE stmt : StatementsOf(dbc)) {
        if (SQL_SUCCEEDED(Backend().FreeHandle(SQL_HANDLE_STMT, stmt)))
            Forget(stmt);
    }
    TARNWICK_FORWARD(SQL_HANDLE_DBC, dbc, Disconnect(dbc));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLGetInfo(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value,
                                             SQLSMALLINT buffer_length, SQLSMALLINT* length) {
    return GetInfo(dbc, type, value, buffer_length, length);
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLGetFunctions(SQLHDBC dbc, SQLUSMALLINT function, SQLUSMALLINT* supported) {
    Begin(dbc);
    if (!supported)
        return SQL_SUCCESS;
    if (function == SQL_API_ODBC3_ALL_FUNCTIONS) {
        std::memset(supported, 0, sizeof(SQLUSMALLINT) * SQL_API_ODBC3_ALL_FUNCTIONS_SIZE);
        for (SQLUSMALLINT f = 0; f < SQL_API_ODBC3_ALL_FUNCTIONS_SIZE * 16; ++f) {
            if (IsSupportedFunction(f))
                supported[f >> 4] |= static_cast<SQLUSMALLINT>(1U << (f & 0xF));
        }
    } else if (function == SQL_API_ALL_FUNCTIONS) {
        for (SQLUSMALLINT f = 0; f < 100; ++f)
            supported[f] = IsSupportedFunction(f) ? SQL_TRUE : SQL_FALSE;
    } else {
        *supported = IsSupportedFunction(function) ? SQL_TRUE : SQL_FALSE;
    }
    return SQL_SUCCESS;
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT stmt, SQLSMALLINT type) {
    TARNWICK_FORWARD(SQL_HANDLE_STMT, stmt, GetTypeInfo(stmt, type));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLPrepare(SQLHSTMT stmt, SQLCHAR* sql, SQLINTEGER length) {
    return Prepare(stmt, Text(sql, length).value_or(""));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLExecute(SQLHSTMT stmt) { TARNWICK_FORWARD(SQL_HANDLE_STMT, stmt, Execute(stmt)); }

TARNWICK_EXPORT SQLRETURN SQL_API SQLExecDirect(SQLHSTMT stmt, SQLCHAR* sql, SQLINTEGER length) {
    return ExecDirect(stmt, Text(sql, length).value_or(""));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLNumParams(SQLHSTMT stmt, SQLSMALLINT* count) {
    TARNWICK_FORWARD(SQL_HANDLE_STMT, stmt, NumParams(stmt, count));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT* type, SQLULEN* size,
                                                   SQLSMALLINT* digits, SQLSMALLINT* nullable) {
    TARNWICK_FORWARD(SQL_HANDLE_STMT, stmt, DescribeParam(stmt, number, type, size, digits, nullable));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLBindParameter(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT direction,
                                                   SQLSMALLINT c_type, SQLSMALLINT sql_type, SQLULEN size,
                                                   SQLSMALLINT digits, SQLPOINTER value, SQLLEN buffer_length,
                                                   SQLLEN* indicator) {
    TARNWICK_FORWARD(
        SQL_HANDLE_STMT, stmt,
        BindParameter(stmt, number, direction, c_type, sql_type, size, digits, value, buffer_length, indicator));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLParamData(SQLHSTMT stmt, SQLPOINTER* value) {
    TARNWICK_FORWARD(SQL_HANDLE_STMT, stmt, ParamData(stmt, value));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLPutData(SQLHSTMT stmt, SQLPOINTER value, SQLLEN length) {
    TARNWICK_FORWARD(SQL_HANDLE_STMT, stmt, PutData(stmt, value, length));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT stmt, SQLSMALLINT* count) {
    TARNWICK_FORWARD(SQL_HANDLE_STMT, stmt, NumResultCols(stmt, count));
}

// Access sizes text in characters; through the ANSI calls a client reads
// UTF-8, up to three bytes for each of them, and sizes its buffers from the
// column size (Perl's DBD::ODBC, PHP), so the ANSI calls give that in bytes.
TARNWICK_EXPORT SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLCHAR* name,
                                                 SQLSMALLINT name_max, SQLSMALLINT* name_length, SQLSMALLINT* type,
                                                 SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable) {
    Begin(stmt);
    SQLSMALLINT sql_type = SQL_UNKNOWN_TYPE;
    const SQLRETURN result =
        Harvest(SQL_HANDLE_STMT, stmt,
                Backend().DescribeCol(stmt, column, name, name_max, name_length, &sql_type, size, digits, nullable));
    if (SQL_SUCCEEDED(result) && size)
        *size = Utf8Size(sql_type, *size);
    if (type)
        *type = sql_type;
    return result;
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLColAttribute(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field,
                                                  SQLPOINTER text, SQLSMALLINT text_max, SQLSMALLINT* text_length,
                                                  SQLLEN* number) {
    Begin(stmt);
    const SQLRETURN result = Harvest(SQL_HANDLE_STMT, stmt,
                                     Backend().ColAttribute(stmt, column, field, text, text_max, text_length, number));
    if (SQL_SUCCEEDED(result) && number && IsCharacterSizeField(field)) {
        SQLLEN type = SQL_UNKNOWN_TYPE;
        if (SQL_SUCCEEDED(Backend().ColAttribute(stmt, column, SQL_DESC_CONCISE_TYPE, nullptr, 0, nullptr, &type))) {
            *number = static_cast<SQLLEN>(Utf8Size(static_cast<SQLSMALLINT>(type), static_cast<SQLULEN>(*number)));
        }
    }
    return result;
}

// sqliteodbc reads SQL_C_BIT from a value's first character, so Access's
// Yes (-1) would read as 0. A column bound as a bit is bound as a signed
// byte, the same size, and each fetch then turns the byte into whether the
// number is not zero (NULL reads as 0 either way).
TARNWICK_EXPORT SQLRETURN SQL_API SQLBindCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER value,
                                             SQLLEN buffer_length, SQLLEN* indicator) {
    Begin(stmt);
    const bool bit = c_type == SQL_C_BIT && value;
    const SQLRETURN result =
        Harvest(SQL_HANDLE_STMT, stmt,
                Backend().BindCol(stmt, column, bit ? SQL_C_STINYINT : c_type, value, buffer_length, indicator));
    if (SQL_SUCCEEDED(result)) {
        WithState(stmt, [&](HandleState& s) {
            if (bit)
                s.bit_columns[column] = value;
            else
                s.bit_columns.erase(column);
            return 0;
        });
    }
    return result;
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLFetch(SQLHSTMT stmt) {
    Begin(stmt);
    return AfterFetch(stmt, Harvest(SQL_HANDLE_STMT, stmt, Backend().Fetch(stmt)), SQL_ATTR_ROW_ARRAY_SIZE);
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT stmt, SQLSMALLINT orientation, SQLLEN offset) {
    Begin(stmt);
    return AfterFetch(stmt, Harvest(SQL_HANDLE_STMT, stmt, Backend().FetchScroll(stmt, orientation, offset)),
                      SQL_ATTR_ROW_ARRAY_SIZE);
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLExtendedFetch(SQLHSTMT stmt, SQLUSMALLINT orientation, SQLLEN offset,
                                                   SQLULEN* row_count, SQLUSMALLINT* row_status) {
    Begin(stmt);
    return AfterFetch(
        stmt, Harvest(SQL_HANDLE_STMT, stmt, Backend().ExtendedFetch(stmt, orientation, offset, row_count, row_status)),
        SQL_ROWSET_SIZE);
}

// sqliteodbc reads SQL_C_BIT from a value's first character, so Access's
// Yes (-1) would read as 0; a bit is whether the number is not zero.
TARNWICK_EXPORT SQLRETURN SQL_API SQLGetData(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER value,
                                             SQLLEN buffer_length, SQLLEN* indicator) {
    Begin(stmt);
    if (c_type != SQL_C_BIT)
        return Harvest(SQL_HANDLE_STMT, stmt, Backend().GetData(stmt, column, c_type, value, buffer_length, indicator));
    double number = 0;
    SQLLEN got = 0;
    const SQLRETURN result =
        Harvest(SQL_HANDLE_STMT, stmt, Backend().GetData(stmt, column, SQL_C_DOUBLE, &number, sizeof number, &got));
    if (!SQL_SUCCEEDED(result))
        return result;
    if (got == SQL_NULL_DATA) {
        if (!indicator)
            return Fail(stmt, "22002", "The value is NULL and no indicator was given");
        *indicator = SQL_NULL_DATA;
        return result;
    }
    if (value)
        *static_cast<SQLCHAR*>(value) = number != 0 ? 1 : 0;
    if (indicator)
        *indicator = sizeof(SQLCHAR);
    return result;
}

// sqliteodbc answers 0 after a SELECT, which clients that trust it (R's
// RODBC) take for an empty result. ODBC lets a driver leave a SELECT's row
// count unknown: -1. Every statement that runs is a query.
TARNWICK_EXPORT SQLRETURN SQL_API SQLRowCount(SQLHSTMT stmt, SQLLEN* count) {
    Begin(stmt);
    SQLSMALLINT columns = 0;
    if (SQL_SUCCEEDED(Backend().NumResultCols(stmt, &columns)) && columns > 0) {
        if (count)
            *count = -1;
        return SQL_SUCCESS;
    }
    return Harvest(SQL_HANDLE_STMT, stmt, Backend().RowCount(stmt, count));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLMoreResults(SQLHSTMT stmt) {
    TARNWICK_FORWARD(SQL_HANDLE_STMT, stmt, MoreResults(stmt));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLTables(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalog_length,
                                            SQLCHAR* schema, SQLSMALLINT schema_length, SQLCHAR* table,
                                            SQLSMALLINT table_length, SQLCHAR* types, SQLSMALLINT types_length) {
    return Tables(stmt, Text(catalog, catalog_length), Text(schema, schema_length), Text(table, table_length),
                  Text(types, types_length));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLColumns(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalog_length,
                                             SQLCHAR* schema, SQLSMALLINT schema_length, SQLCHAR* table,
                                             SQLSMALLINT table_length, SQLCHAR* column, SQLSMALLINT column_length) {
    return Columns(stmt, Text(catalog, catalog_length), Text(schema, schema_length), Text(table, table_length),
                   Text(column, column_length));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLStatistics(SQLHSTMT stmt, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT,
                                                SQLCHAR* table, SQLSMALLINT table_length, SQLUSMALLINT unique,
                                                SQLUSMALLINT) {
    return Statistics(stmt, Text(table, table_length), unique);
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLPrimaryKeys(SQLHSTMT stmt, SQLCHAR*, SQLSMALLINT, SQLCHAR*, SQLSMALLINT,
                                                 SQLCHAR* table, SQLSMALLINT table_length) {
    return PrimaryKeys(stmt, Text(table, table_length));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                                                 SQLINTEGER buffer_length, SQLINTEGER* length) {
    TARNWICK_FORWARD(SQL_HANDLE_STMT, stmt, GetStmtAttr(stmt, attribute, value, buffer_length, length));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                                                 SQLINTEGER length) {
    TARNWICK_FORWARD(SQL_HANDLE_STMT, stmt, SetStmtAttr(stmt, attribute, value, length));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                                    SQLINTEGER length) {
    return SetConnectAttr(dbc, attribute, value, length);
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                                    SQLINTEGER buffer_length, SQLINTEGER* length) {
    return GetConnectAttr(dbc, attribute, value, buffer_length, length);
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLGetDescField(SQLHDESC desc, SQLSMALLINT record, SQLSMALLINT field,
                                                  SQLPOINTER value, SQLINTEGER buffer_length, SQLINTEGER* length) {
    TARNWICK_FORWARD(SQL_HANDLE_DESC, desc, GetDescField(desc, record, field, value, buffer_length, length));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLGetDescRec(SQLHDESC desc, SQLSMALLINT record, SQLCHAR* name, SQLSMALLINT name_max,
                                                SQLSMALLINT* name_length, SQLSMALLINT* type, SQLSMALLINT* subtype,
                                                SQLLEN* length, SQLSMALLINT* precision, SQLSMALLINT* scale,
                                                SQLSMALLINT* nullable) {
    TARNWICK_FORWARD(
        SQL_HANDLE_DESC, desc,
        GetDescRec(desc, record, name, name_max, name_length, type, subtype, length, precision, scale, nullable));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLSetDescField(SQLHDESC desc, SQLSMALLINT record, SQLSMALLINT field,
                                                  SQLPOINTER value, SQLINTEGER length) {
    TARNWICK_FORWARD(SQL_HANDLE_DESC, desc, SetDescField(desc, record, field, value, length));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLGetCursorName(SQLHSTMT stmt, SQLCHAR* name, SQLSMALLINT name_max,
                                                   SQLSMALLINT* name_length) {
    TARNWICK_FORWARD(SQL_HANDLE_STMT, stmt, GetCursorName(stmt, name, name_max, name_length));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLSetCursorName(SQLHSTMT stmt, SQLCHAR* name, SQLSMALLINT name_length) {
    TARNWICK_FORWARD(SQL_HANDLE_STMT, stmt, SetCursorName(stmt, name, name_length));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLEndTran(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT completion) {
    TARNWICK_FORWARD(type, handle, EndTran(type, handle, completion));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLCancel(SQLHSTMT stmt) { TARNWICK_FORWARD(SQL_HANDLE_STMT, stmt, Cancel(stmt)); }

// The driver's records: its own refusals and sqliteodbc's, in order.
TARNWICK_EXPORT SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT, SQLHANDLE handle, SQLSMALLINT number, SQLCHAR* sql_state,
                                                SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT message_max,
                                                SQLSMALLINT* message_length) {
    if (number < 1)
        return SQL_ERROR;
    return WriteRecord(DiagRecord(handle, number), sql_state, native, message, message_max, message_length);
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLError(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, SQLCHAR* sql_state,
                                           SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT message_max,
                                           SQLSMALLINT* message_length) {
    const SQLHANDLE handle = stmt ? stmt : dbc ? dbc : env;
    return WriteRecord(NextErrorRecord(handle), sql_state, native, message, message_max, message_length);
}

} // extern "C"
