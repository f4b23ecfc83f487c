#include "dsn/create_dsn.h"

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "recording_window.h"
#include "scripted_installer.h"

namespace {

using tarnwick::testing::RecordingWindow;
using tarnwick::testing::ScriptedInstaller;
using Record = ScriptedInstaller::Record;

TEST(DisplayODBCErrors, NoRecordsWritesNothing) {
    RecordingWindow window;
    ScriptedInstaller installer;
    EXPECT_EQ(DisplayODBCErrors(window, installer), 0);
    EXPECT_TRUE(window.lines.empty());
    EXPECT_EQ(installer.indexesAsked, (std::vector<std::uint16_t>{1}));
}

TEST(DisplayODBCErrors, ListsRecordsInIndexOrder) {
    RecordingWindow window;
    ScriptedInstaller installer;
    installer.records = {Record{0, 11, "Invalid DSN"}, Record{1, 1, "General installer error"}};
    EXPECT_EQ(DisplayODBCErrors(window, installer), 1);
    EXPECT_EQ(window.lines,
              (std::vector<std::string>{" ODBC Error 11: Invalid DSN\n", " ODBC Error 1: General installer error\n"}));
    EXPECT_EQ(installer.indexesAsked, (std::vector<std::uint16_t>{1, 2, 3}));
    EXPECT_EQ(installer.capacitiesTold, (std::vector<std::uint16_t>{300, 300, 300}));
}

TEST(DisplayODBCErrors, EmptyText) {
    RecordingWindow window;
    ScriptedInstaller installer;
    installer.records = {Record{0, 7, ""}};
    EXPECT_EQ(DisplayODBCErrors(window, installer), 1);
    EXPECT_EQ(window.lines, (std::vector<std::string>{" ODBC Error 7: \n"}));
}

TEST(DisplayODBCErrors, ClearsTheTextBeforeEveryCall) {
    RecordingWindow window;
    ScriptedInstaller installer;
    Record silent{0, 2, "never written"};
    silent.writesText = false;
    installer.records = {Record{0, 1, "first"}, silent};
    EXPECT_EQ(DisplayODBCErrors(window, installer), 1);
    EXPECT_TRUE(installer.bufferCleared);
    EXPECT_EQ(window.lines, (std::vector<std::string>{" ODBC Error 1: first\n", " ODBC Error 2: \n"}));
}

TEST(DisplayODBCErrors, SkipsUnknownStatuses) {
    RecordingWindow window;
    ScriptedInstaller installer;
    installer.records = {Record{-1, 9, "error status"}, Record{0, 3, "kept"}, Record{2, 4, "status two"},
                         Record{99, 5, "status 99"}, Record{1, 6, "kept too"}};
    EXPECT_EQ(DisplayODBCErrors(window, installer), 1);
    EXPECT_EQ(window.lines, (std::vector<std::string>{" ODBC Error 3: kept\n", " ODBC Error 6: kept too\n"}));
    EXPECT_EQ(installer.indexesAsked, (std::vector<std::uint16_t>{1, 2, 3, 4, 5, 6}));
}

TEST(DisplayODBCErrors, OnlyUnknownStatusesCountAsNoLines) {
    RecordingWindow window;
    ScriptedInstaller installer;
    installer.records = {Record{-1, 9, "error status"}};
    EXPECT_EQ(DisplayODBCErrors(window, installer), 0);
    EXPECT_TRUE(window.lines.empty());
}

struct EndlessCase {
    const char* name;
    std::int16_t status;
    std::size_t lines;
    friend void PrintTo(const EndlessCase& c, std::ostream* os) { *os << "status " << c.status; }
};

class EndlessInstaller : public ::testing::TestWithParam<EndlessCase> {};

// An installer that never answers 100 must not keep the loop going, and the
// index must never wrap round to 0.
TEST_P(EndlessInstaller, LoopEnds) {
    RecordingWindow window;
    ScriptedInstaller installer;
    installer.statusPastEnd = GetParam().status;
    installer.records = {Record{0, 1, "real"}};
    for (std::uint16_t i = 1; i < 70; ++i) {
        installer.records.push_back(Record{GetParam().status, 2, "again"});
    }
    DisplayODBCErrors(window, installer);

    EXPECT_EQ(window.lines.size(), GetParam().lines);
    ASSERT_EQ(installer.indexesAsked.size(), dsn::MaxErrorRecords);
    for (std::size_t i = 0; i < installer.indexesAsked.size(); ++i) {
        EXPECT_EQ(installer.indexesAsked[i], i + 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Statuses, EndlessInstaller,
                         ::testing::Values(EndlessCase{"AlwaysARecord", 0, dsn::MaxErrorRecords},
                                           EndlessCase{"AlwaysAnError", -1, 1}),
                         [](const ::testing::TestParamInfo<EndlessCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(DisplayODBCErrors, CodeIsShownSigned) {
    RecordingWindow window;
    ScriptedInstaller installer;
    installer.records = {Record{0, 0xFFFFFFFFu, "a"}, Record{0, 0x80000000u, "b"}, Record{0, 0x7FFFFFFFu, "c"}};
    DisplayODBCErrors(window, installer);
    EXPECT_EQ(window.lines, (std::vector<std::string>{" ODBC Error -1: a\n", " ODBC Error -2147483648: b\n",
                                                      " ODBC Error 2147483647: c\n"}));
}

struct LongTextCase {
    const char* name;
    std::size_t length;
    std::int16_t status;
    friend void PrintTo(const LongTextCase& c, std::ostream* os) { *os << c.length << " bytes"; }
};

class LongText : public ::testing::TestWithParam<LongTextCase> {};

// The scripted installer writes as unixODBC does: up to 300 bytes of text and
// then the terminator, 301 bytes in all. AddressSanitizer checks the buffer.
TEST_P(LongText, FitsTheBuffer) {
    RecordingWindow window;
    ScriptedInstaller installer;
    std::string text;
    for (std::size_t i = 0; i < GetParam().length; ++i) {
        text.push_back(static_cast<char>('a' + i % 26));
    }
    installer.records = {Record{GetParam().status, 1, text}};
    EXPECT_EQ(DisplayODBCErrors(window, installer), 1);
    ASSERT_EQ(window.lines.size(), 1u);
    EXPECT_EQ(window.lines[0], " ODBC Error 1: " + text.substr(0, 300) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Lengths, LongText,
                         ::testing::Values(LongTextCase{"Exactly300", 300, 0}, LongTextCase{"Cut301", 301, 1},
                                           LongTextCase{"Cut1000", 1000, 1}),
                         [](const ::testing::TestParamInfo<LongTextCase>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
