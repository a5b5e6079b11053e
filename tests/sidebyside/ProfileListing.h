// What the private-profile functions make of a whole INI file, as one text: every section
// name, then each of its keys with the value read for it (buffer of 2048 bytes, as the
// configuration reads). Bytes a reader could not see are written \xNN. Used by the profile
// tests (golden listings) and by the probe that holds our functions beside Windows' own.
#pragma once

#include "platform/Profile.h"

#include <cstdio>
#include <string>
#include <vector>

namespace profilelisting {

// A zero-separated name list as the functions return it for a null section or key.
inline std::vector<std::string> Names(const std::string& file, const char* section) {
    std::vector<char> buffer(65536);
    DWORD length = GetPrivateProfileStringA(section, nullptr, "", buffer.data(), static_cast<DWORD>(buffer.size()),
                                            file.c_str());
    std::vector<std::string> names;
    for (std::size_t at = 0; at < length;) {
        std::string name(buffer.data() + at);
        names.push_back(name);
        at += name.size() + 1;
    }
    return names;
}

inline std::string Visible(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c < 0x20 || c > 0x7E || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

inline std::string Listing(const std::string& file) {
    std::string out;
    for (const std::string& section : Names(file, nullptr)) {
        out += "[" + Visible(section) + "]\n";
        for (const std::string& key : Names(file, section.c_str())) {
            char value[2048] = "";
            GetPrivateProfileStringA(section.c_str(), key.c_str(), "<default>", value, sizeof value, file.c_str());
            out += Visible(key) + "=" + Visible(value) + "\n";
        }
    }
    return out;
}

}  // namespace profilelisting
