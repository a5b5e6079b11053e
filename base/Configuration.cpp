// The configuration file, read and written through the platform's profile functions.
#include "base/Configuration.h"

#include "base/Runtime.h"
#include "platform/Profile.h"
#include "platform/System.h"

#include <vector>

bool NetworkMode = false;
std::string ServerAddress;
std::string ServerPort;
bool Borderless = false;
int WindowX = 0;
int WindowY = 0;
int WindowWidth = 400;
int WindowHeight = 400;
std::string ConfigFile;

namespace {

// Values are read into a buffer of this size, so longer values are cut.
constexpr DWORD ValueBufferSize = 2048;

std::string CurrentDirectory() {
    std::vector<char> buffer(4096);
    for (;;) {
        DWORD length = GetCurrentDirectoryA(static_cast<DWORD>(buffer.size()), buffer.data());
        if (length == 0) return std::string();
        if (length < buffer.size()) return std::string(buffer.data(), length);
        buffer.resize(length + 1);
    }
}

}  // namespace

std::string ReadConfigEntry(const char* section, const char* key, const char* defaultValue) {
    std::vector<char> buffer(ValueBufferSize, '\0');
    DWORD length = GetPrivateProfileStringA(section, key, defaultValue, buffer.data(),
                                            ValueBufferSize, ConfigFile.c_str());
    if (length >= ValueBufferSize) length = ValueBufferSize - 1;
    return std::string(buffer.data(), length);
}

int ReadConfigInteger(const char* section, const char* key, const char* defaultValue) {
    return StrToInt(TrimText(ReadConfigEntry(section, key, defaultValue)));
}

void WriteConfigEntry(const char* section, const char* key, const std::string& value) {
    if (!WritePrivateProfileStringA(section, key, value.c_str(), ConfigFile.c_str()))
        throw FileError("Unable to write to " + ConfigFile);
}

void WriteConfigInteger(const char* section, const char* key, long long value) {
    WriteConfigEntry(section, key, IntToStr(value));
}

void ReadPlacement() {
    WindowX = ReadConfigInteger(config::SectionWindow, config::KeyX, config::DefaultPosition);
    WindowY = ReadConfigInteger(config::SectionWindow, config::KeyY, config::DefaultPosition);
    WindowWidth = ReadConfigInteger(config::SectionSize, config::KeyWidth, config::DefaultSize);
    WindowHeight = ReadConfigInteger(config::SectionSize, config::KeyHeight, config::DefaultSize);
}

void ReadConfiguration() {
    NetworkMode = false;
    ServerAddress.clear();
    ServerPort.clear();

    // The delimiter is appended even when the directory already ends in one (the root).
    ConfigFile = CurrentDirectory() + PathDelimiter + config::FileName;

    if (TrimText(ReadConfigEntry(config::SectionLan, config::KeyUseLan, "")) == "Y")
        NetworkMode = true;

    std::string server = TrimText(ReadConfigEntry(config::SectionLan, config::KeyServer, ""));
    if (server.empty())
        NetworkMode = false;
    else
        ServerAddress = server;

    std::string port = TrimText(ReadConfigEntry(config::SectionLan, config::KeyPort, ""));
    if (port.empty())
        NetworkMode = false;
    else
        ServerPort = port;

    ReadPlacement();

    Borderless = TrimText(ReadConfigEntry(config::SectionBorder, config::KeyActive, "Y")) != "Y";
}
