-- Keeps the allow-list in step with the link service and answers the game from it. One request at a
-- time, chained through one timer: the fill asks page after page, then one page every refresh period;
-- failures wait longer each time. Every entry point (the door, the timers, the HTTP callbacks) is
-- guarded, so a fault of ours is one log line and never a Lua error in the game.
local Sync = {}

local TAG = "[orvane_allowlist] "
local POLL_TIMER = "OrvaneAllowlist.poll"
local WATCHDOG_TIMER = "OrvaneAllowlist.watchdog"
local STALE_TIMER = "OrvaneAllowlist.stale"
-- The game's HTTP gives up by itself, but a request it forgot must not stop the list for good.
Sync.REQUEST_TIMEOUT = 30
-- After load, so server.cfg has set the convars before they are read.
Sync.FIRST_POLL = 1
Sync.MAX_SETTINGS_FILE = 64 * 1024

function Sync.new(m)
    local Feed, Policy, Retry, Settings = m.Feed, m.Policy, m.Retry, m.Settings
    local state = {
        list = nil,        -- the list the door answers from
        building = nil,    -- a list being filled from cursor 0, replacing `list` once whole
        url = nil,         -- the address `list` and `building` came from
        settings = nil,
        described = nil,   -- the settings and problems as last logged
        lastAnswer = nil,  -- SysTime() of the service's last good answer
        failures = 0,      -- failed requests in a row
        fault = nil,       -- the kind of the current failure, nil while the service answers
        staleLogged = false,
        serial = 0,
        inFlight = nil,    -- serial of the request awaiting its answer
        lastError = nil,
    }

    local function log(line)
        ServerLog(TAG .. line .. "\n")
    end

    local function internalError(where, message)
        local line = "internal error in " .. where .. ": " .. tostring(message)
        if line ~= state.lastError then
            state.lastError = line
            log(line)
        end
    end

    -- fn as the game calls it; an error is logged, then recover() runs when given.
    local function guarded(where, fn, recover)
        return function(...)
            local ok, message = pcall(fn, ...)
            if not ok then
                internalError(where, message)
                if recover then
                    recover()
                end
            end
        end
    end

    local function readSettings()
        local fileTable, fileProblem
        local text = file.Read(Settings.FILE, "DATA")
        if text then
            if #text > Sync.MAX_SETTINGS_FILE then
                fileProblem = "larger than " .. Sync.MAX_SETTINGS_FILE .. " bytes"
            else
                fileTable = util.JSONToTable(text)
                if type(fileTable) ~= "table" then
                    fileTable, fileProblem = nil, "not a JSON object"
                end
            end
        end
        local convars = {}
        for _, name in ipairs(Settings.NAMES) do
            local convar = GetConVar("orvane_" .. name)
            convars[name] = convar and convar:GetString() or nil
        end
        local settings, problems = Settings.resolve(fileTable, fileProblem, convars)
        local description = string.format("service %s, key %s (%s), policy %s, refresh every %s s",
            settings.url or "not set", settings.key and "set" or "not set", settings.from.key,
            settings.policy, settings.refresh)
        for _, problem in ipairs(problems) do
            description = description .. "\n" .. problem
        end
        if description ~= state.described then
            state.described = description
            for line in description:gmatch("[^\n]+") do
                log(line)
            end
        end
        return settings
    end

    local function settingsNow()
        return state.settings or
            { policy = Settings.DEFAULTS.policy, refresh = tonumber(Settings.DEFAULTS.refresh) }
    end

    local function view()
        local settings = settingsNow()
        return { list = state.list, policy = settings.policy, refresh = settings.refresh, now = SysTime(),
            lastAnswer = state.lastAnswer, failing = state.fault ~= nil }
    end

    local poll, schedule

    -- Whatever went wrong, the next look at the service is due one period later.
    local function recover()
        state.inFlight = nil
        schedule(settingsNow().refresh)
    end

    schedule = function(delay)
        timer.Create(POLL_TIMER, delay, 1, guarded("the refresh", function()
            poll()
        end, recover))
    end

    local function succeeded()
        state.lastAnswer = SysTime()
        state.failures = 0
        state.staleLogged = false
        if state.fault then
            state.fault = nil
            log("the service answers again")
        end
    end

    local function failed(kind, line, retryAfter)
        local settings = settingsNow()
        state.failures = state.failures + 1
        if state.fault ~= kind then
            state.fault = kind
            log(line)
        end
        if settings.policy == "refuse" and state.list and not state.staleLogged then
            -- Said when the door starts refusing, which falls between two attempts.
            local grace = Policy.GRACE_PERIODS * settings.refresh
            local wait = math.max((state.lastAnswer or 0) + grace - SysTime(), 0) + 1
            timer.Create(STALE_TIMER, wait, 1, guarded("the stale list's notice", function()
                if state.fault and not state.staleLogged and Policy.stale(view()) then
                    state.staleLogged = true
                    log("no answer for over " .. grace .. " s: refusing every player until the service " ..
                        "answers (orvane_policy refuse)")
                end
            end))
        end
        schedule(Retry.delay(state.failures, settings.refresh, retryAfter))
    end

    -- Kicks the connected players the list now refuses: those in `steamIds`, or everyone when nil.
    local function kickRefused(steamIds)
        local wanted
        if steamIds then
            if #steamIds == 0 then
                return
            end
            wanted = {}
            for _, steam in ipairs(steamIds) do
                wanted[steam] = true
            end
        end
        for _, ply in ipairs(player.GetAll()) do
            local steam = ply:SteamID64()
            if not ply:IsBot() and (not wanted or wanted[steam]) then
                local text, cause = Policy.listAnswer(state.list, Feed.lookup(state.list, steam))
                if text then
                    log("kicked " .. steam .. ": " .. cause)
                    ply:Kick(text)
                end
            end
        end
    end

    local function answered(target, since, body, headers, code)
        if target ~= (state.building or state.list) then
            return schedule(0) -- the lists changed under the request; ask again for the right one
        end
        if code == 401 then
            return failed("key", "the service refused the key (401): make one with gameserver-keys add " ..
                "and set orvane_key")
        elseif code == 429 then
            return failed("rate", "the service asks to slow down (429)", Retry.retryAfter(headers))
        elseif code ~= 200 then
            return failed("status " .. tostring(code), "the service answered " .. tostring(code),
                Retry.retryAfter(headers))
        end
        if type(body) ~= "string" or #body > Feed.MAX_PAGE_BYTES then
            return failed("too large", "the service's answer is over " .. Feed.MAX_PAGE_BYTES .. " bytes")
        end
        local page = util.JSONToTable(body)
        local problem = Feed.checkPage(page, since)
        if problem then
            return failed("unreadable", "unreadable answer from the service: " .. problem)
        end
        if target.rule and page.rule ~= target.rule then
            log("the service's rule is now " .. page.rule .. " (was " .. target.rule ..
                "): filling the list again")
            state.building = Feed.newList()
            succeeded()
            return schedule(0)
        end
        local changed, tooMany = Feed.apply(target, page)
        if not changed then
            return failed("too many", tooMany)
        end
        succeeded()
        if target == state.building then
            if page.more then
                return schedule(0)
            end
            state.list, state.building = target, nil
            log(string.format("list filled: %d accounts that may play or are banned, rule %s", target.count,
                target.rule))
            kickRefused(nil)
        else
            kickRefused(changed)
        end
        schedule(page.more and 0 or settingsNow().refresh)
    end

    poll = function()
        local settings = readSettings()
        state.settings = settings
        if not settings.url or not settings.key then
            -- Nothing was asked, so nothing to back off from: the settings are read again next period.
            if state.fault ~= "settings" then
                state.fault = "settings"
                log("not asking the service until orvane_url and orvane_key are set")
            end
            return schedule(settings.refresh)
        end
        if settings.url ~= state.url then
            if state.url then
                log("orvane_url changed: filling the list again")
            end
            state.url, state.building = settings.url, Feed.newList()
        elseif not state.list and not state.building then
            state.building = Feed.newList()
        end
        local target = state.building or state.list
        local since = target.cursor
        state.serial = state.serial + 1
        local serial = state.serial
        state.inFlight = serial
        -- Only the answer to the request in flight counts; a late one after the watchdog is dropped.
        local function current()
            if state.inFlight ~= serial then
                return false
            end
            state.inFlight = nil
            return true
        end
        timer.Create(WATCHDOG_TIMER, Sync.REQUEST_TIMEOUT, 1, guarded("the request's watchdog", function()
            if current() then
                failed("timeout", "no answer from the service in " .. Sync.REQUEST_TIMEOUT .. " s")
            end
        end, recover))
        http.Fetch(settings.url .. "/gameserver/changes?" .. Feed.query(since),
            guarded("the answer", function(body, _, headers, code)
                if current() then
                    answered(target, since, body, headers, code)
                end
            end, recover),
            guarded("the failed request", function(message)
                if current() then
                    local hint = Settings.privateHost(settings.url) and
                        " (a private or loopback address: start the server with -allowlocalhttp)" or ""
                    failed("unreachable",
                        "cannot reach " .. settings.url .. ": " .. tostring(message) .. hint)
                end
            end, recover),
            { Authorization = "Bearer " .. settings.key, Accept = "application/json" })
    end

    local self = {}

    function self.start()
        schedule(Sync.FIRST_POLL)
    end

    -- GM:CheckPassword: false and the reason to refuse; nothing at all to admit, so the game's own
    -- password check still runs.
    function self.checkPassword(steamID64)
        local ok, text, cause = pcall(function()
            local steam = tostring(steamID64)
            return Policy.doorAnswer(view(), state.list and Feed.lookup(state.list, steam))
        end)
        if not ok then
            internalError("CheckPassword", text)
            text, cause = Policy.TEXT.serviceDown, "internal error"
        end
        if text then
            log("refused " .. tostring(steamID64) .. ": " .. cause)
            return false, text
        end
    end

    -- A player let in before a change reached the list may still be loading when it arrives.
    self.playerSpawned = guarded("PlayerInitialSpawn", function(ply)
        if state.list and not ply:IsBot() then
            local steam = ply:SteamID64()
            local text, cause = Policy.listAnswer(state.list, Feed.lookup(state.list, steam))
            if text then
                log("kicked " .. steam .. " on arrival: " .. cause)
                ply:Kick(text)
            end
        end
    end)

    function self.status()
        local list = state.list
        return { rule = list and list.rule, accounts = list and list.count or 0,
            cursor = list and list.cursor, filling = state.building ~= nil, fault = state.fault, failures = state.failures,
            lastAnswer = state.lastAnswer }
    end

    return self
end

return Sync
