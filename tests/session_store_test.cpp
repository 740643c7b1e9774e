#include "link/session_store.h"
#include "test_support.h"

#include <windows.h>
#include <wincrypt.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

const std::string kToken = "Qm9yZGVyLWxpbmUtdG9rZW4tb2YtNDMtY2hhcmFjdGU";
const char kEntropy[] = "OrvaneGamingHQ.Launcher.Session.v1";

// What DPAPI makes of `plain` with the given entropy; the description only pads the blob.
std::string protect(const std::string& plain, const std::string& entropy,
                    const std::wstring& description = L"") {
    DATA_BLOB in{static_cast<DWORD>(plain.size()), reinterpret_cast<BYTE*>(const_cast<char*>(plain.data()))};
    DATA_BLOB extra{static_cast<DWORD>(entropy.size()),
                    reinterpret_cast<BYTE*>(const_cast<char*>(entropy.data()))};
    DATA_BLOB out{};
    if (!CryptProtectData(&in, description.c_str(), entropy.empty() ? nullptr : &extra, nullptr, nullptr,
                          CRYPTPROTECT_UI_FORBIDDEN, &out))
        return {};
    std::string blob(reinterpret_cast<const char*>(out.pbData), out.cbData);
    LocalFree(out.pbData);
    return blob;
}

