// What the catalog says of a column: its ODBC type and sizes, matching how a
// result column of that table is described (sqliteodbc maps the declared
// type), with the sizes of the Access type behind it.
#pragma once

#include <optional>
#include <string>

#include "mdb_table.h"

namespace tarnwick::access {

struct ColumnShape {
    std::string typeName; // the declared type, as SQLDescribeCol names it
    int dataType = 0;     // ODBC 3's SQL type
    long long columnSize = 0;
    long long bufferLength = 0;
    std::optional<int> decimalDigits;
    std::optional<int> radix;
    std::optional<long long> octetLength; // character and binary types
};

ColumnShape ShapeOf(const ColumnInfo& column);

} // namespace tarnwick::access
