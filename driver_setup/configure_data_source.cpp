#include "configure_data_source.h"

#include <utility>

#include <odbcinst.h>

#include "attribute_list.h"
#include "data_source_rules.h"
#include "ini_document.h"
#include "ini_file_store.h"

namespace tarnwick::setup {

namespace {

using Entries = std::vector<IniDocument::Entry>;

Entries::iterator FindEntry(Entries& entries, const std::string& name) {
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (EqualsIgnoringCase(it->name, name)) {
            return it;
        }
    }
    return entries.end();
}

// Sets or adds one entry, keeping its place when it exists.
void Assign(Entries& entries, const std::string& name, const std::string& value) {
    auto it = FindEntry(entries, name);
    if (it != entries.end()) {
        *it = {name, value};
    } else {
        entries.push_back({name, value});
    }
}

class Request {
public:
    Request(int request, std::string driver, std::string name, std::vector<Attribute> attributes,
            const SetupContext& context)
        : request_(request), driver_(std::move(driver)), name_(std::move(name)), attributes_(std::move(attributes)),
          context_(context) {}

    FileEdit Edit(std::string current) const {
        IniDocument document(std::move(current));
        if (document.Problem()) {
            return Refuse(ODBC_ERROR_REQUEST_FAILED, "unixODBC cannot read " + context_.iniPath + ": " +
                                                         *document.Problem() +
                                                         ". Correct the file first; it was left unchanged.");
        }
        const bool exists = document.HasSection(name_);
        if (exists) {
            const auto owner = document.Value(name_, "Driver");
            if (!owner || !EqualsIgnoringCase(*owner, driver_)) {
                const std::string ownedBy =
                    owner ? "the driver " + QuotedExcerpt(*owner) : std::string("no driver (it has no Driver entry)");
                return Refuse(ODBC_ERROR_REQUEST_FAILED, "The data source " + QuotedExcerpt(name_) + " in " +
                                                             context_.iniPath + " belongs to " + ownedBy + ", not to " +
                                                             QuotedExcerpt(driver_) +
                                                             "; it was left unchanged. Choose another name.");
            }
        }

        if (request_ == ODBC_REMOVE_DSN) {
            if (!exists) {
                return Refuse(ODBC_ERROR_REQUEST_FAILED, "There is no data source " + QuotedExcerpt(name_) + " in " +
                                                             context_.iniPath + "; nothing was removed.");
            }
            document.RemoveSection(name_);
            return {document.TakeText(), {}};
        }

        Entries entries;
        if (request_ == ODBC_CONFIG_DSN) {
            if (!exists) {
                return Refuse(ODBC_ERROR_REQUEST_FAILED, "There is no data source " + QuotedExcerpt(name_) + " in " +
                                                             context_.iniPath + " to change; add it instead.");
            }
            // unixODBC reads the first entry of a name; later ones are dead and go.
            for (const auto& entry : document.Entries(name_)) {
                if (!EqualsIgnoringCase(entry.name, "Driver") && FindEntry(entries, entry.name) == entries.end()) {
                    entries.push_back(entry);
                }
            }
        }
        for (const auto& attribute : attributes_) {
            Assign(entries, attribute.keyword, attribute.value);
        }

        std::vector<SetupError> errors;
        if (ShouldDeriveDatabase()) {
            auto database = FindEntry(entries, "Database");
            auto dbq = FindEntry(entries, "DBQ");
            if (dbq == entries.end() || dbq->value.empty()) {
                if (database != entries.end()) {
                    entries.erase(database); // it named the file of the old DBQ
                }
            } else {
                const auto defaultDir = FindEntry(entries, "DefaultDir");
                const std::string directory = defaultDir == entries.end() ? std::string() : defaultDir->value;
                const bool needsCurrent = dbq->value.front() != '/' && (directory.empty() || directory.front() != '/');
                if (needsCurrent && !context_.currentDirectory) {
                    return Refuse(ODBC_ERROR_REQUEST_FAILED,
                                  "The database " + QuotedExcerpt(dbq->value) +
                                      " is relative, and the current directory cannot be determined to complete "
                                      "its path. Give DBQ or DefaultDir as an absolute path.");
                }
                const std::string path = DatabasePath(dbq->value, directory, context_.currentDirectory.value_or(""));
                errors = CheckEntry("Database", path);
                Assign(entries, "Database", path);
            }
        }
        if (!errors.empty()) {
            return {std::nullopt, errors};
        }

        entries.insert(entries.begin(), {"Driver", driver_});
        document.SetSection(name_, entries);
        if (!document.Changed()) {
            return {}; // the data source is already as asked; the file is not rewritten
        }
        return {document.TakeText(), {}};
    }

private:
    static FileEdit Refuse(int code, std::string message) { return {std::nullopt, {{code, std::move(message)}}}; }

    // Database follows DBQ and DefaultDir unless the caller names it: on adding
    // always, on changing when either of them changes.
    bool ShouldDeriveDatabase() const {
        if (FindAttribute(attributes_, "Database") != nullptr) {
            return false;
        }
        return request_ == ODBC_ADD_DSN || FindAttribute(attributes_, "DBQ") != nullptr ||
               FindAttribute(attributes_, "DefaultDir") != nullptr;
    }

    int request_;
    std::string driver_;
    std::string name_;
    std::vector<Attribute> attributes_;
    const SetupContext& context_;
};

} // namespace

SetupOutcome ConfigureDataSource(int request, const char* driver, const char* attributes, const SetupContext& context) {
    if (request != ODBC_ADD_DSN && request != ODBC_CONFIG_DSN && request != ODBC_REMOVE_DSN) {
        return {false,
                {{ODBC_ERROR_INVALID_REQUEST_TYPE,
                  "Request " + std::to_string(request) +
                      " is not one a data source setup handles: 1 adds, 2 changes and 3 removes a data source."}}};
    }

    const std::string driverName = driver != nullptr ? driver : "";
    std::vector<SetupError> errors = CheckDriverName(driverName);
    ParsedAttributes parsed = ParseAttributeList(attributes);
    errors.insert(errors.end(), parsed.errors.begin(), parsed.errors.end());

    const Attribute* dsn = FindAttribute(parsed.attributes, "DSN");
    if (dsn == nullptr) {
        errors.push_back({ODBC_ERROR_INVALID_DSN, "The attribute list names no data source: DSN=<name> is missing."});
    } else {
        auto nameErrors = CheckDataSourceName(dsn->value);
        errors.insert(errors.end(), nameErrors.begin(), nameErrors.end());
    }
    if (request != ODBC_REMOVE_DSN) {
        auto attributeErrors = CheckAttributes(parsed.attributes);
        errors.insert(errors.end(), attributeErrors.begin(), attributeErrors.end());
    }
    if (!errors.empty()) {
        return {false, errors};
    }

    const Request work(request, driverName, dsn->value, parsed.attributes, context);
    errors = EditIniFile(context.iniPath, context.newFileMode,
                         [&work](std::string current) { return work.Edit(std::move(current)); });
    return {errors.empty(), errors};
}

} // namespace tarnwick::setup
