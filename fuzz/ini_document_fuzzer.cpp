// Feeds arbitrary bytes to the setup library's odbc.ini parser and editor.
// What must hold for any file: an untouched document gives back its text byte
// for byte; on a file unixODBC can read, replacing or removing one section
// leaves every other section's values as they were and reads back as written.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "attribute_list.h"
#include "ini_document.h"

using namespace tarnwick::setup;

namespace {

void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

bool SameEntries(const std::vector<IniDocument::Entry>& a, const std::vector<IniDocument::Entry>& b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i].name != b[i].name || a[i].value != b[i].value) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    IniDocument document(text);
    Require(document.Text() == text);
    if (document.Problem()) {
        return 0;
    }

    const std::vector<std::string> names = document.SectionNames();
    std::vector<std::vector<IniDocument::Entry>> before;
    for (const auto& name : names) {
        before.push_back(document.Entries(name));
        for (const auto& entry : before.back()) {
            Require(document.Value(name, entry.name).has_value());
        }
    }

    // Edit the first section when there is one, else add a new one.
    const std::string target = names.empty() ? std::string("Fuzzed") : names.front();
    const std::vector<IniDocument::Entry> entries{{"Driver", "Microsoft Access Driver (*.mdb)"},
                                                  {"DBQ", "/srv/fuzz.mdb"}};
    // Sections other than the edited one must read back as before. One whose
    // name equals the target's but for case is skipped: removing the target
    // rightly brings such a later section to light.
    auto othersUnchanged = [&](const IniDocument& after) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (!EqualsIgnoringCase(names[i], target)) {
                Require(SameEntries(after.Entries(names[i]), before[i]));
            }
        }
    };

    IniDocument edited(text);
    edited.SetSection(target, entries);
    const IniDocument reread(edited.Text());
    Require(!reread.Problem());
    Require(SameEntries(reread.Entries(target), entries));
    othersUnchanged(reread);

    IniDocument removed(text);
    Require(removed.RemoveSection(target) == !names.empty());
    const IniDocument after(removed.Text());
    Require(!after.Problem());
    othersUnchanged(after);
    return 0;
}
