#pragma once
// --check-config's warnings about files: a secret others may read, a database the service's user cannot
// write. They are warnings, not problems: the service still runs, but an admin should fix them.
#include "config/service_config.h"

#include <sys/types.h>

#include <string>
#include <vector>

// The system user the packaged service runs as (adduser --system --group orvane-link).
inline const std::string ServiceUserName = "orvane-link";

// Who the service runs as: its user, groups included.
struct ServiceIdentity {
    uid_t uid = 0;
    gid_t gid = 0;
    std::vector<gid_t> groups; // supplementary
};

// The orvane-link user when the system has one, else this process's own user.
ServiceIdentity serviceIdentity();

// What stat tells of a file or folder.
struct FileFacts {
    mode_t mode = 0;
    uid_t owner = 0;
    gid_t group = 0;
};

// Readable by someone other than its owner and the service's own group.
bool othersMayRead(const FileFacts& file, const ServiceIdentity& service);
// The service's user may create files in the folder (write and search permission, as the kernel decides
// for its owner, group and others; root may always).
bool mayCreateIn(const FileFacts& folder, const ServiceIdentity& service);
bool mayWrite(const FileFacts& file, const ServiceIdentity& service);

// One line per warning, naming the file and what to do.
std::vector<std::string> fileWarnings(const std::string& configPath, const ServiceConfig& config,
                                      const ServiceIdentity& service);
