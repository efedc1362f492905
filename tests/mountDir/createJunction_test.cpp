// The junction record, byte for byte, and setting it on real directories.
#include "mountDir/mountDir.h"

#include "finalName/finalName.h"
#include "platform/platform.h"
#include "testkit/testkit.h"

#include <gtest/gtest.h>

#include <functional>

#if !defined(_WIN32)
#include "platform/posix/syscalls.h"

#include <cerrno>
#include <unistd.h>
#endif

namespace {

using namespace testkit;

unsigned u16(const unsigned char* p) {
    return p[0] | p[1] << 8;
}

std::wstring substituteFor(const std::wstring& target) {
    return L"\\??\\" + target;
}

int build(unsigned char (&record)[kJunctionRecordBytes], const std::wstring& target) {
    const std::wstring substitute = substituteFor(target);
    return buildJunctionRecord(record, substitute.c_str(), static_cast<int>(substitute.size()),
                               target.c_str(), static_cast<int>(target.size()));
}

TEST(JunctionRecord, WorkedExampleOfFourCharacters) {
    unsigned char record[kJunctionRecordBytes];
    memset(record, 0xAA, sizeof record); // the builder clears it
    ASSERT_EQ(44, build(record, L"C:\\w"));
    const unsigned char expected[44] = {
        0x03, 0x00, 0x00, 0xA0, // ReparseTag
        36,   0,                // ReparseDataLength
        0,    0,                // Reserved
        0,    0,                // SubstituteNameOffset
        16,   0,                // SubstituteNameLength
        18,   0,                // PrintNameOffset
        8,    0,                // PrintNameLength
        '\\', 0,    '?',  0,    '?',  0, '\\', 0, 'C', 0, ':', 0, '\\', 0, 'w', 0, // bytes 16-31
        0,    0,                                                                   // 32-33
        'C',  0,    ':',  0,    '\\', 0, 'w',  0,                                  // 34-41
        0,    0,                                                                   // 42-43
    };
    EXPECT_EQ(0, memcmp(expected, record, sizeof expected));
    for (size_t i = 44; i < sizeof record; ++i)
        ASSERT_EQ(0, record[i]) << "byte " << i << " beyond the handed-over part";
}

TEST(JunctionRecord, LongestTargetOf259CharactersFits) {
    std::wstring target = L"C:\\" + std::wstring(256, L'x');
    unsigned char record[kJunctionRecordBytes];
    ASSERT_EQ(1064, build(record, target));
    EXPECT_EQ(1056u, u16(record + 4));
    EXPECT_EQ(2u * 263, u16(record + 10));
    EXPECT_EQ(2u * 264, u16(record + 12));
    EXPECT_EQ(2u * 259, u16(record + 14));
    EXPECT_EQ(0u, u16(record + 16 + 2 * 263)); // both terminators
    EXPECT_EQ(0u, u16(record + 16 + 2 * 264 + 2 * 259));
    EXPECT_EQ(unsigned('x'), u16(record + 16 + 2 * 264 + 2 * 258));
}

TEST(JunctionRecord, ReservedAndSubstituteOffsetAreAlwaysZero) {
    for (const std::wstring target : {L"C:\\", L"C:/a/b", L"/tmp/x", L"D:\\some\\longer\\path"}) {
        unsigned char record[kJunctionRecordBytes];
        memset(record, 0xFF, sizeof record);
        ASSERT_GT(build(record, target), 0);
        EXPECT_EQ(0, record[6] | record[7] | record[8] | record[9]);
    }
}

TEST(JunctionRecord, CharactersBeyondSixteenBitsTakeTwoUnitsAndMustFit) {
    if (sizeof(wchar_t) == 2)
        GTEST_SKIP() << "wide characters are UTF-16 units here already";
    unsigned char record[kJunctionRecordBytes];
    const wchar_t beyond = static_cast<wchar_t>(0x1F600);
    const std::wstring target = std::wstring(L"/t/") + beyond;
    ASSERT_EQ(2 * (9 + 5) + 20, build(record, target)); // 8 and 4 characters, one pair each
    EXPECT_EQ(0xD83Du, u16(record + 16 + 2 * 7));
    EXPECT_EQ(0xDE00u, u16(record + 16 + 2 * 8));
    EXPECT_EQ(0, build(record, L"/" + std::wstring(258, beyond)));
}

TEST(CreateJunction, ParentMissingIsReportedWith3AndLeavesNothing) {
    TempDir t;
    const std::wstring link = wide(t / "no" / "link"), target = wide(t.path());
    const std::wstring substitute = substituteFor(target);
    CapturedOutput output;
    EXPECT_EQ(3, createJunction(link.c_str(), substitute.c_str(), int(substitute.size()),
                                target.c_str(), int(target.size())));
    EXPECT_EQ("ERROR create link directory, Path not found: " + (t / "no" / "link").string() + "\n",
              output.err());
    EXPECT_EQ("", output.out());
    EXPECT_TRUE(listNames(t.path()).empty());
}

// A directory with content at the link path is refused by the file system (or, under Wine, the
// record is refused altogether); the directory keeps its content.
TEST(CreateJunction, RefusedRecordKeepsADirectoryWithContent) {
    TempDir t;
    fs::create_directories(t / "link");
    writeFile(t / "link" / "data", "kept");
    fs::create_directory(t / "target");
    const std::wstring link = wide(t / "link"), target = wide(t / "target");
    const std::wstring substitute = substituteFor(target);
    CapturedOutput output;
    EXPECT_EQ(1, createJunction(link.c_str(), substitute.c_str(), int(substitute.size()),
                                target.c_str(), int(target.size())));
    const std::string head = "ERROR set Junction, ";
    EXPECT_EQ(head, output.err().substr(0, head.size()));
    EXPECT_EQ("kept", readFile(t / "link" / "data"));
}

// Whether this platform can set junctions at all (Wine cannot: DeviceIoControl gives 50).
bool junctionsWork() {
    TempDir t;
    fs::create_directory(t / "target");
    const std::wstring link = wide(t / "probe"), target = wide(t / "target");
    const std::wstring substitute = substituteFor(target);
    CapturedOutput quiet;
    return createJunction(link.c_str(), substitute.c_str(), int(substitute.size()), target.c_str(),
                          int(target.size())) == 0;
}

TEST(CreateJunction, JunctionLeadsToItsTargetOrTheLinkDirectoryIsGone) {
    TempDir t;
    fs::create_directory(t / "target");
    writeFile(t / "target" / "data", "through the link");
    const std::wstring link = wide(t / "link"), target = wide(t / "target");
    const std::wstring substitute = substituteFor(target);
    int result;
    std::string err;
    {
        CapturedOutput output;
        result = createJunction(link.c_str(), substitute.c_str(), int(substitute.size()),
                                target.c_str(), int(target.size()));
        err = output.err();
    }
    if (!junctionsWork()) {
        // Wine: the failure path, with the platform's number, and no link directory left.
        EXPECT_EQ(1, result);
        EXPECT_EQ("ERROR set Junction, Windows error: 50: " + (t / "link").string() +
                      ". See https://learn.microsoft.com/windows/win32/debug/"
                      "system-error-codes--0-499-\n",
                  err);
        EXPECT_FALSE(fs::exists(fs::symlink_status(t / "link")));
        GTEST_SKIP() << "junctions cannot be set here (Wine); the failure path was checked";
    }
    EXPECT_EQ(0, result);
    EXPECT_EQ("", err);
    EXPECT_EQ("through the link", readFile(t / "link" / "data"));
    wchar_t finalPath[MAX_PATH];
    EXPECT_EQ(0, readCmpLink(link.c_str(), finalPath, MAX_PATH, 0, 0, 0));
    wchar_t targetFinal[MAX_PATH];
    EXPECT_EQ(0, readCmpLink(target.c_str(), targetFinal, MAX_PATH, 0, 0, 0));
    EXPECT_EQ(std::wstring(targetFinal), std::wstring(finalPath));
}

TEST(CreateJunction, EmptyDirectoryAlreadyThereBecomesTheJunction) {
    if (!junctionsWork())
        GTEST_SKIP() << "junctions cannot be set here (Wine)";
    TempDir t;
    fs::create_directory(t / "target");
    fs::create_directory(t / "link");
    const std::wstring link = wide(t / "link"), target = wide(t / "target");
    const std::wstring substitute = substituteFor(target);
    EXPECT_EQ(0, createJunction(link.c_str(), substitute.c_str(), int(substitute.size()),
                                target.c_str(), int(target.size())));
    EXPECT_EQ(
        0, readCmpLink(link.c_str(), const_cast<wchar_t*>(target.c_str()), MAX_PATH, 1, 'A', '/'));
}

#if !defined(_WIN32)
// The setting on POSIX after another run changed the link path between this run's opening of
// the link directory and its setting: the junction's place is taken in one step whatever link
// stands there, and a directory of another run is left alone (32). No temporary name stays.
TEST(JunctionSettingOnPosix, LinkPathChangedAfterTheOpening) {
    struct Case {
        const char* name;
        std::function<void(const fs::path& link, const fs::path& elsewhere)> change;
        bool set;
    } const cases[] = {
        {"the directory became another run's link",
         [](const fs::path& l, const fs::path& e) {
             fs::remove(l);
             fs::create_directory_symlink(e, l);
         },
         true},
        {"the directory was removed", [](const fs::path& l, const fs::path&) { fs::remove(l); },
         true},
        {"another run's directory stands there",
         [](const fs::path& l, const fs::path&) {
             fs::remove(l);
             fs::create_directory(l);
         },
         false},
        {"nothing changed", [](const fs::path&, const fs::path&) {}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir t;
        fs::create_directory(t / "target");
        fs::create_directory(t / "elsewhere");
        fs::create_directory(t / "link");
        const std::wstring link = wide(t / "link"), target = wide(t / "target");
        HANDLE handle =
            CreateFileW(link.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, handle);
        c.change(t / "link", t / "elsewhere");
        unsigned char record[kJunctionRecordBytes];
        const int size = build(record, target);
        DWORD returned;
        const BOOL set = DeviceIoControl(handle, FSCTL_SET_REPARSE_POINT, record, DWORD(size),
                                         nullptr, 0, &returned, nullptr);
        const DWORD error = GetLastError();
        CloseHandle(handle);
        EXPECT_EQ(c.set, set != FALSE) << error;
        if (c.set) {
            EXPECT_EQ(fs::path(target), fs::read_symlink(t / "link"));
        } else {
            EXPECT_EQ(DWORD(ERROR_SHARING_VIOLATION), error);
            EXPECT_TRUE(fs::is_directory(fs::symlink_status(t / "link")));
        }
        EXPECT_EQ((std::vector<std::string>{"elsewhere", "link", "target"}), listNames(t.path()));
    }
}

// A handle opened on a link that another run has set already: its link is replaced in one step.
TEST(JunctionSettingOnPosix, HandleOnALinkReplacesIt) {
    TempDir t;
    fs::create_directory(t / "target");
    fs::create_directory(t / "elsewhere");
    fs::create_directory_symlink(t / "elsewhere", t / "link");
    const std::wstring link = wide(t / "link"), target = wide(t / "target");
    const std::wstring substitute = substituteFor(target);
    CapturedOutput output;
    EXPECT_EQ(0, createJunction(link.c_str(), substitute.c_str(), int(substitute.size()),
                                target.c_str(), int(target.size())));
    EXPECT_EQ("", output.err());
    EXPECT_EQ(t / "target", fs::read_symlink(t / "link"));
    EXPECT_EQ((std::vector<std::string>{"elsewhere", "link", "target"}), listNames(t.path()));
}

// Without an exchange of two names (a file system that lacks it), the checked empty directory
// goes and the link takes its name.
TEST(JunctionSettingOnPosix, WithoutExchangeTheDirectoryGoesFirst) {
    TempDir t;
    fs::create_directory(t / "target");
    const std::wstring link = wide(t / "link"), target = wide(t / "target");
    const std::wstring substitute = substituteFor(target);
    PosixFaults faults;
    faults.fail(PosixCall::renameat2, 0, EINVAL,
                [](const PosixCallArgs& a) { return a.flags == int(kRenameExchange); });
    CapturedOutput output;
    EXPECT_EQ(0, createJunction(link.c_str(), substitute.c_str(), int(substitute.size()),
                                target.c_str(), int(target.size())));
    EXPECT_EQ(t / "target", fs::read_symlink(t / "link"));
    EXPECT_EQ((std::vector<std::string>{"link", "target"}), listNames(t.path()));
}

// The clean-up after a failed setting removes only the empty directory that this run made:
// never a link that another run set there meanwhile, nor a directory that stood there before. A
// run whose link path leads to the target after all (the same link set by another run) succeeds.
TEST(JunctionSettingOnPosix, CleanUpRemovesOnlyTheDirectoryThisRunMade) {
    struct Case {
        const char* name;
        bool standsBefore;           // an empty directory at the link path before the call
        const char* linkedMeanwhile; // another run sets its link (to "target" or "other")
        const char* leftBehind;      // "", "directory" or "link"
        int exitCode;                // 0 when the link path leads to the target all the same
    } const cases[] = {
        {"made here, failed", false, "", "", 1},
        {"made here, another run's link elsewhere meanwhile", false, "other", "link", 1},
        {"made here, another run's same link meanwhile", false, "target", "link", 0},
        {"found there, failed", true, "", "directory", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir t;
        fs::create_directory(t / "target");
        fs::create_directory(t / "other");
        if (c.standsBefore)
            fs::create_directory(t / "link");
        const fs::path linkPath = t / "link", targetPath = t / "target";
        const std::wstring link = wide(linkPath), target = wide(targetPath);
        const std::wstring substitute = substituteFor(target);
        PosixFaults faults;
        // The link under its temporary name cannot be made; another run may set its link first.
        faults.fail(PosixCall::symlinkat, 1, EIO, [&](const PosixCallArgs&) {
            if (*c.linkedMeanwhile) {
                rmdir(linkPath.c_str());
                symlink((t / c.linkedMeanwhile).c_str(), linkPath.c_str());
            }
            return true;
        });
        CapturedOutput output;
        EXPECT_EQ(c.exitCode,
                  createJunction(link.c_str(), substitute.c_str(), int(substitute.size()),
                                 target.c_str(), int(target.size())));
        const std::string head = "ERROR set Junction, ";
        if (c.exitCode == 0)
            EXPECT_EQ("", output.err());
        else
            EXPECT_EQ(head, output.err().substr(0, head.size()));
        EXPECT_EQ(std::string::npos, output.err().find("not-removed"));
        const fs::file_status left = fs::symlink_status(linkPath);
        EXPECT_EQ(std::string(c.leftBehind), fs::is_symlink(left)     ? "link"
                                             : fs::is_directory(left) ? "directory"
                                                                      : "");
    }
}
#endif

} // namespace
