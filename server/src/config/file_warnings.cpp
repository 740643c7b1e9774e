#include "config/file_warnings.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

namespace {

bool inGroup(gid_t group, const ServiceIdentity& service) {
    return group == service.gid ||
           std::find(service.groups.begin(), service.groups.end(), group) != service.groups.end();
}

// The permission bits that apply to the service's user: the owner's, else the group's, else others'.
mode_t bitsFor(const FileFacts& file, const ServiceIdentity& service) {
    if (file.owner == service.uid)
        return (file.mode >> 6) & 7;
    if (inGroup(file.group, service))
        return (file.mode >> 3) & 7;
    return file.mode & 7;
}

bool statOf(const std::string& path, FileFacts& facts) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return false;
    facts = {st.st_mode, st.st_uid, st.st_gid};
    return true;
}

std::string octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

} // namespace

ServiceIdentity serviceIdentity() {
    ServiceIdentity identity;
    if (const passwd* user = ::getpwnam(ServiceUserName.c_str())) {
        identity.uid = user->pw_uid;
        identity.gid = user->pw_gid;
        int count = 64;
        std::vector<gid_t> groups(static_cast<std::size_t>(count));
        if (::getgrouplist(ServiceUserName.c_str(), user->pw_gid, groups.data(), &count) >= 0)
            identity.groups.assign(groups.begin(), groups.begin() + count);
        return identity;
    }
    identity.uid = ::geteuid();
    identity.gid = ::getegid();
    const int count = ::getgroups(0, nullptr);
    identity.groups.resize(static_cast<std::size_t>(std::max(count, 0)));
    if (count > 0 && ::getgroups(count, identity.groups.data()) != count)
        identity.groups.clear();
    return identity;
}

bool othersMayRead(const FileFacts& file, const ServiceIdentity& service) {
    return (file.mode & S_IROTH) || ((file.mode & S_IRGRP) && file.group != service.gid);
}

bool mayCreateIn(const FileFacts& folder, const ServiceIdentity& service) {
    return service.uid == 0 || (bitsFor(folder, service) & 3) == 3;
}

bool mayWrite(const FileFacts& file, const ServiceIdentity& service) {
    return service.uid == 0 || (bitsFor(file, service) & 2) != 0;
}

std::vector<std::string> fileWarnings(const std::string& configPath, const ServiceConfig& config,
                                      const ServiceIdentity& service) {
    std::vector<std::string> warnings;
    FileFacts facts;
    const auto exposed = [&](const std::string& path, const std::string& what) {
        if (statOf(path, facts) && othersMayRead(facts, service))
            warnings.push_back(path + ": " + what + " is readable by others (mode " + octal(facts.mode) +
                               "): chmod go-r, or chmod 640 with the group " + ServiceUserName);
    };
    for (const std::string& path : config.secretFiles)
        exposed(path, "a secret");
    if (config.secretInConfigFile)
        exposed(configPath, "the configuration holds a secret and");
    if (config.database.empty() || config.database.starts_with("postgresql://") ||
        config.database.starts_with("postgres://"))
        return warnings;
    const std::filesystem::path database = std::filesystem::absolute(config.database);
    const std::string folder = database.parent_path().string();
    if (!statOf(folder, facts))
        warnings.push_back(folder + ": the database's folder does not exist");
    else if (!mayCreateIn(facts, service))
        warnings.push_back(folder + ": the service's user (uid " + std::to_string(service.uid) +
                           ") cannot write in the database's folder: SQLite makes its -wal and -shm files "
                           "there");
    for (const std::string suffix : {"", "-wal", "-shm"})
        if (statOf(database.string() + suffix, facts) && !mayWrite(facts, service))
            warnings.push_back(database.string() + suffix + ": the service's user (uid " +
                               std::to_string(service.uid) + ") cannot write it (owner uid " +
                               std::to_string(facts.owner) + ")");
    return warnings;
}
