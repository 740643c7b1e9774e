#include "actions/steam_url.h"

#include <gtest/gtest.h>

#include <string>

TEST(ServerAddress, Verdicts) {
    struct Case {
        const wchar_t* address;
        bool accepted;
    };
    const Case cases[] = {
        {L"127.0.0.1:27015", true},
        {L"1.2.3.4", true},
        {L"play.orvane.example:27015", true},
        {L"localhost:1", true},
        {L"localhost:65535", true},
        {L"", false},
        {L"1.2.3.999", false},
        {L"1.2.3", false},
        {L"1.2.3.4:0", false},
        {L"1.2.3.4:65536", false},
        {L"abc:12;quit", false},
        {L"abc +quit", false},
        {L"abc/def", false},
        {L"abc;quit", false},
        {L"abc\"", false},
        {L"-orvane.example", false},
        {L"orvane..example", false},
        {L"orvane.example:", false},
        {L"orvane.example:1:2", false},
        {L"[::1]:27015", false},
        // All-digit hosts are addresses, and need the quad form; one letter makes a name.
        {L"27015", false},
        {L"27015a", true},
        {L"001.002.003.004", true},
        {L"0001.2.3.4", false},
        {L"1.2.3.4.5", false},
        {L"256.1.1.1", false},
        // Ports: leading zeros are fine; the value is checked after every digit.
        {L"1.2.3.4:00027015", true},
        {L"1.2.3.4:0000000000000000000001", true},
        {L"1.2.3.4:99999999999999999999", false},
        {L"1.2.3.4:27015 ", false},
        {L":27015", false},
        // Label shapes.
        {L"a--b.example", true},
        {L"a-.example", false},
        {L"a.-example", false},
        {L"example-", false},
        {L"example.", false},
        {L".example", false},
        {L"caf\u00e9.example", false},
        {L"abc\tdef", false},
        // The ASCII characters bordering the letters and digits; "00_\29" would otherwise reach Steam.
        {L"abc@def", false},
        {L"abc[def", false},
        {L"abc\\def", false},
        {L"abc]def", false},
        {L"abc^def", false},
        {L"abc_def", false},
        {L"abc`def", false},
        {L"abc{def", false},
        {L"00_\\29", false},
        {L"AZaz09.example:1", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(validateServerAddress(c.address), c.accepted) << c.address;
    EXPECT_FALSE(validateServerAddress(nullptr));
}

TEST(ServerAddress, LengthLimitIsTheWholeAddress) {
    // 185 letters and ":27015" is 191; one letter fewer is 190.
    const std::wstring long191 = std::wstring(185, L'a') + L":27015";
    ASSERT_EQ(long191.size(), 191u);
    EXPECT_FALSE(validateServerAddress(long191.c_str()));
    const std::wstring long190 = long191.substr(1);
    EXPECT_TRUE(validateServerAddress(long190.c_str()));
    // Labels have no length limit of their own.
    EXPECT_TRUE(validateServerAddress(std::wstring(190, L'x').c_str()));
    EXPECT_FALSE(validateServerAddress(std::wstring(191, L'x').c_str()));
    EXPECT_FALSE(validateServerAddress(std::wstring(4000, L'x').c_str()));
}

TEST(SteamUrl, PlainAndConnectForms) {
    struct Case {
        const wchar_t* address;
        bool built;
        const wchar_t* url;
    };
    const Case cases[] = {
        {L"", true, L"steam://run/4000"},
        {nullptr, true, L"steam://run/4000"},
        {L"127.0.0.1:27015", true, L"steam://run/4000//%2Bconnect%20127.0.0.1%3A27015/"},
        {L"play.orvane.example", true, L"steam://run/4000//%2Bconnect%20play.orvane.example/"},
        {L"abc;quit", false, L""},
        {L"abc +quit", false, L""},
        {L"00_\\29", false, L""},
    };
    for (const Case& c : cases) {
        wchar_t out[1024];
        wmemset(out, L'#', 1024);
        EXPECT_EQ(buildSteamUrl(c.address, out, 1024), c.built) << (c.address ? c.address : L"(null)");
        EXPECT_STREQ(out, c.url);
    }
}

TEST(SteamUrl, ReportsAUrlThatDoesNotFit) {
    const std::wstring connect = L"steam://run/4000//%2Bconnect%20127.0.0.1%3A27015/";
    struct Case {
        const wchar_t* address;
        size_t capacity;
        bool built;
    };
    const Case cases[] = {
        {L"", 17, true},
        {L"", 16, false},
        {L"", 1, false},
        {L"127.0.0.1:27015", connect.size() + 1, true},
        {L"127.0.0.1:27015", connect.size(), false},
    };
    for (const Case& c : cases) {
        wchar_t out[64];
        wmemset(out, L'#', 64);
        EXPECT_EQ(buildSteamUrl(c.address, out, c.capacity), c.built) << c.address << " in " << c.capacity;
        // A URL that does not fit is never handed on cut short.
        if (!c.built) {
            EXPECT_STREQ(out, L"");
        }
    }
    wchar_t untouched[1] = {L'#'};
    EXPECT_FALSE(buildSteamUrl(L"", untouched, 0));
    EXPECT_EQ(untouched[0], L'#');
}

TEST(SteamUrl, LongestAddressStillFits) {
    const std::wstring address = std::wstring(184, L'a') + L":27015";
    ASSERT_EQ(address.size(), 190u);
    wchar_t out[1024];
    ASSERT_TRUE(buildSteamUrl(address.c_str(), out, 1024));
    EXPECT_EQ(std::wstring(out), L"steam://run/4000//%2Bconnect%20" + std::wstring(184, L'a') + L"%3A27015/");
}
