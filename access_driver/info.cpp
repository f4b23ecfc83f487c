#include "info.h"

#include <algorithm>
#include <cstring>

namespace access_driver {
namespace {

SQLUSMALLINT Small(int v) { return static_cast<SQLUSMALLINT>(v); }
SQLUINTEGER Mask(unsigned long v) { return static_cast<SQLUINTEGER>(v); }

}  // namespace

std::optional<InfoValue> InfoFor(SQLUSMALLINT info_type, const std::string& data_source_name) {
  switch (info_type) {
    // Who we are.
    case SQL_DRIVER_NAME: return std::string("libtarnwick-mdbodbc.so");
    case SQL_DRIVER_VER: return std::string("01.00.0000");
    case SQL_DRIVER_ODBC_VER: return std::string("03.00");
    case SQL_DBMS_NAME:
    case SQL_DBMS_VER: return AskMdbtools{};
    case SQL_DATA_SOURCE_NAME: return data_source_name;
    case SQL_SERVER_NAME:
    case SQL_DATABASE_NAME:
    case SQL_USER_NAME: return std::string();
    case SQL_ODBC_INTERFACE_CONFORMANCE: return Mask(SQL_OIC_CORE);
    case SQL_ODBC_API_CONFORMANCE: return Small(SQL_OAC_LEVEL1);
    case SQL_ODBC_SQL_CONFORMANCE: return Small(SQL_OSC_MINIMUM);
    case SQL_ODBC_SAG_CLI_CONFORMANCE: return Small(SQL_OSCC_NOT_COMPLIANT);
    case SQL_SQL_CONFORMANCE: return Mask(0);
    case SQL_STANDARD_CLI_CONFORMANCE: return Mask(0);
    case SQL_XOPEN_CLI_YEAR: return std::string();

    // A file read in place: no catalogs, schemas, procedures or writes.
    case SQL_DATA_SOURCE_READ_ONLY: return std::string("Y");
    case SQL_FILE_USAGE: return Small(SQL_FILE_NOT_SUPPORTED);
    case SQL_CATALOG_USAGE: return Mask(0);
    case SQL_SCHEMA_USAGE: return Mask(0);
    case SQL_CATALOG_NAME: return std::string("N");
    case SQL_CATALOG_TERM:
    case SQL_CATALOG_NAME_SEPARATOR:
    case SQL_SCHEMA_TERM:
    case SQL_PROCEDURE_TERM: return std::string();
    case SQL_CATALOG_LOCATION: return Small(0);
    case SQL_TABLE_TERM: return std::string("table");
    case SQL_ACCESSIBLE_TABLES: return std::string("Y");
    case SQL_ACCESSIBLE_PROCEDURES:
    case SQL_PROCEDURES: return std::string("N");
    case SQL_MAX_CATALOG_NAME_LEN:
    case SQL_MAX_SCHEMA_NAME_LEN:
    case SQL_MAX_PROCEDURE_NAME_LEN:
    case SQL_MAX_USER_NAME_LEN:
    case SQL_MAX_CURSOR_NAME_LEN: return Small(0);

    // Names: Access keeps their case and compares without it; mdbtools reads
    // "..." and [...] as quoted names.
    case SQL_IDENTIFIER_CASE:
    case SQL_QUOTED_IDENTIFIER_CASE: return Small(SQL_IC_MIXED);
    case SQL_IDENTIFIER_QUOTE_CHAR: return std::string("\"");
    case SQL_SPECIAL_CHARACTERS: return std::string();
    case SQL_KEYWORDS: return std::string();
    case SQL_SEARCH_PATTERN_ESCAPE: return std::string();
    case SQL_LIKE_ESCAPE_CLAUSE: return std::string("N");
    case SQL_MAX_COLUMN_NAME_LEN:
    case SQL_MAX_TABLE_NAME_LEN:
    case SQL_MAX_IDENTIFIER_LEN: return Small(64);

    // mdbtools' SQL: SELECT [TOP n] columns|* |COUNT(*) FROM one table
    // [WHERE comparisons, LIKE, IS [NOT] NULL joined by AND, OR, NOT] [LIMIT n].
    case SQL_MAX_TABLES_IN_SELECT: return Small(1);
    case SQL_MAX_COLUMNS_IN_SELECT:
    case SQL_MAX_COLUMNS_IN_GROUP_BY:
    case SQL_MAX_COLUMNS_IN_ORDER_BY:
    case SQL_MAX_COLUMNS_IN_INDEX: return Small(0);
    case SQL_MAX_COLUMNS_IN_TABLE: return Small(255);
    case SQL_MAX_STATEMENT_LEN: return Mask(4095);
    case SQL_MAX_CHAR_LITERAL_LEN: return Mask(255);
    case SQL_MAX_BINARY_LITERAL_LEN:
    case SQL_MAX_INDEX_SIZE:
    case SQL_MAX_ROW_SIZE: return Mask(0);
    case SQL_MAX_ROW_SIZE_INCLUDES_LONG: return std::string("N");
    case SQL_GROUP_BY: return Small(SQL_GB_NOT_SUPPORTED);
    case SQL_ORDER_BY_COLUMNS_IN_SELECT:
    case SQL_EXPRESSIONS_IN_ORDERBY:
    case SQL_COLUMN_ALIAS:
    case SQL_OUTER_JOINS:
    case SQL_MULT_RESULT_SETS:
    case SQL_MULTIPLE_ACTIVE_TXN:
    case SQL_NEED_LONG_DATA_LEN:
    case SQL_ROW_UPDATES:
    case SQL_INTEGRITY:
    case SQL_DESCRIBE_PARAMETER: return std::string("N");
    case SQL_CORRELATION_NAME: return Small(SQL_CN_NONE);
    case SQL_CONCAT_NULL_BEHAVIOR: return Small(SQL_CB_NULL);
    case SQL_NON_NULLABLE_COLUMNS: return Small(SQL_NNC_NULL);
    case SQL_NULL_COLLATION: return Small(SQL_NC_END);
    case SQL_AGGREGATE_FUNCTIONS: return Mask(SQL_AF_COUNT);
    case SQL_SQL92_PREDICATES: return Mask(SQL_SP_COMPARISON | SQL_SP_LIKE | SQL_SP_ISNULL | SQL_SP_ISNOTNULL);
    case SQL_SQL92_RELATIONAL_JOIN_OPERATORS:
    case SQL_SQL92_VALUE_EXPRESSIONS:
    case SQL_SQL92_STRING_FUNCTIONS:
    case SQL_SQL92_NUMERIC_VALUE_FUNCTIONS:
    case SQL_SQL92_DATETIME_FUNCTIONS:
    case SQL_SQL92_ROW_VALUE_CONSTRUCTOR:
    case SQL_SQL92_FOREIGN_KEY_DELETE_RULE:
    case SQL_SQL92_FOREIGN_KEY_UPDATE_RULE:
    case SQL_SQL92_GRANT:
    case SQL_SQL92_REVOKE:
    case SQL_STRING_FUNCTIONS:
    case SQL_NUMERIC_FUNCTIONS:
    case SQL_TIMEDATE_FUNCTIONS:
    case SQL_SYSTEM_FUNCTIONS:
    case SQL_CONVERT_FUNCTIONS:
    case SQL_TIMEDATE_ADD_INTERVALS:
    case SQL_TIMEDATE_DIFF_INTERVALS:
    case SQL_SUBQUERIES:
    case SQL_UNION:
    case SQL_OJ_CAPABILITIES:
    case SQL_DATETIME_LITERALS:
    case SQL_INFO_SCHEMA_VIEWS: return Mask(0);
    case SQL_CONVERT_BIGINT:
    case SQL_CONVERT_BINARY:
    case SQL_CONVERT_BIT:
    case SQL_CONVERT_CHAR:
    case SQL_CONVERT_DATE:
    case SQL_CONVERT_DECIMAL:
    case SQL_CONVERT_DOUBLE:
    case SQL_CONVERT_FLOAT:
    case SQL_CONVERT_INTEGER:
    case SQL_CONVERT_LONGVARCHAR:
    case SQL_CONVERT_NUMERIC:
    case SQL_CONVERT_REAL:
    case SQL_CONVERT_SMALLINT:
    case SQL_CONVERT_TIME:
    case SQL_CONVERT_TIMESTAMP:
    case SQL_CONVERT_TINYINT:
    case SQL_CONVERT_VARBINARY:
    case SQL_CONVERT_VARCHAR:
    case SQL_CONVERT_LONGVARBINARY:
    case SQL_CONVERT_WCHAR:
    case SQL_CONVERT_WVARCHAR:
    case SQL_CONVERT_WLONGVARCHAR: return Mask(0);

    // No definitions, no writes.
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
    case SQL_LOCK_TYPES: return Mask(0);
    case SQL_INDEX_KEYWORDS: return Mask(SQL_IK_NONE);

    // One forward-only, read-only cursor at a time per statement; no
    // transactions, no asynchronous calls, no arrays of parameters.
    case SQL_TXN_CAPABLE: return Small(SQL_TC_NONE);
    case SQL_TXN_ISOLATION_OPTION:
    case SQL_DEFAULT_TXN_ISOLATION: return Mask(0);
    case SQL_CURSOR_COMMIT_BEHAVIOR:
    case SQL_CURSOR_ROLLBACK_BEHAVIOR: return Small(SQL_CB_PRESERVE);
    case SQL_CURSOR_SENSITIVITY: return Mask(SQL_INSENSITIVE);
    case SQL_SCROLL_OPTIONS: return Mask(SQL_SO_FORWARD_ONLY);
    case SQL_SCROLL_CONCURRENCY: return Mask(SQL_SCCO_READ_ONLY);
    case SQL_FETCH_DIRECTION: return Mask(SQL_FD_FETCH_NEXT);
    case SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES1: return Mask(SQL_CA1_NEXT);
    case SQL_FORWARD_ONLY_CURSOR_ATTRIBUTES2: return Mask(SQL_CA2_READ_ONLY_CONCURRENCY);
    case SQL_STATIC_CURSOR_ATTRIBUTES1:
    case SQL_STATIC_CURSOR_ATTRIBUTES2:
    case SQL_DYNAMIC_CURSOR_ATTRIBUTES1:
    case SQL_DYNAMIC_CURSOR_ATTRIBUTES2:
    case SQL_KEYSET_CURSOR_ATTRIBUTES1:
    case SQL_KEYSET_CURSOR_ATTRIBUTES2:
    case SQL_BOOKMARK_PERSISTENCE: return Mask(0);
    case SQL_GETDATA_EXTENSIONS: return Mask(SQL_GD_ANY_COLUMN | SQL_GD_ANY_ORDER);
    case SQL_ACTIVE_CONNECTIONS:
    case SQL_ACTIVE_STATEMENTS:
    case SQL_ACTIVE_ENVIRONMENTS: return Small(0);
    case SQL_ASYNC_MODE: return Mask(SQL_AM_NONE);
    case SQL_MAX_ASYNC_CONCURRENT_STATEMENTS: return Mask(0);
    case SQL_PARAM_ARRAY_ROW_COUNTS: return Mask(SQL_PARC_NO_BATCH);
    case SQL_PARAM_ARRAY_SELECTS: return Mask(SQL_PAS_NO_SELECT);
    case SQL_BATCH_SUPPORT:
    case SQL_BATCH_ROW_COUNT: return Mask(0);
    case SQL_COLLATION_SEQ: return std::string();
    default: return std::nullopt;
  }
}

SQLRETURN WriteInfo(const InfoValue& value, SQLPOINTER buffer, SQLSMALLINT buffer_length,
                    SQLSMALLINT* string_length) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    if (string_length) *string_length = static_cast<SQLSMALLINT>(text->size());
    if (!buffer) return SQL_SUCCESS;
    if (buffer_length <= 0) return text->empty() ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
    const std::size_t fits = std::min(text->size(), static_cast<std::size_t>(buffer_length - 1));
    std::memcpy(buffer, text->data(), fits);
    static_cast<char*>(buffer)[fits] = '\0';
    return fits < text->size() ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
  }
  if (const auto* small = std::get_if<SQLUSMALLINT>(&value)) {
    if (buffer) std::memcpy(buffer, small, sizeof *small);
    if (string_length) *string_length = sizeof *small;
    return SQL_SUCCESS;
  }
  const auto& mask = std::get<SQLUINTEGER>(value);
  if (buffer) std::memcpy(buffer, &mask, sizeof mask);
  if (string_length) *string_length = sizeof mask;
  return SQL_SUCCESS;
}

