// What stands in a directory tree, read without following any link, so that two readings can be
// compared entry by entry: the set of directories, files and links, every file's bytes and
// read-only state, and every link's text.
#pragma once

#include "testkit/testkit.h"

#include <map>
#include <string>

namespace safety {

struct Entry {
    char kind = '?';  // 'd' directory, 'f' file, 'l' link, 'o' anything else
    std::string data; // a file's bytes, a link's text
    bool readOnly = false;
    bool operator==(const Entry&) const = default;
};

// Relative paths (with '/') to their entries; the root itself is not part of it.
using TreeState = std::map<std::string, Entry>;

// Everything below root; links are recorded as links and never entered.
TreeState readTree(const fs::path& root);

// The entries of state whose paths do not lie in (nor are) the entry named by top.
TreeState without(const TreeState& state, const std::string& top);

// "" when expected and actual are the same; otherwise the first differences, one a line
// ("missing", "unexpected", "changed"), for a failure message.
std::string differences(const TreeState& expected, const TreeState& actual);

// One line for each entry, for a failure message.
std::string describe(const TreeState& state);

} // namespace safety
