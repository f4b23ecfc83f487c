#pragma once

#include <optional>
#include <string>
#include <vector>

namespace access_driver {

// A catalog call as a SELECT over the engine's catalog tables, with its
// parameters to bind in order (a null one binds SQL NULL). The result
// columns are named and ordered as ODBC defines them for the call.
struct CatalogQuery {
    std::string sql;
    std::vector<std::string> parameters;
};

// SQLTables: user tables as TABLE, MSys* tables as SYSTEM TABLE; the table
// name is a pattern ('%', '_', '\' escapes), the types a comma-separated
// list, quoted or not. The special calls that list catalogs, schemas or
// table types give those lists (this data source has no catalogs or schemas).
CatalogQuery TablesQuery(const std::optional<std::string>& catalog, const std::optional<std::string>& schema,
                         const std::optional<std::string>& table, const std::optional<std::string>& types);

// SQLColumns: the columns of the tables whose names match the table pattern,
// those whose names match the column pattern, with types and sizes as a
// result column of that table is described. An ODBC 2 client gets ODBC 2's
// date and time types.
CatalogQuery ColumnsQuery(const std::optional<std::string>& catalog, const std::optional<std::string>& schema,
                          const std::optional<std::string>& table, const std::optional<std::string>& column,
                          bool odbc2);

// SQLStatistics over the file's indexes (unique ones only if asked).
CatalogQuery StatisticsQuery(const std::string& table, bool unique_only);

// SQLPrimaryKeys: the columns of the file's primary key index.
CatalogQuery PrimaryKeysQuery(const std::string& table);

} // namespace access_driver
