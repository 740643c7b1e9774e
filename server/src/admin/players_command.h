#pragma once
// The admin's command line over the service's database: `players list`, `players show STEAMID64`,
// `players unlink STEAMID64`.
#include "storage/link_store.h"

#include <ostream>
#include <string>
#include <vector>

// arguments start after "players". Answers the process's exit code: 0 done, 1 not found or failed,
// 2 not a players command.
int runPlayersCommand(LinkStore& store, const std::vector<std::string>& arguments, std::ostream& out,
                      std::ostream& err);
