#include "testkit.h"

#include "platform/platform.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <thread>

#if !defined(_WIN32)
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace testkit {

std::string lines(const std::string& text) {
    if (!onWindows)
        return text;
    std::string result;
    for (char c : text) {
        if (c == '\n')
            result += '\r';
        result += c;
    }
    return result;
}

std::wstring wide(const fs::path& path) {
#if defined(_WIN32)
    return path.wstring();
#else
    const std::string narrow = path.string();
    wchar_t buffer[4096];
    int n = MultiByteToWideChar(CP_ACP, 0, narrow.c_str(), -1, buffer, 4096);
    return n > 0 ? std::wstring(buffer, static_cast<size_t>(n - 1)) : std::wstring();
#endif
}

std::wstring widen(const std::string& ascii) {
    return std::wstring(ascii.begin(), ascii.end());
}

fs::path literal(const fs::path& path) {
#if defined(_WIN32)
    std::wstring text = path.wstring();
    if (text.rfind(L"\\\\?\\", 0) == 0)
        return path;
    for (wchar_t& c : text)
        if (c == L'/')
            c = L'\\';
    return fs::path(L"\\\\?\\" + text);
#else
    return path;
#endif
}

unsigned processCodePage() {
#if defined(_WIN32)
    return GetACP();
#else
    return kUtf8CodePage;
#endif
}

std::string utf8(const fs::path& path) {
    const std::u8string bytes = path.u8string();
    return std::string(bytes.begin(), bytes.end());
}

fs::path fromUtf8(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

void writeFile(const fs::path& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary);
    file << content;
    if (!file)
        ADD_FAILURE() << "cannot write " << path;
}

std::string readFile(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    return content.str();
}

void makeReadOnly(const fs::path& path) {
    fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
}

void makeLongDirectory(const fs::path& path) {
#if defined(_WIN32)
    std::wstring full = fs::absolute(path).wstring();
    full.insert(0, L"\\\\?\\");
    for (wchar_t& c : full)
        if (c == L'/')
            c = L'\\';
    if (!CreateDirectoryW(full.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        ADD_FAILURE() << "cannot create a long directory, error " << GetLastError();
#else
    fs::create_directory(path); // an existing directory is fine
#endif
}

bool canMakeLinks() {
    return !onWindows;
}

void linkDirectory(const fs::path& target, const fs::path& link) {
    fs::create_directory_symlink(target, link);
}

void linkFile(const fs::path& target, const fs::path& link) {
    fs::create_symlink(target, link);
}

bool underWine() {
#if defined(_WIN32)
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
#else
    return false;
#endif
}

#if defined(_WIN32)
namespace {
ProcessResult runCommandLine(std::string commandLine, const fs::path& workDir);

// The host's path of a path under Wine; empty where there is none.
std::string unixPathOf(const fs::path& path) {
    using Convert = char*(CDECL*)(LPCWSTR);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    auto convert = kernel ? reinterpret_cast<Convert>(reinterpret_cast<void*>(
                                GetProcAddress(kernel, "wine_get_unix_file_name")))
                          : nullptr;
    char* unix = convert ? convert(fs::absolute(path).wstring().c_str()) : nullptr;
    if (!unix)
        return {};
    std::string result = unix;
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}
// The literal form of path, in which a last name ending in a dot or a blank stays as it is (the
// full path is made of the parent alone, which Windows would otherwise trim).
std::wstring literalPath(const fs::path& path) {
    return literal(fs::absolute(path.parent_path()) / path.filename()).wstring();
}

// The host's path of path, its own name taken as it stands (Wine would drop a trailing dot or
// blank); empty where there is none.
std::string unixPathOfEntry(const fs::path& path) {
    const std::string dir = unixPathOf(path.parent_path());
    return dir.empty() ? dir : dir + (dir.back() == '/' ? "" : "/") + path.filename().string();
}

// Runs a program of the host. Wine starts one given by its path, but neither waits for it nor
// passes on its exit code: waits (2 s at most) until done() says that it has done its work.
bool runHost(const std::string& program, const std::vector<std::string>& args,
             const std::function<bool()>& done) {
    runCommandLine(commandLine(program, args), {});
    for (int wait = 0; wait < 100; ++wait, Sleep(20))
        if (done())
            return true;
    return false;
}

bool isLinkAt(const std::wstring& literal) {
    const DWORD attributes = GetFileAttributesW(literal.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}
} // namespace
#endif

bool makeHostDirectoryLink(const fs::path& target, const fs::path& link) {
#if defined(_WIN32)
    if (!underWine())
        return false;
    const std::string unixTarget = unixPathOf(target), unixLink = unixPathOfEntry(link);
    if (unixTarget.empty() || unixLink.empty())
        return false;
    const std::wstring literal = literalPath(link);
    return runHost("Z:\\bin\\ln", {"-s", "--", unixTarget, unixLink},
                   [&literal] { return isLinkAt(literal); });
#else
    std::error_code ec;
    fs::create_directory_symlink(target, link, ec);
    return !ec;
#endif
}

void removeHostLink(const fs::path& link) {
#if defined(_WIN32)
    const std::string unixLink = unixPathOfEntry(link);
    const std::wstring literal = literalPath(link);
    if (underWine() && !unixLink.empty() && isLinkAt(literal))
        runHost("Z:\\bin\\rm", {"-f", "--", unixLink}, [&literal] { return !isLinkAt(literal); });
#else
    std::error_code ec;
    if (fs::is_symlink(fs::symlink_status(link, ec)))
        fs::remove(link, ec);
#endif
}

std::string hostPath(const fs::path& path) {
#if defined(_WIN32)
    return underWine() ? unixPathOf(path) : std::string();
#else
    return fs::absolute(path).string();
#endif
}

bool startHostScript(const std::string& script) {
#if defined(_WIN32)
    if (!underWine())
        return false;
    // Wine starts a host program without waiting for it.
    runCommandLine(commandLine("Z:\\bin\\sh", {"-c", script}), {});
    return true;
#else
    pid_t child = fork();
    if (child == 0) {
        if (fork() == 0) { // a grandchild, so that nobody has to wait for it
            execl("/bin/sh", "sh", "-c", script.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        _exit(0);
    }
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child;
#endif
}

SpareDrive::SpareDrive(const fs::path& dir) {
#if defined(_WIN32)
    if (!underWine())
        return;
    const std::string unixDir = unixPathOf(dir);
    std::string drives = unixPathOf("C:\\"); // .../dosdevices/c:/
    const size_t c = drives.rfind("c:");
    if (unixDir.empty() || c == std::string::npos)
        return;
    drives.resize(c);
    for (char letter = 'P'; letter <= 'Y'; ++letter) {
        const char root[] = {letter, ':', '\\', 0};
        if (GetFileAttributesA(root) != INVALID_FILE_ATTRIBUTES)
            continue; // in use
        const std::string link = drives + static_cast<char>(letter - 'A' + 'a') + ":";
        auto ready = [&root] {
            const DWORD attributes = GetFileAttributesA(root);
            return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
        };
        unixLink_ = link;
        if (runHost("Z:\\bin\\ln", {"-s", "--", unixDir, link}, ready))
            letter_ = letter;
        return;
    }
#else
    (void)dir;
#endif
}

SpareDrive::~SpareDrive() {
#if defined(_WIN32)
    const char root[] = {letter_, ':', '\\', 0};
    if (!unixLink_.empty())
        runHost("Z:\\bin\\rm", {"-f", "--", unixLink_},
                [&root] { return GetFileAttributesA(root) == INVALID_FILE_ATTRIBUTES; });
#endif
}

std::vector<std::pair<std::string, std::string>> snapshot(const fs::path& root) {
    std::vector<std::pair<std::string, std::string>> files;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator();
         ++it) {
        if (it->is_symlink() || !it->is_regular_file())
            continue;
        files.emplace_back(fs::relative(it->path(), root).generic_string(), readFile(it->path()));
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<std::string> listNames(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

namespace {

#if defined(_WIN32)

// Removes root with everything below it through "\\?\" paths, which have no length limit
// (the runtime's own removal does not cope with paths beyond MAX_PATH).
void removeLong(const std::wstring& root) {
    DWORD attributes = GetFileAttributesW(root.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesW(root.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(root.c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW data;
        HANDLE search = FindFirstFileW((root + L"\\*").c_str(), &data);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                std::wstring name = data.cFileName;
                if (name != L"." && name != L"..")
                    removeLong(root + L"\\" + name);
            } while (FindNextFileW(search, &data));
            FindClose(search);
        }
    }
    RemoveDirectoryW(root.c_str());
}

void removeTree(const fs::path& root) {
    std::wstring full = fs::absolute(root).wstring();
    for (wchar_t& c : full)
        if (c == L'/')
            c = L'\\';
    full.insert(0, L"\\\\?\\");
    removeLong(full);
}

#else

// Makes everything below root writable again (never through a link), then removes it.
void removeTree(const fs::path& root) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(root, ec)))
        return;
    if (!fs::is_symlink(fs::symlink_status(root, ec))) {
        fs::permissions(root, fs::perms::owner_all, fs::perm_options::add, ec);
        if (fs::is_directory(fs::symlink_status(root, ec)))
            for (const auto& entry : fs::directory_iterator(root, ec))
                removeTree(entry.path());
    }
    fs::remove_all(root, ec);
}

#endif

} // namespace

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    for (;;) {
        std::ostringstream name;
        name << "treeprep-test-" << std::hex << random() << "-" << counter++;
        path_ = fs::temp_directory_path() / name.str();
        if (fs::create_directory(path_))
            break;
    }
}

TempDir::~TempDir() {
    removeTree(path_);
}

BindMounts::~BindMounts() {
#if !defined(_WIN32)
    for (auto m = made_.rbegin(); m != made_.rend(); ++m)
        umount2(m->c_str(), MNT_DETACH);
#endif
}

bool BindMounts::bind(const fs::path& from, const fs::path& at) {
#if defined(_WIN32)
    (void)from, (void)at;
    return false;
#else
    std::error_code ec;
    fs::create_directories(at, ec);
    if (geteuid() != 0 || mount(from.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return false;
    made_.push_back(at);
    return true;
#endif
}

CurrentDir::CurrentDir(const fs::path& dir) : previous_(fs::current_path()) {
    fs::current_path(dir);
}

CurrentDir::~CurrentDir() {
    fs::current_path(previous_);
}

fs::path commandPath(const std::string& name) {
#if defined(_WIN32)
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return fs::path(self).parent_path() / (name + ".exe");
#else
    return fs::read_symlink("/proc/self/exe").parent_path() / name;
#endif
}

#if defined(_WIN32)

namespace {

// Quotes one argument so that the runtime of the child splits it back unchanged.
std::string quoteArgument(const std::string& arg) {
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

HANDLE inheritableFile(const fs::path& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return CreateFileW(path.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Runs commandLine as CreateProcess parses it, with standard output and error captured.
ProcessResult runCommandLine(std::string commandLine, const fs::path& workDir) {
    TempDir capture;
    ProcessResult result;
    HANDLE out = inheritableFile(capture / "out");
    HANDLE err = inheritableFile(capture / "err");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    std::string dir = workDir.empty() ? std::string() : workDir.string();
    auto start = [&] {
        return CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                              dir.empty() ? nullptr : dir.c_str(), &startup, &process);
    };
    bool started = start();
    // Wine reports ERROR_INTERNAL_ERROR when the new process ended before Wine had finished
    // setting it up, so before any of the program's code ran: a fault of Wine's process start,
    // seen now and then in CI runs. That start is made once more; every other failure, and
    // everything the program does once started, counts as it is.
    if (!started && GetLastError() == ERROR_INTERNAL_ERROR) {
        fprintf(stderr, "testkit: Wine failed to start %s (error 1359), starting it again\n",
                commandLine.c_str());
        testing::Test::RecordProperty("wine_start_retried", commandLine);
        started = start();
    }
    if (!started) {
        ADD_FAILURE() << "cannot start " << commandLine << ", error " << GetLastError();
    } else {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result.exitCode = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(out);
    CloseHandle(err);
    result.out = readFile(capture / "out");
    result.err = readFile(capture / "err");
    return result;
}

} // namespace

std::string commandLine(const std::string& program, const std::vector<std::string>& args) {
    std::string line = quoteArgument(program);
    for (const std::string& arg : args) {
        line += ' ';
        line += quoteArgument(arg);
    }
    return line;
}

ProcessResult run(const std::string& command, const std::vector<std::string>& args,
                  const fs::path& workDir) {
    return runCommandLine(commandLine(commandPath(command).string(), args), workDir);
}

ProcessResult runShell(const std::string& line, const fs::path& workDir) {
    return runCommandLine("cmd.exe /c " + line, workDir);
}

void prependToPath(const fs::path& dir) {
    std::string value(GetEnvironmentVariableA("PATH", nullptr, 0), '\0');
    value.resize(GetEnvironmentVariableA("PATH", value.data(), static_cast<DWORD>(value.size())));
    SetEnvironmentVariableA("PATH", (dir.string() + (value.empty() ? "" : ";" + value)).c_str());
}

#else

namespace {

// Runs program with args (narrow, passed unchanged), with standard output and error captured.
ProcessResult runProgram(const std::string& program, const std::vector<std::string>& args,
                         const fs::path& workDir) {
    TempDir capture;
    ProcessResult result;
    Argv argv(program, args);
    const std::string outPath = (capture / "out").string(), errPath = (capture / "err").string();
    pid_t child = fork();
    if (child == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(126);
        if (!workDir.empty() && chdir(workDir.c_str()) != 0)
            _exit(126);
        execv(program.c_str(), argv.argv());
        _exit(127);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child)
        ADD_FAILURE() << "cannot run " << program;
    else if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    else
        result.exitCode = 1000 + WTERMSIG(status); // a crash is never a valid exit code
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

} // namespace

ProcessResult run(const std::string& command, const std::vector<std::string>& args,
                  const fs::path& workDir) {
    return runProgram(commandPath(command).string(), args, workDir);
}

ProcessResult runShell(const std::string& line, const fs::path& workDir) {
    return runProgram("/bin/sh", {"-c", line}, workDir);
}

void prependToPath(const fs::path& dir) {
    const char* value = getenv("PATH");
    std::string path = dir.string();
    if (value && *value)
        path += ":" + std::string(value);
    setenv("PATH", path.c_str(), 1);
}

#endif

ProcessResult call(int (*command)(int, char**), const std::vector<std::string>& args) {
    Argv argv("command", args);
    ProcessResult result;
    CapturedOutput output;
    result.exitCode = command(argv.argc(), argv.argv());
    result.out = output.out();
    result.err = output.err();
    return result;
}

CapturedOutput::CapturedOutput() {
    fflush(nullptr);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
}

CapturedOutput::~CapturedOutput() {
    finish();
}

void CapturedOutput::finish() {
    if (done_)
        return;
    done_ = true;
    fflush(nullptr);
    out_ = testing::internal::GetCapturedStdout();
    err_ = testing::internal::GetCapturedStderr();
}

std::string CapturedOutput::out() {
    finish();
    return out_;
}

std::string CapturedOutput::err() {
    finish();
    return err_;
}

} // namespace testkit

namespace testkit {

struct Process::Running {
    TempDir capture;
#if defined(_WIN32)
    PROCESS_INFORMATION process{};
    HANDLE out = INVALID_HANDLE_VALUE, err = INVALID_HANDLE_VALUE;
#else
    pid_t child = -1;
#endif
};

Process::Process(const std::string& command, const std::vector<std::string>& args)
    : running_(std::make_unique<Running>()) {
    Running& r = *running_;
    const std::string program = commandPath(command).string();
#if defined(_WIN32)
    std::string line = commandLine(program, args);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    r.out = CreateFileW((r.capture / "out").wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                        &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    r.err = CreateFileW((r.capture / "err").wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                        &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = r.out;
    startup.hStdError = r.err;
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &r.process))
        ADD_FAILURE() << "cannot start " << line << ", error " << GetLastError();
#else
    Argv argv(program, args);
    const std::string outPath = (r.capture / "out").string();
    const std::string errPath = (r.capture / "err").string();
    r.child = fork();
    if (r.child == 0) {
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(126);
        execv(program.c_str(), argv.argv());
        _exit(127);
    }
    if (r.child < 0)
        ADD_FAILURE() << "cannot start " << program;
#endif
}

Process::~Process() = default;

Ended Process::wait(std::chrono::seconds limit) {
    Running& r = *running_;
    Ended ended;
#if defined(_WIN32)
    if (WaitForSingleObject(r.process.hProcess, static_cast<DWORD>(limit.count() * 1000)) ==
        WAIT_OBJECT_0) {
        ended.inTime = true;
    } else {
        TerminateProcess(r.process.hProcess, 99);
        WaitForSingleObject(r.process.hProcess, INFINITE);
    }
    DWORD code = 0;
    GetExitCodeProcess(r.process.hProcess, &code);
    ended.exitCode = static_cast<int>(code);
    CloseHandle(r.process.hThread);
    CloseHandle(r.process.hProcess);
    CloseHandle(r.out);
    CloseHandle(r.err);
#else
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    pid_t done = 0;
    while ((done = waitpid(r.child, &status, WNOHANG)) == 0 &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    if (done == 0) {
        kill(r.child, SIGKILL);
        waitpid(r.child, &status, 0);
    } else {
        ended.inTime = done == r.child;
    }
    if (WIFSIGNALED(status))
        ended.signal = WTERMSIG(status);
    else if (WIFEXITED(status))
        ended.exitCode = WEXITSTATUS(status);
#endif
    ended.out = readFile(r.capture / "out");
    ended.err = readFile(r.capture / "err");
    return ended;
}

} // namespace testkit
