#include "admin/service_user.h"
#include "config/file_warnings.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

bool becomeServiceUser(std::string& error) {
    if (::geteuid() != 0)
        return true;
    const passwd* user = ::getpwnam(ServiceUserName.c_str());
    if (!user)
        return true;
    const uid_t uid = user->pw_uid;
    const gid_t gid = user->pw_gid;
    const std::string home = user->pw_dir ? user->pw_dir : "/";
    // Groups first: once the user id changes, the process may no longer change them.
    if (::initgroups(ServiceUserName.c_str(), gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
        error = "cannot become the user " + ServiceUserName + ": " + std::strerror(errno);
        return false;
    }
    if (::setuid(0) == 0) {
        error = "could become root again after becoming " + ServiceUserName;
        return false;
    }
    // libpq looks for ~/.pgpass in the home of the user it runs as.
    ::setenv("HOME", home.c_str(), 1);
    return true;
}
