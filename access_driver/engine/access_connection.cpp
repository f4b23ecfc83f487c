#include "access_connection.h"

#include <sys/stat.h>

namespace tarnwick::access {
namespace {

struct TableDefFree {
    void operator()(MdbTableDef* table) const { mdb_free_tabledef(table); }
};

// Index types libmdb reports: 1 the primary key, 2 the other side of a
// relationship (no index of this table's own).
constexpr int kPrimaryKeyIndex = 1;
constexpr int kForeignKeyIndex = 2;

void ReadIndexes(MdbTableDef* def, AccessTable& table) {
    // Returns nothing useful: the indexes are in def->indices, or none when
    // libmdb could not read them.
    mdb_read_indices(def);
    if (!def->indices) {
        return;
    }
    for (unsigned i = 0; i < def->num_idxs && i < def->indices->len; ++i) {
        const auto* idx = static_cast<const MdbIndex*>(g_ptr_array_index(def->indices, i));
        if (idx->index_type == kForeignKeyIndex) {
            continue;
        }
        for (unsigned k = 0; k < idx->num_keys && k < MDB_MAX_IDX_COLS; ++k) {
            const int col = idx->key_col_num[k] - 1;
            if (col < 0 || static_cast<unsigned>(col) >= table.columns.size()) {
                continue;
            }
            IndexColumn entry;
            entry.index = idx->name;
            entry.primary = idx->index_type == kPrimaryKeyIndex;
            entry.unique = entry.primary || (idx->flags & MDB_IDX_UNIQUE) != 0;
            entry.ordinal = static_cast<int>(k) + 1;
            entry.column = table.columns[static_cast<std::size_t>(col)].name;
            table.indexes.push_back(std::move(entry));
        }
    }
}

std::optional<AccessTable> ReadDefinition(MdbCatalogEntry* entry, const std::string& textCollation) {
    std::unique_ptr<MdbTableDef, TableDefFree> def(mdb_read_table(entry));
    if (!def || !mdb_read_columns(def.get()) || def->num_cols != def->columns->len) {
        return std::nullopt;
    }
    AccessTable table;
    table.name = entry->object_name;
    table.system = mdb_is_system_table(entry) != 0;
    table.rowCount = def->num_rows;
    table.columns = DescribeColumns(*def, textCollation);
    ReadIndexes(def.get(), table);
    return table;
}

} // namespace

std::optional<FileIdentity> IdentityOf(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    FileIdentity id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.size = st.st_size;
    id.mtimeNs = static_cast<long long>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
    // A writer that puts the modification time back still moves this one.
    id.ctimeNs = static_cast<long long>(st.st_ctim.tv_sec) * 1000000000LL + st.st_ctim.tv_nsec;
    return id;
}

bool AccessConnection::Open(const std::string& path, const std::string& textCollation, std::string& error) {
    const auto identity = IdentityOf(path);
    if (!identity) {
        error = "cannot open the database file '" + path + "': no such file";
        return false;
    }
    MdbHandlePtr mdb = OpenAccessFile(path);
    if (!mdb) {
        error = "cannot open the database file '" + path + "': not an Access database or damaged";
        return false;
    }
    std::vector<AccessTable> tables;
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type != MDB_TABLE) {
            continue;
        }
        // A table libmdb cannot read is left out rather than the file.
        if (auto table = ReadDefinition(entry, textCollation)) {
            tables.push_back(std::move(*table));
        }
    }
    path_ = path;
    identity_ = *identity;
    mdb_ = std::move(mdb);
    tables_ = std::move(tables);
    indexes_.clear();
    pages_.Clear();
    return true;
}

bool AccessConnection::Refresh(std::string& error) {
    const auto identity = IdentityOf(path_);
    if (!identity) {
        error = "the database file '" + path_ + "' can no longer be read";
        return false;
    }
    if (*identity == identity_) {
        return true;
    }
    MdbHandlePtr mdb = OpenAccessFile(path_);
    if (!mdb) {
        error = "the database file '" + path_ + "' was changed and can no longer be read";
        return false;
    }
    mdb_ = std::move(mdb);
    identity_ = *identity;
    indexes_.clear();
    pages_.Clear();
    return true;
}

const EqualityIndex& AccessConnection::IndexFor(std::size_t table, unsigned column, TableReader& reader) {
    const auto key = std::make_pair(table, column);
    auto it = indexes_.find(key);
    if (it == indexes_.end()) {
        it = indexes_.emplace(key, EqualityIndex::Build(reader, column, tables_[table].columns[column].kind)).first;
    }
    return it->second;
}

std::string ColumnsChanged(const AccessTable& declared, const MdbTableDef& current) {
    const std::string message = "the columns of table '" + declared.name +
                                "' changed in the database file since the connection opened it; connect again";
    if (current.num_cols != declared.columns.size()) {
        return message;
    }
    for (unsigned i = 0; i < current.num_cols; ++i) {
        const auto* col = static_cast<const MdbColumn*>(g_ptr_array_index(current.columns, i));
        if (declared.columns[i].name != col->name || declared.columns[i].mdbType != col->col_type) {
            return message;
        }
    }
    return {};
}

} // namespace tarnwick::access
