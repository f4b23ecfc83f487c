#include "ini_document.h"

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "odbc_sandbox.h"

namespace tarnwick::setup {
namespace {

using namespace std::string_literals;
using testing::OdbcSandbox;
using testing::RunCommand;

struct ReadingCase {
    const char* label;
    std::string text;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const ReadingCase& c, std::ostream* out) { *out << c.label; }

// Files whose reading is easy to get wrong; each is read both by IniDocument
// and by unixODBC itself (odbcinst), and the two must agree.
const ReadingCase kReadingCases[] = {
    {"CommentsBlanksAndIndentedLines",
     "# top\n; also top\n\n[A]\nDriver = foo\n# Driver=bar\n;X=1\n  Key2 = v\n\tTabbed=1\n[B]\nDriver=B1\n   [ C ] t\nX=1\n"},
    {"EqualsInValueAndTrimming", "[A]\nK = a = b \nEmpty=\n   \n"},
    {"KeyWithoutEquals", "[A]\nLonely\nK=v\n"},
    {"HeaderWithTrailingText", "[A] trailing\nK=v\n[ Spaced ]\nL=w\n"},
    {"CarriageReturns", "[A]\r\nK=v\r\n\r\n[B]\r\nL=w"},
    {"UnterminatedLastLine", "[A]\nK=v"},
    {"RepeatedKeysAndSections", "[A]\nK=1\nK=2\n[A]\nK=3\n"},
};

class IniReadingTest : public ::testing::TestWithParam<ReadingCase> {};

TEST_P(IniReadingTest, ReadsLikeUnixOdbc) {
    const ReadingCase& c = GetParam();
    const IniDocument document(c.text);
    ASSERT_FALSE(document.Problem()) << *document.Problem();
    EXPECT_EQ(document.Text(), c.text);

    OdbcSandbox sandbox;
    sandbox.WriteOdbcIni(c.text);
    std::vector<std::string> names;
    std::string listing;
    for (const auto& name : document.SectionNames()) {
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
            listing += "[" + name + "]\n";
        }
    }
    EXPECT_EQ(RunCommand({"odbcinst", "-q", "-s"}, sandbox.Environment()).output, listing);

    for (const auto& name : names) {
        std::string expected = "[" + name + "]\n";
        // odbcinst lists each entry with the value that a lookup of its name finds.
        for (const auto& entry : document.Entries(name)) {
            expected += entry.name + "=" + document.Value(name, entry.name).value_or("<none>") + "\n";
        }
        EXPECT_EQ(RunCommand({"odbcinst", "-q", "-s", "-n", name}, sandbox.Environment()).output, expected)
            << "section " << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Files, IniReadingTest, ::testing::ValuesIn(kReadingCases),
                         [](const auto& info) { return std::string(info.param.label); });

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
                      ProblemCase{"IndentedFirstHeader", " [A]\nK=v\n", "line 1 is neither"},
                      ProblemCase{"OverlongLine", "[A]\nK=" + std::string(998, 'v') + "\n", "line 2 is longer"},
                      ProblemCase{"NulByte", "[A]\nK=a\0b\n"s, "NUL"}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(IniDocumentTest, EmptyAndCommentOnlyFilesAreReadable) {
    EXPECT_FALSE(IniDocument("").Problem());
    EXPECT_FALSE(IniDocument("# nothing yet\n\n").Problem());
}

TEST(IniDocumentTest, ReplacingASectionKeepsItsCommentsAndEverythingAround) {
    IniDocument document(
        "# data sources\n\n[Other]\nDriver=PostgreSQL\n\n[sales]\n# the sales figures\nDriver=Access\nOld=1\n"
        "  indented, ignored\nDBQ=old.mdb\n; trailing note\n\n[Last]\nDriver=X\n");
    document.SetSection("Sales", {{"Driver", "Access"}, {"DBQ", "new.mdb"}});
    EXPECT_EQ(document.Text(),
              "# data sources\n\n[Other]\nDriver=PostgreSQL\n\n[Sales]\n# the sales figures\nDriver=Access\n"
              "DBQ=new.mdb\n  indented, ignored\n; trailing note\n\n[Last]\nDriver=X\n");
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
// reads: odbcinst is asked too, since a file it refuses lists no data source
// (it has nothing to list either when no section is left).
TEST_P(IniRemovalTest, TakesTheSectionAndLeavesTheCommentsForWhatFollows) {
    IniDocument document(GetParam().before);
    ASSERT_TRUE(document.RemoveSection("gone"));
    EXPECT_EQ(document.Text(), GetParam().after);
    EXPECT_FALSE(document.RemoveSection("Gone"));

    const IniDocument after(document.Text());
    EXPECT_FALSE(after.Problem()) << *after.Problem();
    if (after.SectionNames().empty()) {
        return;
    }
    OdbcSandbox sandbox;
    sandbox.WriteOdbcIni(document.Text());
    std::string listing;
    for (const auto& name : after.SectionNames()) {
        listing += "[" + name + "]\n";
    }
    EXPECT_EQ(RunCommand({"odbcinst", "-q", "-s"}, sandbox.Environment()).output, listing);
}

INSTANTIATE_TEST_SUITE_P(
    Files, IniRemovalTest,
    ::testing::Values(
        RemovalCase{"CommentsAfterItsEntries",
                    "[A]\nK=v\n\n[Gone]\n# about Gone\nDriver=D\nDBQ=x\n\n# about B\n[B]\nK=w\n",
                    "[A]\nK=v\n\n# about B\n[B]\nK=w\n"},
        RemovalCase{"TheOnlySection", "# keep me\n[Gone]\nDriver=D", "# keep me\n"},
        RemovalCase{"FirstSectionEndingInAnIndentedLine", "[Gone]\r\nkey=value\r\n  [\n[B]\nK=w\n", "[B]\nK=w\n"},
        RemovalCase{"FirstSectionWithIndentedLineThenComment",
                    "[Gone]\nDriver=D\n\tignored\n\n# about B\n[B]\nK=w\n", "\n# about B\n[B]\nK=w\n"},
        RemovalCase{"IndentedCommentStays", "[Gone]\nDriver=D\n  # about B\n[B]\nK=w\n",
                    "  # about B\n[B]\nK=w\n"},
        RemovalCase{"MiddleSectionEndingInAnIndentedLine",
                    "[A]\nK=v\n\n[Gone]\nDriver=D\n  continued\n\n[B]\nK=w\n", "[A]\nK=v\n\n[B]\nK=w\n"},
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

INSTANTIATE_TEST_SUITE_P(
    Edits, IniTakeTextTest,
    ::testing::Values(TakeCase{"Appended", "[A]\nK=v\n", "New", false},
                      TakeCase{"AppendedAfterUnterminatedLine", "[A]\nK=v", "New", false},
                      TakeCase{"AppendedToEmptyFile", "", "New", false},
                      TakeCase{"ReplacedInTheMiddle", "[A]\nK=v\n[B]\nL=w\n", "A", false},
                      TakeCase{"Removed", "[A]\nK=v\n\n[B]\nL=w\n", "A", true}),
    [](const auto& info) { return std::string(info.param.label); });

} // namespace
} // namespace tarnwick::setup
