// Login CSRF: an attacker starts a link in their own launcher and gets a victim to open the authorisation
// page. Whatever the victim proves must not change hands without the victim's press on the confirmation
// page; a launcher linking from its own network, taking nobody's account, links at once as before.
#include "contract/network.h"
#include "support/service_fixture.h"

namespace {

using Hijack = ServiceFixture;

const std::string VictimHome = "203.0.113.9";     // the victim's launcher and browser
const std::string SameNetwork = "203.0.113.77";   // an attacker behind the victim's router
const std::string OtherNetwork = "198.51.100.20"; // an attacker anywhere else
const std::string AttackerSteam = "76561198000000100";
const std::string VictimSteam = "76561198000000200";
const std::string FreshSteam = "76561198000000300";
const std::string VictimDiscord = "200000000000000001";
const std::string FreshDiscord = "300000000000000001";

struct Parties {
    std::string victim;   // the victim's session, Steam and Discord linked
    std::string attacker; // the attacker's session, signed in with the attacker's own Steam
};

TEST_F(Hijack, NothingChangesHandsWithoutTheVictimsPress) {
    struct Case {
        const char* name;
        std::string provider;
        std::string provenAccount; // what the victim's browser proves at the provider
        std::string attackerAddress;
        bool linkedAtOnce;
    };
    const Case cases[] = {
        {"Steam, the victim's own (held by a live session), same network", "steam", VictimSteam, SameNetwork,
         false},
        {"Steam, the victim's own, other network", "steam", VictimSteam, OtherNetwork, false},
        {"Steam, a fresh account, other network", "steam", FreshSteam, OtherNetwork, false},
        {"Steam, a fresh account, same network: a launcher's ordinary link", "steam", FreshSteam, SameNetwork,
         true},
        {"Discord, in the victim's pair, same network", "discord", VictimDiscord, SameNetwork, false},
        {"Discord, in the victim's pair, other network", "discord", VictimDiscord, OtherNetwork, false},
        {"Discord, a fresh account, other network", "discord", FreshDiscord, OtherNetwork, false},
        {"Discord, a fresh account, same network: a launcher's ordinary link", "discord", FreshDiscord,
         SameNetwork, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        startFresh();
        Parties p{newSession(VictimHome), newSession(c.attackerAddress)};
        ASSERT_EQ(linkSteam(p.victim, VictimSteam, "Victima").status, 200);
        ASSERT_EQ(linkDiscord(p.victim, VictimDiscord, "victima").status, 200);
        // To link a Discord account the attacker must be signed in with a Steam account of their own.
        if (c.provider == "discord") {
            script.nextSteam = providerAccount(AttackerSteam, "Atacante");
            ASSERT_EQ(callback("steam", "state=" + startLink(p.attacker, "steam", c.attackerAddress),
                               c.attackerAddress)
                          .status,
                      200);
        }

        // The attacker starts the link and the victim's browser comes back with the victim's account.
        const std::string state = startLink(p.attacker, c.provider, c.attackerAddress);
        (c.provider == "steam" ? script.nextSteam : script.nextDiscord) =
            providerAccount(c.provenAccount, "x");
        const Response page =
            callback(c.provider, (c.provider == "discord" ? "code=c&state=" : "state=") + state, VictimHome);
        EXPECT_EQ(page.status, 200) << page.body;
        const std::string token = confirmationToken(page);
        EXPECT_EQ(token.empty(), c.linkedAtOnce) << page.body;

        const auto attacker = status(p.attacker);
        const auto victim = status(p.victim);
        const std::string attackerHolds = attacker[c.provider].is_null() ? "" : attacker[c.provider]["id"];
        EXPECT_EQ(attackerHolds == c.provenAccount, c.linkedAtOnce) << attacker.dump();
        EXPECT_EQ(victim["steam"]["id"], VictimSteam);
        EXPECT_EQ(victim["discord"]["id"], VictimDiscord);
        EXPECT_EQ(victim["ready"], true);
        if (c.linkedAtOnce)
            continue;
        EXPECT_NE(page.body.find("Confirma la vinculación"), std::string::npos);
        EXPECT_EQ(page.body.find("Pedido desde otra red") != std::string::npos,
                  c.attackerAddress == OtherNetwork);
        // Ten minutes after the launcher asked, the held account is let go unlinked.
        nowMs += 600'000;
        EXPECT_EQ(confirm(token, "confirm", VictimHome).status, 400);
        EXPECT_EQ(status(p.victim)["discord"]["id"], VictimDiscord);
        EXPECT_TRUE(status(p.attacker)[c.provider].is_null());
    }
}

TEST_F(Hijack, TheConfirmationIsOnePressForItsOwnLinkOnly) {
    // Two launchers each waiting on a confirmation (each asked from another network than its browser's).
    const std::string first = newSession(OtherNetwork);
    const std::string second = newSession(OtherNetwork);
    script.nextSteam = providerAccount(VictimSteam, "Victima");
    const std::string firstToken =
        confirmationToken(callback("steam", "state=" + startLink(first, "steam", OtherNetwork), VictimHome));
    script.nextSteam = providerAccount(FreshSteam, "Otra");
    const std::string secondToken =
        confirmationToken(callback("steam", "state=" + startLink(second, "steam", OtherNetwork), VictimHome));
    ASSERT_EQ(firstToken.size(), 43u);
    ASSERT_EQ(secondToken.size(), 43u);

    struct Step {
        const char* name;
        std::string token, action;
        int status;
        const char* firstHolds; // Steam of the first session afterwards, "" for none
        const char* secondHolds;
    };
    const Step steps[] = {
        {"a token nobody was given", std::string(43, 'Q'), "confirm", 400, "", ""},
        {"no action", firstToken, "", 400, "", ""},
        {"the second's token confirms the second's link only", secondToken, "confirm", 200, "",
         "76561198000000300"},
        {"replayed", secondToken, "confirm", 400, "", "76561198000000300"},
        {"cancelled", firstToken, "cancel", 200, "", "76561198000000300"},
        {"confirming after cancelling", firstToken, "confirm", 400, "", "76561198000000300"},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        EXPECT_EQ(confirm(s.token, s.action, OtherNetwork).status, s.status);
        const auto holds = [&](const std::string& token) {
            const auto steam = status(token)["steam"];
            return steam.is_null() ? std::string() : steam["id"].get<std::string>();
        };
        EXPECT_EQ(holds(first), s.firstHolds);
        EXPECT_EQ(holds(second), s.secondHolds);
    }
}

TEST_F(Hijack, AConfirmedLinkIsTheSameAsOneMadeAtOnce) {
    const std::string token = newSession(OtherNetwork);
    script.nextSteam = providerAccount(VictimSteam, "Victima");
    const Response page = callback("steam", "state=" + startLink(token, "steam", OtherNetwork), VictimHome);
    const std::string policy = headerOf(page, "Content-Security-Policy");
    EXPECT_NE(policy.find("form-action 'self'"), std::string::npos) << policy;
    EXPECT_EQ(policy.find("script-src"), std::string::npos);
    EXPECT_EQ(page.body.find("<script"), std::string::npos);
    EXPECT_NE(page.body.find("action=\"" + BasePath + "/callback/confirm\""), std::string::npos);
    EXPECT_NE(page.body.find("«Victima»"), std::string::npos);
    EXPECT_NE(page.body.find("hace menos de un minuto"), std::string::npos);
    EXPECT_EQ(page.reason, "confirm_other_network");

    const Response linked = confirm(confirmationToken(page), "confirm", VictimHome);
    EXPECT_EQ(linked.status, 200);
    EXPECT_NE(linked.body.find("Cuenta de Steam vinculada"), std::string::npos);
    EXPECT_EQ(status(token)["steam"]["id"], VictimSteam);
}

TEST_F(Hijack, DiscordCodesAreRedeemedWithTheVerifierOfTheirOwnState) {
    const std::string token = newSession();
    ASSERT_EQ(linkSteam(token, VictimSteam).status, 200);
    const std::string one = startLink(token, "discord");
    const std::string two = startLink(token, "discord");
    ASSERT_EQ(script.verifierOfState.count(one), 1u);
    const std::string verifierOne = script.verifierOfState[one];
    EXPECT_EQ(verifierOne.size(), 43u);
    EXPECT_NE(verifierOne, script.verifierOfState[two]);
    script.nextDiscord = providerAccount(VictimDiscord, "victima");
    EXPECT_EQ(callback("discord", "code=c&state=" + one).status, 200);
    EXPECT_EQ(script.lastVerifier, verifierOne);
}

// A household or one provider's customer: what the launcher and the browser beside it share.
TEST(ClientNetwork, IsTheAddressesSlash24OrSlash64) {
    const std::pair<const char*, const char*> cases[] = {
        {"203.0.113.9", "203.0.113.0/24"},
        {"203.0.113.250", "203.0.113.0/24"},
        {"2001:db8:1:2:aaaa:bbbb:cccc:dddd", "2001:db8:1:2::/64"},
        {"2001:db8:1:2::1", "2001:db8:1:2::/64"},
        {"::1", "::/64"},
        {"-", ""},
        {"203.0.113", ""},
        {"", ""},
    };
    for (const auto& [address, network] : cases)
        EXPECT_EQ(networkOf(address), network) << address;
    EXPECT_NE(networkOf("2001:db8:1:2::1"), networkOf("2001:db8:1:3::1"));
}

} // namespace
