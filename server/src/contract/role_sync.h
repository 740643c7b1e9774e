#pragma once
// The linked members' Discord role, kept in step with the pairs: the store queues a task with each change
// that calls for one (LinkStore::queueRoleChanges), and this makes the due ones. Each call waits on
// Discord, so the program runs it on a thread of its own, never on a player's request.
#include "contract/provider_calls.h"
#include "storage/link_store.h"

#include <cstdint>

inline constexpr int kRoleTaskBatch = 20;
// Long enough for a batch that Discord answers; a task of a batch cut short is handed out again after it.
inline constexpr std::int64_t kRoleTaskLeaseSeconds = 60;
inline constexpr std::int64_t kRoleRetryMaxSeconds = 3600;

// The wait before the next try of a task that has been tried `attempts` times: doubling from 5 s up to
// an hour, and never sooner than Discord asked.
std::int64_t roleRetryDelay(std::int64_t attempts, int retryAfterSeconds);

// Takes the tasks due by now, makes each change, and finishes or reschedules it. Once Discord asks to
// wait or cannot be reached, the rest of the batch is left for later. Answers how many changes were made.
int runRoleTasks(LinkStore& store, const ProviderCalls& calls, const DiscordRoleTarget& target,
                 std::int64_t now);
