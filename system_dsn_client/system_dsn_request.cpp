#include "system_dsn_client/system_dsn_request.h"

#include <cstring>
#include <limits>

namespace dsn {

namespace {

constexpr std::string_view RequestHeader = "tarnwick-system-dsn 1\n";
constexpr std::string_view AnswerHeader = "tarnwick-system-dsn-answer 1\n";
constexpr std::string_view Terminator = "end\n";

void AppendField(std::string& out, std::string_view name, std::string_view bytes) {
    out += name;
    out += ' ';
    out += std::to_string(bytes.size());
    out += '\n';
    out += bytes;
    out += '\n';
}

// Reads a stream front to back; every step either consumes exactly what it
// expects or fails, and the first failure's description is kept.
class StreamReader {
public:
    explicit StreamReader(std::string_view stream) : rest_(stream) {}

    bool Literal(std::string_view expected, const char* what) {
        if (rest_.substr(0, expected.size()) != expected) {
            return Fail(std::string("expected ") + what);
        }
        rest_.remove_prefix(expected.size());
        return true;
    }

    bool AtLiteral(std::string_view expected) const { return rest_.substr(0, expected.size()) == expected; }

    // A decimal number without leading zeros, at most `limit`, followed by
    // `after`.
    bool Number(std::uint64_t limit, char after, std::uint64_t& value, const char* what) {
        std::size_t digits = 0;
        value = 0;
        while (digits < rest_.size() && rest_[digits] >= '0' && rest_[digits] <= '9') {
            value = value * 10 + static_cast<std::uint64_t>(rest_[digits] - '0');
            ++digits;
            if (value > limit) {
                return Fail(std::string(what) + " is too large");
            }
        }
        if (digits == 0) {
            return Fail(std::string(what) + " is not a number");
        }
        if (digits > 1 && rest_[0] == '0') {
            return Fail(std::string(what) + " has a leading zero");
        }
        if (digits == rest_.size() || rest_[digits] != after) {
            return Fail(std::string(what) + " is not followed by its separator");
        }
        rest_.remove_prefix(digits + 1);
        return true;
    }

    // `<name> <n>\n` <n bytes> `\n`
    bool Field(std::string_view name, std::string& bytes) {
        std::uint64_t length = 0;
        if (!Literal(name, name.data()) || !Literal(" ", "a space after the field name") ||
            !Number(MaxSystemDsnMessage, '\n', length, name.data())) {
            return false;
        }
        return Bytes(length, bytes, name.data());
    }

    bool Bytes(std::uint64_t length, std::string& bytes, const char* what) {
        if (length >= rest_.size()) {
            return Fail(std::string(what) + " runs past the end of the stream");
        }
        bytes.assign(rest_.substr(0, length));
        rest_.remove_prefix(length);
        return Literal("\n", "a line break after the field's bytes");
    }

    bool End() {
        if (!Literal(Terminator, "\"end\"")) {
            return false;
        }
        if (!rest_.empty()) {
            return Fail("bytes follow \"end\"");
        }
        return true;
    }

    bool Fail(std::string why) {
        if (problem_.empty()) {
            problem_ = std::move(why);
        }
        return false;
    }

    const std::string& Problem() const { return problem_; }

private:
    std::string_view rest_;
    std::string problem_;
};

template <typename Message> std::optional<Message> Refuse(const StreamReader& reader, std::string* problem) {
    if (problem != nullptr) {
        *problem = reader.Problem();
    }
    return std::nullopt;
}

bool FitsSize(std::string_view stream, StreamReader& reader) {
    return stream.size() <= MaxSystemDsnMessage || reader.Fail("the stream is longer than 64 KiB");
}

} // namespace

std::string EncodeRequest(const SystemDsnRequest& request) {
    std::string out(RequestHeader);
    AppendField(out, "directory", request.directory);
    AppendField(out, "driver", request.driver);
    AppendField(out, "attributes", request.attributes);
    out += Terminator;
    return out;
}

std::string EncodeAnswer(const SystemDsnAnswer& answer) {
    std::string out(AnswerHeader);
    out += answer.created ? "result 1\n" : "result 0\n";
    for (const InstallerRecord& record : answer.records) {
        AppendField(out, "record " + std::to_string(record.code), record.message);
    }
    out += Terminator;
    return out;
}

std::optional<SystemDsnRequest> DecodeRequest(std::string_view stream, std::string* problem) {
    StreamReader reader(stream);
    SystemDsnRequest request;
    if (!FitsSize(stream, reader) || !reader.Literal(RequestHeader, "the request header") ||
        !reader.Field("directory", request.directory) || !reader.Field("driver", request.driver) ||
        !reader.Field("attributes", request.attributes) || !reader.End()) {
        return Refuse<SystemDsnRequest>(reader, problem);
    }
    return request;
}

std::optional<SystemDsnAnswer> DecodeAnswer(std::string_view stream, std::string* problem) {
    StreamReader reader(stream);
    SystemDsnAnswer answer;
    std::uint64_t result = 0;
    if (!FitsSize(stream, reader) || !reader.Literal(AnswerHeader, "the answer header") ||
        !reader.Literal("result ", "the result") || !reader.Number(1, '\n', result, "the result")) {
        return Refuse<SystemDsnAnswer>(reader, problem);
    }
    answer.created = result == 1;
    while (reader.AtLiteral("record ")) {
        InstallerRecord record;
        std::uint64_t code = 0;
        std::uint64_t length = 0;
        if (!reader.Literal("record ", "a record") ||
            !reader.Number(std::numeric_limits<std::uint32_t>::max(), ' ', code, "the record's code") ||
            !reader.Number(MaxSystemDsnMessage, '\n', length, "the record's length") ||
            !reader.Bytes(length, record.message, "the record")) {
            return Refuse<SystemDsnAnswer>(reader, problem);
        }
        record.code = static_cast<std::uint32_t>(code);
        answer.records.push_back(std::move(record));
    }
    if (!reader.End()) {
        return Refuse<SystemDsnAnswer>(reader, problem);
    }
    return answer;
}

std::size_t AttributeListLength(const char* attributes) {
    const char* entry = attributes;
    while (*entry != '\0') {
        entry += std::strlen(entry) + 1;
    }
    return static_cast<std::size_t>(entry - attributes) + 1;
}

} // namespace dsn
