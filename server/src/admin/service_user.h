#pragma once
// The admin's commands act as the service itself. Started as root, they become the service's user once the
// configuration and its secret files are read, so whatever they make (a backup, a restored database,
// SQLite's -wal and -shm files) is the service's, and PostgreSQL's peer authentication sees the service's
// role. Where no such user exists (a development machine), the process stays as it is.
#include <string>

// true when the process is now the service's user or had nothing to change; false with the reason when
// root could not become it (the command must not go on as root then).
bool becomeServiceUser(std::string& error);
