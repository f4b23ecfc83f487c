// The ODBC driver that unixODBC loads for "Microsoft Access Driver (*.mdb)".
// It hands mdbtools' own handles to the driver manager and forwards every call
// through the table in mdb_functions.h; the few additions (info answers,
// column attributes, parameter markers, 32-bit indicators, diagnostics for
// its own refusals) live in their own files and are only wired in here.
#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

#include <sql.h>
#include <sqlext.h>

#include "indicators.h"
#include "info.h"
#include "mdb_functions.h"
#include "parameters.h"

using namespace access_driver;

namespace {

struct Record {
  std::string sql_state;
  std::string message;
};

// What the driver keeps beside mdbtools' state for one handle.
struct HandleState {
  std::vector<Record> records;
  std::size_t records_returned = 0;
  // Connections: the data source's name, for SQL_DATA_SOURCE_NAME.
  std::string data_source;
  // Statements: a prepared statement with markers waits here, not in mdbtools.
  std::string prepared;
  std::vector<std::size_t> markers;
  std::map<SQLUSMALLINT, ParameterBinding> parameters;
  std::map<SQLUSMALLINT, SQLLEN*> bound_indicators;
  SQLULEN* rows_fetched = nullptr;
  SQLUSMALLINT* row_status = nullptr;
  // Connections: unixODBC asks for autocommit either way; nothing is written.
  SQLULEN autocommit = SQL_AUTOCOMMIT_ON;
};

std::mutex state_mutex;
std::unordered_map<SQLHANDLE, HandleState> states;

// Every call starts a handle's diagnostics afresh, as ODBC has it.
HandleState& Begin(SQLHANDLE handle) {
  std::lock_guard lock(state_mutex);
  HandleState& state = states[handle];
  state.records.clear();
  state.records_returned = 0;
  return state;
}

HandleState& StateOf(SQLHANDLE handle) {
  std::lock_guard lock(state_mutex);
  return states[handle];
}

void Forget(SQLHANDLE handle) {
  std::lock_guard lock(state_mutex);
  states.erase(handle);
}

SQLRETURN Fail(HandleState& state, std::string sql_state, const std::string& message) {
  state.records.push_back({std::move(sql_state), "[Tarnwick][Access driver] " + message});
  return SQL_ERROR;
}

SQLRETURN Fail(HandleState& state, const Refusal& refusal) { return Fail(state, refusal.sql_state, refusal.message); }

std::string Text(SQLCHAR* text, SQLINTEGER length) {
  if (!text) return {};
  return length == SQL_NTS ? std::string(reinterpret_cast<char*>(text))
                           : std::string(reinterpret_cast<char*>(text), static_cast<std::size_t>(length));
}

// Longer statements mdbtools would cut at 4095 bytes and run the rest.
bool TooLong(HandleState& state, const std::string& sql) {
  if (sql.size() <= kMaxStatementBytes) return false;
  Fail(state, "HY000", "The statement is " + std::to_string(sql.size()) +
                           " bytes long; mdbtools keeps only 4095 and would cut it");
  return true;
}

SQLRETURN RunWithParameters(SQLHSTMT statement, HandleState& state, const std::string& sql,
                            const std::vector<std::size_t>& markers) {
  auto substituted = Substitute(sql, markers, state.parameters);
  if (auto* refusal = std::get_if<Refusal>(&substituted)) return Fail(state, *refusal);
  auto& text = std::get<std::string>(substituted);
  return Mdb().ExecDirect(statement, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS);
}

SQLRETURN AllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
  const MdbFunctions& mdb = Mdb();
  if (!mdb.loaded) {
    // The environment and the connection are handles of our own, so that the
    // connection attempt can say why there is nothing to connect to: a failed
    // environment would leave unixODBC nowhere to read a record from.
    if (type == SQL_HANDLE_STMT) return Fail(Begin(input), "IM003", mdb.load_error);
    if (output == nullptr) return SQL_ERROR;
    *output = new char;
    Forget(*output);
    return SQL_SUCCESS;
  }
  if (type != SQL_HANDLE_ENV) Begin(input);
  const SQLRETURN result = mdb.AllocHandle(type, input, output);
  // mdbtools frees a connection's statements itself on disconnect, so a new
  // handle may reuse the address of one whose state is still here.
  if (SQL_SUCCEEDED(result) && output) Forget(*output);
  return result;
}

