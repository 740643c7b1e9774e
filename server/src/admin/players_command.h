#pragma once
// The admin's command line over the player records: `players list`, `players show STEAMID64`,
// `players unlink STEAMID64`, `players ban STEAMID64 --reason TEXT`, `players unban STEAMID64`.
#include "storage/link_store.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// arguments start after "players"; now is the Unix time a ban or unlink is recorded at. Answers the
// process's exit code: 0 done, 1 not found or failed, 2 not a players command.
int runPlayersCommand(LinkStore& store, const std::vector<std::string>& arguments, std::int64_t now,
                      std::ostream& out, std::ostream& err);
