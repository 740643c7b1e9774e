#pragma once
// The admin's command line over the keys game servers read the player records with:
// `gameserver-keys add NAME`, `gameserver-keys list`, `gameserver-keys revoke NAME`.
#include "storage/link_store.h"

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

// arguments start after "gameserver-keys"; now is the Unix time a new key is recorded at. A new key is
// printed on out once and never again: the database keeps only its SHA-256. Answers the process's exit
// code: 0 done, 1 refused or failed, 2 not a gameserver-keys command.
int runGameServerKeysCommand(LinkStore& store, const std::vector<std::string>& arguments, std::int64_t now,
                             std::ostream& out, std::ostream& err);