bool unprotects(const std::string& blob, std::string* plain = nullptr, std::wstring* description = nullptr) {
    DATA_BLOB in{static_cast<DWORD>(blob.size()), reinterpret_cast<BYTE*>(const_cast<char*>(blob.data()))};
    DATA_BLOB extra{static_cast<DWORD>(sizeof kEntropy - 1),
                    reinterpret_cast<BYTE*>(const_cast<char*>(kEntropy))};
    DATA_BLOB out{};
    LPWSTR text = nullptr;
    if (!CryptUnprotectData(&in, &text, &extra, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
        return false;
    if (plain != nullptr)
        plain->assign(reinterpret_cast<const char*>(out.pbData), out.cbData);
    if (description != nullptr && text != nullptr)
        *description = text;
    LocalFree(out.pbData);
    LocalFree(text);
    return true;
}

// A valid session blob of exactly `size` bytes, padded through its description.
std::string sessionBlobOfSize(size_t size) {
    const std::string shortest = protect(kToken, kEntropy);
    if (shortest.size() > size || (size - shortest.size()) % 2 != 0)
        return {};
    return protect(kToken, kEntropy, std::wstring((size - shortest.size()) / 2, L'p'));
}

bool anyTemporary(const std::wstring& folder) {
    for (const std::wstring& name : namesIn(folder))
        if (name.find(L".tmp.") != std::wstring::npos)
            return true;
    return false;
}

std::string loaded(const std::wstring& path) {
    return std::string(loadSessionToken(path.c_str()).view());
}

} // namespace

TEST(SessionStore, RoundTripOfAnIssuedToken) {
    TempFolder dir;
    const std::wstring path = dir / L"launcher-session.dat";
    ASSERT_EQ(kToken.size(), 43u);
    ASSERT_TRUE(saveSessionToken(path.c_str(), kToken));
    EXPECT_EQ(loaded(path), kToken);
    EXPECT_FALSE(anyTemporary(dir.path));

    // The file is the bare DPAPI blob, with the entropy and description of the launcher.
    const std::string blob = readBytes(path);
    EXPECT_EQ(blob.find(kToken), std::string::npos);
    std::string plain;
    std::wstring description;
    ASSERT_TRUE(unprotects(blob, &plain, &description));
    EXPECT_EQ(plain, kToken);
    EXPECT_EQ(description, L"OrvaneGaming launcher session");

    const std::string next(43, 'n');
    ASSERT_TRUE(saveSessionToken(path.c_str(), next));
    EXPECT_EQ(loaded(path), next);
    EXPECT_EQ(namesIn(dir.path), std::vector<std::wstring>{L"launcher-session.dat"});
}

// The file system ignores case, so a player who renamed the folder (or a path typed in other case)
// still names the same file and must keep the session.
TEST(SessionStore, PathsInOtherCaseNameTheSameFile) {
    TempFolder dir;
    const std::wstring folder = dir / L"Orvane Launcher";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(saveSessionToken((folder + L"\\launcher-session.dat").c_str(), kToken));
    const wchar_t* spellings[] = {L"\\ORVANE LAUNCHER\\launcher-session.dat",
                                  L"\\orvane launcher\\LAUNCHER-SESSION.DAT",
                                  L"\\Orvane Launcher\\Launcher-Session.dat"};
    for (const wchar_t* spelling : spellings)
        EXPECT_EQ(loaded(dir.path + spelling), kToken) << std::wstring(spelling);
}

TEST(SessionStore, SavedTokensOfOtherLengthsDoNotLoad) {
    TempFolder dir;
    const std::wstring path = dir / L"launcher-session.dat";
    for (size_t length : {20u, 42u, 44u, 512u}) {
        ASSERT_TRUE(saveSessionToken(path.c_str(), std::string(length, 'a'))) << length;
        EXPECT_EQ(loaded(path), "") << length;
    }
}

TEST(SessionStore, RefusedTokensCreateNoFile) {
    const std::string cases[] = {
        std::string(19, 'a'),
        std::string(513, 'a'),
        std::string(42, 'a') + "+",
        std::string(42, 'a') + "/",
        std::string(42, 'a') + "=",
        std::string(42, 'a') + " ",
        "",
        std::string(40, 'a') + "\r\nX",
    };
    for (const std::string& token : cases) {
        TempFolder dir;
        const std::wstring path = dir / L"launcher-session.dat";
        EXPECT_FALSE(saveSessionToken(path.c_str(), token)) << token;
        EXPECT_TRUE(namesIn(dir.path).empty()) << token;
    }
}

TEST(SessionStore, FileSizeLimits) {
    const std::string largest = sessionBlobOfSize(8192);
    ASSERT_EQ(largest.size(), 8192u);
    // One byte more: DPAPI itself would still take it, so only the size limit can refuse it.
    const std::string oversized = largest + '\0';
    ASSERT_TRUE(unprotects(oversized));
    struct Case {
        const char* what;
        std::string bytes;
        std::string token;
    };
    const Case cases[] = {
        {"0 bytes", "", ""},
        {"8,192 bytes", largest, kToken},
        {"8,193 bytes", oversized, ""},
        {"truncated blob", largest.substr(0, 200), ""},
        {"not a blob", std::string(300, 'x'), ""},
        {"plaintext token", kToken, ""},
    };
    for (const Case& c : cases) {
        TempFolder dir;
        const std::wstring path = dir / L"launcher-session.dat";
        ASSERT_TRUE(writeBytes(path, c.bytes)) << c.what;
        EXPECT_EQ(loaded(path), c.token) << c.what;
        EXPECT_TRUE(exists(path)) << c.what << ": load must never delete";
    }
}

TEST(SessionStore, ProtectedContentOtherThanAnIssuedToken) {
    struct Case {
        const char* what;
        std::string plain;
        std::string entropy;
        std::string token;
    };
    const Case cases[] = {
        {"launcher entropy", kToken, kEntropy, kToken},
        {"other entropy", kToken, "OrvaneGamingHQ.Launcher.Session.v2", ""},
        {"no entropy", kToken, "", ""},
        {"42 bytes", kToken.substr(1), kEntropy, ""},
        {"44 bytes", kToken + "x", kEntropy, ""},
        {"43 bytes outside the alphabet", std::string(42, 'a') + "=", kEntropy, ""},
        {"43 bytes with a NUL", std::string(42, 'a') + std::string(1, '\0'), kEntropy, ""},
    };
    for (const Case& c : cases) {
        TempFolder dir;
        const std::wstring path = dir / L"launcher-session.dat";
        const std::string blob = protect(c.plain, c.entropy);
        ASSERT_FALSE(blob.empty()) << c.what;
        ASSERT_TRUE(writeBytes(path, blob)) << c.what;
        EXPECT_EQ(loaded(path), c.token) << c.what;
    }
}

TEST(SessionStore, HardLinkedFileLoadsEmpty) {
    TempFolder dir;
    const std::wstring path = dir / L"launcher-session.dat";
    const std::wstring second = dir / L"elsewhere.dat";
    ASSERT_TRUE(saveSessionToken(path.c_str(), kToken));
    ASSERT_TRUE(CreateHardLinkW(second.c_str(), path.c_str(), nullptr));
    EXPECT_EQ(loaded(path), "");
    EXPECT_EQ(loaded(second), "");
    ASSERT_TRUE(DeleteFileW(second.c_str()));
    EXPECT_EQ(loaded(path), kToken);
}

// A Unix symbolic link made by the test run (Wine shows it as a plain file), and a Windows symbolic
// link where the platform can make one (Wine 8 reports success without creating anything).
TEST(SessionStore, SymbolicLinkLoadsEmpty) {
    ASSERT_NE(std::getenv("ORVANE_LINK_FIXTURES"), nullptr) << "the link_fixtures test makes the links";
    const std::wstring fixtures = unixPathFromEnv("ORVANE_LINK_FIXTURES");
    const std::wstring target = fixtures + L"\\target.dat";
    ASSERT_TRUE(saveSessionToken(target.c_str(), kToken));
    ASSERT_EQ(loaded(target), kToken);
    EXPECT_EQ(loaded(fixtures + L"\\launcher-session.dat"), "") << "Unix symbolic link followed";
    EXPECT_EQ(loaded(fixtures + L"\\linked-folder\\target.dat"), kToken)
        << "a linked folder is not a linked file";

    TempFolder dir;
    const std::wstring link = dir / L"launcher-session.dat";
    ASSERT_TRUE(saveSessionToken((dir / L"real.dat").c_str(), kToken));
    if (CreateSymbolicLinkW(link.c_str(), (dir / L"real.dat").c_str(), 0) && exists(link)) {
        EXPECT_EQ(loaded(link), "") << "Windows symbolic link followed";
    }
}

TEST(SessionStore, FailedSavesLeaveNoTemporaryFile) {
    TempFolder dir;
    // A folder cannot be replaced by a file: the protected bytes are written, then the move fails.
    const std::wstring folderTarget = dir / L"launcher-session.dat";
    ASSERT_TRUE(CreateDirectoryW(folderTarget.c_str(), nullptr));
    EXPECT_FALSE(saveSessionToken(folderTarget.c_str(), kToken));
    EXPECT_EQ(namesIn(dir.path), std::vector<std::wstring>{L"launcher-session.dat"});

    // The temporary file cannot be created in a folder that does not exist.
    const std::wstring missing = dir / L"missing\\launcher-session.dat";
    EXPECT_FALSE(saveSessionToken(missing.c_str(), kToken));
    EXPECT_EQ(namesIn(dir.path), std::vector<std::wstring>{L"launcher-session.dat"});
    EXPECT_FALSE(saveSessionToken(nullptr, kToken));
    EXPECT_EQ(loadSessionToken(nullptr).length, 0u);
    EXPECT_EQ(loaded(dir / L"absent.dat"), "");
}

namespace {

// A process that stays alive (suspended) until the object goes, and one that has already ended.
struct ChildProcess {
    PROCESS_INFORMATION info{};
    explicit ChildProcess(bool ended) {
        wchar_t command[] = L"cmd.exe /c exit 0";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        if (!CreateProcessW(nullptr, command, nullptr, nullptr, FALSE, ended ? 0 : CREATE_SUSPENDED, nullptr,
                            nullptr, &startup, &info))
            return;
        if (ended)
            WaitForSingleObject(info.hProcess, 30000);
    }
    ~ChildProcess() {
        if (info.hProcess == nullptr)
            return;
        TerminateProcess(info.hProcess, 0);
        CloseHandle(info.hThread);
        CloseHandle(info.hProcess);
    }
};

} // namespace

// Saves killed before their move leave temporary files; the next save removes those of processes that
// are gone, and nothing else.
TEST(SessionStore, SaveRemovesTemporariesOfEndedProcesses) {
    ChildProcess running(false);
    DWORD endedPid = 0;
    {
        ChildProcess ended(true);
        endedPid = ended.info.dwProcessId;
    }
    ASSERT_NE(running.info.dwProcessId, 0u);
    ASSERT_NE(endedPid, 0u);
    const std::wstring dead = std::to_wstring(endedPid);
    const std::wstring alive = std::to_wstring(running.info.dwProcessId);
    const std::wstring own = std::to_wstring(GetCurrentProcessId());

    struct Case {
        std::wstring name;
        bool removed;
    };
    const Case cases[] = {
        {L"launcher-session.dat.tmp." + dead + L".123456", true},
        {L"LAUNCHER-SESSION.DAT.tmp." + dead + L".7", true},
        {L"launcher-session.dat.tmp." + own + L".0", true},
        {L"launcher-session.dat.tmp." + alive + L".99", false},
        {L"launcher-session.dat.tmp." + dead + L".1.bak", false},
        {L"launcher-session.dat.tmp.0" + dead + L".1", false},
        {L"launcher-session.dat.tmp.x.1", false},
        {L"launcher-session.dat.tmp.99999999999.1", false},
        {L"other.dat.tmp." + dead + L".1", false},
    };
    TempFolder dir;
    for (const Case& c : cases)
        ASSERT_TRUE(writeBytes(dir / c.name.c_str(), "left")) << c.name;
    const std::wstring folderLike = dir / (L"launcher-session.dat.tmp." + dead + L".5").c_str();
    ASSERT_TRUE(CreateDirectoryW(folderLike.c_str(), nullptr));

    const std::wstring path = dir / L"launcher-session.dat";
    ASSERT_TRUE(saveSessionToken(path.c_str(), kToken));
    EXPECT_EQ(loaded(path), kToken);
    for (const Case& c : cases)
        EXPECT_EQ(GetFileAttributesW((dir / c.name.c_str()).c_str()) == INVALID_FILE_ATTRIBUTES, c.removed)
            << c.name;
    EXPECT_NE(GetFileAttributesW(folderLike.c_str()), INVALID_FILE_ATTRIBUTES);
}
