#include "ini_document.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "attribute_list.h"
#include "ini_listing.h"
#include "odbc_sandbox.h"

namespace tarnwick::setup {
namespace {

using namespace std::string_literals;
using testing::EscapedForListing;
using testing::kRefusedListing;
using testing::OdbcSandbox;
using testing::ReadFile;
using testing::RunCommand;

// --- Reading: IniDocument against the real libodbcinst -----------------------

using Sections = std::vector<IniDocument::Section>;

// What ini_probe prints for a file of these sections: unixODBC lists every
// section but "ODBC Data Sources", up to the first without a name (its lists
// end at an empty string), and gives each name's entries and values from the
// first section of that name.
std::string ListingOf(const Sections& sections) {
    std::string listing;
    std::vector<std::string> listed;
    for (const auto& section : sections) {
        if (section.name.empty()) {
            break;
        }
        if (EqualsIgnoringCase(section.name, "ODBC Data Sources")) {
            continue;
        }
        listing += "[" + EscapedForListing(section.name) + "]\n";
        const bool seen = std::any_of(listed.begin(), listed.end(),
                                      [&](const std::string& name) { return EqualsIgnoringCase(name, section.name); });
        listed.push_back(section.name);
        if (seen) {
            continue;
        }
        const auto first = std::find_if(sections.begin(), sections.end(), [&](const auto& other) {
            return EqualsIgnoringCase(other.name, section.name);
        });
        for (const auto& entry : first->entries) {
            if (entry.name.empty()) {
                break;
            }
            const auto found = std::find_if(first->entries.begin(), first->entries.end(), [&](const auto& other) {
                return EqualsIgnoringCase(other.name, entry.name);
            });
            listing += EscapedForListing(entry.name) + "=" + EscapedForListing(found->value) + "\n";
        }
    }
    return listing;
}

std::string ListingOf(const IniDocument& document) {
    return document.Problem() ? std::string(kRefusedListing) : ListingOf(document.Sections());
}

enum class Reader { SystemDsns, SystemAndUserDsns };

// unixODBC's listings of these files, by one run of ini_probe. Read with the
// User DSNs, the user's file is an empty one in the sandbox.
std::vector<std::string> ProbeListings(const OdbcSandbox& sandbox, const std::vector<std::string>& texts,
                                       Reader reader = Reader::SystemDsns) {
    auto environment = sandbox.Environment();
    std::vector<std::string> command{INI_PROBE};
    if (reader == Reader::SystemAndUserDsns) {
        environment["ODBCINI"] = sandbox.Dir() + "/user-odbc.ini";
        testing::WriteFile(environment["ODBCINI"], "");
        command.push_back("both");
    }
    for (std::size_t i = 0; i < texts.size(); ++i) {
        command.push_back(sandbox.Dir() + "/probed-" + std::to_string(i) + ".ini");
        testing::WriteFile(command.back(), texts[i]);
    }
    const auto result = RunCommand(command, environment);
    EXPECT_EQ(result.exitCode, 0) << result.output;
    std::vector<std::string> listings;
    for (std::size_t at = 0; at < result.output.size();) {
        const std::string marker = "\x01" + std::to_string(listings.size()) + "\n";
        if (result.output.compare(at, marker.size(), marker) != 0) {
            ADD_FAILURE() << "ini_probe printed no listing " << listings.size() << ":\n" << result.output.substr(at);
            break;
        }
        at += marker.size();
        const std::size_t end = std::min(result.output.find('\x01', at), result.output.size());
        listings.push_back(result.output.substr(at, end - at));
        at = end;
    }
    listings.resize(texts.size());
    return listings;
}

std::string ProbeListing(const OdbcSandbox& sandbox, const std::string& text) {
    return ProbeListings(sandbox, {text}).front();
}

// The lines a listing gives under the first header "[name]", or nothing
// when it lists no such section.
std::optional<std::string> ListedSection(const std::string& listing, const std::string& name) {
    const std::string header = "[" + EscapedForListing(name) + "]\n";
    std::size_t at = listing.rfind(header, 0) == 0 ? 0 : listing.find("\n" + header);
    if (at == std::string::npos) {
        return std::nullopt;
    }
    at = listing.find('\n', at + (at == 0 ? 0 : 1)) + 1;
    std::size_t end = at;
    while (end < listing.size() && listing[end] != '[') {
        end = listing.find('\n', end) + 1;
    }
    return listing.substr(at, end - at);
}

struct ReadingCase {
    std::string label;
    std::string text;
};

// Files whose reading is easy to get wrong, beside those of the fuzzing corpus.
const ReadingCase kReadingCases[] = {
    {"CommentsBlanksAndIndentedLines", "# top\n; also top\n\n[A]\nDriver = foo\n# Driver=bar\n;X=1\n  Key2 = "
                                       "v\n\tTabbed=1\n[B]\nDriver=B1\n   [ C ] t\nX=1\n"},
    {"EqualsInValueAndTrimming", "[A]\nK = a = b \nEmpty=\n   \n=no name\nAfter=1\n"},
    {"KeyWithoutEquals", "[A]\nLonely\nK=v\n"},
    {"HeaderWithTrailingText", "[A] trailing\nK=v\n[ Spaced ]\nL=w\n[Unclosed\nM=x\n"},
    {"CarriageReturns", "[A]\r\nK=v\r\n\r\n[B]\r\nL=w\rM=y"},
    {"UnterminatedLastLine", "[A]\nK=v"},
    {"RepeatedKeysAndSections", "[A]\nK=1\nk=2\n[a]\nK=3\nL=4\n"},
    {"IndentedHeaderHidesNothing", "[Mine]\nDriver=Access\n  [Hidden]\n  Driver=Other\nDBQ=/x.mdb\n"},
    {"IndentedFirstHeader", "  [A]\nK=v\n"},
    {"EntryBeforeFirstHeader", "K=v\n[A]\nL=w\n"},
    {"LineOf999BytesAndMore", "[A]\nK=" + std::string(997, 'v') + "\nL=" + std::string(998, 'w') + "[Cut]\nM=1\n"},
    {"NulBytes", "[A]\nK=a\0b\n\0[Gone]\n[N\0ame]\nL=1\n"s},
    {"NonUtf8AndC1Bytes", "[\xff\xfe]\n\xc3\x28=\x85\n[\xc2\x85Name]\nK=\xa0v\xa0\n"},
    {"VerticalTabAndFormFeed", "[A]\n\v\fK\v=\fv\v\n"},
    {"NoNameSection", "[A]\nK=v\n[]\nL=w\n[B]\nM=x\n"},
};

// A file built from the lines that unixODBC reads in ways easy to get wrong,
// the same for the same generator state.
std::string RandomIni(std::mt19937& random) {
    auto pick = [&](const auto& choices) {
        return choices[std::uniform_int_distribution<std::size_t>(0, std::size(choices) - 1)(random)];
    };
    auto chance = [&](int percent) { return std::uniform_int_distribution<int>(0, 99)(random) < percent; };
    static const std::string names[] = {"A",
                                        "a",
                                        "Sales",
                                        "sales",
                                        "Hidden",
                                        "ODBC",
                                        "ODBC Data Sources",
                                        "Multi Word",
                                        " padded ",
                                        "\xc3\x9c"
                                        "bersicht",
                                        "\xff\xfe",
                                        "x\xc2\x85y",
                                        "[inner",
                                        "",
                                        "semi;colon",
                                        "x=y",
                                        "#hash"};
    static const std::string indents[] = {"", "", "", " ", "\t", "  \t", "\v", "\f"};
    static const std::string keys[] = {"Driver", "driver",         "DBQ", "K", "_x", "1st", "\xc3\xa9t\xc3\xa9",
                                       "\xa0k",  "Key With Space", "",    "$k"};
    static const std::string separators[] = {"=", " = ", "\t=\t", "", "==", "= "};
    static const std::string values[] = {"v",   "  spaced  ", "a;b # no comment", "\xc3\x28", "", "x\x01y", "a=b",
                                         "[x]", "\x85",       "/srv/data/a.mdb"};
    static const std::string comments[] = {"#c", ";c", "  # c", "\t;c", "#", ";[NotASection]"};
    static const std::string blanks[] = {"", "   ", "\t", "\r", " \v\f "};
    static const std::string tails[] = {"[Spill]", "Spill=1", "#spill", "  [Indented Spill]", "", "]"};
    static const std::string endings[] = {"\n", "\n", "\n", "\r\n"};

    auto header = [&] {
        std::string line = "[" + pick(names);
        if (!chance(10)) {
            line += chance(15) ? "] trailing" : "]";
        }
        return line;
    };
    auto entry = [&] { return pick(keys) + pick(separators) + pick(values); };
    auto longLine = [&] {
        // Around unixODBC's 999-byte pieces, so that what follows lands just
        // before, on or after a cut.
        const int length = std::uniform_int_distribution<int>(990, 1005)(random) + (chance(20) ? 999 : 0);
        std::string line = chance(50) ? "K=" : "#";
        line.resize(static_cast<std::size_t>(length), 'x');
        return line + pick(tails);
    };
    auto bodyLine = [&]() -> std::string {
        const int kind = std::uniform_int_distribution<int>(0, 99)(random);
        if (kind < 45) {
            return pick(indents) + entry();
        }
        if (kind < 60) {
            return pick(comments);
        }
        if (kind < 70) {
            return pick(blanks);
        }
        if (kind < 82) {
            return pick(indents) + header();
        }
        if (kind < 90) {
            return longLine();
        }
        if (kind < 95) {
            std::string line = entry();
            line.insert(std::uniform_int_distribution<std::size_t>(0, line.size())(random), 1, '\0');
            return line;
        }
        return pick(indents) + pick(comments) + " " + entry();
    };

    std::string text;
    auto add = [&](const std::string& line) { text += line + pick(endings); };
    const int prefix = std::uniform_int_distribution<int>(0, 3)(random);
    for (int i = 0; i < prefix; ++i) {
        add(chance(50) ? pick(comments) : pick(blanks));
    }
    if (chance(6)) {
        add(chance(50) ? entry() : " " + header()); // unixODBC refuses such a file
    }
    add(header());
    const int lines = std::uniform_int_distribution<int>(0, 24)(random);
    for (int i = 0; i < lines; ++i) {
        add(chance(12) ? header() : bodyLine());
    }
    if (chance(25) && !text.empty()) {
        text.pop_back(); // no final line break (or a lone CR from "\r\n")
    }
    return text;
}

struct Counts {
    std::size_t files = 0;
    std::size_t edits = 0;
    std::size_t sections = 0;
    std::size_t keys = 0;
    std::size_t writtenReadWithUsers = 0; // sections written, listed as clients reading User DSNs too see them

