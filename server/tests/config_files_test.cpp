// What a reload takes from the file read again, and --check-config's warnings about who may read a secret
// and whether the service's user can write the database.
#include "config/config_reload.h"
#include "config/file_warnings.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

namespace {

ServiceConfig parsed(const std::string& text) {
    ServiceConfig config;
    const std::vector<ConfigProblem> problems = parseServiceConfig(text, {}, config);
    EXPECT_TRUE(problems.empty()) << problems.front().where << ": " << problems.front().message;
    return config;
}

const std::string Base =
    "public_host = links.example.org\nlisten = 127.0.0.1:8443\ntrusted_proxy = 127.0.0.1\n"
    "database = /var/lib/orvane/links.sqlite3\n";

TEST(ConfigReload, TheLaunchersDocumentAndDiscordChangeTheRestWaitsForARestart) {
    const ServiceConfig running = parsed(Base + "server_address = 203.0.113.7:27015\nrequire_linking = true\n"
                                                "sessions_per_minute = 6\n");
    const ServiceConfig fresh = parsed(
        "public_host = other.example.org\nlisten = 127.0.0.1:9443\ntrusted_proxy = 127.0.0.1\n"
        "database = /var/lib/orvane/links.sqlite3\nserver_address = 198.51.100.1:27016\n"
        "community_url = https://example.org/nueva\nrequire_linking = false\nsessions_per_minute = 60\n"
        "discord_client_id = 123456789012345678\ndiscord_client_secret = s3cr3t\n"
        "[news]\nid = 4\ntitle = Nueva\nbody = Hola\npublished_at = 2026-10-08T17:00:00Z\n");
    std::vector<std::string> restartKeys;
    const ServiceConfig config = reloadedConfig(running, fresh, restartKeys);
    EXPECT_EQ(config.serverAddress, "198.51.100.1:27016");
    EXPECT_EQ(config.communityUrl, "https://example.org/nueva");
    EXPECT_FALSE(config.requireLinking);
    ASSERT_EQ(config.news.size(), 1u);
    EXPECT_EQ(config.news[0].title, "Nueva");
    EXPECT_TRUE(discordEnabled(config));
    // The values a restart would bring stay as the process started, and are named.
    EXPECT_EQ(config.publicHost, "links.example.org");
    EXPECT_EQ(config.listenPort, 8443);
    EXPECT_EQ(config.sessionsPerMinute, 6);
    EXPECT_EQ(restartKeys, (std::vector<std::string>{"public_host", "listen", "sessions_per_minute"}));

    // Discord off again, with nothing else changed: no restart named.
    const ServiceConfig off = reloadedConfig(config, running, restartKeys);
    EXPECT_FALSE(discordEnabled(off));
    EXPECT_TRUE(off.news.empty());
    EXPECT_TRUE(restartKeys.empty());
}

TEST(FileWarnings, WhoMayReadASecretAndWhoMayWriteAFolder) {
    const ServiceIdentity service{1001, 1001, {1001, 44}};
    struct Case {
        const char* what;
        FileFacts file;
        bool othersRead;
        bool create;
    };
    const Case cases[] = {
        {"the service's own 600 file", {0600, 1001, 1001}, false, false},
        {"root's, read by the service's group (the deploy hook's copies)", {0640, 0, 1001}, false, false},
        {"read by another group", {0640, 0, 50}, true, false},
        {"read by everyone", {0604, 1001, 1001}, true, false},
        {"the service's own 700 folder", {040700, 1001, 1001}, false, true},
        {"root's 755 folder", {040755, 0, 0}, true, false},
        {"a folder its group may write", {040770, 0, 1001}, false, true},
        {"a folder a supplementary group may write", {040730, 0, 44}, false, true},
        {"a folder others may write but not search", {040772, 0, 0}, true, false},
        {"owned by the service without write, though others may", {040507, 1001, 0}, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(othersMayRead(c.file, service), c.othersRead);
        EXPECT_EQ(mayCreateIn(c.file, service), c.create);
    }
    EXPECT_TRUE(mayCreateIn({040700, 5, 5}, ServiceIdentity{0, 0, {}})); // root
}

TEST(FileWarnings, NamedForSecretsTheConfigurationAndTheDatabase) {
    TempFolder folder;
    const auto write = [&](const std::string& name, const std::string& text, mode_t mode) {
        const std::string path = folder.file(name);
        std::ofstream(path) << text;
        ::chmod(path.c_str(), mode);
        return path;
    };
    const ServiceIdentity service{::geteuid() == 0 ? 4242u : ::geteuid(), 4242, {}};
    const std::string key = write("admin-key", "0123456789abcdef0123456789abcdef\n", 0644);
    const std::string config = write("service.conf",
                                     Base + "admin_api_key_file = " + key +
                                         "\ndiscord_client_id = 123\n"
                                         "discord_client_secret = inline\n",
                                     0644);
    ServiceConfig parsedConfig = parsed(Base + "admin_api_key_file = " + key +
                                        "\ndiscord_client_id = 123\ndiscord_client_secret = inline\n");
    parsedConfig.database = folder.file("links.sqlite3");
    const std::vector<std::string> warnings = fileWarnings(config, parsedConfig, service);
    const auto warned = [&](const std::string& path, const std::string& text) {
        for (const std::string& w : warnings)
            if (w.rfind(path + ": ", 0) == 0 && w.find(text) != std::string::npos)
                return true;
        return false;
    };
    EXPECT_TRUE(warned(key, "a secret is readable by others (mode 0644)"));
    EXPECT_TRUE(warned(config, "the configuration holds a secret"));

    // Fixed: the key the owner's alone, the secret out of the configuration, the folder the service's.
    ::chmod(key.c_str(), 0600);
    ServiceConfig fixed = parsed(Base + "admin_api_key_file = " + key + "\n");
    fixed.database = folder.file("links.sqlite3");
    const ServiceIdentity owner{::geteuid(), ::getegid(), {}};
    EXPECT_EQ(fileWarnings(config, fixed, owner), std::vector<std::string>{});

    // A database in a folder the service's user may not write, and a file of another owner.
    if (::geteuid() == 0) {
        const std::string database = write("root-owned.sqlite3", "", 0600);
        ::chmod(folder.path.c_str(), 0755);
        fixed.database = database;
        const std::vector<std::string> other = fileWarnings(config, fixed, service);
        ASSERT_EQ(other.size(), 2u);
        EXPECT_NE(other[0].find("cannot write in the database's folder"), std::string::npos);
        EXPECT_NE(other[1].find(database + ": the service's user (uid 4242) cannot write it"),
                  std::string::npos);
    }
    fixed.database = "postgresql:///orvane?host=/nowhere";
    EXPECT_TRUE(fileWarnings(config, fixed, service).empty());
}

} // namespace
