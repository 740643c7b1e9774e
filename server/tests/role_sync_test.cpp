// The role-sync runner over a store that keeps role tasks in memory, with Discord's answers scripted.
#include "contract/role_sync.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Role tasks as the store promises them: due ones oldest first, each leased once handed out, and a
// retry counting the attempt and clearing the lease. Nothing else of the store is used.
class RoleTaskStore : public LinkStore {
  public:
    struct Task {
        RoleTask task;
        std::int64_t dueAt = 0;
        std::int64_t leasedUntil = 0;
    };
    std::map<std::int64_t, Task> tasks;
    std::vector<std::int64_t> leases; // the leaseUntil of each take
    std::vector<int> limits;          // the limit of each take

    void queue(const std::string& discordId, bool add, std::int64_t dueAt) {
        std::int64_t id = static_cast<std::int64_t>(tasks.size()) + 1;
        tasks[id] = {{id, discordId, add, 0}, dueAt, 0};
    }

    StoreResult takeRoleTasks(std::int64_t now, std::int64_t leaseUntil, int limit,
                              std::vector<RoleTask>& taken) override {
        leases.push_back(leaseUntil);
        limits.push_back(limit);
        taken.clear();
        for (auto& [id, entry] : tasks) {
            if (static_cast<int>(taken.size()) == limit)
                break;
            if (entry.dueAt <= now && entry.leasedUntil <= now) {
                entry.leasedUntil = leaseUntil;
                taken.push_back(entry.task);
            }
        }
        return StoreResult::Ok;
    }
    StoreResult finishRoleTask(std::int64_t id) override {
        return tasks.erase(id) == 1 ? StoreResult::Ok : StoreResult::NotFound;
    }
    StoreResult retryRoleTask(std::int64_t id, std::int64_t dueAt) override {
        auto found = tasks.find(id);
        if (found == tasks.end())
            return StoreResult::NotFound;
        found->second.task.attempts += 1;
        found->second.dueAt = dueAt;
        found->second.leasedUntil = 0;
        return StoreResult::Ok;
    }

    // The rest of the store is not the runner's business.
    bool remember(const std::string&, std::int64_t) override { return false; }
    StoreResult createSession(const std::string&, std::int64_t, std::int64_t) override { return no(); }
    StoreResult findSession(const std::string&, std::int64_t, SessionView&) override { return no(); }
    StoreResult renewSession(std::int64_t, std::int64_t) override { return no(); }
    StoreResult revokeSession(std::int64_t) override { return no(); }
    StoreResult createState(const std::string&, const StateRecord&) override { return no(); }
    StoreResult consumeState(const std::string&, Provider, std::int64_t, StateRecord&) override {
        return no();
    }
    StoreResult wouldMove(std::int64_t, Provider, const std::string&, std::int64_t, bool&) override {
        return no();
    }
    StoreResult link(std::int64_t, Provider, const LinkedAccount&, std::int64_t,
                     const std::string&) override {
        return no();
    }
    StoreResult createConfirmation(const std::string&, const PendingLink&) override { return no(); }
    StoreResult consumeConfirmation(const std::string&, std::int64_t, PendingLink&) override { return no(); }
    StoreResult findPlayer(const std::string&, PlayerRecord&) override { return no(); }
    StoreResult listPlayers(std::vector<PlayerRecord>&) override { return no(); }
    StoreResult unlinkPlayer(const std::string&, std::int64_t) override { return no(); }
    StoreResult banPlayer(const std::string&, const std::string&, std::int64_t) override { return no(); }
    StoreResult unbanPlayer(const std::string&, std::int64_t) override { return no(); }
    StoreResult changesSince(std::int64_t, int, std::vector<PlayerChange>&) override { return no(); }
    StoreResult addGameServerKey(const GameServerKey&) override { return no(); }
    StoreResult revokeGameServerKey(const std::string&) override { return no(); }
    StoreResult listGameServerKeys(std::vector<GameServerKey>&) override { return no(); }
    void queueRoleChanges(bool) override {}
    StoreResult removeExpired(std::int64_t) override { return no(); }
    StoreResult count(std::int64_t, StoreCounts&) override { return no(); }

  private:
    static StoreResult no() {
        ADD_FAILURE() << "the runner reached beyond the role tasks";
        return StoreResult::Failed;
    }
};

// Discord as a script: each member's answer, and every call made.
struct ScriptedDiscord {
    struct Answer {
        RoleCallOutcome outcome = RoleCallOutcome::Done;
        int retryAfter = 0;
    };
    std::map<std::string, Answer> answers; // by member; Done when absent
    std::vector<std::string> calls;        // "+id" for a role given, "-id" for one taken
    std::vector<std::string> targets;      // guild/role/token each call was given

    ProviderCalls providerCalls() {
        ProviderCalls calls;
        calls.setDiscordRole = [this](const DiscordRoleTarget& target, const std::string& userId, bool add,
                                      int& retryAfter) {
            this->calls.push_back((add ? "+" : "-") + userId);
            targets.push_back(target.guildId + "/" + target.roleId + "/" + target.botToken);
            Answer answer = answers.count(userId) ? answers[userId] : Answer{};
            retryAfter = answer.retryAfter;
            return answer.outcome;
        };
        return calls;
    }
};

const DiscordRoleTarget kTarget{"bot-token", "613425648685547541", "613425648685547542"};
constexpr std::int64_t kNow = 1'800'000'000;

