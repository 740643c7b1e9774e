#include "app/text.h"
#include "config/file_replace.h"
#include "config/launcher_config.h"
#include "link/shell_url.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <string>

using namespace testsupport;

namespace {

LauncherConfig configWith(const wchar_t* body) {
    LauncherConfig config{};
    copyText(config.server, L"play.orvanegaming.com:27015");
    copyText(config.community, L"https://orvanegaming.com/foro");
    copyText(config.news_title, L"Temporada 3: ¡ya disponible!");
    copyText(config.news_body, body);
    copyText(config.background, L"galactic-battle.jpg");
    return config;
}

std::wstring newsBodyAfterRoundTrip(const std::wstring& body) {
    TempFolder dir;
    const std::wstring ini = dir / L"OrvaneGaming.ini";
    EXPECT_TRUE(writeLauncherConfig(configWith(body.c_str()), ini.c_str()));
    LauncherConfig back{};
    readLauncherConfig(ini.c_str(), back);
    return back.news_body;
}

} // namespace

TEST(LauncherConfigFile, RoundTripOfAllFiveFieldsInTheExactFileLayout) {
    TempFolder dir;
    const std::wstring ini = dir / L"OrvaneGaming.ini";
    const LauncherConfig config = configWith(L"Línea uno\nLínea dos");
    ASSERT_TRUE(writeLauncherConfig(config, ini.c_str()));

    EXPECT_EQ(readBytes(ini), utf16File(L"[launcher]\r\nserver=play.orvanegaming.com:27015\r\n"
                                        L"community=https://orvanegaming.com/foro\r\n"
                                        L"news_title=Temporada 3: ¡ya disponible!\r\n"
                                        L"news_body=Línea uno\\nLínea dos\r\n"
                                        L"background=galactic-battle.jpg\r\n"));
    EXPECT_FALSE(exists(ini + L".pending"));

    LauncherConfig back{};
    readLauncherConfig(ini.c_str(), back);
    EXPECT_STREQ(back.server, config.server);
    EXPECT_STREQ(back.community, config.community);
    EXPECT_STREQ(back.news_title, config.news_title);
    EXPECT_STREQ(back.news_body, config.news_body);
    EXPECT_STREQ(back.background, config.background);
}

