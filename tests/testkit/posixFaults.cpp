// testkit::PosixFaults: wrappers in front of the POSIX layer's call table.
#include "testkit/testkit.h"

#if !defined(_WIN32)

#include "platform/posix/syscalls.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>

namespace testkit {

namespace {

PosixFaults* active = nullptr;
PosixCalls previous; // the table found when the object was made

} // namespace

struct PosixFaults::Wrappers {
    static bool hit(PosixCall call, int fd, const char* path, int flags) {
        return active->hits({call, fd, path, flags});
    }
    static int fstatat(int dirfd, const char* path, struct stat* st, int flags) {
        return hit(PosixCall::fstatat, dirfd, path, flags)
                   ? -1
                   : previous.fstatat(dirfd, path, st, flags);
    }
    static int mkdirat(int dirfd, const char* path, mode_t mode) {
        return hit(PosixCall::mkdirat, dirfd, path, static_cast<int>(mode))
                   ? -1
                   : previous.mkdirat(dirfd, path, mode);
    }
    static int unlinkat(int dirfd, const char* path, int flags) {
        return hit(PosixCall::unlinkat, dirfd, path, flags) ? -1
                                                            : previous.unlinkat(dirfd, path, flags);
    }
    static int openat(int dirfd, const char* path, int flags) {
        return hit(PosixCall::openat, dirfd, path, flags) ? -1
                                                          : previous.openat(dirfd, path, flags);
    }
    static int close(int fd) {
        // Like Linux, a failed close still lets the descriptor go.
        if (hit(PosixCall::close, fd, "", 0)) {
            const int err = errno;
            previous.close(fd);
            errno = err;
            return -1;
        }
        return previous.close(fd);
    }
    static long readDirEntries(int fd, void* buf, size_t size) {
        return hit(PosixCall::readdir, fd, "", 0) ? -1 : previous.readDirEntries(fd, buf, size);
    }
    static ssize_t readlinkat(int dirfd, const char* path, char* buf, size_t size) {
        return hit(PosixCall::readlinkat, dirfd, path, 0)
                   ? -1
                   : previous.readlinkat(dirfd, path, buf, size);
    }
    static int symlinkat(const char* target, int dirfd, const char* path) {
        return hit(PosixCall::symlinkat, dirfd, path, 0) ? -1
                                                         : previous.symlinkat(target, dirfd, path);
    }
    static char* getcwd(char* buf, size_t size) {
        return hit(PosixCall::getcwd, AT_FDCWD, "", 0) ? nullptr : previous.getcwd(buf, size);
    }
#if defined(__linux__)
    static int statx(int dirfd, const char* path, int flags, unsigned mask, struct statx* buf) {
        return hit(PosixCall::statx, dirfd, path, flags)
                   ? -1
                   : previous.statx(dirfd, path, flags, mask, buf);
    }
#endif
    static int renameat2(int oldDirfd, const char* oldPath, int newDirfd, const char* newPath,
                         unsigned flags) {
        // The condition sees the new name, as it sees the new link's name of symlinkat.
        return hit(PosixCall::renameat2, newDirfd, newPath, static_cast<int>(flags))
                   ? -1
                   : previous.renameat2(oldDirfd, oldPath, newDirfd, newPath, flags);
    }
    static int nanosleep(const struct timespec* duration, struct timespec* remaining) {
        return hit(PosixCall::nanosleep, AT_FDCWD, "", 0) ? -1
                                                          : previous.nanosleep(duration, remaining);
    }
};

PosixFaults::PosixFaults() {
    if (active)
        ADD_FAILURE() << "PosixFaults made while another one is in place";
    active = this;
    previous = posixCalls;
    posixCalls = PosixCalls {
        .fstatat = Wrappers::fstatat, .mkdirat = Wrappers::mkdirat, .unlinkat = Wrappers::unlinkat,
        .openat = Wrappers::openat, .close = Wrappers::close,
        .readDirEntries = Wrappers::readDirEntries, .readlinkat = Wrappers::readlinkat,
        .symlinkat = Wrappers::symlinkat, .getcwd = Wrappers::getcwd,
#if defined(__linux__)
        .statx = Wrappers::statx,
#endif
        .renameat2 = Wrappers::renameat2, .nanosleep = Wrappers::nanosleep,
    };
}

PosixFaults::~PosixFaults() {
    posixCalls = previous;
    active = nullptr;
}

PosixFaults& PosixFaults::fail(PosixCall call, unsigned nth, int err, Condition when) {
    faults_.push_back({call, FaultCount(nth), err, std::move(when)});
    return *this;
}

PosixFaults& PosixFaults::failEverything(int err) {
    for (int kind = 0; kind < kPosixCalls; ++kind)
        fail(static_cast<PosixCall>(kind), 0, err);
    return *this;
}

bool PosixFaults::hits(const PosixCallArgs& args) {
    calls_.emplace_back(args.call, args.path ? args.path : "");
    int err = 0; // every fault of the kind counts the call; the first set that hits decides
    for (Fault& fault : faults_)
        if (fault.call == args.call && (!fault.when || fault.when(args)) && fault.count.hits() &&
            err == 0)
            err = fault.err;
    if (err != 0)
        errno = err;
    return err != 0;
}

std::vector<std::string> PosixFaults::calls(std::initializer_list<PosixCall> kinds) const {
    std::vector<std::string> result;
    for (const auto& [made, path] : calls_) {
        bool wanted = kinds.size() == 0;
        for (PosixCall kind : kinds)
            wanted = wanted || kind == made;
        if (wanted)
            result.push_back(std::string(nameOf(made)) + (path.empty() ? "" : " " + path));
    }
    return result;
}

std::vector<std::string> PosixFaults::changes() const {
    return calls(
        {PosixCall::mkdirat, PosixCall::unlinkat, PosixCall::symlinkat, PosixCall::renameat2});
}

} // namespace testkit

#endif
