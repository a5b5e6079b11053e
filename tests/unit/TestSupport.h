// Small helpers shared by the unit tests: temporary folders, file contents, the current directory.
#pragma once

#include <string>

namespace testsupport {

// A fresh folder under /tmp, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Makes a folder the current directory for the lifetime of the object.
class ScopedCurrentDirectory {
public:
    explicit ScopedCurrentDirectory(const std::string& dir);
    ~ScopedCurrentDirectory();

private:
    std::string previous_;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);

// Sets an environment variable for this process and the processes it starts. An empty
// value stands for "unset": the locale and link variables the tests touch read it so.
void SetEnvironment(const std::string& name, const std::string& value);

// The path with every link resolved; the path itself when it cannot be resolved.
std::string RealPath(const std::string& path);

// The build's run folder (pictures and icon) and the folder of test data (tests/data).
std::string RunDir();
std::string TestDataDir();

}  // namespace testsupport
