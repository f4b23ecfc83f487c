// The framing between the program and the privileged helper: exact round
// trips, and every malformed stream refused.
#include "system_dsn_client/system_dsn_request.h"

#include <ostream>
#include <string>

#include <gtest/gtest.h>

namespace {

using namespace std::string_literals;

const dsn::SystemDsnRequest TypicalRequest{
    "/home/user/data", "Microsoft Access Driver (*.mdb)",
    "DSN=Sales\0FIL=MS Access\0JetIniPath=odbcddp.ini\0DBQ=sales.mdb\0DefaultDir=/srv/\0"
    "Description=\0UID=\0PWD=\0\0\0"s};

TEST(SystemDsnRequest, RoundTripsEveryByte) {
    for (const dsn::SystemDsnRequest& request : {TypicalRequest, dsn::SystemDsnRequest{"/", "", "\0"s},
                                                 dsn::SystemDsnRequest{"/d\nend\n", "x\n", std::string(40000, '\0')}}) {
        const auto decoded = dsn::DecodeRequest(dsn::EncodeRequest(request));
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->directory, request.directory);
        EXPECT_EQ(decoded->driver, request.driver);
        EXPECT_EQ(decoded->attributes, request.attributes);
    }
}

TEST(SystemDsnAnswer, RoundTripsResultAndRecords) {
    for (const dsn::SystemDsnAnswer& answer :
         {dsn::SystemDsnAnswer{true, {}},
          dsn::SystemDsnAnswer{false,
                               {{19, "Cannot open /etc/odbc.ini"}, {4294967295u, "a\0b\nrecord 1 0\n"s}, {0, ""}}}}) {
        const auto decoded = dsn::DecodeAnswer(dsn::EncodeAnswer(answer));
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->created, answer.created);
        EXPECT_EQ(decoded->records, answer.records);
    }
}

TEST(AttributeListLength, CountsUpToTheEmptyEntrysNul) {
    EXPECT_EQ(dsn::AttributeListLength("\0"), 1u);
    EXPECT_EQ(dsn::AttributeListLength("A=1\0B=\0\0"), 8u);
    EXPECT_EQ(dsn::AttributeListLength(TypicalRequest.attributes.c_str()), TypicalRequest.attributes.size() - 1);
}

struct MalformedStream {
    const char* name;
    std::string stream;
    friend void PrintTo(const MalformedStream& c, std::ostream* os) { *os << c.name; }
};

std::string Request(const std::string& afterHeader) { return "tarnwick-system-dsn 1\n" + afterHeader; }
const std::string Fields = "directory 2\n/d\ndriver 1\nx\nattributes 2\nA\0\n"s;

class MalformedRequest : public ::testing::TestWithParam<MalformedStream> {};

TEST_P(MalformedRequest, IsRefusedWithAReason) {
    std::string problem;
    EXPECT_FALSE(dsn::DecodeRequest(GetParam().stream, &problem));
    EXPECT_FALSE(problem.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Streams, MalformedRequest,
    ::testing::Values(
        MalformedStream{"Empty", ""}, MalformedStream{"OtherHeader", "tarnwick-system-dsn 2\n" + Fields + "end\n"},
        MalformedStream{"AnswerHeader", "tarnwick-system-dsn-answer 1\n" + Fields + "end\n"},
        MalformedStream{"MissingField", Request("directory 2\n/d\ndriver 1\nx\nend\n")},
        MalformedStream{"FieldsOutOfOrder", Request("driver 1\nx\ndirectory 2\n/d\nattributes 2\nA\0\nend\n"s)},
        MalformedStream{"MissingTerminator", Request(Fields)},
        MalformedStream{"TruncatedTerminator", Request(Fields + "end")},
        MalformedStream{"TrailingBytes", Request(Fields + "end\n\0"s)},
        MalformedStream{"SecondRequest", Request(Fields + "end\n") + Request(Fields + "end\n")},
        MalformedStream{"LengthOverruns", Request("directory 200\n/d\ndriver 1\nx\nattributes 2\nA\0\nend\n"s)},
        MalformedStream{"LengthShort", Request("directory 1\n/d\ndriver 1\nx\nattributes 2\nA\0\nend\n"s)},
        MalformedStream{"LeadingZero", Request("directory 02\n/d\ndriver 1\nx\nattributes 2\nA\0\nend\n"s)},
        MalformedStream{"SignedLength", Request("directory +2\n/d\ndriver 1\nx\nattributes 2\nA\0\nend\n"s)},
        MalformedStream{"NoLength", Request("directory \n/d\ndriver 1\nx\nattributes 2\nA\0\nend\n"s)},
        MalformedStream{"HugeLength", Request("directory 99999999999999999999999\n/d\n")},
        MalformedStream{"NulInFieldLine", Request("directory\0002\n/d\ndriver 1\nx\nattributes 2\nA\0\nend\n"s)},
        MalformedStream{"LongerThan64KiB", Request("directory 2\n/d\ndriver 1\nx\nattributes 65536\n" +
                                                   std::string(65536, 'a') + "\nend\n")}),
    [](const auto& info) { return std::string(info.param.name); });

std::string Answer(const std::string& afterHeader) { return "tarnwick-system-dsn-answer 1\n" + afterHeader; }

class MalformedAnswer : public ::testing::TestWithParam<MalformedStream> {};

TEST_P(MalformedAnswer, IsRefused) { EXPECT_FALSE(dsn::DecodeAnswer(GetParam().stream)); }

INSTANTIATE_TEST_SUITE_P(
    Streams, MalformedAnswer,
    ::testing::Values(MalformedStream{"Empty", ""}, MalformedStream{"RequestHeader", Request("result 1\nend\n")},
                      MalformedStream{"NoResult", Answer("end\n")},
                      MalformedStream{"ResultTwo", Answer("result 2\nend\n")},
                      MalformedStream{"ResultLeadingZero", Answer("result 01\nend\n")},
                      MalformedStream{"MissingTerminator", Answer("result 0\nrecord 1 1\nx\n")},
                      MalformedStream{"TrailingBytes", Answer("result 1\nend\nend\n")},
                      MalformedStream{"RecordOverruns", Answer("result 0\nrecord 1 9\nx\nend\n")},
                      MalformedStream{"RecordWithoutLength", Answer("result 0\nrecord 1\nx\nend\n")},
                      MalformedStream{"CodeTooLarge", Answer("result 0\nrecord 4294967296 1\nx\nend\n")},
                      MalformedStream{"UnknownLine", Answer("result 0\nnote 1\nx\nend\n")}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
