// A program that attacks a tree while a command cleans it, as another user's program would: it
// moves the tree's directories out to a folder beside it, and on POSIX puts a link to a folder
// outside into each place it empties (under Wine the host puts the links in: a Windows program
// there cannot make one, and MoveFileExW on a host link moves what it leads to). It is a program
// of the leg's own kind, so that on Windows the share modes of the command's handles bind it.
//
//   treeAttacker <go> <stop> <count> <delay-us> <files> <aside> <link-target|-> <place>...
//
// Waits until the file <go> exists, then <delay-us> microseconds, then keeps going over the
// places until <stop> exists: a place that is still a plain directory is moved to <aside>/m<n>
// (each place at most once) - with <files> above 0 only once one of its files f0 ... f<files-1>
// is gone, that is while the command empties it - and on POSIX a link to <link-target> is put
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

bool move(const std::string& from, const std::string& to) {
#if defined(_WIN32)
    return MoveFileExA(from.c_str(), to.c_str(), 0) != 0;
#else
    return rename(from.c_str(), to.c_str()) == 0;
#endif
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 9) {
        fputs("usage: treeAttacker <go> <stop> <count> <delay-us> <files> <aside> "
              "<link-target|-> <place>...\n",
              stderr);
        return 2;
    }
    const std::string go = argv[1], stop = argv[2], count = argv[3], aside = argv[6];
    const std::string linkTarget = argv[7];
    const long delay = std::atol(argv[4]);
    const int files = std::atoi(argv[5]);
    std::vector<std::string> places(argv + 8, argv + argc);
    // Whether the command has begun to empty place.
    auto beingEmptied = [files](const std::string& place) {
        for (int f = 0; f < files; ++f)
            if (!exists(place + "/f" + std::to_string(f)))
                return true;
        return files == 0;
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
                if (move(place, aside + "/m" + std::to_string(moves))) {
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
        move(partial, count);
    }
    return 0;
}
