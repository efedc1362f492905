// What every fuzz target shares: silenced streams for the code under test, a guard that turns any
// destructive file-system call of the process into a reported crash, and the failure report of a
// broken property.
#pragma once

#include <cstdio>
#include <string>

namespace fuzz {

// Reports a broken property on the fuzzer's standard error and aborts, so that libFuzzer keeps
// the input that broke it.
[[noreturn]] void fail(const char* format, ...) __attribute__((format(printf, 1, 2)));

#define FUZZ_CHECK(condition, ...)                                                                 \
    do {                                                                                           \
        if (!(condition))                                                                          \
            ::fuzz::fail("check failed: " #condition "\n  " __VA_ARGS__);                          \
    } while (0)

// While alive, stdout and stderr of the code under test go to /dev/null, or stdout into a
// buffer when capture is set (read it back with out()). Only the FILE streams are swapped:
// libFuzzer and the sanitizers keep writing to the real standard error.
class QuietStreams {
  public:
    explicit QuietStreams(bool captureOut = false);
    ~QuietStreams();
    QuietStreams(const QuietStreams&) = delete;
    QuietStreams& operator=(const QuietStreams&) = delete;
    // What was written to stdout so far (capture only).
    std::string out();
    // What was written to stderr so far, when err capture was asked for.
    std::string err();
    void captureErr();

  private:
    FILE* savedOut_;
    FILE* savedErr_;
    FILE* out_ = nullptr;
    FILE* err_ = nullptr;
    char* outText_ = nullptr;
    size_t outSize_ = 0;
    char* errText_ = nullptr;
    size_t errSize_ = 0;
};

// From now on, any system call of this process that removes, creates, renames or links a name in
// the real file system (unlink, rmdir, mkdir, symlink, link, rename and their *at forms) stops
// the process with a report, through abort() so that libFuzzer saves the input. Only libFuzzer's
// own deletions outside the code under test (a corpus file replaced by a smaller one) are still
// done. Targets that run a command over the fake file system call it once at start-up. Linux
// (x86-64, AArch64) only; elsewhere a no-op.
void forbidFileSystemChanges();
// Marks the run of the code under test (FakeFs::install() to uninstall()).
void setCodeUnderTest(bool running);

} // namespace fuzz
