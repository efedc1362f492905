#include "safety/treeState.h"

#include <gtest/gtest.h>

#include <sstream>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace safety {

namespace {

#if defined(_WIN32)
// Through the platform's own listing: the runtime's would drop a trailing dot or blank of a name.
void readInto(TreeState& state, const fs::path& dir, const std::string& prefix) {
    const std::wstring base = testkit::literal(dir).wstring();
    WIN32_FIND_DATAW data;
    HANDLE search = FindFirstFileW((base + L"\\*").c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        ADD_FAILURE() << "cannot list " << dir << ", error " << GetLastError();
        return;
    }
    do {
        const std::wstring wideName = data.cFileName;
        if (wideName == L"." || wideName == L"..")
            continue;
        const fs::path path = fs::path(base + L"\\" + wideName);
        const std::string name = prefix + fs::path(wideName).string();
        const DWORD attributes = data.dwFileAttributes;
        Entry entry;
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            entry.kind = 'l';
        } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
            entry.kind = 'd';
            readInto(state, path, name + "/");
        } else {
            entry.kind = 'f';
            entry.data = testkit::readFile(path);
            entry.readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
        }
        state[name] = entry;
    } while (FindNextFileW(search, &data));
    FindClose(search);
}
#else
void readInto(TreeState& state, const fs::path& dir, const std::string& prefix) {
    std::error_code ec;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const fs::path& path = it->path();
        const std::string name = prefix + path.filename().string();
        const fs::file_status status = fs::symlink_status(path);
        Entry entry;
        if (fs::is_symlink(status)) {
            entry.kind = 'l';
            entry.data = fs::read_symlink(path).string();
        } else if (fs::is_directory(status)) {
            entry.kind = 'd';
            readInto(state, path, name + "/");
        } else if (fs::is_regular_file(status)) {
            entry.kind = 'f';
            entry.data = testkit::readFile(path);
            entry.readOnly = (status.permissions() & fs::perms::owner_write) == fs::perms::none;
        } else {
            entry.kind = 'o';
        }
        state[name] = entry;
    }
    if (ec)
        ADD_FAILURE() << "cannot list " << dir << ": " << ec.message();
}
#endif

// Bytes that are not printable are shown as \xNN, so that names and link texts read clearly.
std::string printable(const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    std::string shown;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7f) {
            shown += static_cast<char>(c);
        } else {
            shown += "\\x";
            shown += hex[c >> 4];
            shown += hex[c & 15];
        }
    }
    return shown;
}

std::string show(const std::string& path, const Entry& e) {
    std::ostringstream line;
    line << printable(path) << " ";
    switch (e.kind) {
    case 'd':
        line << "(directory)";
        break;
    case 'f':
        line << "(file, " << e.data.size() << " bytes" << (e.readOnly ? ", read-only" : "") << ")";
        break;
    case 'l':
        line << "(link -> " << printable(e.data) << ")";
        break;
    default:
        line << "(other)";
    }
    return line.str();
}

} // namespace

TreeState readTree(const fs::path& root) {
    TreeState state;
    readInto(state, root, "");
    return state;
}

TreeState without(const TreeState& state, const std::string& top) {
    TreeState rest;
    for (const auto& [path, entry] : state)
        if (path != top && path.compare(0, top.size() + 1, top + "/") != 0)
            rest.emplace(path, entry);
    return rest;
}

std::string differences(const TreeState& expected, const TreeState& actual) {
    constexpr int kShown = 12;
    std::ostringstream text;
    int count = 0;
    auto note = [&](const std::string& line) {
        if (count++ < kShown)
            text << "  " << line << "\n";
    };
    for (const auto& [path, entry] : expected) {
        auto found = actual.find(path);
        if (found == actual.end())
            note("missing: " + show(path, entry));
        else if (!(found->second == entry))
            note("changed: " + show(path, entry) + ", now " + show(path, found->second));
    }
    for (const auto& [path, entry] : actual)
        if (!expected.count(path))
            note("unexpected: " + show(path, entry));
    if (count > kShown)
        text << "  ... " << (count - kShown) << " more\n";
    return text.str();
}

std::string describe(const TreeState& state) {
    std::string text;
    for (const auto& [path, entry] : state)
        text += "  " + show(path, entry) + "\n";
    return text;
}

} // namespace safety
