// The argument vector of a command run by a fuzz target, and how the commands read it.
#pragma once

#include "tests/testkit/commandLine.h"

#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// argv[0] is the command's name, then the arguments; argv[argc] is null. Built as the tests build
// it.
using CommandLine = testkit::Argv;

// An option argument that is skipped: empty, or a "---" comment.
inline bool isSkippedOption(std::string_view arg) {
    return arg.empty() || arg.substr(0, 3) == "---";
}

// The option letters of args[first..] as readOptionArgs accepts them, in order; false when an
// argument is faulty or holds a letter outside letters.
inline bool optionLetters(const std::vector<std::string>& args, size_t first,
                          std::string_view letters, std::string& accepted) {
    for (size_t i = first; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (isSkippedOption(arg))
            continue;
        if (arg[0] != '-')
            return false;
        for (char letter : std::string_view(arg).substr(1)) {
            if (letters.find(letter) == std::string_view::npos)
                return false;
            accepted += letter;
        }
    }
    return true;
}

// The bytes the POSIX layer hands to the file system for a path argument: a backslash is a
// separator, every other byte stays; "." and ".." components go by the text, as on Windows
// (".." never above the root, kept at the start of a relative path), a trailing separator stays.
inline std::string layerPath(std::string_view arg) {
    std::string path(arg);
    for (char& c : path)
        if (c == '\\')
            c = '/';
    size_t root = 0;
    while (root < path.size() && path[root] == '/')
        ++root;
    std::vector<std::string> kept;
    size_t keptParents = 0; // leading ".." of a relative path
    std::string name;
    bool dots = false;
    for (size_t i = root; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') {
            name += path[i];
            continue;
        }
        if (name == "." || name == "..")
            dots = true;
        if (name == "..") {
            if (kept.size() > keptParents)
                kept.pop_back();
            else if (root == 0)
                kept.push_back(name), ++keptParents;
        } else if (!name.empty() && name != ".") {
            kept.push_back(name);
        }
        name.clear();
    }
    if (!dots)
        return path; // only paths with such components are rewritten
    std::string result = path.substr(0, root);
    for (size_t i = 0; i < kept.size(); ++i)
        result += (i ? "/" : "") + kept[i];
    if (result.empty())
        result = ".";
    if (path.size() > root && path.back() == '/' && result.back() != '/')
        result += '/';
    return result;
}

} // namespace fuzz