SQLRETURN FreeHandle(SQLSMALLINT type, SQLHANDLE handle) {
  if (!Mdb().loaded) {
    Forget(handle);
    delete static_cast<char*>(handle);
    return SQL_SUCCESS;
  }
  const SQLRETURN result = Mdb().FreeHandle(type, handle);
  if (SQL_SUCCEEDED(result)) Forget(handle);
  return result;
}

SQLRETURN Missing(HandleState& state, const char* name) {
  return Fail(state, "IM001", std::string("mdbtools' driver does not provide ") + name);
}

// Around a fetch, every bound indicator gets the sentinel, then is widened.
template <typename Call>
SQLRETURN FetchWithIndicators(SQLHSTMT stmt, Call call) {
  HandleState& state = Begin(stmt);
  std::vector<PrimedIndicator> primed;
  primed.reserve(state.bound_indicators.size());
  for (const auto& [column, indicator] : state.bound_indicators) primed.push_back(PrimeIndicator(indicator));
  const SQLRETURN result = call();
  for (const auto& p : primed) WidenIndicator(p);
  // mdbtools fetches one row at a time and fills neither pointer.
  if (state.rows_fetched) *state.rows_fetched = SQL_SUCCEEDED(result) ? 1 : 0;
  if (state.row_status && SQL_SUCCEEDED(result)) *state.row_status = SQL_ROW_SUCCESS;
  return result;
}

}  // namespace

extern "C" {

#define EXPORT __attribute__((visibility("default")))

EXPORT SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE* output) {
  return AllocHandle(type, input, output);
}
EXPORT SQLRETURN SQL_API SQLAllocEnv(SQLHENV* env) { return AllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, env); }
EXPORT SQLRETURN SQL_API SQLAllocConnect(SQLHENV env, SQLHDBC* dbc) { return AllocHandle(SQL_HANDLE_DBC, env, dbc); }
EXPORT SQLRETURN SQL_API SQLAllocStmt(SQLHDBC dbc, SQLHSTMT* stmt) { return AllocHandle(SQL_HANDLE_STMT, dbc, stmt); }

EXPORT SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT type, SQLHANDLE handle) { return FreeHandle(type, handle); }
EXPORT SQLRETURN SQL_API SQLFreeEnv(SQLHENV env) { return FreeHandle(SQL_HANDLE_ENV, env); }
EXPORT SQLRETURN SQL_API SQLFreeConnect(SQLHDBC dbc) { return FreeHandle(SQL_HANDLE_DBC, dbc); }

EXPORT SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT stmt, SQLUSMALLINT option) {
  if (option == SQL_DROP) return FreeHandle(SQL_HANDLE_STMT, stmt);
  HandleState& state = Begin(stmt);
  if (option == SQL_RESET_PARAMS) state.parameters.clear();
  if (option == SQL_UNBIND) state.bound_indicators.clear();
  return Mdb().FreeStmt(stmt, option);
}

EXPORT SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT stmt) {
  Begin(stmt);
  return Mdb().FreeStmt(stmt, SQL_CLOSE);
}

EXPORT SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV env, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER length) {
  Begin(env);
  return Mdb().SetEnvAttr(env, attribute, value, length);
}

EXPORT SQLRETURN SQL_API SQLConnect(SQLHDBC dbc, SQLCHAR* dsn, SQLSMALLINT dsn_length, SQLCHAR* user,
                                   SQLSMALLINT user_length, SQLCHAR* password, SQLSMALLINT password_length) {
  HandleState& state = Begin(dbc);
  if (!Mdb().loaded) return Fail(state, "IM003", Mdb().load_error);
  state.data_source = Text(dsn, dsn_length);
  return Mdb().Connect(dbc, dsn, dsn_length, user, user_length, password, password_length);
}

EXPORT SQLRETURN SQL_API SQLDriverConnect(SQLHDBC dbc, SQLHWND window, SQLCHAR* in, SQLSMALLINT in_length,
                                         SQLCHAR* out, SQLSMALLINT out_max, SQLSMALLINT* out_length,
                                         SQLUSMALLINT completion) {
  HandleState& state = Begin(dbc);
  if (!Mdb().loaded) return Fail(state, "IM003", Mdb().load_error);
  // The data source's name, for SQL_DATA_SOURCE_NAME: the DSN= pair, if any.
  const std::string text = Text(in, in_length);
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find(';', at), text.size());
    const std::string pair = text.substr(at, end - at);
    if (pair.size() > 4 && strncasecmp(pair.c_str(), "DSN=", 4) == 0) state.data_source = pair.substr(4);
    at = end + 1;
  }
  return Mdb().DriverConnect(dbc, window, in, in_length, out, out_max, out_length, completion);
}

