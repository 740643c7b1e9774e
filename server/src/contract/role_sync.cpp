#include "contract/role_sync.h"

#include <algorithm>
#include <vector>

namespace {

constexpr std::int64_t kFirstRetrySeconds = 5;

} // namespace

std::int64_t roleRetryDelay(std::int64_t attempts, int retryAfterSeconds) {
    std::int64_t delay = kRoleRetryMaxSeconds;
    // Past 2^10 the doubling is over the hour anyway; stopping there keeps the shift in range.
    if (attempts < 10)
        delay = std::min(kRoleRetryMaxSeconds, kFirstRetrySeconds << std::max<std::int64_t>(attempts, 0));
    return std::max<std::int64_t>(delay, retryAfterSeconds);
}

int runRoleTasks(LinkStore& store, const ProviderCalls& calls, const DiscordRoleTarget& target,
                 std::int64_t now) {
    std::vector<RoleTask> tasks;
    if (!calls.setDiscordRole ||
        store.takeRoleTasks(now, now + kRoleTaskLeaseSeconds, kRoleTaskBatch, tasks) != StoreResult::Ok)
        return 0;
    int done = 0;
    for (const RoleTask& task : tasks) {
        int retryAfter = 0;
        RoleCallOutcome outcome = calls.setDiscordRole(target, task.discordId, task.add, retryAfter);
        if (outcome == RoleCallOutcome::Retry) {
            // A limited or unreachable Discord would only be asked in vain for the rest.
            store.retryRoleTask(task.id, now + roleRetryDelay(task.attempts, retryAfter));
            break;
        }
        // What Discord refused for good is dropped: asking again would be refused again.
        store.finishRoleTask(task.id);
        done += outcome == RoleCallOutcome::Done ? 1 : 0;
    }
    return done;
}
