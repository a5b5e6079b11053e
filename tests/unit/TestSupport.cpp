// Helpers shared by the unit tests.
#include "TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

namespace testsupport {

// A new folder of a random name that only its owner may enter (mode 0700 where modes exist).
TempDir::TempDir() {
    static std::mt19937_64 names{std::random_device{}()};
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) base = "/tmp";
    for (int attempt = 0; attempt < 100; ++attempt) {
        char suffix[7];
        static const char letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
        for (int i = 0; i < 6; ++i) suffix[i] = letters[names() % (sizeof letters - 1)];
        suffix[6] = '\0';
        std::filesystem::path candidate = base / (std::string("korva-test-") + suffix);
        if (!std::filesystem::create_directory(candidate, error)) continue;
        std::filesystem::permissions(candidate, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::replace, error);
        path_ = candidate.generic_string();
        return;
    }
    throw std::runtime_error("no temporary folder could be made");
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

ScopedCurrentDirectory::ScopedCurrentDirectory(const std::string& dir) {
    previous_ = std::filesystem::current_path().string();
    std::filesystem::current_path(dir);
}

ScopedCurrentDirectory::~ScopedCurrentDirectory() {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

void SetEnvironment(const std::string& name, const std::string& value) {
    // putenv keeps the string itself, so each setting gets one that is never freed.
    std::string* setting = new std::string(name + "=" + value);
    putenv(&(*setting)[0]);
}

std::string RealPath(const std::string& path) {
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::canonical(path, error);
    return error ? path : resolved.string();
}

std::string RunDir() {
    const char* env = std::getenv("KORVA_RUN_DIR");
    return env ? env : std::string(KORVA_BUILD_DIR) + "/run";
}

std::string TestDataDir() {
    const char* env = std::getenv("KORVA_TESTDATA");
    return env ? env : std::string(KORVA_SOURCE_DIR) + "/tests/data";
}

}  // namespace testsupport
