#include "catalog.h"

namespace access_driver {
namespace {

constexpr const char* kTableColumns = "SELECT CAST(NULL AS TEXT) AS TABLE_CAT, CAST(NULL AS TEXT) AS TABLE_SCHEM, ";

// "'TABLE', 'SYSTEM TABLE'" or "TABLE,VIEW" as a list of names.
std::vector<std::string> TableTypes(const std::string& list) {
    std::vector<std::string> types;
    std::string current;
    auto flush = [&] {
        const auto first = current.find_first_not_of(" '");
        if (first != std::string::npos) {
            const auto last = current.find_last_not_of(" '");
            types.push_back(current.substr(first, last - first + 1));
        }
        current.clear();
    };
    for (char c : list) {
        if (c == ',') {
            flush();
        } else {
            current += c;
        }
    }
    flush();
    return types;
}

} // namespace

CatalogQuery TablesQuery(const std::optional<std::string>& catalog, const std::optional<std::string>& schema,
                         const std::optional<std::string>& table, const std::optional<std::string>& types) {
    const std::string select = std::string(kTableColumns) +
                               "CAST(NULL AS TEXT) AS TABLE_NAME, CAST(NULL AS TEXT) AS TABLE_TYPE, "
                               "CAST(NULL AS TEXT) AS REMARKS";
    const bool no_table = table && table->empty();
    // The enumerations ODBC defines: catalogs, schemas, table types.
    if (catalog == "%" && schema && schema->empty() && no_table)
        return {select + " WHERE 0", {}};
    if (schema == "%" && catalog && catalog->empty() && no_table)
        return {select + " WHERE 0", {}};
    if (types == "%" && catalog && catalog->empty() && schema && schema->empty() && no_table) {
        return {std::string(kTableColumns) +
                    "CAST(NULL AS TEXT) AS TABLE_NAME, type AS TABLE_TYPE, CAST(NULL AS TEXT) AS REMARKS "
                    "FROM (SELECT 'SYSTEM TABLE' AS type UNION ALL SELECT 'TABLE') ORDER BY TABLE_TYPE",
                {}};
    }
    // Catalog and schema can only match the empty name.
    if ((catalog && !catalog->empty() && *catalog != "%") || (schema && !schema->empty() && *schema != "%")) {
        return {select + " WHERE 0", {}};
    }
    CatalogQuery query{std::string(kTableColumns) +
                           "name AS TABLE_NAME, type AS TABLE_TYPE, CAST(NULL AS TEXT) AS REMARKS "
                           "FROM tarnwick_catalog_tables WHERE name LIKE ? ESCAPE '\\'",
                       {table && !table->empty() ? *table : "%"}};
    if (types && !types->empty()) {
        const auto wanted = TableTypes(*types);
        query.sql += " AND type IN (";
        for (std::size_t i = 0; i < wanted.size(); ++i) {
            query.sql += i ? ", ?" : "?";
            query.parameters.push_back(wanted[i]);
        }
        if (wanted.empty())
            query.sql += "NULL";
        query.sql += ")";
    }
    query.sql += " ORDER BY TABLE_TYPE, TABLE_NAME";
    return query;
}

CatalogQuery ColumnsQuery(const std::optional<std::string>& catalog, const std::optional<std::string>& schema,
                          const std::optional<std::string>& table, const std::optional<std::string>& column,
                          bool odbc2) {
    // Plain columns of the catalog table, whose declared types tell the
    // client each result column's type.
    std::string sql = std::string(kTableColumns) + "table_name AS TABLE_NAME, column_name AS COLUMN_NAME, " +
                      (odbc2 ? "odbc2_data_type" : "data_type") +
                      " AS DATA_TYPE, type_name AS TYPE_NAME, column_size AS COLUMN_SIZE, "
                      "buffer_length AS BUFFER_LENGTH, decimal_digits AS DECIMAL_DIGITS, radix AS NUM_PREC_RADIX, "
                      "nullable AS NULLABLE, CAST(NULL AS TEXT) AS REMARKS, CAST(NULL AS TEXT) AS COLUMN_DEF, " +
                      (odbc2 ? "odbc2_data_type" : "sql_data_type") + " AS SQL_DATA_TYPE, " +
                      (odbc2 ? "NULL" : "datetime_subcode") +
                      " AS SQL_DATETIME_SUB, octet_length AS CHAR_OCTET_LENGTH, ordinal AS ORDINAL_POSITION, "
                      "is_nullable AS IS_NULLABLE FROM tarnwick_catalog_columns WHERE table_name LIKE ? ESCAPE '\\' "
                      "AND column_name LIKE ? ESCAPE '\\'";
    // Catalog and schema can only match the empty name.
    if ((catalog && !catalog->empty() && *catalog != "%") || (schema && !schema->empty() && *schema != "%"))
        sql += " AND 0";
    sql += " ORDER BY TABLE_NAME, ORDINAL_POSITION";
    return {sql, {table && !table->empty() ? *table : "%", column && !column->empty() ? *column : "%"}};
}

CatalogQuery StatisticsQuery(const std::string& table, bool unique_only) {
    std::string sql =
        "SELECT CAST(NULL AS TEXT) AS TABLE_CAT, CAST(NULL AS TEXT) AS TABLE_SCHEM, table_name AS TABLE_NAME, "
        "CAST(non_unique AS SMALLINT) AS NON_UNIQUE, CAST(NULL AS TEXT) AS INDEX_QUALIFIER, "
        "index_name AS INDEX_NAME, CAST(3 AS SMALLINT) AS TYPE, CAST(ordinal AS SMALLINT) AS ORDINAL_POSITION, "
        "column_name AS COLUMN_NAME, 'A' AS ASC_OR_DESC, CAST(NULL AS INTEGER) AS CARDINALITY, "
        "CAST(NULL AS INTEGER) AS PAGES, CAST(NULL AS TEXT) AS FILTER_CONDITION "
        "FROM tarnwick_catalog_indexes WHERE table_name = ? COLLATE NOCASE";
    if (unique_only)
        sql += " AND non_unique = 0";
    sql += " ORDER BY NON_UNIQUE, INDEX_NAME, ORDINAL_POSITION";
    return {sql, {table}};
}

CatalogQuery PrimaryKeysQuery(const std::string& table) {
    return {"SELECT CAST(NULL AS TEXT) AS TABLE_CAT, CAST(NULL AS TEXT) AS TABLE_SCHEM, table_name AS TABLE_NAME, "
            "column_name AS COLUMN_NAME, CAST(ordinal AS SMALLINT) AS KEY_SEQ, index_name AS PK_NAME "
            "FROM tarnwick_catalog_indexes WHERE table_name = ? COLLATE NOCASE AND is_primary "
            "ORDER BY KEY_SEQ",
            {table}};
}

} // namespace access_driver
