// A program that attacks a tree while a command cleans it, as another user's program would: it
// moves the tree's directories out to a folder beside it, and on POSIX puts a link to a folder
// outside into each place it empties (under Wine the host puts the links in: a Windows program
// there cannot make one, and MoveFileExW on a host link moves what it leads to). It is a program
// of the leg's own kind, so that on Windows the share modes of the command's handles bind it.
//
//   treeAttacker <go> <stop> <count> <delay-us> <watch|-> <aside> <link-target|-> <place>...
//
// Waits until the file <go> exists, then <delay-us> microseconds, then keeps going over the
// places until <stop> exists: a place that is still a plain directory is moved to <aside>/m<n>
// (each place at most once) - given a name to watch, only once its entry of that name is gone,
// that is while the command empties it - and on POSIX a link to <link-target> is put
// where a place is missing. Writes the number of moves tried and of moves that took effect
// into <count> at the end ("<tried> <moved>").
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)
const std::string kSeparator = "\\";
#else
const std::string kSeparator = "/";
#endif

bool exists(const std::string& path) {
#if defined(_WIN32)
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
#else
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
#endif
}

bool isPlainDirectory(const std::string& path) {
#if defined(_WIN32)
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
#else
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
#endif
}

// Moves the directory from to to. On Windows through a handle of the directory, and only after
// its final path has shown it to be the one at from: under Wine a host link put in meanwhile
// would be followed (MoveFileExW moves what it leads to), and the attack must never move
// anything outside the tree itself.
bool move(const std::string& from, const std::string& to) {
#if defined(_WIN32)
    HANDLE directory =
        CreateFileA(from.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (directory == INVALID_HANDLE_VALUE)
        return false; // 32 while another program holds it without FILE_SHARE_DELETE
    char final[1024];
    DWORD n = GetFinalPathNameByHandleA(directory, final, sizeof final, 0);
    bool same = n > 0 && n < sizeof final && n >= from.size() &&
                _stricmp(final + n - from.size(), from.c_str()) == 0;
    alignas(8) unsigned char buffer[sizeof(FILE_RENAME_INFO) + 2 * MAX_PATH];
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer);
    int length = MultiByteToWideChar(CP_ACP, 0, to.c_str(), -1, rename->FileName, MAX_PATH);
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(length > 0 ? (length - 1) * 2 : 0);
    bool moved = same && length > 0 &&
                 SetFileInformationByHandle(directory, FileRenameInfo, rename, sizeof buffer);
    CloseHandle(directory);
    return moved;
#else
    return rename(from.c_str(), to.c_str()) == 0;
#endif
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 9) {
        fputs("usage: treeAttacker <go> <stop> <count> <delay-us> <watch|-> <aside> "
              "<link-target|-> <place>...\n",
              stderr);
        return 2;
    }
    const std::string go = argv[1], stop = argv[2], count = argv[3], aside = argv[6];
    const std::string linkTarget = argv[7];
    const long delay = std::atol(argv[4]);
    const std::string watch = argv[5];
    std::vector<std::string> places(argv + 8, argv + argc);
    // Whether the command has begun to empty place.
    auto beingEmptied = [&watch](const std::string& place) {
        return watch == "-" || !exists(place + kSeparator + watch);
    };
    std::vector<bool> moved(places.size(), false);

    while (!exists(go))
        std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::microseconds(delay));
    long tries = 0, moves = 0;
    while (!exists(stop)) {
        bool changed = false;
        for (size_t i = 0; i < places.size(); ++i) {
            const std::string& place = places[i];
            if (!moved[i] && isPlainDirectory(place) && beingEmptied(place)) {
                ++tries;
                if (move(place, aside + kSeparator + "m" + std::to_string(moves))) {
                    moved[i] = true;
                    ++moves;
                    changed = true;
                }
            }
#if !defined(_WIN32)
            if (linkTarget != "-" && !exists(place) &&
                symlink(linkTarget.c_str(), place.c_str()) == 0)
                changed = true;
#endif
        }
        if (!changed) // leaves the command a share of a busy machine
            std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    const std::string partial = count + ".part";
    if (FILE* out = fopen(partial.c_str(), "w")) {
        fprintf(out, "%ld %ld", tries, moves);
        fclose(out);
#if defined(_WIN32)
        MoveFileExA(partial.c_str(), count.c_str(), 0);
#else
        rename(partial.c_str(), count.c_str());
#endif
    }
    return 0;
}
