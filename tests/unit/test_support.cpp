#include "test_support.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
constexpr unsigned CHILD_TIME_LIMIT_SECONDS = 20;
} // namespace

void ScopedHandle::Close() {
    if (valid()) {
        CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }
}

HANDLE OpenSource(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

HANDLE CreatePart(const std::string& path) {
    return CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

void TempDirTest::SetUp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "cleave-unit-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
}

void TempDirTest::TearDown() {
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

void TempDirTest::MakeFile(const std::string& name, const std::string& contents) const {
    std::ofstream out(Path(name), std::ios::binary | std::ios::trunc);
    out << contents;
    ASSERT_TRUE(out.good()) << name;
}

std::string TempDirTest::Contents(const std::string& name) const {
    std::ifstream in(Path(name), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

long long TempDirTest::SizeOf(const std::string& name) const {
    struct stat st;
    return stat(Path(name).c_str(), &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

ChildResult RunInChild(const std::function<void()>& body) {
    int fds[2];
    if (pipe(fds) != 0) {
        ADD_FAILURE() << "pipe failed";
        return {"", false, 0};
    }
    // Whatever the test runner has buffered must not be written twice.
    fflush(stdout);
    fflush(stderr);
    pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        ADD_FAILURE() << "fork failed";
        return {"", false, 0};
    }
    if (pid == 0) {
        close(fds[0]);
        dup2(fds[1], STDOUT_FILENO);
        close(fds[1]);
        alarm(CHILD_TIME_LIMIT_SECONDS);
        body();
        fflush(stdout);
        _exit(0);
    }
    close(fds[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t got; (got = read(fds[0], buffer, sizeof buffer)) != 0;) {
        if (got > 0) {
            output.append(buffer, static_cast<size_t>(got));
        } else if (errno != EINTR) {
            break;
        }
    }
    close(fds[0]);
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus)) {
        return {output, true, WEXITSTATUS(wstatus)};
    }
    return {output, false, WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : -1};
}
