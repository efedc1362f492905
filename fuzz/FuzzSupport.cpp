#include "FuzzSupport.h"

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#if defined(__linux__)
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <ucontext.h>
#endif

namespace fuzz {

void fail(const char* format, ...) {
    // The code under test may be writing into swapped streams; report on the real descriptor.
    char text[4096];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n > static_cast<int>(sizeof text) - 2)
        n = static_cast<int>(sizeof text) - 2;
    if (n < 0)
        n = 0;
    text[n] = '\n';
    // The descriptor itself: the stream may be swapped for /dev/null at this moment.
    if (write(STDERR_FILENO, text, static_cast<size_t>(n) + 1) < 0)
        _exit(98);
    abort();
}

namespace {
FILE* devNull() {
    static FILE* file = fopen("/dev/null", "w");
    if (!file)
        fail("cannot open /dev/null");
    return file;
}

// With TREEPREP_FUZZ_VERBOSE set (replaying an input), what the code under test writes to
// stderr stays visible.
bool verbose() {
    static const bool set = getenv("TREEPREP_FUZZ_VERBOSE") != nullptr;
    return set;
}

} // namespace

QuietStreams::QuietStreams(bool captureOut) : savedOut_(stdout), savedErr_(stderr) {
    if (captureOut) {
        out_ = open_memstream(&outText_, &outSize_);
        if (!out_)
            fail("open_memstream failed");
    }
    stdout = out_ ? out_ : verbose() ? savedErr_ : devNull();
    stderr = verbose() ? savedErr_ : devNull();
}

void QuietStreams::captureErr() {
    if (err_)
        return;
    err_ = open_memstream(&errText_, &errSize_);
    if (!err_)
        fail("open_memstream failed");
    stderr = err_;
}

std::string QuietStreams::out() {
    if (!out_)
        return {};
    fflush(out_);
    return std::string(outText_, outSize_);
}

std::string QuietStreams::err() {
    if (!err_)
        return {};
    fflush(err_);
    return std::string(errText_, errSize_);
}

QuietStreams::~QuietStreams() {
    stdout = savedOut_;
    stderr = savedErr_;
    if (out_)
        fclose(out_);
    if (err_)
        fclose(err_);
    free(outText_);
    free(errText_);
}

#if defined(__linux__) && (defined(__x86_64__) || defined(__aarch64__))

namespace {

#if defined(__x86_64__)
constexpr unsigned kAuditArch = AUDIT_ARCH_X86_64;
greg_t& argument(ucontext_t* context, int n) {
    static const int registers[] = {REG_RDI, REG_RSI, REG_RDX};
    return context->uc_mcontext.gregs[registers[n]];
}
greg_t& result(ucontext_t* context) {
    return context->uc_mcontext.gregs[REG_RAX];
}
#else
constexpr unsigned kAuditArch = AUDIT_ARCH_AARCH64;
unsigned long long& argument(ucontext_t* context, int n) {
    return context->uc_mcontext.regs[n];
}
unsigned long long& result(ucontext_t* context) {
    return context->uc_mcontext.regs[0];
}
#endif

// unlinkat through this descriptor (the start-up directory) is let through: it is how the
// handler below does libFuzzer's own deletions (a corpus file replaced by a smaller one).
int passage = -1;
volatile sig_atomic_t codeUnderTest = 0;

void onForbiddenCall(int, siginfo_t* info, void* context) {
    ucontext_t* uc = static_cast<ucontext_t*>(context);
    const int call = info->si_syscall;
    if (!codeUnderTest) {
        long dirfd = AT_FDCWD, path = 0, flags = 0;
        bool known = true;
        if (call == __NR_unlinkat) {
            dirfd = static_cast<long>(argument(uc, 0));
            path = static_cast<long>(argument(uc, 1));
            flags = static_cast<long>(argument(uc, 2));
#if defined(__NR_unlink)
        } else if (call == __NR_unlink) {
            path = static_cast<long>(argument(uc, 0));
#endif
        } else {
            known = false;
        }
        if (known && static_cast<int>(dirfd) == AT_FDCWD) {
            int saved = errno;
            long r = syscall(__NR_unlinkat, passage, path, flags);
            result(uc) = r < 0 ? -errno : r;
            errno = saved;
            return;
        }
    }
    char text[128];
    int n = snprintf(text, sizeof text, "\nforbidden: system call %d %s\n", call,
                     codeUnderTest ? "by the code under test would change the real file system"
                                   : "outside the code under test");
    if (n > 0 && write(STDERR_FILENO, text, static_cast<size_t>(n)) < 0)
        _exit(99);
    abort(); // libFuzzer's handler keeps the input
}

} // namespace

void setCodeUnderTest(bool running) {
    codeUnderTest = running;
}

void forbidFileSystemChanges() {
    if (passage >= 0)
        return;
    int cwd = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    passage = cwd < 0 ? -1 : fcntl(cwd, F_DUPFD_CLOEXEC, 600);
    if (cwd >= 0)
        close(cwd);
    if (passage < 0)
        fail("cannot open the start-up directory");
    const long forbidden[] = {
#if defined(__NR_unlink)
        __NR_unlink,
#endif
#if defined(__NR_rmdir)
        __NR_rmdir,
#endif
#if defined(__NR_mkdir)
        __NR_mkdir,
#endif
#if defined(__NR_symlink)
        __NR_symlink,
#endif
#if defined(__NR_link)
        __NR_link,
#endif
#if defined(__NR_rename)
        __NR_rename,
#endif
#if defined(__NR_chmod)
        __NR_chmod,
#endif
#if defined(__NR_truncate)
        __NR_truncate,
#endif
#if defined(__NR_mknod)
        __NR_mknod,
#endif
        __NR_mkdirat,
        __NR_symlinkat,
        __NR_linkat,
        __NR_renameat,
        __NR_renameat2,
        __NR_fchmodat,
        __NR_mknodat,
        __NR_fchownat,
    };
    constexpr size_t kMax = 32;
    sock_filter program[9 + 2 * kMax + 1];
    size_t n = 0;
    program[n++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch));
    program[n++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, kAuditArch, 1, 0);
    program[n++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS);
    program[n++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr));
    // unlinkat: let through only with the passage descriptor (the low word of the first
    // argument; a descriptor's high word is 0).
    program[n++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_unlinkat, 0, 4);
    program[n++] = BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0]));
    program[n++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(passage), 0, 1);
    program[n++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    program[n++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP);
    for (long call : forbidden) {
        program[n++] = BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<unsigned>(call), 0, 1);
        program[n++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_TRAP);
    }
    program[n++] = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
    static_assert(sizeof forbidden / sizeof forbidden[0] <= kMax);

    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_sigaction = onForbiddenCall;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    if (sigaction(SIGSYS, &action, nullptr) != 0)
        fail("cannot install the SIGSYS handler");
    sock_fprog filter{static_cast<unsigned short>(n), program};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &filter) != 0)
        fail("cannot install the seccomp filter that keeps the real file system untouched");
}

#else

void setCodeUnderTest(bool) {}
void forbidFileSystemChanges() {}

#endif

} // namespace fuzz
