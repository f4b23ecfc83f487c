#include "column_shape.h"

#include <sqlext.h>

namespace tarnwick::access {
namespace {

// A Memo or OLE value can hold up to 1 GB.
constexpr long long kLongSize = 1073741823;
// Access text is UTF-16 without characters beyond the BMP in one unit, so one
// character is at most three bytes of UTF-8.
constexpr int kUtf8BytesPerCharacter = 3;

ColumnShape Exact(int type, int size, int bytes) { return {{}, type, size, bytes, 0, 10, std::nullopt}; }

// sqliteodbc describes real, double and numeric columns alike as double.
ColumnShape Approximate() { return {{}, SQL_DOUBLE, 15, 8, std::nullopt, 10, std::nullopt}; }

ColumnShape Characters(int type, long long size, long long bytes) {
    return {{}, type, size, bytes, std::nullopt, std::nullopt, bytes};
}

} // namespace

ColumnShape ShapeOf(const ColumnInfo& column) {
    ColumnShape shape;
    switch (column.mdbType) {
    case MDB_BOOL:
    case MDB_INT:
        shape = Exact(SQL_SMALLINT, 5, 2);
        break;
    case MDB_BYTE:
        shape = Exact(SQL_TINYINT, 3, 1);
        break;
    case MDB_LONGINT:
    case MDB_COMPLEX:
        shape = Exact(SQL_INTEGER, 10, 4);
        break;
    case MDB_FLOAT:
    case MDB_DOUBLE:
    case MDB_MONEY:
    case MDB_NUMERIC:
        shape = Approximate();
        break;
    case MDB_DATETIME:
        shape = {{}, SQL_TYPE_TIMESTAMP, 19,          static_cast<long long>(sizeof(SQL_TIMESTAMP_STRUCT)),
                 0,  std::nullopt,       std::nullopt};
        break;
    case MDB_TEXT:
        shape = Characters(SQL_VARCHAR, column.length, static_cast<long long>(column.length) * kUtf8BytesPerCharacter);
        break;
    case MDB_MEMO:
        shape = Characters(SQL_LONGVARCHAR, kLongSize, kLongSize);
        break;
    case MDB_REPID:
        shape = Characters(SQL_VARCHAR, 38, 38); // {xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}
        break;
    case MDB_BINARY:
        shape = Characters(SQL_VARBINARY, column.length, column.length);
        break;
    default:
        shape = Characters(SQL_LONGVARBINARY, kLongSize, kLongSize);
        break;
    }
    shape.typeName = column.declaredType.substr(0, column.declaredType.find(" COLLATE "));
    return shape;
}

} // namespace tarnwick::access
