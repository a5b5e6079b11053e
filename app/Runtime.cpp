// The runtime's text conversions and their error texts.
#include "app/Runtime.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <limits>

std::string TrimText(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
    return text.substr(begin, end - begin);
}

int StrToInt(const std::string& text) {
    auto fail = [&]() { return ConversionError("'" + text + "' is not a valid integer value"); };
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

// Parses by the grammar with the given separator; false when the text does not match.
bool ParseFloat(const std::string& text, char separator, double& out) {
    std::size_t i = 0, n = text.size();
    while (i < n && text[i] == ' ') ++i;
    std::string canonical;  // rebuilt with "." for strtod in the C locale
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
    // strtod follows LC_NUMERIC; the program keeps it at "C", so "." is the separator here.
    char* end = nullptr;
    errno = 0;
    out = std::strtod(canonical.c_str(), &end);
    // A number beyond the range of a double is no valid number either (it would become an
    // infinity that no later conversion can take).
    if (std::isinf(out)) return false;
    return end && *end == '\0';
}

}  // namespace

double StrToFloat(const std::string& text) {
    double value = 0;
    if (!ParseFloat(text, DecimalSeparator(), value))
        throw ConversionError("'" + text + "' is not a valid floating point value");
    return value;
}

std::string IntToStr(long long value) {
    return std::to_string(value);
}