TEST(RoleSync, TheDelayDoublesFromFiveSecondsToAnHourAndHonoursDiscordsWait) {
    struct Case {
        std::int64_t attempts;
        int retryAfter;
        std::int64_t delay;
    };
    const Case cases[] = {
        {0, 0, 5},     {1, 0, 10},    {2, 0, 20},       {9, 0, 2560},    {10, 0, 3600},
        {11, 0, 3600}, {63, 0, 3600}, {1000, 0, 3600},  {-1, 0, 5},      {0, 30, 30},
        {3, 30, 40},   {5, 30, 160},  {20, 3600, 3600}, {0, 3600, 3600},
    };
    for (const Case& c : cases)
        EXPECT_EQ(roleRetryDelay(c.attempts, c.retryAfter), c.delay)
            << c.attempts << " attempts, Discord asking " << c.retryAfter << " s";
}

TEST(RoleSync, DoneAndRefusedTasksAreFinishedAndOnlyDoneOnesCounted) {
    RoleTaskStore store;
    store.queue("80351110224678912", true, kNow - 10);
    store.queue("80351110224678913", false, kNow);
    store.queue("80351110224678914", true, kNow - 5);
    store.queue("80351110224678915", true, kNow + 1); // not due yet
    ScriptedDiscord discord;
    discord.answers["80351110224678913"] = {RoleCallOutcome::GiveUp, 0};

    EXPECT_EQ(runRoleTasks(store, discord.providerCalls(), kTarget, kNow), 2);
    EXPECT_EQ(discord.calls,
              (std::vector<std::string>{"+80351110224678912", "-80351110224678913", "+80351110224678914"}));
    for (const std::string& target : discord.targets)
        EXPECT_EQ(target, "613425648685547541/613425648685547542/bot-token");
    ASSERT_EQ(store.tasks.size(), 1u);
    EXPECT_EQ(store.tasks.begin()->second.task.discordId, "80351110224678915");
    EXPECT_EQ(store.leases, (std::vector<std::int64_t>{kNow + kRoleTaskLeaseSeconds}));
    EXPECT_EQ(store.limits, (std::vector<int>{kRoleTaskBatch}));
}

TEST(RoleSync, ABatchTakesAtMostTwentyAndTheRestWaitForTheNextRun) {
    RoleTaskStore store;
    for (int i = 0; i < 25; ++i)
        store.queue("8035111022467891" + std::to_string(i), true, kNow);
    ScriptedDiscord discord;
    EXPECT_EQ(runRoleTasks(store, discord.providerCalls(), kTarget, kNow), 20);
    EXPECT_EQ(store.tasks.size(), 5u);
    EXPECT_EQ(runRoleTasks(store, discord.providerCalls(), kTarget, kNow + 1), 5);
    EXPECT_TRUE(store.tasks.empty());
}

// A task Discord could not take is asked again only after its back-off, longer at each failure; the
// tasks after it in the batch wait for their lease to end instead of meeting the same refusal.
TEST(RoleSync, ARetryBacksOffAndLeavesTheRestOfTheBatchForLater) {
    RoleTaskStore store;
    store.queue("80351110224678912", true, kNow);
    store.queue("80351110224678913", true, kNow);
    ScriptedDiscord discord;
    discord.answers["80351110224678912"] = {RoleCallOutcome::Retry, 0};

    EXPECT_EQ(runRoleTasks(store, discord.providerCalls(), kTarget, kNow), 0);
    EXPECT_EQ(discord.calls, std::vector<std::string>{"+80351110224678912"});
    EXPECT_EQ(store.tasks.at(1).dueAt, kNow + 5);
    EXPECT_EQ(store.tasks.at(1).task.attempts, 1);

    // Nothing is asked before the back-off ends; each failure doubles it, and Discord's longer wait wins.
    EXPECT_EQ(runRoleTasks(store, discord.providerCalls(), kTarget, kNow + 4), 0);
    EXPECT_EQ(discord.calls.size(), 1u);
    EXPECT_EQ(runRoleTasks(store, discord.providerCalls(), kTarget, kNow + 5), 0);
    EXPECT_EQ(store.tasks.at(1).dueAt, kNow + 5 + 10);
    discord.answers["80351110224678912"] = {RoleCallOutcome::Retry, 600};
    EXPECT_EQ(runRoleTasks(store, discord.providerCalls(), kTarget, kNow + 15), 0);
    EXPECT_EQ(store.tasks.at(1).dueAt, kNow + 15 + 600);
    EXPECT_EQ(discord.calls, (std::vector<std::string>(3, "+80351110224678912")));

    // The untried task comes back when its lease ends, the retried one when it is due.
    EXPECT_EQ(runRoleTasks(store, discord.providerCalls(), kTarget, kNow + kRoleTaskLeaseSeconds), 1);
    EXPECT_EQ(discord.calls.back(), "+80351110224678913");
    discord.answers.clear();
    EXPECT_EQ(runRoleTasks(store, discord.providerCalls(), kTarget, kNow + 615), 1);
    EXPECT_EQ(discord.calls.back(), "+80351110224678912");
    EXPECT_TRUE(store.tasks.empty());
}

TEST(RoleSync, WithoutARoleCallNothingIsTaken) {
    RoleTaskStore store;
    store.queue("80351110224678912", true, kNow);
    EXPECT_EQ(runRoleTasks(store, ProviderCalls{}, kTarget, kNow), 0);
    EXPECT_TRUE(store.leases.empty());
    EXPECT_EQ(store.tasks.size(), 1u);
}

} // namespace