EXPORT SQLRETURN SQL_API SQLDisconnect(SQLHDBC dbc) {
  Begin(dbc);
  return Mdb().Disconnect(dbc);
}

EXPORT SQLRETURN SQL_API SQLGetInfo(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value, SQLSMALLINT buffer_length,
                                   SQLSMALLINT* length) {
  HandleState& state = Begin(dbc);
  const auto answer = InfoFor(type, state.data_source);
  if (!answer) return Fail(state, "HY096", "Information type " + std::to_string(type) + " is not known to this driver");
  if (std::holds_alternative<AskMdbtools>(*answer)) return Mdb().GetInfo(dbc, type, value, buffer_length, length);
  return WriteInfo(*answer, value, buffer_length, length);
}

EXPORT SQLRETURN SQL_API SQLGetFunctions(SQLHDBC dbc, SQLUSMALLINT function, SQLUSMALLINT* supported) {
  Begin(dbc);
  if (function == SQL_API_ODBC3_ALL_FUNCTIONS) {
    std::memset(supported, 0, sizeof(SQLUSMALLINT) * SQL_API_ODBC3_ALL_FUNCTIONS_SIZE);
    for (SQLUSMALLINT f = 0; f < SQL_API_ODBC3_ALL_FUNCTIONS_SIZE * 16; ++f) {
      if (IsSupportedFunction(f)) supported[f >> 4] |= static_cast<SQLUSMALLINT>(1U << (f & 0xF));
    }
  } else if (function == SQL_API_ALL_FUNCTIONS) {
    for (SQLUSMALLINT f = 0; f < 100; ++f) supported[f] = IsSupportedFunction(f) ? SQL_TRUE : SQL_FALSE;
  } else {
    *supported = IsSupportedFunction(function) ? SQL_TRUE : SQL_FALSE;
  }
  return SQL_SUCCESS;
}

EXPORT SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT stmt, SQLSMALLINT type) {
  Begin(stmt);
  return Mdb().GetTypeInfo(stmt, type);
}

EXPORT SQLRETURN SQL_API SQLPrepare(SQLHSTMT stmt, SQLCHAR* sql, SQLINTEGER length) {
  HandleState& state = Begin(stmt);
  std::string text = Text(sql, length);
  if (TooLong(state, text)) return SQL_ERROR;
  state.markers = FindMarkers(text);
  if (state.markers.empty()) {
    state.prepared.clear();
    return Mdb().Prepare(stmt, sql, length);
  }
  // mdbtools' parser knows no markers; the statement is run once the
  // parameters are known.
  state.prepared = std::move(text);
  return SQL_SUCCESS;
}

EXPORT SQLRETURN SQL_API SQLExecute(SQLHSTMT stmt) {
  HandleState& state = Begin(stmt);
  if (state.markers.empty()) return Mdb().Execute(stmt);
  return RunWithParameters(stmt, state, state.prepared, state.markers);
}

EXPORT SQLRETURN SQL_API SQLExecDirect(SQLHSTMT stmt, SQLCHAR* sql, SQLINTEGER length) {
  HandleState& state = Begin(stmt);
  const std::string text = Text(sql, length);
  if (TooLong(state, text)) return SQL_ERROR;
  state.markers.clear();
  state.prepared.clear();
  const auto markers = FindMarkers(text);
  if (markers.empty()) return Mdb().ExecDirect(stmt, sql, length);
  return RunWithParameters(stmt, state, text, markers);
}

EXPORT SQLRETURN SQL_API SQLNumParams(SQLHSTMT stmt, SQLSMALLINT* count) {
  HandleState& state = Begin(stmt);
  if (count) *count = static_cast<SQLSMALLINT>(state.markers.size());
  return SQL_SUCCESS;
}

