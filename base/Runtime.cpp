// The runtime's text conversions and their error texts.
#include "base/Runtime.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

// A conversion error quotes at most this much of the text; a server can send a megabyte.
constexpr std::size_t QuotedTextLimit = 64;

// The text as a conversion error quotes it: whole when short, else its start and its length.
std::string QuotedText(const std::string& text) {
    if (text.size() <= QuotedTextLimit) return text;
    return text.substr(0, QuotedTextLimit) + "... (" + std::to_string(text.size()) + " bytes)";
}

}  // namespace

std::string TrimText(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
    return text.substr(begin, end - begin);
}

int StrToInt(const std::string& text) {
    auto fail = [&]() { return ConversionError("'" + QuotedText(text) + "' is not a valid integer value"); };
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) throw fail();
    long long value = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9') throw fail();
        value = value * 10 + (c - '0');
        if (value > 2147483648LL) throw fail();
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int>::max() || value < std::numeric_limits<int>::min()) throw fail();
    return static_cast<int>(value);
}

char DecimalSeparator() {
    // The program never calls setlocale for LC_NUMERIC itself, so ask the environment the
    // way the user's settings would be asked: LC_ALL, then LC_NUMERIC, then LANG.
    static const char separator = [] {
        const char* saved = std::setlocale(LC_NUMERIC, nullptr);
        std::string previous = saved ? saved : "C";
        char result = '.';
        if (std::setlocale(LC_NUMERIC, "")) {
            const std::lconv* conv = std::localeconv();
            if (conv && conv->decimal_point && conv->decimal_point[0] && !conv->decimal_point[1])
                result = conv->decimal_point[0];
        }
        std::setlocale(LC_NUMERIC, previous.c_str());
        return result;
    }();
    return separator;
}

namespace {

long ExponentOf(const std::string& canonical) {
    std::size_t e = canonical.find('e');
    if (e == std::string::npos) return 0;
    long value = 0;
    bool negative = false;
    std::size_t i = e + 1;
    if (i < canonical.size() && (canonical[i] == '+' || canonical[i] == '-')) negative = canonical[i++] == '-';
    for (; i < canonical.size(); ++i) value = std::min(100000L, value * 10 + (canonical[i] - '0'));
    return negative ? -value : value;
}

// The power of ten of the first significant digit of a canonical number ("1.5e3": 4,
// "0.002": -2); tells an overflow from an underflow.
long DecimalMagnitude(const std::string& canonical) {
    std::size_t i = 0, n = canonical.size();
    if (i < n && (canonical[i] == '+' || canonical[i] == '-')) ++i;
    long magnitude = 0;
    bool significant = false, fraction = false;
    for (; i < n && canonical[i] != 'e'; ++i) {
        char c = canonical[i];
        if (c == '.') {
            fraction = true;
        } else if (!significant && c == '0') {
            if (fraction) --magnitude;
        } else {
            if (!significant && fraction) return magnitude + ExponentOf(canonical);
            significant = true;
            if (!fraction) ++magnitude;
        }
    }
    return significant ? magnitude + ExponentOf(canonical) : 0;
}

// Parses by the grammar with the given separator; false when the text does not match.
bool ParseFloat(const std::string& text, char separator, double& out) {
    std::size_t i = 0, n = text.size();
    while (i < n && text[i] == ' ') ++i;
    std::string canonical;  // rebuilt with "." as the separator, for from_chars
    if (i < n && (text[i] == '+' || text[i] == '-')) canonical += text[i++];
    std::size_t digits = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') { canonical += text[i++]; ++digits; }
    if (digits == 0) return false;
    if (i < n && text[i] == separator) {
        canonical += '.';
        ++i;
        while (i < n && text[i] >= '0' && text[i] <= '9') canonical += text[i++];
    }
    if (i < n && (text[i] == 'e' || text[i] == 'E')) {
        canonical += 'e';
        ++i;
        if (i < n && (text[i] == '+' || text[i] == '-')) canonical += text[i++];
        std::size_t expDigits = 0;
        while (i < n && text[i] >= '0' && text[i] <= '9') { canonical += text[i++]; ++expDigits; }
        if (expDigits == 0) return false;
    }
    while (i < n && text[i] == ' ') ++i;
    if (i != n) return false;
    // from_chars reads "." whatever the process locale says.
    const char* first = canonical.data();
    const char* last = first + canonical.size();
    if (*first == '+') ++first;  // from_chars takes a minus sign only
    auto [end, error] = std::from_chars(first, last, out);
    // A number beyond the range of a double is no valid number either (it would become an
    // infinity that no later conversion can take); one too small to tell from 0 is 0.
    if (error == std::errc::result_out_of_range) {
        if (DecimalMagnitude(canonical) > 0) return false;
        out = 0.0;
        return end == last;
    }
    return error == std::errc() && end == last && !std::isinf(out);
}

}  // namespace

double StrToFloat(const std::string& text) {
    double value = 0;
    if (!ParseFloat(text, DecimalSeparator(), value))
        throw ConversionError("'" + QuotedText(text) + "' is not a valid floating point value");
    return value;
}

std::string IntToStr(long long value) {
    return std::to_string(value);
}
