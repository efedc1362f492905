// Helpers shared by the tests: private temporary trees, running a built command as a process,
// and what differs between the two legs.
#pragma once

#include "testkit/commandLine.h"
#include "testkit/faultRule.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <initializer_list>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace testkit {

#if defined(_WIN32)
constexpr bool onWindows = true;
#else
constexpr bool onWindows = false;
#endif

// Text as the runtime writes it: "\n" becomes "\r\n" on the Windows leg (text mode).
std::string lines(const std::string& text);

// A path as the commands see it: the wide form of the narrow path.
std::wstring wide(const fs::path& path);
// ASCII text widened character by character.
std::wstring widen(const std::string& ascii);

// The form of an absolute path in which every name is taken as it stands: on Windows the literal
// form (\\?\ in front), which keeps a trailing dot or blank of a name; elsewhere path itself.
fs::path literal(const fs::path& path);

// The code page of this process's narrow text (arguments, CP_ACP): 65001 (UTF-8) on POSIX and on
// Windows in a program whose manifest asks for it, as the commands' does; otherwise the ANSI
// code page (1252 under Wine).
unsigned processCodePage();
constexpr unsigned kUtf8CodePage = 65001;
// The UTF-8 bytes of a path: its narrow form, as a command takes and prints it, wherever the
// code page is UTF-8.
std::string utf8(const fs::path& path);
// The path whose UTF-8 bytes are text (the inverse of utf8).
fs::path fromUtf8(const std::string& text);

void writeFile(const fs::path& path, const std::string& content = "x");
std::string readFile(const fs::path& path);
void makeReadOnly(const fs::path& path);

// Creates a directory whose path may be longer than the platform's usual limit; one that is
// there already is fine.
void makeLongDirectory(const fs::path& path);

// Symbolic links, where the platform can make them for the tests (not under Wine).
bool canMakeLinks();
void linkDirectory(const fs::path& target, const fs::path& link);
void linkFile(const fs::path& target, const fs::path& link);

// Whether the tests run under Wine.
bool underWine();
// A symbolic link of the host system at link to the directory target, also where the tests do
// not make links themselves: under Wine as a Unix link made by the host's own ln (Wine shows it
// as a directory reparse point). False, with nothing made, where neither can be done.
bool makeHostDirectoryLink(const fs::path& target, const fs::path& link);
// Removes such a link (only the link) where it still stands.
void removeHostLink(const fs::path& link);
// The host's path of path (under Wine the Unix path; elsewhere path itself); empty where none.
std::string hostPath(const fs::path& path);
// Starts a shell script of the host in the background (under Wine through the host's /bin/sh,
// elsewhere /bin/sh itself) and does not wait for it. False where it cannot be started.
bool startHostScript(const std::string& script);

// Under Wine, a spare drive letter whose root is dir: a link in the prefix's list of drives,
// removed again with the object. letter() is 0 where none could be made (not under Wine).
class SpareDrive {
  public:
    explicit SpareDrive(const fs::path& dir);
    ~SpareDrive();
    SpareDrive(const SpareDrive&) = delete;
    SpareDrive& operator=(const SpareDrive&) = delete;
    char letter() const { return letter_; }

  private:
    char letter_ = 0;
    std::string unixLink_;
};

// Every regular file below root with its content, relative paths as keys, sorted.
std::vector<std::pair<std::string, std::string>> snapshot(const fs::path& root);
// The names directly inside dir, sorted.
std::vector<std::string> listNames(const fs::path& dir);

// A fresh directory of its own under the system's temporary directory, removed with all its
// content when the object goes; links inside are removed, never followed.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

  private:
    fs::path path_;
};

// Bind mounts made by a test, taken down again when the object goes (so declare it after the
// TempDir that holds them: it then goes first). POSIX only, run as root.
class BindMounts {
  public:
    BindMounts() = default;
    ~BindMounts();
    BindMounts(const BindMounts&) = delete;
    BindMounts& operator=(const BindMounts&) = delete;
    // A bind mount of from at at (made when missing); false where the leg or the rights lack.
    bool bind(const fs::path& from, const fs::path& at);
    bool any() const { return !made_.empty(); }

  private:
    std::vector<fs::path> made_;
};

// Changes the current directory for the lifetime of the object.
class CurrentDir {
  public:
    explicit CurrentDir(const fs::path& dir);
    ~CurrentDir();

  private:
    fs::path previous_;
};