EXPORT SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT* type, SQLULEN* size,
                                         SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  HandleState& state = Begin(stmt);
  if (number < 1 || number > state.markers.size()) {
    return Fail(state, "07009", "Parameter " + std::to_string(number) + " does not exist; the statement has " +
                                    std::to_string(state.markers.size()));
  }
  // Without parsing the statement the column a marker compares with is
  // unknown: a parameter is described as text, mdbtools' widest literal.
  if (type) *type = SQL_VARCHAR;
  if (size) *size = kMaxTextLiteralBytes;
  if (digits) *digits = 0;
  if (nullable) *nullable = SQL_NULLABLE_UNKNOWN;
  return SQL_SUCCESS;
}

EXPORT SQLRETURN SQL_API SQLBindParameter(SQLHSTMT stmt, SQLUSMALLINT number, SQLSMALLINT direction,
                                         SQLSMALLINT c_type, SQLSMALLINT sql_type, SQLULEN, SQLSMALLINT,
                                         SQLPOINTER value, SQLLEN buffer_length, SQLLEN* indicator) {
  HandleState& state = Begin(stmt);
  if (number < 1) return Fail(state, "07009", "Parameters are numbered from 1");
  if (direction != SQL_PARAM_INPUT) {
    return Fail(state, "HYC00", "Only input parameters are supported; mdbtools runs no procedures");
  }
  state.parameters[number] = ParameterBinding{c_type, sql_type, value, buffer_length, indicator};
  return SQL_SUCCESS;
}

EXPORT SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT stmt, SQLSMALLINT* count) {
  Begin(stmt);
  return Mdb().NumResultCols(stmt, count);
}

EXPORT SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLCHAR* name, SQLSMALLINT name_max,
                                       SQLSMALLINT* name_length, SQLSMALLINT* type, SQLULEN* size,
                                       SQLSMALLINT* digits, SQLSMALLINT* nullable) {
  Begin(stmt);
  return Mdb().DescribeCol(stmt, column, name, name_max, name_length, type, size, digits, nullable);
}

EXPORT SQLRETURN SQL_API SQLColAttribute(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field,
                                        SQLPOINTER text, SQLSMALLINT text_max, SQLSMALLINT* text_length,
                                        SQLLEN* number) {
  HandleState& state = Begin(stmt);
  const MdbFunctions& mdb = Mdb();
  ColumnFacts facts;
  if (!SQL_SUCCEEDED(mdb.NumResultCols(stmt, &facts.column_count))) facts.column_count = 0;
  if (field != SQL_DESC_COUNT) {
    if (column < 1 || column > facts.column_count) {
      return Fail(state, "07009", "Column " + std::to_string(column) + " does not exist; the result has " +
                                      std::to_string(facts.column_count));
    }
    SQLCHAR name[256] = "";
    SQLSMALLINT name_length = 0;
    if (!SQL_SUCCEEDED(mdb.DescribeCol(stmt, column, name, sizeof name, &name_length, &facts.sql_type, &facts.size,
                                       &facts.decimal_digits, &facts.nullable))) {
      return Fail(state, "HY000", "mdbtools could not describe column " + std::to_string(column));
    }
    facts.name = reinterpret_cast<char*>(name);
    if (mdb.ColAttributes) {
      char type_name[128] = "";
      SQLSMALLINT type_name_length = 0;
      SQLLEN display = 0;
      if (SQL_SUCCEEDED(mdb.ColAttributes(stmt, column, SQL_COLUMN_TYPE_NAME, type_name, sizeof type_name,
                                          &type_name_length, &display))) {
        facts.type_name = type_name;
      }
      display = 0;
      PrimedIndicator primed = PrimeIndicator(&display);
      if (SQL_SUCCEEDED(mdb.ColAttributes(stmt, column, SQL_COLUMN_DISPLAY_SIZE, nullptr, 0, nullptr, &display))) {
        WidenIndicator(primed);
        facts.display_size = display;
      }
    }
  }
  const auto answer = ColumnAttributeFor(field, facts);
  if (!answer) return Fail(state, "HY091", "Column attribute " + std::to_string(field) + " is not known to this driver");
  if (const auto* value = std::get_if<SQLLEN>(&*answer)) {
    if (number) *number = *value;
    return SQL_SUCCESS;
  }
  const auto& value = std::get<std::string>(*answer);
  if (text_length) *text_length = static_cast<SQLSMALLINT>(value.size());
  if (!text || text_max <= 0) return value.empty() ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
  const std::size_t fits = std::min(value.size(), static_cast<std::size_t>(text_max - 1));
  std::memcpy(text, value.data(), fits);
  static_cast<char*>(text)[fits] = '\0';
  if (fits < value.size()) {
    state.records.push_back({"01004", "[Tarnwick][Access driver] String data, right truncated"});
    return SQL_SUCCESS_WITH_INFO;
  }
  return SQL_SUCCESS;
}

