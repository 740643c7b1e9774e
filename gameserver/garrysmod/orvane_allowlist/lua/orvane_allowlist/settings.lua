-- The addon's four settings, from data/orvane_allowlist.json and the orvane_* convars. A setting the
-- file names comes from the file; the others from their convars. (A convar always has a value, its
-- default at least, so it cannot say "not set" and could not override the file only when meant to.)
local Settings = {}

Settings.FILE = "orvane_allowlist.json"
Settings.NAMES = { "url", "key", "policy", "refresh" }
Settings.DEFAULTS = { url = "", key = "", policy = "last_known", refresh = "5" }
Settings.MIN_REFRESH = 2
Settings.MAX_REFRESH = 300

local POLICIES = { last_known = true, refuse = true }

local function known(name)
    for _, candidate in ipairs(Settings.NAMES) do
        if candidate == name then
            return true
        end
    end
    return false
end

-- The service's base address without trailing slashes, or nil.
local function baseUrl(value)
    if type(value) ~= "string" then
        return nil
    end
    local url = value:match("^%s*(.-)%s*$"):gsub("/+$", "")
    if not url:find("^https?://[%w%.%-%[%]:]+") or url:find("[%s%?#]") then
        return nil
    end
    return url
end

-- A key goes into a header line: visible ASCII only.
local function validKey(value)
    return type(value) == "string" and #value > 0 and #value <= 512 and not value:find("[^%w%p]")
end

-- fileTable: the decoded file, or nil when there is none; fileProblem: why an existing file could not
-- be read (nil when it could); convars: each name's convar string. Returns the settings (url and key
-- nil when unusable) and the problems found, each a line for the log that never holds the key.
function Settings.resolve(fileTable, fileProblem, convars)
    local problems, raw, from = {}, {}, {}
    if fileProblem then
        problems[#problems + 1] = "data/" .. Settings.FILE .. ": " .. fileProblem .. "; using the convars"
    end
    if type(fileTable) == "table" then
        for name in pairs(fileTable) do
            if not known(name) then
                problems[#problems + 1] = "data/" .. Settings.FILE .. ": unknown setting " .. tostring(name)
            end
        end
    end
    for _, name in ipairs(Settings.NAMES) do
        local value = type(fileTable) == "table" and fileTable[name] or nil
        if value ~= nil then
            raw[name], from[name] = value, "data/" .. Settings.FILE
        else
            raw[name], from[name] = convars[name] or Settings.DEFAULTS[name], "orvane_" .. name
        end
    end

    local settings = { url = baseUrl(raw.url), key = nil, policy = raw.policy, from = from }
    if not settings.url then
        problems[#problems + 1] = from.url .. ": expected the service's address, https://host/path"
    end
    if validKey(raw.key) then
        settings.key = raw.key
    else
        problems[#problems + 1] = from.key .. ": expected the game-server key (gameserver-keys add)"
    end
    if not POLICIES[settings.policy] then
        problems[#problems + 1] = from.policy .. ": expected last_known or refuse; using last_known"
        settings.policy = "last_known"
    end
    local refresh = tonumber(raw.refresh)
    if not refresh then
        problems[#problems + 1] = from.refresh .. ": expected seconds; using " .. Settings.DEFAULTS.refresh
        refresh = tonumber(Settings.DEFAULTS.refresh)
    elseif refresh < Settings.MIN_REFRESH or refresh > Settings.MAX_REFRESH then
        refresh = math.min(math.max(refresh, Settings.MIN_REFRESH), Settings.MAX_REFRESH)
        problems[#problems + 1] = from.refresh .. ": kept within " .. Settings.MIN_REFRESH .. " to " ..
            Settings.MAX_REFRESH .. " seconds; using " .. refresh
    end
    settings.refresh = refresh
    return settings, problems
end

-- Whether the address names a loopback or private host, which the game's HTTP refuses unless the server
-- was started with -allowlocalhttp.
function Settings.privateHost(url)
    local rest = (url or ""):match("^https?://(.*)$")
    if not rest then
        return false
    end
    local literal = rest:match("^%[([^%]]+)%]")
    if literal then
        literal = literal:lower()
        return literal == "::1" or literal:find("^f[cd]") ~= nil or literal:find("^fe80:") ~= nil
    end
    local host = (rest:match("^([^:/]+)") or ""):lower()
    if host == "localhost" then
        return true
    end
    local a, b = host:match("^(%d+)%.(%d+)%.%d+%.%d+$")
    a, b = tonumber(a), tonumber(b)
    if not a then
        return false
    end
    return a == 127 or a == 10 or (a == 172 and b >= 16 and b <= 31) or (a == 192 and b == 168) or
        (a == 169 and b == 254)
end

return Settings