struct ProcessResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// The command's executable beside the test program ("prepFolder" or "prepFolder.exe").
fs::path commandPath(const std::string& name);
#if defined(_WIN32)
// The Windows form of Argv: program and args quoted so that the child's runtime splits them back
// unchanged, as CreateProcess takes them.
std::string commandLine(const std::string& program, const std::vector<std::string>& args);
#endif
// Runs the command with args (narrow, passed unchanged) in workDir (empty: the current one).
// The streams hold the bytes as the process wrote them ("\r\n" line ends on Windows).
ProcessResult run(const std::string& command, const std::vector<std::string>& args,
                  const fs::path& workDir = {});
// How a command started as a Process ended.
struct Ended {
    bool inTime = false;
    int signal = 0; // POSIX: the signal that ended the command
    int exitCode = -1;
    std::string out, err;
};

// A command started as a process of its own and not waited for, so that several run at once.
// wait() waits for it at most limit, then kills it; call it once.
class Process {
  public:
    Process(const std::string& command, const std::vector<std::string>& args);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;
    Ended wait(std::chrono::seconds limit);

  private:
    struct Running;
    std::unique_ptr<Running> running_;
};

// Runs line through the system's command interpreter ("cmd.exe /c" on Windows, "/bin/sh -c"
// elsewhere) in workDir (empty: the current one).
ProcessResult runShell(const std::string& line, const fs::path& workDir = {});
// Puts dir in front of this process's PATH, which the processes it starts inherit.
void prependToPath(const fs::path& dir);

// Calls a command's entry function (createCleanDirCmd, mountDirCmd, finalName_cmd) in this
// process with args as its arguments, as run() starts the command: argv[0] is the command's
// place (the commands never read it), argv[argc] null. The streams are read back in text mode:
// line ends are "\n" on both legs.
ProcessResult call(int (*command)(int, char**), const std::vector<std::string>& args);

// Captures what the code under test writes to standard output and standard error in-process.
// The text is read back in text mode, so line ends are "\n" on both legs (the process tests
// see the bytes as they are).
class CapturedOutput {
  public:
    CapturedOutput();
    ~CapturedOutput();
    std::string out();
    std::string err();

  private:
    bool done_ = false;
    std::string out_, err_;
    void finish();
};

#if !defined(_WIN32)

// What a call of the POSIX layer was given, for the condition of a fault.
struct PosixCallArgs {
    PosixCall call;
    int fd;           // dirfd, or the descriptor of close and readdir; AT_FDCWD for getcwd
    const char* path; // the path argument (symlinkat, renameat2: the new name); "" for none
    int flags;        // the flags argument (mkdirat: the mode); 0 for calls without one
};

// Faults injected into the POSIX layer's call table (posixCalls), and a record of the calls made,
// for the lifetime of the object: made, it puts a wrapper in front of every member of the table;
// gone, it puts back the table it found (the real calls). One at a time.
//
//   PosixFaults faults;
//   faults.fail(PosixCall::unlinkat, 2, EACCES);            // the second unlinkat from now
//   faults.fail(PosixCall::readdir, 0, EIO);                // every directory read
//   faults.fail(PosixCall::unlinkat, 0, EPERM, filesOnly);  // every unlink its condition accepts
//
// Which call a fault hits follows faultRule.h, as the fuzz fake's "! <call> <n> <err>" lines do:
// the calls of its kind are counted from 1 from the moment fail() is called, only those its
// condition accepts where it has one; n > 0 hits the n-th of them, 0 every one. A hit call
// returns -1 (getcwd null) with errno err and never reaches the file system. Where several
// faults hit the same call, the first set decides.
class PosixFaults {
  public:
    using Condition = std::function<bool(const PosixCallArgs&)>;

    PosixFaults();
    ~PosixFaults();
    PosixFaults(const PosixFaults&) = delete;
    PosixFaults& operator=(const PosixFaults&) = delete;

    PosixFaults& fail(PosixCall call, unsigned nth, int err, Condition when = {});
    // Every call of every kind fails with err: the file system is out of reach.
    PosixFaults& failEverything(int err);

    // The calls made since the object was made (failed ones too), in order, each as
    // "<call> <path>" ("<call>" for calls without a path); only those of kinds where given.
    std::vector<std::string> calls(std::initializer_list<PosixCall> kinds = {}) const;
    // The calls among them that would change the file system: mkdirat, unlinkat, symlinkat,
    // renameat2.
    std::vector<std::string> changes() const;

    struct Wrappers; // the table's members while the object lives

  private:
    // Records the call; true (errno set) where a fault hits it.
    bool hits(const PosixCallArgs& args);

    struct Fault {
        PosixCall call;
        FaultCount count;
        int err;
        Condition when;
    };
    std::vector<Fault> faults_;
    std::vector<std::pair<PosixCall, std::string>> calls_;
};

#endif

} // namespace testkit