EXPORT SQLRETURN SQL_API SQLBindCol(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER value,
                                   SQLLEN buffer_length, SQLLEN* indicator) {
  HandleState& state = Begin(stmt);
  const SQLRETURN result = Mdb().BindCol(stmt, column, c_type, value, buffer_length, indicator);
  if (SQL_SUCCEEDED(result)) {
    if (value || indicator) {
      state.bound_indicators[column] = indicator;
    } else {
      state.bound_indicators.erase(column);
    }
  }
  return result;
}

EXPORT SQLRETURN SQL_API SQLFetch(SQLHSTMT stmt) {
  return FetchWithIndicators(stmt, [&] { return Mdb().Fetch(stmt); });
}

EXPORT SQLRETURN SQL_API SQLExtendedFetch(SQLHSTMT stmt, SQLUSMALLINT orientation, SQLLEN offset,
                                         SQLULEN* row_count, SQLUSMALLINT* row_status) {
  if (!Mdb().ExtendedFetch) return Missing(Begin(stmt), "SQLExtendedFetch");
  return FetchWithIndicators(stmt, [&] { return Mdb().ExtendedFetch(stmt, orientation, offset, row_count, row_status); });
}

EXPORT SQLRETURN SQL_API SQLGetData(SQLHSTMT stmt, SQLUSMALLINT column, SQLSMALLINT c_type, SQLPOINTER value,
                                   SQLLEN buffer_length, SQLLEN* indicator) {
  Begin(stmt);
  const PrimedIndicator primed = PrimeIndicator(indicator);
  const SQLRETURN result = Mdb().GetData(stmt, column, c_type, value, buffer_length, indicator);
  WidenIndicator(primed);
  return result;
}

EXPORT SQLRETURN SQL_API SQLRowCount(SQLHSTMT stmt, SQLLEN* count) {
  Begin(stmt);
  // mdbtools counts the rows fetched so far, 0 right after a SELECT, which
  // clients that trust it (R's RODBC) take for an empty result. Every
  // statement it runs is a SELECT, whose row count ODBC lets a driver leave
  // unknown: -1.
  SQLSMALLINT columns = 0;
  if (SQL_SUCCEEDED(Mdb().NumResultCols(stmt, &columns)) && columns > 0) {
    if (count) *count = -1;
    return SQL_SUCCESS;
  }
  const PrimedIndicator primed = PrimeIndicator(count);
  const SQLRETURN result = Mdb().RowCount(stmt, count);
  WidenIndicator(primed);
  return result;
}

EXPORT SQLRETURN SQL_API SQLMoreResults(SQLHSTMT stmt) {
  Begin(stmt);
  return Mdb().MoreResults(stmt);
}

EXPORT SQLRETURN SQL_API SQLTables(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalog_length, SQLCHAR* schema,
                                  SQLSMALLINT schema_length, SQLCHAR* table, SQLSMALLINT table_length,
                                  SQLCHAR* types, SQLSMALLINT types_length) {
  Begin(stmt);
  return Mdb().Tables(stmt, catalog, catalog_length, schema, schema_length, table, table_length, types,
                      types_length);
}

EXPORT SQLRETURN SQL_API SQLColumns(SQLHSTMT stmt, SQLCHAR* catalog, SQLSMALLINT catalog_length, SQLCHAR* schema,
                                   SQLSMALLINT schema_length, SQLCHAR* table, SQLSMALLINT table_length,
                                   SQLCHAR* column, SQLSMALLINT column_length) {
  Begin(stmt);
  return Mdb().Columns(stmt, catalog, catalog_length, schema, schema_length, table, table_length, column,
                       column_length);
}

EXPORT SQLRETURN SQL_API SQLGetStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                                       SQLINTEGER buffer_length, SQLINTEGER* length) {
  HandleState& state = Begin(stmt);
  if (!Mdb().GetStmtAttr) return Missing(state, "SQLGetStmtAttr");
  return Mdb().GetStmtAttr(stmt, attribute, value, buffer_length, length);
}