    void Add(const std::string& listing) {
        for (std::size_t at = 0; at < listing.size(); at = listing.find('\n', at) + 1) {
            (listing[at] == '[' ? sections : keys) += listing.compare(at, kRefusedListing.size(), kRefusedListing) != 0;
        }
    }
};

// One file for unixODBC to read, and what it must read there.
struct Probe {
    std::string label; // the file, and the edit that made it
    std::string text;
    std::string expected; // listing
    std::string written;  // the section an edit wrote, if it wrote one
    bool edited = false;
};

// Reads `text` with IniDocument; then, when unixODBC can read it, replaces,
// removes and adds a data source, after each of which IniDocument must read
// exactly the sections it read before but the edited one. Adds the file and
// the edited ones to `probes`, for unixODBC to read as IniDocument did, or as
// it should after the edit.
void PlanReadingAndEdits(const std::string& label, const std::string& text, std::mt19937& random,
                         std::vector<Probe>& probes) {
    SCOPED_TRACE(label);
    const IniDocument document(text);
    EXPECT_EQ(document.Text(), text);
    probes.push_back({label, text, ListingOf(document), "", false});
    if (document.Problem()) {
        return;
    }

    const Sections before = document.Sections();
    std::vector<std::string> names;
    // The setup library's names are short, so the header it writes always
    // fits a line as unixODBC reads it; a name cut from a longer line is not
    // one it edits.
    for (const auto& section : before) {
        if (!section.name.empty() && section.name.size() + 3 <= kMaxIniLineLength) {
            names.push_back(section.name);
        }
    }
    const std::vector<IniDocument::Entry> entries{{"Driver", "Microsoft Access Driver (*.mdb)"}, {"DBQ", "/srv/a.mdb"}};
    auto firstNamed = [](Sections& sections, const std::string& name) {
        return std::find_if(sections.begin(), sections.end(),
                            [&](const auto& section) { return EqualsIgnoringCase(section.name, name); });
    };
    auto plan = [&](const std::string& what, const IniDocument& edited, const Sections& expected,
                    const std::string& written) {
        SCOPED_TRACE(what);
        const IniDocument reread(edited.Text());
        ASSERT_FALSE(reread.Problem()) << *reread.Problem();
        EXPECT_TRUE(reread.Sections() == expected);
        probes.push_back({label + ", " + what, edited.Text(), ListingOf(expected), written, true});
    };

    if (!names.empty()) {
        const std::string target = names[std::uniform_int_distribution<std::size_t>(0, names.size() - 1)(random)];
        IniDocument replaced(text);
        replaced.SetSection(target, entries);
        Sections expected = before;
        *firstNamed(expected, target) = {target, entries};
        plan("replacing [" + EscapedForListing(target) + "]", replaced, expected, target);

        IniDocument removed(text);
        EXPECT_TRUE(removed.RemoveSection(target));
        expected = before;
        expected.erase(firstNamed(expected, target));
        plan("removing [" + EscapedForListing(target) + "]", removed, expected, "");
    }
    IniDocument added(text);
    added.SetSection("Tarnwick Added", entries);
    Sections expected = before;
    expected.push_back({"Tarnwick Added", entries});
    plan("adding [Tarnwick Added]", added, expected, "Tarnwick Added");
}

// Has unixODBC read every planned file, and compares. Clients that read User
// DSNs too read the system file by narrower rules, under which other sections
// may read differently from the start; but a section that an edit wrote must
// read the same for them.
Counts CompareWithUnixOdbc(const OdbcSandbox& sandbox, const std::vector<Probe>& probes) {
    Counts counts;
    std::vector<std::string> texts;
    for (const auto& probe : probes) {
        texts.push_back(probe.text);
    }
    const auto listings = ProbeListings(sandbox, texts);
    std::vector<std::string> writtenTexts;
    std::vector<std::pair<const Probe*, std::string>> written; // and the section as listed
    for (std::size_t i = 0; i < probes.size(); ++i) {
        EXPECT_EQ(listings[i], probes[i].expected) << probes[i].label;
        ++(probes[i].edited ? counts.edits : counts.files);
        counts.Add(listings[i]);
        // (A section without a name before it ends unixODBC's list of sections.)
        if (const auto listed =
                probes[i].written.empty() ? std::nullopt : ListedSection(listings[i], probes[i].written)) {
            writtenTexts.push_back(probes[i].text);
            written.emplace_back(&probes[i], *listed);
        }
    }
    const auto withUsers = ProbeListings(sandbox, writtenTexts, Reader::SystemAndUserDsns);
    for (std::size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(ListedSection(withUsers[i], written[i].first->written), written[i].second)
            << written[i].first->label << ", read with User DSNs:\n"
            << withUsers[i];
    }
    counts.writtenReadWithUsers = written.size();
    return counts;
}

void PrintCounts(const Counts& counts, const std::string& what) {
    std::cout << "Compared with unixODBC: " << counts.files << " files (" << what << ") and " << counts.edits
              << " edits of them; " << counts.sections << " sections and " << counts.keys << " keys listed; "
              << counts.writtenReadWithUsers << " written sections read back with User DSNs\n";
}

TEST(IniReadingTest, KnownFilesReadAndEditLikeUnixOdbc) {
    std::mt19937 random(20261209);
    std::vector<Probe> probes;
    for (const auto& c : kReadingCases) {
        PlanReadingAndEdits(c.label, c.text, random, probes);
    }
    std::vector<std::filesystem::path> corpus;
    for (const auto& file : std::filesystem::directory_iterator(INI_CORPUS)) {
        corpus.push_back(file.path());
    }
    std::sort(corpus.begin(), corpus.end());
    ASSERT_GE(corpus.size(), 20u);
    for (const auto& path : corpus) {
        PlanReadingAndEdits(path.filename().string(), ReadFile(path.string()), random, probes);
    }
    OdbcSandbox sandbox;
    PrintCounts(CompareWithUnixOdbc(sandbox, probes), std::to_string(std::size(kReadingCases)) + " from the table, " +
                                                          std::to_string(corpus.size()) + " from the fuzzing corpus");
}

// Generated files, in batches that each take a few seconds (every file costs
// a few runs of ini_probe), each batch from a seed of its own.
class IniGeneratedReadingTest : public ::testing::TestWithParam<int> {};

TEST_P(IniGeneratedReadingTest, ReadAndEditLikeUnixOdbc) {
    constexpr int kFilesPerBatch = 100;
    std::mt19937 random(20261209 + static_cast<unsigned>(GetParam()));
    std::vector<Probe> probes;
    for (int i = 0; i < kFilesPerBatch; ++i) {
        PlanReadingAndEdits("generated file " + std::to_string(i), RandomIni(random), random, probes);
    }
    OdbcSandbox sandbox;
    PrintCounts(CompareWithUnixOdbc(sandbox, probes), "generated, batch " + std::to_string(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Batches, IniGeneratedReadingTest, ::testing::Range(0, 3));

TEST(IniDocumentTest, FindsSectionsAndKeysRegardlessOfCaseAndTakesTheFirst) {
    const IniDocument document("[Sales]\nDRIVER=one\ndriver=two\n[sales]\nDriver=three\n");
    EXPECT_TRUE(document.HasSection("SALES"));
    EXPECT_EQ(document.Value("sales", "Driver"), "one");
    EXPECT_EQ(document.Entries("SALES").size(), 2u);
    EXPECT_FALSE(document.Value("Sales", "Database"));
    EXPECT_FALSE(document.HasSection("Other"));
}

struct ProblemCase {
    const char* label;
    std::string text;
    const char* because;
};

void PrintTo(const ProblemCase& c, std::ostream* out) { *out << c.label; }

class IniProblemTest : public ::testing::TestWithParam<ProblemCase> {};

TEST_P(IniProblemTest, NamesWhatUnixOdbcCannotRead) {
    const ProblemCase& c = GetParam();
    const IniDocument document(c.text);
    ASSERT_TRUE(document.Problem());
    EXPECT_NE(document.Problem()->find(c.because), std::string::npos) << *document.Problem();
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniProblemTest,
    ::testing::Values(ProblemCase{"EntryBeforeFirstSection", "# ok\nKey=v\n[A]\n", "line 2 is neither"},
                      ProblemCase{"IndentedFirstHeader", "\n [A]\nK=v\n", "line 2 is a [section] header after blanks"},
                      ProblemCase{"IndentedEntryFirst", "# ok\n\tKey\n[A]\n", "line 2 is neither"},
                      ProblemCase{"LongCommentSpillingAnEntry", "#" + std::string(998, 'c') + "K=v\n[A]\n",
                                  "line 1 is neither"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(IniDocumentTest, EmptyAndCommentOnlyFilesAreReadable) {
    EXPECT_FALSE(IniDocument("").Problem());
    EXPECT_FALSE(IniDocument("# nothing yet\n\n").Problem());
}

TEST(IniDocumentTest, ReplacingASectionKeepsItsCommentsAndEverythingAround) {
    IniDocument document(
        "# data sources\n\n[Other]\nDriver=PostgreSQL\n\n[sales]\n# the sales figures\nDriver=Access\nOld=1\n"
        "  Indented = an entry all the same\n  # indented note\nDBQ=old.mdb\n; trailing note\n\n[Last]\nDriver=X\n");
    document.SetSection("Sales", {{"Driver", "Access"}, {"DBQ", "new.mdb"}});
    EXPECT_EQ(document.Text(),
              "# data sources\n\n[Other]\nDriver=PostgreSQL\n\n[Sales]\n# the sales figures\nDriver=Access\n"
              "DBQ=new.mdb\n  # indented note\n; trailing note\n\n[Last]\nDriver=X\n");
}

// unixODBC reads "  [Hidden]" as a section, which must stay one; clients that
// read User DSNs too would take it and its entries for part of [Mine].
TEST(IniDocumentTest, ReplacingASectionMovesAnIndentedHeaderAfterItFlushLeft) {
    IniDocument document("[Mine]\nDriver=A\n# Hidden is not mine\n \t[Hidden] note\n  Driver=Other\nServer=db\n");
    ASSERT_EQ(document.SectionNames(), (std::vector<std::string>{"Mine", "Hidden"}));
    document.SetSection("Mine", {{"Driver", "A"}, {"DBQ", "/a.mdb"}});
    EXPECT_EQ(document.Text(),
              "[Mine]\nDriver=A\nDBQ=/a.mdb\n# Hidden is not mine\n[Hidden] note\n  Driver=Other\nServer=db\n");
}

TEST(IniDocumentTest, ReplacingASectionWithoutEntriesPutsThemUnderTheHeader) {
    IniDocument document("[A]\n# empty so far\n[B]\nK=v\n");
    document.SetSection("A", {{"Driver", "D"}});
    EXPECT_EQ(document.Text(), "[A]\nDriver=D\n# empty so far\n[B]\nK=v\n");
}

struct AppendCase {
    const char* label;
    const char* before;
    const char* after;
};

void PrintTo(const AppendCase& c, std::ostream* out) { *out << c.label; }

class IniAppendTest : public ::testing::TestWithParam<AppendCase> {};

TEST_P(IniAppendTest, AppendsANewSectionAfterABlankLine) {
    IniDocument document(GetParam().before);
    document.SetSection("New", {{"Driver", "D"}, {"Empty", ""}});
    EXPECT_EQ(document.Text(), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniAppendTest,
    ::testing::Values(AppendCase{"EmptyFile", "", "[New]\nDriver=D\nEmpty=\n"},
                      AppendCase{"Terminated", "[A]\nK=v\n", "[A]\nK=v\n\n[New]\nDriver=D\nEmpty=\n"},
                      AppendCase{"Unterminated", "[A]\nK=v", "[A]\nK=v\n\n[New]\nDriver=D\nEmpty=\n"},
                      AppendCase{"EndsWithBlankLine", "[A]\nK=v\n\n", "[A]\nK=v\n\n[New]\nDriver=D\nEmpty=\n"}),
    [](const auto& info) { return std::string(info.param.label); });

struct RemovalCase {
    const char* label;
    const char* before;
    const char* after;
};

void PrintTo(const RemovalCase& c, std::ostream* out) { *out << c.label; }

class IniRemovalTest : public ::testing::TestWithParam<RemovalCase> {};

// Whatever the removed section held, the rest must stay a file that unixODBC
// reads, and as the document does.
TEST_P(IniRemovalTest, TakesTheSectionAndLeavesTheCommentsForWhatFollows) {
    IniDocument document(GetParam().before);
    ASSERT_TRUE(document.RemoveSection("gone"));
    EXPECT_EQ(document.Text(), GetParam().after);
    EXPECT_FALSE(document.RemoveSection("Gone"));

    const IniDocument after(document.Text());
    EXPECT_FALSE(after.Problem()) << *after.Problem();
    OdbcSandbox sandbox;
    EXPECT_EQ(ProbeListing(sandbox, document.Text()), ListingOf(after));
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniRemovalTest,
    ::testing::Values(
        RemovalCase{"CommentsAfterItsEntries",
                    "[A]\nK=v\n\n[Gone]\n# about Gone\nDriver=D\nDBQ=x\n\n# about B\n[B]\nK=w\n",
                    "[A]\nK=v\n\n# about B\n[B]\nK=w\n"},
        RemovalCase{"TheOnlySection", "# keep me\n[Gone]\nDriver=D", "# keep me\n"},
        RemovalCase{"FirstSectionFollowedByAnIndentedHeader", "[Gone]\r\nkey=value\r\n  [\n[B]\nK=w\n",
                    "[\n[B]\nK=w\n"},
        RemovalCase{"FirstSectionWithIndentedLineThenComment", "[Gone]\nDriver=D\n\tignored\n\n# about B\n[B]\nK=w\n",
                    "\n# about B\n[B]\nK=w\n"},
        RemovalCase{"IndentedCommentStays", "[Gone]\nDriver=D\n  # about B\n[B]\nK=w\n", "  # about B\n[B]\nK=w\n"},
        RemovalCase{"MiddleSectionEndingInAnIndentedLine", "[A]\nK=v\n\n[Gone]\nDriver=D\n  continued\n\n[B]\nK=w\n",
                    "[A]\nK=v\n\n[B]\nK=w\n"},
        RemovalCase{"NoEntriesOnlyAnIndentedLine", "[Gone]\n   x\n[B]\nK=w\n", "[B]\nK=w\n"},
        RemovalCase{"NoEntriesOnlyAComment", "[Gone]\n# nothing yet\n[B]\nK=w\n", "# nothing yet\n[B]\nK=w\n"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(IniDocumentTest, KnowsWhenAnEditLeavesTheTextAsItWas) {
    const std::string text = "# top\n[A]\nDriver=D\nK=v\n\n[B]\nL=w\n";
    IniDocument same(text);
    same.SetSection("A", {{"Driver", "D"}, {"K", "v"}});
    EXPECT_FALSE(same.Changed());

    IniDocument renamed(text);
    renamed.SetSection("a", {{"Driver", "D"}, {"K", "v"}});
    EXPECT_TRUE(renamed.Changed()) << "the header's spelling is part of the text";

    IniDocument fewer(text);
    fewer.SetSection("B", {});
    EXPECT_TRUE(fewer.Changed());
}

struct TakeCase {
    const char* label;
    const char* text;
    const char* section; // set to {Driver=D}; removed first when `remove`
    bool remove;
};

void PrintTo(const TakeCase& c, std::ostream* out) { *out << c.label; }

class IniTakeTextTest : public ::testing::TestWithParam<TakeCase> {};

TEST_P(IniTakeTextTest, GivesWhatTextGives) {
    const TakeCase& c = GetParam();
    IniDocument document(c.text);
    if (c.remove) {
        ASSERT_TRUE(document.RemoveSection(c.section));
    } else {
        document.SetSection(c.section, {{"Driver", "D"}});
    }
    const std::string expected = document.Text();
    EXPECT_EQ(document.TakeText(), expected);
}

INSTANTIATE_TEST_SUITE_P(Edits, IniTakeTextTest,
                         ::testing::Values(TakeCase{"Appended", "[A]\nK=v\n", "New", false},
                                           TakeCase{"AppendedAfterUnterminatedLine", "[A]\nK=v", "New", false},
                                           TakeCase{"AppendedToEmptyFile", "", "New", false},
                                           TakeCase{"ReplacedInTheMiddle", "[A]\nK=v\n[B]\nL=w\n", "A", false},
                                           TakeCase{"Removed", "[A]\nK=v\n\n[B]\nL=w\n", "A", true}),
                         [](const auto& info) { return std::string(info.param.label); });

} // namespace
} // namespace tarnwick::setup
