// What the platform tests share: a scratch directory per test, a handle that closes itself, and
// a forked child whose standard output and ending the test can inspect.
#ifndef CLEAVE_TEST_SUPPORT_H
#define CLEAVE_TEST_SUPPORT_H

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

// Closes the handle on every way out of a test, so a failed assertion leaks no slot of the
// layer's handle table into the next test.
class ScopedHandle {
  public:
    explicit ScopedHandle(HANDLE handle) : handle_(handle) {}
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    ~ScopedHandle() { Close(); }

    HANDLE get() const { return handle_; }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    void Close();

  private:
    HANDLE handle_;
};

// The two ways the splitter opens files.
HANDLE OpenSource(const std::string& path);
HANDLE CreatePart(const std::string& path);

class TempDirTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    void MakeFile(const std::string& name, const std::string& contents) const;
    std::string Contents(const std::string& name) const;
    long long SizeOf(const std::string& name) const;

  private:
    std::string dir_;
};

struct ChildResult {
    std::string output;
    bool exited; // ended by exit rather than by a signal
    int status;  // the exit status, or the signal number
};

// Runs body in a forked child with standard output going to a pipe. A child that returns from
// body exits with 0; one that hangs is ended by an alarm, which the result shows as a signal.
ChildResult RunInChild(const std::function<void()>& body);

#endif
