// The runtime services the program relies on: its error types with their message texts,
// text trimming, and the integer and floating-point conversions of configuration entries
// and server replies. Errors nobody catches reach main(), which reports and exits 1.
#pragma once

#include <stdexcept>
#include <string>

// Every error the runtime raises; main() shows what() under "Application Error".
class RuntimeError : public std::runtime_error {
public:
    explicit RuntimeError(const std::string& message) : std::runtime_error(message) {}
};

// A text that is not the number it should be.
class ConversionError : public RuntimeError {
public:
    using RuntimeError::RuntimeError;
};

// A number that does not fit where it goes ("Range check error").
class RangeError : public RuntimeError {
public:
    RangeError() : RuntimeError("Range check error") {}
};

// A file that cannot be opened or written.
class FileError : public RuntimeError {
public:
    using RuntimeError::RuntimeError;
};

// Removes leading and trailing characters with codes 0 to 32 (blanks and control characters).
std::string TrimText(const std::string& text);

// A signed 32-bit whole number: optional sign, decimal digits, nothing else.
// Raises ConversionError "'%s' is not a valid integer value". In both conversion errors a
// text longer than 64 characters is quoted as its first 64, "... (N bytes)".
int StrToInt(const std::string& text);

// A floating-point number with the user's decimal separator (from the locale's LC_NUMERIC;
// "." when it names none): optional blanks, optional sign, digits with an optional
// fraction, an optional exponent, optional blanks. Raises ConversionError
// "'%s' is not a valid floating point value".
double StrToFloat(const std::string& text);

// The decimal separator of the user's regional settings.
char DecimalSeparator();

// Plain decimal text of a whole number, with a minus sign when negative.
std::string IntToStr(long long value);
