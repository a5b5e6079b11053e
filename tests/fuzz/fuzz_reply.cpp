// Fuzz target: a data server's reply on its way to a raw field. The reply is cut at its first
// zero byte, converted with StrToFloat and reduced with WordFromReply and HeadingFromReply, as
// network sampling does. ConversionError and RangeError are the program's answers to bad
// replies; any other exception, a sanitizer report or a number that is not finite is a finding.
// The first 8 bytes also go in as a double of their own (infinities, NaNs, denormals), and the
// reply through StrToInt, which reads whole numbers of the configuration.
#include "base/Runtime.h"
#include "flightdata/NetworkSampling.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

namespace {

void Check(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "reply finding: %s\n", what);
    std::abort();
}

void Reduce(double number) {
    HeadingFromReply(number);
    try {
        WordFromReply(number);
        Check(std::nearbyint(number) >= -2147483648.0 && std::nearbyint(number) < 2147483648.0,
              "a word from a number beyond 32 bits");
    } catch (const RangeError&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const void* zero = std::memchr(data, 0, size);
    const std::size_t length = zero ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(zero) - data) : size;
    const std::string reply(reinterpret_cast<const char*>(data), length);

    try {
        const double number = StrToFloat(reply);
        Check(std::isfinite(number), "a reply became an infinity or NaN");
        Reduce(number);
    } catch (const ConversionError& error) {
        // A long reply is quoted by its first 64 characters and its length.
        const std::string quoted =
            reply.size() <= 64 ? reply : reply.substr(0, 64) + "... (" + std::to_string(reply.size()) + " bytes)";
        Check(std::string(error.what()) == "'" + quoted + "' is not a valid floating point value",
              "another message than the runtime's");
    } catch (const RangeError&) {
        std::fprintf(stderr, "reply finding: RangeError from StrToFloat\n");
        std::abort();
    }

    try {
        const int value = StrToInt(reply);
        Check(std::strtoll(reply.c_str(), nullptr, 10) == value, "a whole number read as another");
    } catch (const ConversionError&) {
    }

    if (size >= 8) {
        double raw;
        std::memcpy(&raw, data, sizeof raw);
        Reduce(raw);
    }
    return 0;
}
