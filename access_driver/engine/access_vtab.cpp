#include "access_vtab.h"

#include <algorithm>
#include <charconv>
#include <memory>
#include <string>
#include <vector>

#include <strings.h>

#include "access_connection.h"

namespace tarnwick::access {
namespace {

struct AccessVtab : sqlite3_vtab {
    AccessConnection* connection = nullptr;
    std::size_t table = 0;
};

struct AccessCursor : sqlite3_vtab_cursor {
    std::unique_ptr<TableReader> reader;
    bool eof = true;
    // Set while the cursor walks the rows an equality lookup found.
    bool lookup = false;
    std::vector<std::uint64_t> positions;
    std::size_t nextPosition = 0;
};

// Cost figures for the planner: a lookup reads a few rows, a scan all.
constexpr double kLookupRows = 10;

void SetError(sqlite3_vtab* vtab, const std::string& message) {
    sqlite3_free(vtab->zErrMsg);
    vtab->zErrMsg = sqlite3_mprintf("%s", message.c_str());
}

int Connect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out, char** error) {
    auto* connection = static_cast<AccessConnection*>(aux);
    std::size_t index = connection->Tables().size();
    if (argc == 4) {
        const std::string_view arg(argv[3]);
        std::from_chars(arg.data(), arg.data() + arg.size(), index);
    }
    if (index >= connection->Tables().size()) {
        *error = sqlite3_mprintf("access: no such table of the open database file");
        return SQLITE_ERROR;
    }
    const AccessTable& table = connection->Tables()[index];
    std::string sql = "CREATE TABLE x(";
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        sql += (i ? ", " : "") + QuotedIdentifier(table.columns[i].name) + " " + table.columns[i].declaredType;
    }
    sql += ")";
    connection->declaring = true;
    const int rc = sqlite3_declare_vtab(db, sql.c_str());
    connection->declaring = false;
    if (rc != SQLITE_OK) {
        *error = sqlite3_mprintf("access: cannot declare table '%s': %s", table.name.c_str(), sqlite3_errmsg(db));
        return rc;
    }
    auto* vtab = new AccessVtab();
    vtab->connection = connection;
    vtab->table = index;
    *out = vtab;
    return SQLITE_OK;
}

int Disconnect(sqlite3_vtab* vtab) {
    delete static_cast<AccessVtab*>(vtab);
    return SQLITE_OK;
}

// The collations the equality index can serve: its text keys are the ACCESS
// collation's, and texts equal under BINARY or NOCASE are equal under ACCESS
// too, so a lookup returns every row that can match and SQLite's own check of
// each row keeps only those that do. Any other collation scans.
bool CollationServed(const char* collation) {
    return !collation || strcasecmp(collation, "BINARY") == 0 || strcasecmp(collation, "NOCASE") == 0 ||
           strcasecmp(collation, "ACCESS") == 0 || strcasecmp(collation, "ACCESSDATE") == 0;
}

// idxNum 0 scans; column + 1 looks up the value of argv[0] in that column.
int BestIndex(sqlite3_vtab* base, sqlite3_index_info* info) {
    auto* vtab = static_cast<AccessVtab*>(base);
    const AccessTable& table = vtab->connection->Tables()[vtab->table];
    const double rows = std::max<double>(static_cast<double>(table.rowCount), 1);
    for (int i = 0; i < info->nConstraint; ++i) {
        const auto& c = info->aConstraint[i];
        if (!c.usable || c.op != SQLITE_INDEX_CONSTRAINT_EQ || c.iColumn < 0 ||
            static_cast<std::size_t>(c.iColumn) >= table.columns.size()) {
            continue;
        }
        const ColumnKind kind = table.columns[static_cast<std::size_t>(c.iColumn)].kind;
        if (!IsIndexable(kind) || !CollationServed(sqlite3_vtab_collation(info, i))) {
            continue;
        }
        // SQLite still checks every row returned (omit stays 0).
        info->aConstraintUsage[i].argvIndex = 1;
        info->idxNum = c.iColumn + 1;
        info->estimatedRows = static_cast<sqlite3_int64>(std::min(rows, kLookupRows));
        info->estimatedCost = 20 + std::min(rows, kLookupRows);
        return SQLITE_OK;
    }
    info->idxNum = 0;
    info->estimatedRows = static_cast<sqlite3_int64>(rows);
    info->estimatedCost = 100 + rows;
    return SQLITE_OK;
}

