// The configuration file: where the flight data come from, whether the window has a
// frame, and where the window stands. Read once at start-up; the placement entries are
// rewritten while the program runs. Every read and write goes straight to the file.
#pragma once

#include <string>

// Section and key names and the file's name, as users write them in the file.
namespace config {
inline constexpr char FileName[] = "KORVAVorAdf.INI";
inline constexpr char SectionLan[] = "LAN";
inline constexpr char KeyUseLan[] = "USELAN";
inline constexpr char KeyServer[] = "KORVASERVER";
inline constexpr char KeyPort[] = "KORVAPORT";
inline constexpr char SectionBorder[] = "WINBORDER";
inline constexpr char KeyActive[] = "ACTIVE";
inline constexpr char SectionWindow[] = "WINDOW";
inline constexpr char KeyX[] = "X";
inline constexpr char KeyY[] = "Y";
inline constexpr char SectionSize[] = "WINSIZE";
inline constexpr char KeyWidth[] = "WIDTH";
inline constexpr char KeyHeight[] = "HEIGHT";
inline constexpr char DefaultPosition[] = "0";
inline constexpr char DefaultSize[] = "400";
}  // namespace config

// Filled by ReadConfiguration, for the life of the process.
extern bool NetworkMode;
extern std::string ServerAddress;
extern std::string ServerPort;
extern bool Borderless;
extern int WindowX;
extern int WindowY;
extern int WindowWidth;
extern int WindowHeight;
// The configuration file by its full path: the current directory at start-up, the path
// delimiter, and the file name.
extern std::string ConfigFile;

// Sets up ConfigFile and reads every entry; called once before the window exists.
void ReadConfiguration();
// Reads X, Y, WIDTH and HEIGHT into WindowX, WindowY, WindowWidth and WindowHeight.
void ReadPlacement();

// One entry as stored (up to 2047 characters), or the default when missing. Not stripped.
std::string ReadConfigEntry(const char* section, const char* key, const char* defaultValue);
// One entry, stripped and parsed as a signed 32-bit whole number.
int ReadConfigInteger(const char* section, const char* key, const char* defaultValue);
// Stores one entry at once; raises FileError "Unable to write to %s" when refused.
void WriteConfigEntry(const char* section, const char* key, const std::string& value);
void WriteConfigInteger(const char* section, const char* key, long long value);
