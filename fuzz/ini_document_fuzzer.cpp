// Feeds arbitrary bytes to the setup library's odbc.ini parser and editor.
// What must hold for any file: an untouched document gives back its text byte
// for byte; on a file unixODBC can read, replacing, removing or adding one
// section leaves a file it can read, in which every other section (in order,
// with its entries) is as it was and the edited one reads back as written.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "attribute_list.h"
#include "ini_document.h"

using namespace tarnwick::setup;

namespace {

using Sections = std::vector<IniDocument::Section>;

void Require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

Sections::iterator FirstNamed(Sections& sections, const std::string& name) {
    return std::find_if(sections.begin(), sections.end(),
                        [&](const auto& section) { return EqualsIgnoringCase(section.name, name); });
}

void RequireReadsAs(const IniDocument& edited, const Sections& expected) {
    const IniDocument reread(edited.Text());
    Require(!reread.Problem());
    Require(reread.Sections() == expected);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    IniDocument document(text);
    Require(document.Text() == text);
    Require(!document.Changed());
    if (document.Problem()) {
        return 0;
    }

    // Lookups find the first section of a name and in it the first entry.
    Sections before = document.Sections();
    for (const auto& section : before) {
        if (&*FirstNamed(before, section.name) != &section) {
            continue;
        }
        for (const auto& entry : section.entries) {
            const auto first = std::find_if(section.entries.begin(), section.entries.end(), [&](const auto& other) {
                return EqualsIgnoringCase(other.name, entry.name);
            });
            Require(document.Value(section.name, entry.name) == first->value);
        }
    }
    const std::vector<IniDocument::Entry> entries{{"Driver", "Microsoft Access Driver (*.mdb)"},
                                                  {"DBQ", "/srv/fuzz.mdb"}};

    // Edit the first section that has a name, when there is one. The setup
    // library edits only sections whose header fits on one line as unixODBC
    // reads it (its names are far shorter), so the header it writes reads back
    // whole; a name unixODBC took from a cut line is out of its reach.
    const auto named = std::find_if(before.begin(), before.end(), [](const auto& s) {
        return !s.name.empty() && s.name.size() + 3 <= kMaxIniLineLength;
    });
    if (named != before.end()) {
        const std::string target = named->name;
        IniDocument replaced(text);
        replaced.SetSection(target, entries);
        Sections expected = before;
        *FirstNamed(expected, target) = {target, entries};
        RequireReadsAs(replaced, expected);

        IniDocument removed(text);
        Require(removed.RemoveSection(target));
        expected = before;
        expected.erase(FirstNamed(expected, target));
        RequireReadsAs(removed, expected);
    }

    const std::string added = "Fuzzed";
    if (!document.HasSection(added)) {
        IniDocument appended(text);
        appended.SetSection(added, entries);
        Sections expected = before;
        expected.push_back({added, entries});
        RequireReadsAs(appended, expected);
        const std::string appendedText = appended.Text();
        Require(appended.TakeText() == appendedText);
    }
    return 0;
}