int Open(sqlite3_vtab* base, sqlite3_vtab_cursor** out) {
    auto* vtab = static_cast<AccessVtab*>(base);
    std::string error;
    if (!vtab->connection->Refresh(error)) {
        SetError(base, error);
        return SQLITE_ERROR;
    }
    const AccessTable& table = vtab->connection->Tables()[vtab->table];
    auto reader = TableReader::Open(vtab->connection->Handle(), table.name, error, &vtab->connection->Pages());
    if (!reader) {
        SetError(base, error);
        return SQLITE_ERROR;
    }
    if (const std::string changed = ColumnsChanged(table, reader->Definition()); !changed.empty()) {
        SetError(base, changed);
        return SQLITE_ERROR;
    }
    auto* cursor = new AccessCursor();
    cursor->reader = std::move(reader);
    *out = cursor;
    return SQLITE_OK;
}

int Close(sqlite3_vtab_cursor* cursor) {
    delete static_cast<AccessCursor*>(cursor);
    return SQLITE_OK;
}

void NextFound(AccessCursor* cursor) {
    while (cursor->nextPosition < cursor->positions.size()) {
        if (cursor->reader->Seek(cursor->positions[cursor->nextPosition++])) {
            cursor->eof = false;
            return;
        }
    }
    cursor->eof = true;
}

int Filter(sqlite3_vtab_cursor* base, int idxNum, const char*, int argc, sqlite3_value** argv) {
    auto* cursor = static_cast<AccessCursor*>(base);
    auto* vtab = static_cast<AccessVtab*>(base->pVtab);
    cursor->lookup = false;
    cursor->positions.clear();
    cursor->reader->Rewind();
    if (idxNum > 0 && argc >= 1) {
        const auto column = static_cast<unsigned>(idxNum - 1);
        const AccessTable& table = vtab->connection->Tables()[vtab->table];
        const Probe probe = ProbeFor(argv[0], table.columns[column].kind);
        if (probe.kind == Probe::Kind::NoMatch) {
            cursor->eof = true;
            return SQLITE_OK;
        }
        if (probe.kind == Probe::Kind::Key) {
            const EqualityIndex& index = vtab->connection->IndexFor(vtab->table, column, *cursor->reader);
            cursor->lookup = true;
            cursor->positions = index.Lookup(probe.key);
            cursor->nextPosition = 0;
            NextFound(cursor);
            return SQLITE_OK;
        }
    }
    cursor->eof = !cursor->reader->Next();
    return SQLITE_OK;
}

int Next(sqlite3_vtab_cursor* base) {
    auto* cursor = static_cast<AccessCursor*>(base);
    if (cursor->lookup) {
        NextFound(cursor);
    } else {
        cursor->eof = !cursor->reader->Next();
    }
    return SQLITE_OK;
}

int Eof(sqlite3_vtab_cursor* base) { return static_cast<AccessCursor*>(base)->eof ? 1 : 0; }

int Column(sqlite3_vtab_cursor* base, sqlite3_context* context, int column) {
    auto* cursor = static_cast<AccessCursor*>(base);
    Cell cell = cursor->reader->Read(static_cast<unsigned>(column));
    switch (cell.type) {
    case Cell::Type::Null:
        sqlite3_result_null(context);
        break;
    case Cell::Type::Integer:
        sqlite3_result_int64(context, cell.integer);
        break;
    case Cell::Type::Real:
        sqlite3_result_double(context, cell.real);
        break;
    case Cell::Type::Text:
        sqlite3_result_text64(context, cell.bytes.data(), cell.bytes.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        break;
    case Cell::Type::Blob:
        sqlite3_result_blob64(context, cell.bytes.data(), cell.bytes.size(), SQLITE_TRANSIENT);
        break;
    }
    return SQLITE_OK;
}

int Rowid(sqlite3_vtab_cursor* base, sqlite3_int64* rowid) {
    *rowid = static_cast<sqlite3_int64>(static_cast<AccessCursor*>(base)->reader->Position());
    return SQLITE_OK;
}

sqlite3_module MakeModule() {
    sqlite3_module m{};
    m.iVersion = 0;
    m.xCreate = Connect;
    m.xConnect = Connect;
    m.xBestIndex = BestIndex;
    m.xDisconnect = Disconnect;
    m.xDestroy = Disconnect;
    m.xOpen = Open;
    m.xClose = Close;
    m.xFilter = Filter;
    m.xNext = Next;
    m.xEof = Eof;
    m.xColumn = Column;
    m.xRowid = Rowid;
    return m;
}

const sqlite3_module kModule = MakeModule();

} // namespace

std::string QuotedIdentifier(const std::string& name) {
    std::string out = "\"";
    for (char c : name) {
        out += c;
        if (c == '"') {
            out += '"';
        }
    }
    return out + "\"";
}

int RegisterAccessModule(sqlite3* db, AccessConnection* connection) {
    return sqlite3_create_module_v2(db, "access", &kModule, connection,
                                    [](void* p) { delete static_cast<AccessConnection*>(p); });
}

} // namespace tarnwick::access
