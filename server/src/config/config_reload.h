#pragma once
// What a reload (SIGHUP) takes from the configuration read again: the launchers' document (news, server
// address, community page, require_linking) and the Discord application, Discord on or off. The rest (the
// addresses it listens on, the database, certificates' paths, limits, keys, the Discord role) is what the
// process was started with; a change there waits for a restart.
#include "config/service_config.h"

#include <string>
#include <vector>

// running with fresh's reloadable values; restartKeys gets the other keys whose values differ.
ServiceConfig reloadedConfig(const ServiceConfig& running, const ServiceConfig& fresh,
                             std::vector<std::string>& restartKeys);