EXPORT SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  HandleState& state = Begin(dbc);
  const auto number = reinterpret_cast<SQLULEN>(value);
  switch (attribute) {
    case SQL_ATTR_AUTOCOMMIT:
      // Reads only: with or without autocommit there is nothing to commit.
      state.autocommit = number;
      return SQL_SUCCESS;
    case SQL_ATTR_ACCESS_MODE:
      if (number == SQL_MODE_READ_ONLY) return SQL_SUCCESS;
      state.records.push_back({"01S02", "[Tarnwick][Access driver] The data source is read-only; access mode stays read-only"});
      return SQL_SUCCESS_WITH_INFO;
    case SQL_ATTR_LOGIN_TIMEOUT:
    case SQL_ATTR_CONNECTION_TIMEOUT:
    case SQL_ATTR_QUIET_MODE:
      return SQL_SUCCESS;  // A local file: nothing to wait for, no dialogs.
    default:
      return Fail(state, "HYC00", "Connection attribute " + std::to_string(attribute) + " is not supported");
  }
}

EXPORT SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER,
                                          SQLINTEGER* length) {
  HandleState& state = Begin(dbc);
  SQLUINTEGER answer = 0;
  switch (attribute) {
    case SQL_ATTR_AUTOCOMMIT: answer = static_cast<SQLUINTEGER>(state.autocommit); break;
    case SQL_ATTR_ACCESS_MODE: answer = SQL_MODE_READ_ONLY; break;
    case SQL_ATTR_CONNECTION_DEAD: answer = SQL_CD_FALSE; break;
    case SQL_ATTR_LOGIN_TIMEOUT:
    case SQL_ATTR_CONNECTION_TIMEOUT: answer = 0; break;
    default:
      return Fail(state, "HY092", "Connection attribute " + std::to_string(attribute) + " is not supported");
  }
  if (value) std::memcpy(value, &answer, sizeof answer);
  if (length) *length = sizeof answer;
  return SQL_SUCCESS;
}

EXPORT SQLRETURN SQL_API SQLEndTran(SQLSMALLINT, SQLHANDLE handle, SQLSMALLINT) {
  Begin(handle);
  return SQL_SUCCESS;  // Nothing is ever written, so there is nothing to commit or roll back.
}

EXPORT SQLRETURN SQL_API SQLSetStmtAttr(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value, SQLINTEGER) {
  HandleState& state = Begin(stmt);
  const auto number = reinterpret_cast<SQLULEN>(value);
  auto changed = [&](const char* what) {
    state.records.push_back({"01S02", std::string("[Tarnwick][Access driver] ") + what});
    return SQL_SUCCESS_WITH_INFO;
  };
  switch (attribute) {
    case SQL_ATTR_CURSOR_TYPE:
      return number == SQL_CURSOR_FORWARD_ONLY ? SQL_SUCCESS : changed("Cursors are forward-only");
    case SQL_ATTR_CONCURRENCY:
      return number == SQL_CONCUR_READ_ONLY ? SQL_SUCCESS : changed("Cursors are read-only");
    case SQL_ATTR_CURSOR_SCROLLABLE:
      return number == SQL_NONSCROLLABLE ? SQL_SUCCESS : Fail(state, "HYC00", "Cursors cannot scroll");
    case SQL_ATTR_ROW_ARRAY_SIZE:
    case SQL_ROWSET_SIZE:
      // Clients fall back to one row when told the size was changed.
      return number == 1 ? SQL_SUCCESS : changed("mdbtools fetches one row at a time; the row array size stays 1");
    case SQL_ATTR_PARAMSET_SIZE:
      return number == 1 ? SQL_SUCCESS : Fail(state, "HYC00", "Arrays of parameters are not supported");
    case SQL_ATTR_ROW_BIND_TYPE:
      return number == SQL_BIND_BY_COLUMN ? SQL_SUCCESS : Fail(state, "HYC00", "Only column-wise binding is supported");
    case SQL_ATTR_ROWS_FETCHED_PTR:
      state.rows_fetched = static_cast<SQLULEN*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_ROW_STATUS_PTR:
      state.row_status = static_cast<SQLUSMALLINT*>(value);
      return SQL_SUCCESS;
    case SQL_ATTR_QUERY_TIMEOUT:
    case SQL_ATTR_NOSCAN:
    case SQL_ATTR_MAX_LENGTH:
      return SQL_SUCCESS;  // Hints that change no answer.
    case SQL_ATTR_MAX_ROWS:
      return number == 0 ? SQL_SUCCESS : Fail(state, "HYC00", "A row limit is written as TOP or LIMIT in the statement");
    default:
      return Fail(state, "HYC00", "Statement attribute " + std::to_string(attribute) + " is not supported");
  }
}

