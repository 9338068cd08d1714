#pragma once
// Small helpers of the production tests: a temporary folder, whole-file reads and writes, and child
// processes that report through a pipe.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

class CProductionDir {
public:
    CProductionDir() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern =
            std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/veltro-prod-XXXXXX";
        if (::mkdtemp(pattern.data()) != nullptr)
            m_path = pattern;
    }
    ~CProductionDir() {
        std::error_code ignored;
        std::filesystem::remove_all(m_path, ignored);
    }
    CProductionDir(const CProductionDir&) = delete;
    CProductionDir& operator=(const CProductionDir&) = delete;
    std::string operator/(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

inline void WriteWholeFile(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

inline std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return "<missing>";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A child process running body with the write end of a pipe; it ends with _exit(0) after body.
struct ChildProcess {
    pid_t pid = -1;
    int readFd = -1; // the parent's end
};

inline ChildProcess StartChild(const std::function<void(int writeFd)>& body) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        body(fds[1]);
        ::_exit(0);
    }
    ::close(fds[1]);
    return {pid, fds[0]};
}

// Everything the child wrote, until it closes its end (ends or is killed); then reaps it.
inline std::string CollectChild(ChildProcess& child, int* status = nullptr) {
    std::string data;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(child.readFd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        data.append(buffer, static_cast<size_t>(got));
    }
    ::close(child.readFd);
    int waited = 0;
    ::waitpid(child.pid, &waited, 0);
    if (status != nullptr)
        *status = waited;
    return data;
}
