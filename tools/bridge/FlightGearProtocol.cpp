// FlightGear's generic protocol lines (korva.xml) to samples.
#include "FlightGearProtocol.h"

#include <cerrno>
#include <cstdlib>

namespace flightgear {

const char* const Properties[6] = {
    "/orientation/heading-deg",
    "/orientation/heading-magnetic-deg",
    "/instrumentation/nav[0]/heading-deg",
    "/instrumentation/nav[1]/heading-deg",
    "/instrumentation/adf[0]/indicated-bearing-deg",
    "/instrumentation/adf[1]/indicated-bearing-deg",
};

namespace {

// A whole field as a number; blanks around it are allowed. NaN when it is none.
double Number(const std::string& text) {
    const char* begin = text.c_str();
    char* end = nullptr;
    errno = 0;
    double value = std::strtod(begin, &end);
    if (end == begin || errno == ERANGE) return BridgeSample::None;
    while (*end == ' ' || *end == '\t') ++end;
    return *end == '\0' ? value : BridgeSample::None;
}

}  // namespace

bool ParseLine(const std::string& line, BridgeSample& sample) {
    double fields[FieldCount];
    std::size_t count = 0, start = 0;
    for (;;) {
        std::size_t comma = line.find(',', start);
        if (count == FieldCount) return false;
        fields[count++] = Number(line.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    if (count != FieldCount) return false;
    sample = BridgeSample{};
    sample.trueHeading = fields[0];
    sample.magneticHeading = fields[1];
    // True bearings to the stations; the nose is the true heading. NaN stays NaN.
    sample.vor1Relative = fields[2] - fields[0];
    sample.vor2Relative = fields[3] - fields[0];
    sample.adf1Relative = fields[4];
    sample.adf2Relative = fields[5];
    return true;
}

int ParseDatagram(const char* data, std::size_t length, std::vector<BridgeSample>& samples) {
    int bad = 0;
    std::size_t start = 0;
    while (start < length) {
        std::size_t end = start;
        while (end < length && data[end] != '\n') ++end;
        std::string line(data + start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) {
            BridgeSample sample;
            if (ParseLine(line, sample))
                samples.push_back(sample);
            else
                ++bad;
        }
        start = end + 1;
    }
    return bad;
}

}  // namespace flightgear
