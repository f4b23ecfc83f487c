// Feeds arbitrary bytes to the decoders of the helper's request and answer,
// the first thing the privileged helper does with its caller's input. A
// stream that decodes must be exactly what encoding the result gives back:
// nothing accepted around the fields, nothing lost inside them.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "system_dsn_client/system_dsn_request.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view stream(reinterpret_cast<const char*>(data), size);
    if (const auto request = dsn::DecodeRequest(stream)) {
        if (dsn::EncodeRequest(*request) != stream) {
            __builtin_trap();
        }
    }
    if (const auto answer = dsn::DecodeAnswer(stream)) {
        if (dsn::EncodeAnswer(*answer) != stream) {
            __builtin_trap();
        }
    }
    return 0;
}
