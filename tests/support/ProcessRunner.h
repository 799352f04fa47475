// Runs a program with arguments, collecting its output and exit status.
#pragma once

#include <string>
#include <vector>

namespace lumivane::test {

struct ProcessResult {
    int status = -1;       // exit status, or 128 + signal number
    bool timedOut = false;
    std::string out;
    std::string err;
};

struct ProcessOptions {
    double timeoutSeconds = 60;
    std::string workingDirectory;
    std::vector<std::string> environment;  // extra NAME=value entries
};

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// Path of the built LumivaneCLI (LUMIVANE_CLI in the environment, else the build tree's).
std::string cliPath();

// A fresh directory under the system's temporary directory, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& contents);

}  // namespace lumivane::test
