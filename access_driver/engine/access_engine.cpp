#include "access_engine.h"

#include <optional>
#include <string>

#include "access_connection.h"
#include "access_vtab.h"
#include "column_shape.h"
#include "read_only_guard.h"

namespace tarnwick::access {
namespace {

// Text compares as Access compares it when the collation of that name is
// registered (the driver's SQL functions bring it); SQLite's NOCASE otherwise.
std::string TextCollation(sqlite3* db) {
    sqlite3_stmt* stmt = nullptr;
    bool found = false;
    if (sqlite3_prepare_v2(db, "SELECT 1 FROM pragma_collation_list WHERE name = 'ACCESS'", -1, &stmt, nullptr) ==
        SQLITE_OK) {
        found = sqlite3_step(stmt) == SQLITE_ROW;
    }
    sqlite3_finalize(stmt);
    return found ? "ACCESS" : "NOCASE";
}

int Exec(sqlite3* db, const std::string& sql, std::string& error) {
    char* message = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &message);
    if (rc != SQLITE_OK) {
        error = message ? message : sqlite3_errstr(rc);
    }
    sqlite3_free(message);
    return rc;
}

void BindOptional(sqlite3_stmt* stmt, int index, std::optional<long long> value) {
    if (value) {
        sqlite3_bind_int64(stmt, index, *value);
    } else {
        sqlite3_bind_null(stmt, index);
    }
}

int InsertColumn(sqlite3_stmt* insert, const std::string& table, int ordinal, const ColumnInfo& column) {
    const ColumnShape shape = ShapeOf(column);
    sqlite3_bind_text(insert, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(insert, 2, column.name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(insert, 3, ordinal);
    sqlite3_bind_text(insert, 4, shape.typeName.c_str(), -1, SQLITE_TRANSIENT);
    // ODBC 3 files the date and time types 91 to 93 under SQL_DATETIME (9)
    // with a subcode; ODBC 2 numbers them 9 to 11.
    const bool datetime = shape.dataType >= 91 && shape.dataType <= 93;
    sqlite3_bind_int(insert, 5, shape.dataType);
    sqlite3_bind_int(insert, 6, datetime ? shape.dataType - 82 : shape.dataType);
    sqlite3_bind_int(insert, 7, datetime ? 9 : shape.dataType);
    BindOptional(insert, 8, datetime ? std::optional<long long>(shape.dataType - 90) : std::nullopt);
    sqlite3_bind_int64(insert, 9, shape.columnSize);
    sqlite3_bind_int64(insert, 10, shape.bufferLength);
    BindOptional(insert, 11, shape.decimalDigits);
    BindOptional(insert, 12, shape.radix);
    sqlite3_bind_int(insert, 13, column.nullable ? 1 : 0);
    BindOptional(insert, 14, shape.octetLength);
    sqlite3_bind_text(insert, 15, column.nullable ? "YES" : "NO", -1, SQLITE_STATIC);
    const int rc = sqlite3_step(insert) == SQLITE_DONE ? SQLITE_OK : SQLITE_ERROR;
    sqlite3_reset(insert);
    return rc;
}

// Fills the catalog tables with bound values.
int WriteCatalog(sqlite3* db, const AccessConnection& connection, std::string& error) {
    int rc = Exec(db,
                  "CREATE TEMP TABLE tarnwick_catalog_tables(name TEXT, type TEXT);"
                  "CREATE TEMP TABLE tarnwick_catalog_indexes(table_name TEXT, index_name TEXT,"
                  " non_unique INTEGER, ordinal INTEGER, column_name TEXT, is_primary INTEGER);"
                  // Declared types, so that a client is told SMALLINT and
                  // INTEGER for the columns ODBC defines so, even when NULL.
                  "CREATE TEMP TABLE tarnwick_catalog_columns(table_name TEXT, column_name TEXT, ordinal INTEGER,"
                  " type_name TEXT, data_type SMALLINT, odbc2_data_type SMALLINT, sql_data_type SMALLINT,"
                  " datetime_subcode SMALLINT, column_size INTEGER, buffer_length INTEGER, decimal_digits SMALLINT,"
                  " radix SMALLINT, nullable SMALLINT, octet_length INTEGER, is_nullable TEXT);",
                  error);
    if (rc != SQLITE_OK) {
        return rc;
    }
    sqlite3_stmt* tables = nullptr;
    sqlite3_stmt* indexes = nullptr;
    sqlite3_stmt* columns = nullptr;
    rc = sqlite3_prepare_v2(db, "INSERT INTO tarnwick_catalog_tables VALUES(?, ?)", -1, &tables, nullptr);
    if (rc == SQLITE_OK) {
        rc = sqlite3_prepare_v2(db, "INSERT INTO tarnwick_catalog_indexes VALUES(?, ?, ?, ?, ?, ?)", -1, &indexes,
                                nullptr);
    }
    if (rc == SQLITE_OK) {
        rc = sqlite3_prepare_v2(
            db, "INSERT INTO tarnwick_catalog_columns VALUES(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)", -1,
            &columns, nullptr);
    }
    for (const AccessTable& table : connection.Tables()) {
        if (rc != SQLITE_OK) {
            break;
        }
        sqlite3_bind_text(tables, 1, table.name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(tables, 2, table.system ? "SYSTEM TABLE" : "TABLE", -1, SQLITE_STATIC);
        rc = sqlite3_step(tables) == SQLITE_DONE ? SQLITE_OK : SQLITE_ERROR;
        sqlite3_reset(tables);
        for (std::size_t i = 0; i < table.columns.size() && rc == SQLITE_OK; ++i) {
            rc = InsertColumn(columns, table.name, static_cast<int>(i) + 1, table.columns[i]);
        }
        for (const IndexColumn& index : table.indexes) {
            if (rc != SQLITE_OK) {
                break;
            }
            sqlite3_bind_text(indexes, 1, table.name.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_text(indexes, 2, index.index.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(indexes, 3, index.unique ? 0 : 1);
            sqlite3_bind_int(indexes, 4, index.ordinal);
            sqlite3_bind_text(indexes, 5, index.column.c_str(), -1, SQLITE_TRANSIENT);
            sqlite3_bind_int(indexes, 6, index.primary ? 1 : 0);
            rc = sqlite3_step(indexes) == SQLITE_DONE ? SQLITE_OK : SQLITE_ERROR;
            sqlite3_reset(indexes);
        }
    }
    if (rc != SQLITE_OK) {
        error = sqlite3_errmsg(db);
    }
    sqlite3_finalize(tables);
    sqlite3_finalize(indexes);
    sqlite3_finalize(columns);
    return rc;
}

// tarnwick_open(path): the number of tables made available.
void OpenFunction(sqlite3_context* context, int, sqlite3_value** argv) {
    auto* connection = static_cast<AccessConnection*>(sqlite3_user_data(context));
    sqlite3* db = sqlite3_context_db_handle(context);
    if (connection->IsOpen()) {
        sqlite3_result_error(context, "a database file is already open on this connection", -1);
        return;
    }
    const auto* path = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    if (!path || !*path) {
        sqlite3_result_error(context, "no database file was given", -1);
        return;
    }
    std::string error;
    if (!connection->Open(path, TextCollation(db), error)) {
        sqlite3_result_error(context, error.c_str(), -1);
        return;
    }
    int made = 0;
    const auto& tables = connection->Tables();
    for (std::size_t i = 0; i < tables.size(); ++i) {
        const std::string sql = "CREATE VIRTUAL TABLE main." + QuotedIdentifier(tables[i].name) + " USING access(" +
                                std::to_string(i) + ")";
        // A name SQLite reserves (sqlite_...) cannot be a table of ours.
        std::string ignored;
        if (Exec(db, sql, ignored) == SQLITE_OK) {
            ++made;
        }
    }
    if (WriteCatalog(db, *connection, error) != SQLITE_OK) {
        sqlite3_result_error(context, ("cannot write the catalog: " + error).c_str(), -1);
        return;
    }
    InstallReadOnlyGuard(db, &connection->declaring);
    sqlite3_result_int(context, made);
}

} // namespace

int RegisterAccessEngine(sqlite3* db) {
    auto* connection = new AccessConnection();
    int rc = RegisterAccessModule(db, connection);
    if (rc != SQLITE_OK) {
        // sqlite3_create_module_v2 calls the destructor on failure.
        return rc;
    }
    return sqlite3_create_function_v2(db, "tarnwick_open", 1, SQLITE_UTF8 | SQLITE_DIRECTONLY, connection, OpenFunction,
                                      nullptr, nullptr, nullptr);
}

} // namespace tarnwick::access