std::optional<ColumnAttribute> ColumnAttributeFor(SQLUSMALLINT field, const ColumnFacts& c) {
  const bool character = c.sql_type == SQL_CHAR || c.sql_type == SQL_VARCHAR || c.sql_type == SQL_LONGVARCHAR ||
                         c.sql_type == SQL_WCHAR || c.sql_type == SQL_WVARCHAR || c.sql_type == SQL_WLONGVARCHAR;
  const bool binary = c.sql_type == SQL_BINARY || c.sql_type == SQL_VARBINARY || c.sql_type == SQL_LONGVARBINARY;
  const bool numeric = !character && !binary && c.sql_type != SQL_TYPE_TIMESTAMP && c.sql_type != SQL_TIMESTAMP &&
                       c.sql_type != SQL_TYPE_DATE && c.sql_type != SQL_TYPE_TIME && c.sql_type != SQL_GUID;
  switch (field) {
    case SQL_DESC_COUNT: return SQLLEN{c.column_count};
    case SQL_DESC_NAME:
    case SQL_DESC_LABEL:
    case SQL_DESC_BASE_COLUMN_NAME:
    case SQL_COLUMN_NAME: return c.name;
    case SQL_DESC_UNNAMED: return SQLLEN{c.name.empty() ? SQL_UNNAMED : SQL_NAMED};
    // mdbtools does not say which table a column of a result came from.
    case SQL_DESC_TABLE_NAME:
    case SQL_DESC_BASE_TABLE_NAME:
    case SQL_DESC_SCHEMA_NAME:
    case SQL_DESC_CATALOG_NAME: return std::string();
    case SQL_DESC_TYPE_NAME:
    case SQL_DESC_LOCAL_TYPE_NAME: return c.type_name;
    case SQL_DESC_CONCISE_TYPE: return SQLLEN{c.sql_type};
    case SQL_DESC_TYPE:
      // The verbose type of a date or time is SQL_DATETIME.
      return SQLLEN{c.sql_type == SQL_TYPE_TIMESTAMP || c.sql_type == SQL_TYPE_DATE || c.sql_type == SQL_TYPE_TIME
                        ? SQL_DATETIME
                        : c.sql_type};
    case SQL_DESC_LENGTH:
    case SQL_DESC_OCTET_LENGTH:
    case SQL_DESC_PRECISION:
    case SQL_COLUMN_LENGTH:
    case SQL_COLUMN_PRECISION: return static_cast<SQLLEN>(c.size);
    case SQL_DESC_SCALE:
    case SQL_COLUMN_SCALE: return SQLLEN{c.decimal_digits};
    case SQL_DESC_DISPLAY_SIZE: return c.display_size > 0 ? c.display_size : static_cast<SQLLEN>(c.size);
    case SQL_DESC_NULLABLE:
    case SQL_COLUMN_NULLABLE: return SQLLEN{c.nullable};
    case SQL_DESC_UNSIGNED: return SQLLEN{numeric ? SQL_FALSE : SQL_TRUE};
    case SQL_DESC_FIXED_PREC_SCALE: return SQLLEN{c.sql_type == SQL_NUMERIC || c.sql_type == SQL_DECIMAL ? SQL_TRUE : SQL_FALSE};
    case SQL_DESC_AUTO_UNIQUE_VALUE: return SQLLEN{SQL_FALSE};
    case SQL_DESC_CASE_SENSITIVE: return SQLLEN{SQL_FALSE};
    case SQL_DESC_SEARCHABLE:
      // Text compares with = and LIKE, the rest with comparisons only;
      // mdbtools cannot search memo-like long values it truncates.
      return SQLLEN{binary ? SQL_PRED_NONE : character ? SQL_PRED_SEARCHABLE : SQL_PRED_BASIC};
    case SQL_DESC_UPDATABLE: return SQLLEN{SQL_ATTR_READONLY};
    case SQL_DESC_NUM_PREC_RADIX: return SQLLEN{numeric ? 10 : 0};
    case SQL_DESC_LITERAL_PREFIX:
    case SQL_DESC_LITERAL_SUFFIX: return std::string(character ? "'" : "");
    default: return std::nullopt;
  }
}

