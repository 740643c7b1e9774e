-- Only players who linked their accounts in the OrvaneGaming launcher may play on this server: the
-- allow-list comes from the community's link service (gameserver/README.md).
local VERSION = include("orvane_allowlist/version.lua")
local Sync = include("orvane_allowlist/sync.lua")
local sync = Sync.new({
    Feed = include("orvane_allowlist/feed.lua"),
    Policy = include("orvane_allowlist/policy.lua"),
    Retry = include("orvane_allowlist/retry.lua"),
    Settings = include("orvane_allowlist/settings.lua"),
})

CreateConVar("orvane_url", "", FCVAR_NONE,
    "The link service's address, e.g. https://link.orvanegaming.com/orvane-launcher/v1/9e3f51d0")
-- Protected: its value never leaves the server.
CreateConVar("orvane_key", "", bit.bor(FCVAR_PROTECTED, FCVAR_DONTRECORD),
    "This game server's key, from gameserver-keys add")
CreateConVar("orvane_policy", "last_known", FCVAR_NONE,
    "While the service does not answer: last_known (admit from the last list) or refuse")
CreateConVar("orvane_refresh", "5", FCVAR_NONE,
    "Seconds between two looks at the service's changes (2 or more)")

hook.Add("CheckPassword", "OrvaneAllowlist", sync.checkPassword)
hook.Add("PlayerInitialSpawn", "OrvaneAllowlist", sync.playerSpawned)

-- For other addons and for admins (lua_run PrintTable(OrvaneAllowlist.status())).
OrvaneAllowlist = { version = VERSION, status = sync.status }

ServerLog("[orvane_allowlist] version " .. VERSION .. "\n")
sync.start()
