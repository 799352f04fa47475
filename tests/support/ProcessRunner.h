// Runs a program with arguments, collecting its output and exit status.
#pragma once

#include <string>
#include <vector>

namespace lumivane::test {

struct ProcessResult {
    int status = -1;  // exit status, or 128 + signal number
    bool timedOut = false;
    std::string out;
    std::string err;
};

struct ProcessOptions {
    double timeoutSeconds = 60;
    std::string workingDirectory;
    std::vector<std::string> environment;  // extra NAME=value entries
    std::vector<int> ignoredSignals;       // ignored from before the program starts
};

inline ProcessOptions withTimeout(double seconds) {
    ProcessOptions options;
    options.timeoutSeconds = seconds;
    return options;
}

ProcessResult runProcess(const std::vector<std::string>& argv, const ProcessOptions& options = {});

// A command line run by the shell, with its standard output.
struct ShellResult {
    int status = -1;  // exit status; -1 when it did not run or did not exit
    std::string output;
    bool ok() const { return status == 0; }
};
ShellResult runShell(const std::string& command);
// `text` as one single-quoted shell word.
std::string shellQuoted(const std::string& text);

// A child whose standard output is read line by line while it runs.
class ChildProcess {
public:
    // Standard error goes to `errorFile` when one is named, else nowhere.
    explicit ChildProcess(const std::vector<std::string>& argv, const std::string& errorFile = {},
                          const ProcessOptions& options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Reads standard output until a line starting with `prefix` arrives; false
    // when the output ends or the timeout passes first.
    bool waitForLine(const std::string& prefix, double timeoutSeconds);
    void signal(int signalNumber);
    // Exit status, or 128 + signal number; reads the rest of the output.
    int wait(double timeoutSeconds = 60);
    const std::string& out() const { return m_out; }
    int pid() const { return m_pid; }

private:
    bool readSome(int timeoutMs);

    int m_pid = -1;
    int m_outFd = -1;
    std::string m_out;
    size_t m_scanned = 0;
    bool m_exited = false;
    int m_status = -1;
};

// Path of the built LumivaneCLI (LUMIVANE_CLI in the environment, else the build tree's).
std::string cliPath();

// A fresh directory under the system's temporary directory, removed with its
// contents even when a test took its permissions away.
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
