#include "info.h"

#include <algorithm>
#include <cstring>

namespace access_driver {
namespace {

SQLUSMALLINT Small(int v) { return static_cast<SQLUSMALLINT>(v); }
SQLUINTEGER Mask(unsigned long v) { return static_cast<SQLUINTEGER>(v); }

} // namespace

std::optional<InfoValue> OwnInfo(SQLUSMALLINT info_type, const ConnectionFacts& connection) {
    switch (info_type) {
    // Who we are.
    case SQL_DRIVER_NAME:
        return std::string("libtarnwick-mdbodbc.so");
    case SQL_DRIVER_VER:
        return std::string("02.00.0000");
    case SQL_DBMS_NAME:
        return std::string("ACCESS");
    case SQL_DATA_SOURCE_NAME:
        return connection.data_source;
    case SQL_DATABASE_NAME:
        return connection.database;
    case SQL_SERVER_NAME:
    case SQL_USER_NAME:
        return std::string();

    // One file, read in place: no catalogs or schemas, no writes.
    case SQL_DATA_SOURCE_READ_ONLY:
        return std::string("Y");
    case SQL_FILE_USAGE:
        return Small(SQL_FILE_NOT_SUPPORTED);
    case SQL_CATALOG_USAGE:
    case SQL_SCHEMA_USAGE:
        return Mask(0);
    case SQL_CATALOG_NAME:
        return std::string("N");
    case SQL_CATALOG_TERM:
    case SQL_CATALOG_NAME_SEPARATOR:
    case SQL_SCHEMA_TERM:
    case SQL_PROCEDURE_TERM:
        return std::string();
    case SQL_TABLE_TERM:
        return std::string("table");
    case SQL_ACCESSIBLE_TABLES:
        return std::string("Y");
    case SQL_PROCEDURES:
    case SQL_ACCESSIBLE_PROCEDURES:
        return std::string("N");
    case SQL_ALTER_TABLE:
    case SQL_ALTER_DOMAIN:
    case SQL_CREATE_ASSERTION:
    case SQL_CREATE_CHARACTER_SET:
    case SQL_CREATE_COLLATION:
    case SQL_CREATE_DOMAIN:
    case SQL_CREATE_SCHEMA:
    case SQL_CREATE_TABLE:
    case SQL_CREATE_TRANSLATION:
    case SQL_CREATE_VIEW:
    case SQL_DROP_ASSERTION:
    case SQL_DROP_CHARACTER_SET:
    case SQL_DROP_COLLATION:
    case SQL_DROP_DOMAIN:
    case SQL_DROP_SCHEMA:
    case SQL_DROP_TABLE:
    case SQL_DROP_TRANSLATION:
    case SQL_DROP_VIEW:
    case SQL_DDL_INDEX:
    case SQL_INSERT_STATEMENT:
    case SQL_POS_OPERATIONS:
    case SQL_POSITIONED_STATEMENTS:
    case SQL_STATIC_SENSITIVITY:
    case SQL_LOCK_TYPES:
        return Mask(0);
    case SQL_INDEX_KEYWORDS:
        return Mask(SQL_IK_NONE);
    case SQL_ROW_UPDATES:
        return std::string("N");
    case SQL_SCROLL_CONCURRENCY:
        return Mask(SQL_SCCO_READ_ONLY);
    case SQL_TXN_CAPABLE:
        return Small(SQL_TC_NONE);
    case SQL_TXN_ISOLATION_OPTION:
    case SQL_DEFAULT_TXN_ISOLATION:
        return Mask(0);
    case SQL_MULTIPLE_ACTIVE_TXN:
        return std::string("N");

    // Names: Access keeps their case and compares without it. Names are
    // quoted as SQLite quotes them, or in [brackets] as Access users do.
    case SQL_IDENTIFIER_CASE:
    case SQL_QUOTED_IDENTIFIER_CASE:
        return Small(SQL_IC_MIXED);
    case SQL_IDENTIFIER_QUOTE_CHAR:
        return std::string("\"");
    // SQLTables and its kin read patterns with '\' escaping '%' and '_'.
    case SQL_SEARCH_PATTERN_ESCAPE:
        return std::string("\\");
    case SQL_MAX_TABLE_NAME_LEN:
    case SQL_MAX_COLUMN_NAME_LEN:
        return Small(64);
    default:
        return std::nullopt;
    }
}

bool IsStringInfo(SQLUSMALLINT info_type) {
    switch (info_type) {
    case SQL_ACCESSIBLE_PROCEDURES:
    case SQL_ACCESSIBLE_TABLES:
    case SQL_CATALOG_NAME:
    case SQL_CATALOG_NAME_SEPARATOR:
    case SQL_CATALOG_TERM:
    case SQL_COLLATION_SEQ:
    case SQL_COLUMN_ALIAS:
    case SQL_DATA_SOURCE_NAME:
    case SQL_DATA_SOURCE_READ_ONLY:
    case SQL_DATABASE_NAME:
    case SQL_DBMS_NAME:
    case SQL_DBMS_VER:
    case SQL_DESCRIBE_PARAMETER:
    case SQL_DM_VER:
    case SQL_DRIVER_NAME:
    case SQL_DRIVER_ODBC_VER:
    case SQL_DRIVER_VER:
    case SQL_EXPRESSIONS_IN_ORDERBY:
    case SQL_IDENTIFIER_QUOTE_CHAR:
    case SQL_INTEGRITY:
    case SQL_KEYWORDS:
    case SQL_LIKE_ESCAPE_CLAUSE:
    case SQL_MAX_ROW_SIZE_INCLUDES_LONG:
    case SQL_MULT_RESULT_SETS:
    case SQL_MULTIPLE_ACTIVE_TXN:
    case SQL_NEED_LONG_DATA_LEN:
    case SQL_ODBC_VER:
    case SQL_ORDER_BY_COLUMNS_IN_SELECT:
    case SQL_OUTER_JOINS:
    case SQL_PROCEDURE_TERM:
    case SQL_PROCEDURES:
    case SQL_ROW_UPDATES:
    case SQL_SCHEMA_TERM:
    case SQL_SEARCH_PATTERN_ESCAPE:
    case SQL_SERVER_NAME:
    case SQL_SPECIAL_CHARACTERS:
    case SQL_TABLE_TERM:
    case SQL_USER_NAME:
    case SQL_XOPEN_CLI_YEAR:
        return true;
    default:
        return false;
    }
}

SQLRETURN WriteInfo(const InfoValue& value, SQLPOINTER buffer, SQLSMALLINT buffer_length, SQLSMALLINT* string_length) {
    if (const auto* text = std::get_if<std::string>(&value)) {
        if (string_length)
            *string_length = static_cast<SQLSMALLINT>(text->size());
        if (!buffer)
            return SQL_SUCCESS;
        if (buffer_length <= 0)
            return text->empty() ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
        const std::size_t fits = std::min(text->size(), static_cast<std::size_t>(buffer_length - 1));
        std::memcpy(buffer, text->data(), fits);
        static_cast<char*>(buffer)[fits] = '\0';
        return fits < text->size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    }
    if (const auto* small = std::get_if<SQLUSMALLINT>(&value)) {
        if (buffer)
            std::memcpy(buffer, small, sizeof *small);
        if (string_length)
            *string_length = sizeof *small;
        return SQL_SUCCESS;
    }
    const auto& mask = std::get<SQLUINTEGER>(value);
    if (buffer)
        std::memcpy(buffer, &mask, sizeof mask);
    if (string_length)
        *string_length = sizeof mask;
    return SQL_SUCCESS;
}

bool IsSupportedFunction(SQLUSMALLINT function) {
    switch (function) {
    case SQL_API_SQLALLOCHANDLE:
    case SQL_API_SQLFREEHANDLE:
    case SQL_API_SQLFREESTMT:
    case SQL_API_SQLCLOSECURSOR:
    case SQL_API_SQLCONNECT:
    case SQL_API_SQLDRIVERCONNECT:
    case SQL_API_SQLDISCONNECT:
    case SQL_API_SQLSETENVATTR:
    case SQL_API_SQLGETENVATTR:
    case SQL_API_SQLGETINFO:
    case SQL_API_SQLGETFUNCTIONS:
    case SQL_API_SQLGETTYPEINFO:
    case SQL_API_SQLPREPARE:
    case SQL_API_SQLEXECUTE:
    case SQL_API_SQLEXECDIRECT:
    case SQL_API_SQLNUMPARAMS:
    case SQL_API_SQLDESCRIBEPARAM:
    case SQL_API_SQLBINDPARAMETER:
    case SQL_API_SQLPARAMDATA:
    case SQL_API_SQLPUTDATA:
    case SQL_API_SQLNUMRESULTCOLS:
    case SQL_API_SQLDESCRIBECOL:
    case SQL_API_SQLCOLATTRIBUTE:
    case SQL_API_SQLBINDCOL:
    case SQL_API_SQLFETCH:
    case SQL_API_SQLFETCHSCROLL:
    case SQL_API_SQLEXTENDEDFETCH:
    case SQL_API_SQLGETDATA:
    case SQL_API_SQLROWCOUNT:
    case SQL_API_SQLMORERESULTS:
    case SQL_API_SQLTABLES:
    case SQL_API_SQLCOLUMNS:
    case SQL_API_SQLSTATISTICS:
    case SQL_API_SQLPRIMARYKEYS:
    case SQL_API_SQLGETDIAGREC:
    case SQL_API_SQLSETCONNECTATTR:
    case SQL_API_SQLGETCONNECTATTR:
    case SQL_API_SQLSETSTMTATTR:
    case SQL_API_SQLGETSTMTATTR:
    case SQL_API_SQLGETDESCFIELD:
    case SQL_API_SQLGETDESCREC:
    case SQL_API_SQLSETDESCFIELD:
    case SQL_API_SQLGETCURSORNAME:
    case SQL_API_SQLSETCURSORNAME:
    case SQL_API_SQLENDTRAN:
    case SQL_API_SQLCANCEL:
        return true;
    default:
        return false;
    }
}

} // namespace access_driver