TEST(LauncherConfigFile, NewsBodySurvivesWriteAndRead) {
    const std::wstring slashes1199(1199, L'\\');
    struct Case {
        const wchar_t* what;
        std::wstring written;
        std::wstring readBack;
    };
    const Case cases[] = {
        {L"CR LF pairs lose their CR", L"uno\r\ndos\r\ntres", L"uno\ndos\ntres"},
        {L"real line feed beside a literal backslash-n", L"a\nb \\n c", L"a\nb \\n c"},
        {L"1,199 backslashes", slashes1199, slashes1199},
        {L"trailing backslash", L"fin\\", L"fin\\"},
        {L"empty", L"", L""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(newsBodyAfterRoundTrip(c.written), c.readBack) << c.what;
}

TEST(LauncherConfigFile, StoredNewsBodyIsUnescapedAndCut) {
    struct Case {
        const wchar_t* what;
        std::wstring stored;
        std::wstring read;
    };
    const Case cases[] = {
        {L"2,398 backslashes read as 1,199", std::wstring(2398, L'\\'), std::wstring(1199, L'\\')},
        {L"single trailing backslash stays", L"abc\\", L"abc\\"},
        {L"backslash before another character gives that character", L"a\\tb\\\\c", L"atb\\c"},
        {L"longer than 1,199 after unescaping", std::wstring(1500, L'x'), std::wstring(1199, L'x')},
    };
    for (const Case& c : cases) {
        TempFolder dir;
        const std::wstring ini = dir / L"OrvaneGaming.ini";
        ASSERT_TRUE(writeBytes(ini, utf16File(L"[launcher]\r\nnews_body=" + c.stored + L"\r\n")));
        LauncherConfig back{};
        readLauncherConfig(ini.c_str(), back);
        EXPECT_EQ(std::wstring(back.news_body), c.read) << c.what;
    }
}

TEST(LauncherConfigFile, MissingKeysReadEmptyAndLongValuesAreCut) {
    TempFolder dir;
    const std::wstring ini = dir / L"OrvaneGaming.ini";
    const std::wstring longTitle(400, L'T');
    ASSERT_TRUE(writeBytes(ini, utf16File(L"[launcher]\r\nnews_title=" + longTitle + L"\r\n")));
    LauncherConfig back = configWith(L"old");
    readLauncherConfig(ini.c_str(), back);
    EXPECT_EQ(std::wstring(back.news_title), std::wstring(159, L'T'));
    EXPECT_STREQ(back.server, L"");
    EXPECT_STREQ(back.background, L"");

    readLauncherConfig((dir / L"missing.ini").c_str(), back);
    EXPECT_STREQ(back.news_title, L"");
}

TEST(LauncherConfigFile, BusyWriterRefusesAndTouchesNothing) {
    TempFolder dir;
    const std::wstring ini = dir / L"OrvaneGaming.ini";
    const std::string target = utf16File(L"[launcher]\r\nserver=old\r\n");
    const std::string pending = "another writer's half-written bytes";
    ASSERT_TRUE(writeBytes(ini, target));
    ASSERT_TRUE(writeBytes(ini + L".pending", pending));

    EXPECT_FALSE(writeLauncherConfig(configWith(L"nuevo"), ini.c_str()));
    EXPECT_EQ(readBytes(ini), target);
    EXPECT_EQ(readBytes(ini + L".pending"), pending);
}

TEST(LauncherConfigFile, FailedReplaceRemovesItsPendingFile) {
    TempFolder dir;
    // A folder cannot be replaced by a file, so the final move fails after the pending file was written.
    const std::wstring target = dir / L"OrvaneGaming.ini";
    ASSERT_TRUE(CreateDirectoryW(target.c_str(), nullptr));
    EXPECT_FALSE(writeLauncherConfig(configWith(L"x"), target.c_str()));
    EXPECT_FALSE(exists(target + L".pending"));
    EXPECT_TRUE(GetFileAttributesW(target.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
}

TEST(LauncherConfigFile, ReadAfterReplaceSeesTheNewValues) {
    TempFolder dir;
    const std::wstring ini = dir / L"OrvaneGaming.ini";
    LauncherConfig config = configWith(L"primero");
    ASSERT_TRUE(writeLauncherConfig(config, ini.c_str()));
    LauncherConfig back{};
    readLauncherConfig(ini.c_str(), back);
    ASSERT_STREQ(back.news_body, L"primero");

    // The second write replaces the file: the old one is never opened for writing.
    FileIdentity first, second;
    ASSERT_TRUE(fileIdentity(ini.c_str(), first));
    copyText(config.news_body, L"segundo");
    copyText(config.server, L"10.0.0.7:27016");
    ASSERT_TRUE(writeLauncherConfig(config, ini.c_str()));
    ASSERT_TRUE(fileIdentity(ini.c_str(), second));
    EXPECT_NE(second, first);
    readLauncherConfig(ini.c_str(), back);
    EXPECT_STREQ(back.news_body, L"segundo");
    EXPECT_STREQ(back.server, L"10.0.0.7:27016");
}

TEST(FileReplace, IdentityTellsAReplacedFileFromOneRewrittenInPlace) {
    TempFolder dir;
    const std::wstring file = dir / L"file.txt";
    FileIdentity id;
    EXPECT_FALSE(fileIdentity(file.c_str(), id));
    ASSERT_TRUE(writeBytes(file, "one"));
    FileIdentity original, now;
    ASSERT_TRUE(fileIdentity(file.c_str(), original));
    ASSERT_TRUE(fileIdentity(file.c_str(), now));
    EXPECT_EQ(now, original);

    ASSERT_TRUE(writeBytes(file, "rewritten in place"));
    ASSERT_TRUE(fileIdentity(file.c_str(), now));
    EXPECT_EQ(now, original);

    ASSERT_TRUE(replaceFile(file.c_str(), (file + L".pending").c_str(), "replaced", 8));
    ASSERT_TRUE(fileIdentity(file.c_str(), now));
    EXPECT_NE(now, original);
    EXPECT_EQ(readBytes(file), "replaced");
    EXPECT_EQ(namesIn(dir.path), std::vector<std::wstring>{L"file.txt"});
}

TEST(LauncherConfigFile, StartupReadTakesOnlyAValidBackground) {
    struct Case {
        const wchar_t* stored;
        const wchar_t* kept;
    };
    const Case cases[] = {
        {L"galactic-battle.jpg", L"galactic-battle.jpg"},
        {L"..\\outside.jpg", L""},
        {L"C:\\scene.png", L""},
        {L"scene.exe", L""},
    };
    for (const Case& c : cases) {
        TempFolder dir;
        const std::wstring ini = dir / L"OrvaneGaming.ini";
        ASSERT_TRUE(
            writeBytes(ini, utf16File(std::wstring(L"[launcher]\r\nserver=s\r\nnews_title=t\r\nbackground=") +
                                      c.stored + L"\r\n")));
        LauncherConfig config = configWith(L"stale");
        readStartupConfig(ini.c_str(), config);
        EXPECT_STREQ(config.background, c.kept) << c.stored;
        EXPECT_STREQ(config.server, L"");
        EXPECT_STREQ(config.news_title, L"");
        EXPECT_STREQ(config.news_body, L"");
    }
}

TEST(ConfigRules, BackgroundName) {
    struct Case {
        std::wstring name;
        bool valid;
    };
    const Case cases[] = {
        {L"scene.png", true},
        {L"", true},
        {L".png", true},
        {L"Mi Escena_2-final.JPEG", true},
        {L"scene.jpg", true},
        {L"..\\scene.png", false},
        {L"a..b.png", false},
        {L"C:\\scene.png", false},
        {L"sub/scene.png", false},
        {L"scene.exe", false},
        {L"scene", false},
        {L"escena\u00f1.png", false},
        {L"scene.png.txt", false},
        {std::wstring(116, L'a') + L".png", true},
        {std::wstring(117, L'a') + L".png", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isValidBackgroundName(c.name.c_str()), c.valid) << c.name;
    EXPECT_TRUE(isValidBackgroundName(nullptr));
}

TEST(ConfigRules, CommunityUrl) {
    const std::wstring prefix = L"https://orvanegaming.com/";
    struct Case {
        std::wstring url;
        bool valid;
    };
    const Case cases[] = {
        {L"https://orvanegaming.com/foro?x=1#y", true},
        {L"javascript:alert(1)", false},
        {L"http://orvanegaming.com", false},
        {L"HTTPS://orvanegaming.com", false},
        {L"https://", false},
        {L"https:///foro", false},
        {L"https://.evil", false},
        {L"https://orvane gaming.com", false},
        {L"https://user@orvanegaming.com", false},
        {L"https://orvanegaming.com/\"x", false},
        {L"https://orvanegaming.com\\foro", false},
        {L"https://orvanegaming.com/\tx", false},
        {L"https://orvanegaming.com/a b", false},
        {L"https://orvanegaming.com/\nx", false},
        {L"https://orvanegaming.com/\x01x", false},
        {L"https://orvanegaming.com/\x1fx", false},
        {L"https://orvanegaming.com/!~x", true},
        {prefix + std::wstring(509 - prefix.size(), L'a'), true},
        {prefix + std::wstring(510 - prefix.size(), L'a'), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isValidCommunityUrl(c.url.c_str()), c.valid) << c.url;
    EXPECT_FALSE(isValidCommunityUrl(nullptr));
}
