// The wide (UTF-16) entry points. unixODBC calls them for clients that use
// the wide API once the driver has SQLConnectW or SQLDriverConnectW, and then
// for every wide call, so each one a client may make is here: text is turned
// into UTF-8 for sqliteodbc and SQLite, and answers back into UTF-16.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include "calls.h"
#include "info.h"
#include "sqlite_odbc.h"
#include "wide.h"

using namespace access_driver;

namespace {

std::optional<std::string> WideText(SQLWCHAR* text, SQLINTEGER length) {
    if (!text)
        return std::nullopt;
    return ToUtf8(text, length);
}

// A UTF-8 answer written into a wide buffer whose size is in bytes (the
// attribute calls) or in characters (names), with 01004 when it was cut.
SQLRETURN WriteWideAnswer(SQLHANDLE handle, SQLRETURN result, const std::string& utf8, SQLPOINTER buffer,
                          SQLINTEGER buffer_chars, SQLINTEGER* length_chars) {
    if (!SQL_SUCCEEDED(result))
        return result;
    if (WriteWide(utf8, static_cast<SQLWCHAR*>(buffer), buffer_chars, length_chars) && buffer) {
        Fail(handle, "01004", "String data, right truncated");
        return SQL_SUCCESS_WITH_INFO;
    }
    return result;
}

template <typename Length> void StoreLength(Length* where, SQLINTEGER value) {
    if (where)
        *where = static_cast<Length>(value);
}

// Room for a UTF-8 answer of at most `chars` UTF-16 characters.
std::vector<SQLCHAR> Utf8Room(SQLINTEGER chars) {
    return std::vector<SQLCHAR>(static_cast<std::size_t>(std::max<SQLINTEGER>(chars, 0)) * 4 + 8);
}

bool IsStringColumnField(SQLUSMALLINT field) {
    switch (field) {
    case SQL_DESC_BASE_COLUMN_NAME:
    case SQL_DESC_BASE_TABLE_NAME:
    case SQL_DESC_CATALOG_NAME:
    case SQL_DESC_LABEL:
    case SQL_DESC_LITERAL_PREFIX:
    case SQL_DESC_LITERAL_SUFFIX:
    case SQL_DESC_LOCAL_TYPE_NAME:
    case SQL_DESC_NAME:
    case SQL_DESC_SCHEMA_NAME:
    case SQL_DESC_TABLE_NAME:
    case SQL_DESC_TYPE_NAME:
    case SQL_COLUMN_NAME:
        return true;
    default:
        return false;
    }
}

} // namespace

