// The calls of the POSIX layer's table (platform/posix/syscalls.h) by kind, and the one rule by
// which an injected fault picks the call it makes fail. The unit tests' injector
// (testkit::PosixFaults) and the fuzz targets' fake file system (fuzz::FakeFs) both follow it.
// Header-only and free of platform headers, so that both legs and the fuzz targets include it.
#pragma once

#include <string_view>

namespace testkit {

enum class PosixCall {
    fstatat,
    mkdirat,
    unlinkat,
    openat,
    close,
    readdir, // the table's readDirEntries
    readlinkat,
    symlinkat,
    getcwd,
    statx,
    renameat2,
    nanosleep,
};
constexpr int kPosixCalls = 12;

constexpr std::string_view kPosixCallNames[kPosixCalls] = {
    "fstatat",    "mkdirat",   "unlinkat", "openat", "close",     "readdir",
    "readlinkat", "symlinkat", "getcwd",   "statx",  "renameat2", "nanosleep"};

constexpr std::string_view nameOf(PosixCall call) {
    return kPosixCallNames[static_cast<int>(call)];
}

// Which calls a fault hits: the calls of its kind are counted from 1 from the moment the fault
// is set (those its condition accepts, where it has one); nth n > 0 hits the n-th of them and no
// other, nth 0 hits every one.
class FaultCount {
  public:
    explicit FaultCount(unsigned nth = 0) : nth_(nth) {}
    // Counts one call of the fault's kind; true when the fault hits it.
    bool hits() {
        ++seen_;
        return nth_ == 0 || seen_ == nth_;
    }
    // Counts anew, as if the fault were set now.
    void restart() { seen_ = 0; }

  private:
    unsigned nth_;
    unsigned seen_ = 0;
};

} // namespace testkit