// The ODBC 2 option calls stay as mdbtools has them: unixODBC maps clients'
// connection and statement attributes onto them.
EXPORT SQLRETURN SQL_API SQLSetConnectOption(SQLHDBC dbc, SQLUSMALLINT option, SQLULEN value) {
  Begin(dbc);
  return Mdb().SetConnectOption(dbc, option, value);
}
EXPORT SQLRETURN SQL_API SQLGetConnectOption(SQLHDBC dbc, SQLUSMALLINT option, SQLPOINTER value) {
  Begin(dbc);
  return Mdb().GetConnectOption(dbc, option, value);
}
EXPORT SQLRETURN SQL_API SQLSetStmtOption(SQLHSTMT stmt, SQLUSMALLINT option, SQLULEN value) {
  Begin(stmt);
  return Mdb().SetStmtOption(stmt, option, value);
}
EXPORT SQLRETURN SQL_API SQLGetStmtOption(SQLHSTMT stmt, SQLUSMALLINT option, SQLPOINTER value) {
  Begin(stmt);
  return Mdb().GetStmtOption(stmt, option, value);
}
EXPORT SQLRETURN SQL_API SQLTransact(SQLHENV env, SQLHDBC dbc, SQLUSMALLINT type) {
  return Mdb().Transact(env, dbc, type);
}
EXPORT SQLRETURN SQL_API SQLCancel(SQLHSTMT stmt) { return Mdb().Cancel(stmt); }

// Our own records first, in order; then mdbtools' own.
EXPORT SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT type, SQLHANDLE handle, SQLSMALLINT number, SQLCHAR* sql_state,
                                      SQLINTEGER* native, SQLCHAR* message, SQLSMALLINT message_max,
                                      SQLSMALLINT* message_length) {
  HandleState& state = StateOf(handle);
  if (number < 1) return SQL_ERROR;
  if (static_cast<std::size_t>(number) <= state.records.size()) {
    const Record& r = state.records[static_cast<std::size_t>(number) - 1];
    if (sql_state) std::memcpy(sql_state, r.sql_state.c_str(), 6);
    if (native) *native = 0;
    const InfoValue text = r.message;
    return WriteInfo(text, message, message_max, message_length);
  }
  if (!state.records.empty()) return SQL_NO_DATA;
  const MdbFunctions& mdb = Mdb();
  if (mdb.GetDiagRec) return mdb.GetDiagRec(type, handle, number, sql_state, native, message, message_max, message_length);
  if (number != 1) return SQL_NO_DATA;
  return mdb.Error(type == SQL_HANDLE_ENV ? handle : SQL_NULL_HENV, type == SQL_HANDLE_DBC ? handle : SQL_NULL_HDBC,
                   type == SQL_HANDLE_STMT ? handle : SQL_NULL_HSTMT, sql_state, native, message, message_max,
                   message_length);
}

EXPORT SQLRETURN SQL_API SQLError(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, SQLCHAR* sql_state, SQLINTEGER* native,
                                 SQLCHAR* message, SQLSMALLINT message_max, SQLSMALLINT* message_length) {
  const SQLHANDLE handle = stmt ? stmt : dbc ? dbc : env;
  HandleState& state = StateOf(handle);
  if (state.records_returned < state.records.size()) {
    const Record& r = state.records[state.records_returned++];
    if (sql_state) std::memcpy(sql_state, r.sql_state.c_str(), 6);
    if (native) *native = 0;
    const InfoValue text = r.message;
    return WriteInfo(text, message, message_max, message_length);
  }
  if (!state.records.empty()) return SQL_NO_DATA;
  return Mdb().Error(env, dbc, stmt, sql_state, native, message, message_max, message_length);
}

}  // extern "C"