extern "C" {

#define TARNWICK_EXPORT __attribute__((visibility("default")))

TARNWICK_EXPORT SQLRETURN SQL_API SQLConnectW(SQLHDBC dbc, SQLWCHAR* dsn, SQLSMALLINT dsn_length, SQLWCHAR*,
                                              SQLSMALLINT, SQLWCHAR*, SQLSMALLINT) {
    return Connect(dbc, WideText(dsn, dsn_length).value_or(""));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC dbc, SQLHWND, SQLWCHAR* in, SQLSMALLINT in_length,
                                                    SQLWCHAR* out, SQLSMALLINT out_max, SQLSMALLINT* out_length,
                                                    SQLUSMALLINT) {
    std::string completed;
    const SQLRETURN result = DriverConnect(dbc, WideText(in, in_length).value_or(""), completed);
    SQLINTEGER length = 0;
    const SQLRETURN written = WriteWideAnswer(dbc, result, completed, out, out_max, &length);
    StoreLength(out_length, length);
    return written;
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLPrepareW(SQLHSTMT stmt, SQLWCHAR* sql, SQLINTEGER length) {
    return Prepare(stmt, WideText(sql, length).value_or(""));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLExecDirectW(SQLHSTMT stmt, SQLWCHAR* sql, SQLINTEGER length) {
    return ExecDirect(stmt, WideText(sql, length).value_or(""));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLDescribeColW(SQLHSTMT stmt, SQLUSMALLINT column, SQLWCHAR* name,
                                                  SQLSMALLINT name_max, SQLSMALLINT* name_length, SQLSMALLINT* type,
                                                  SQLULEN* size, SQLSMALLINT* digits, SQLSMALLINT* nullable) {
    Begin(stmt);
    std::vector<SQLCHAR> utf8 = Utf8Room(std::max<SQLSMALLINT>(name_max, 256));
    SQLSMALLINT utf8_length = 0;
    const SQLRETURN result =
        Harvest(SQL_HANDLE_STMT, stmt,
                Backend().DescribeCol(stmt, column, utf8.data(),
                                      static_cast<SQLSMALLINT>(std::min<std::size_t>(utf8.size(), 32767)), &utf8_length,
                                      type, size, digits, nullable));
    SQLINTEGER length = 0;
    const SQLRETURN written =
        WriteWideAnswer(stmt, result, reinterpret_cast<char*>(utf8.data()), name, name_max, &length);
    StoreLength(name_length, length);
    return written;
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLColAttributeW(SQLHSTMT stmt, SQLUSMALLINT column, SQLUSMALLINT field,
                                                   SQLPOINTER text, SQLSMALLINT text_max, SQLSMALLINT* text_length,
                                                   SQLLEN* number) {
    Begin(stmt);
    if (!IsStringColumnField(field)) {
        return Harvest(SQL_HANDLE_STMT, stmt,
                       Backend().ColAttribute(stmt, column, field, text, text_max, text_length, number));
    }
    std::vector<SQLCHAR> utf8 = Utf8Room(256);
    SQLSMALLINT utf8_length = 0;
    const SQLRETURN result =
        Harvest(SQL_HANDLE_STMT, stmt,
                Backend().ColAttribute(stmt, column, field, utf8.data(), static_cast<SQLSMALLINT>(utf8.size()),
                                       &utf8_length, number));
    SQLINTEGER chars = 0;
    const SQLRETURN written = WriteWideAnswer(stmt, result, reinterpret_cast<char*>(utf8.data()), text,
                                              text_max / static_cast<SQLSMALLINT>(sizeof(SQLWCHAR)), &chars);
    StoreLength(text_length, chars * static_cast<SQLINTEGER>(sizeof(SQLWCHAR)));
    return written;
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLGetInfoW(SQLHDBC dbc, SQLUSMALLINT type, SQLPOINTER value,
                                              SQLSMALLINT buffer_length, SQLSMALLINT* length) {
    if (!IsStringInfo(type))
        return GetInfo(dbc, type, value, buffer_length, length);
    std::vector<SQLCHAR> utf8(4096);
    SQLSMALLINT utf8_length = 0;
    const SQLRETURN result = GetInfo(dbc, type, utf8.data(), static_cast<SQLSMALLINT>(utf8.size()), &utf8_length);
    SQLINTEGER chars = 0;
    const SQLRETURN written = WriteWideAnswer(dbc, result, reinterpret_cast<char*>(utf8.data()), value,
                                              buffer_length / static_cast<SQLSMALLINT>(sizeof(SQLWCHAR)), &chars);
    StoreLength(length, chars * static_cast<SQLINTEGER>(sizeof(SQLWCHAR)));
    return written;
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLGetTypeInfoW(SQLHSTMT stmt, SQLSMALLINT type) {
    Begin(stmt);
    return Harvest(SQL_HANDLE_STMT, stmt, Backend().GetTypeInfo(stmt, type));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLTablesW(SQLHSTMT stmt, SQLWCHAR* catalog, SQLSMALLINT catalog_length,
                                             SQLWCHAR* schema, SQLSMALLINT schema_length, SQLWCHAR* table,
                                             SQLSMALLINT table_length, SQLWCHAR* types, SQLSMALLINT types_length) {
    return Tables(stmt, WideText(catalog, catalog_length), WideText(schema, schema_length),
                  WideText(table, table_length), WideText(types, types_length));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLColumnsW(SQLHSTMT stmt, SQLWCHAR* catalog, SQLSMALLINT catalog_length,
                                              SQLWCHAR* schema, SQLSMALLINT schema_length, SQLWCHAR* table,
                                              SQLSMALLINT table_length, SQLWCHAR* column, SQLSMALLINT column_length) {
    return Columns(stmt, WideText(catalog, catalog_length), WideText(schema, schema_length),
                   WideText(table, table_length), WideText(column, column_length));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLStatisticsW(SQLHSTMT stmt, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT,
                                                 SQLWCHAR* table, SQLSMALLINT table_length, SQLUSMALLINT unique,
                                                 SQLUSMALLINT) {
    return Statistics(stmt, WideText(table, table_length), unique);
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLPrimaryKeysW(SQLHSTMT stmt, SQLWCHAR*, SQLSMALLINT, SQLWCHAR*, SQLSMALLINT,
                                                  SQLWCHAR* table, SQLSMALLINT table_length) {
    return PrimaryKeys(stmt, WideText(table, table_length));
}

// The attributes a client can set or read are numbers or pointers, except
// the current catalog, which this data source does not have.
TARNWICK_EXPORT SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                                     SQLINTEGER length) {
    return SetConnectAttr(dbc, attribute, value, length);
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC dbc, SQLINTEGER attribute, SQLPOINTER value,
                                                     SQLINTEGER buffer_length, SQLINTEGER* length) {
    if (attribute == SQL_ATTR_CURRENT_CATALOG) {
        Begin(dbc);
        SQLINTEGER chars = 0;
        const SQLRETURN written = WriteWideAnswer(dbc, SQL_SUCCESS, "", value,
                                                  buffer_length / static_cast<SQLINTEGER>(sizeof(SQLWCHAR)), &chars);
        StoreLength(length, 0);
        return written;
    }
    return GetConnectAttr(dbc, attribute, value, buffer_length, length);
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                                                  SQLINTEGER length) {
    Begin(stmt);
    return Harvest(SQL_HANDLE_STMT, stmt, Backend().SetStmtAttr(stmt, attribute, value, length));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLGetStmtAttrW(SQLHSTMT stmt, SQLINTEGER attribute, SQLPOINTER value,
                                                  SQLINTEGER buffer_length, SQLINTEGER* length) {
    Begin(stmt);
    return Harvest(SQL_HANDLE_STMT, stmt, Backend().GetStmtAttr(stmt, attribute, value, buffer_length, length));
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLGetCursorNameW(SQLHSTMT stmt, SQLWCHAR* name, SQLSMALLINT name_max,
                                                    SQLSMALLINT* name_length) {
    Begin(stmt);
    SQLCHAR utf8[256] = "";
    SQLSMALLINT utf8_length = 0;
    const SQLRETURN result =
        Harvest(SQL_HANDLE_STMT, stmt, Backend().GetCursorName(stmt, utf8, sizeof utf8, &utf8_length));
    SQLINTEGER chars = 0;
    const SQLRETURN written = WriteWideAnswer(stmt, result, reinterpret_cast<char*>(utf8), name, name_max, &chars);
    StoreLength(name_length, chars);
    return written;
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLSetCursorNameW(SQLHSTMT stmt, SQLWCHAR* name, SQLSMALLINT name_length) {
    Begin(stmt);
    std::string utf8 = WideText(name, name_length).value_or("");
    return Harvest(SQL_HANDLE_STMT, stmt,
                   Backend().SetCursorName(stmt, reinterpret_cast<SQLCHAR*>(utf8.data()), SQL_NTS));
}

namespace {

// Hands a diagnostic record to a wide caller: its state, native code and
// message, cut to the caller's buffer (then SQL_SUCCESS_WITH_INFO).
SQLRETURN WriteRecord(const Record& record, SQLWCHAR* sql_state, SQLINTEGER* native, SQLWCHAR* message,
                      SQLSMALLINT message_max, SQLSMALLINT* message_length) {
    if (sql_state)
        WriteWide(record.sql_state, sql_state, 6, nullptr);
    if (native)
        *native = record.native;
    SQLINTEGER chars = 0;
    const bool cut = WriteWide(record.message, message, message_max, &chars);
    StoreLength(message_length, chars);
    return cut && message ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
}

} // namespace

TARNWICK_EXPORT SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT, SQLHANDLE handle, SQLSMALLINT number, SQLWCHAR* sql_state,
                                                 SQLINTEGER* native, SQLWCHAR* message, SQLSMALLINT message_max,
                                                 SQLSMALLINT* message_length) {
    if (number < 1)
        return SQL_ERROR;
    const auto record = DiagRecord(handle, number);
    return record ? WriteRecord(*record, sql_state, native, message, message_max, message_length) : SQL_NO_DATA;
}

TARNWICK_EXPORT SQLRETURN SQL_API SQLErrorW(SQLHENV env, SQLHDBC dbc, SQLHSTMT stmt, SQLWCHAR* sql_state,
                                            SQLINTEGER* native, SQLWCHAR* message, SQLSMALLINT message_max,
                                            SQLSMALLINT* message_length) {
    const SQLHANDLE handle = stmt ? stmt : dbc ? dbc : env;
    const auto record = NextErrorRecord(handle);
    return record ? WriteRecord(*record, sql_state, native, message, message_max, message_length) : SQL_NO_DATA;
}

} // extern "C"