bool IsSupportedFunction(SQLUSMALLINT function) {
  switch (function) {
    case SQL_API_SQLALLOCHANDLE:
    case SQL_API_SQLALLOCCONNECT:
    case SQL_API_SQLALLOCENV:
    case SQL_API_SQLALLOCSTMT:
    case SQL_API_SQLFREEHANDLE:
    case SQL_API_SQLFREECONNECT:
    case SQL_API_SQLFREEENV:
    case SQL_API_SQLFREESTMT:
    case SQL_API_SQLCONNECT:
    case SQL_API_SQLDRIVERCONNECT:
    case SQL_API_SQLDISCONNECT:
    case SQL_API_SQLSETENVATTR:
    case SQL_API_SQLGETINFO:
    case SQL_API_SQLGETFUNCTIONS:
    case SQL_API_SQLGETTYPEINFO:
    case SQL_API_SQLPREPARE:
    case SQL_API_SQLEXECUTE:
    case SQL_API_SQLEXECDIRECT:
    case SQL_API_SQLNUMPARAMS:
    case SQL_API_SQLDESCRIBEPARAM:
    case SQL_API_SQLBINDPARAMETER:
    case SQL_API_SQLNUMRESULTCOLS:
    case SQL_API_SQLDESCRIBECOL:
    case SQL_API_SQLCOLATTRIBUTE:
    case SQL_API_SQLBINDCOL:
    case SQL_API_SQLFETCH:
    case SQL_API_SQLGETDATA:
    case SQL_API_SQLROWCOUNT:
    case SQL_API_SQLMORERESULTS:
    case SQL_API_SQLCLOSECURSOR:
    case SQL_API_SQLTABLES:
    case SQL_API_SQLCOLUMNS:
    case SQL_API_SQLERROR:
    case SQL_API_SQLGETDIAGREC:
    case SQL_API_SQLSETCONNECTATTR:
    case SQL_API_SQLGETCONNECTATTR:
    case SQL_API_SQLSETSTMTATTR:
    case SQL_API_SQLGETSTMTATTR:
    case SQL_API_SQLENDTRAN:
      return true;
    default:
      return false;
  }
}

}  // namespace access_driver
