-- The addon's pure modules under LuaJIT, driven directly: the feed's checks and merge, the door's
-- answer, the back-off and the settings.
--
--   luajit addon_units.lua ADDON_DIR
local addon = assert(arg[1], "usage: luajit addon_units.lua ADDON_DIR")
local function module(name)
    return dofile(addon .. "/lua/orvane_allowlist/" .. name .. ".lua")
end
local Feed, Policy, Retry, Settings = module("feed"), module("policy"), module("retry"), module("settings")

local failures, checks = {}, 0

local function show(value)
    if type(value) == "string" then
        return string.format("%q", value)
    end
    if type(value) ~= "table" then
        return tostring(value)
    end
    local keys = {}
    for k in pairs(value) do
        keys[#keys + 1] = k
    end
    table.sort(keys, function(a, b)
        return tostring(a) < tostring(b)
    end)
    local parts = {}
    for _, k in ipairs(keys) do
        parts[#parts + 1] = tostring(k) .. "=" .. show(value[k])
    end
    return "{" .. table.concat(parts, ", ") .. "}"
end

local function same(a, b)
    return show(a) == show(b)
end

local function expect(name, got, want)
    checks = checks + 1
    if not same(got, want) then
        failures[#failures + 1] = name .. "\n    got  " .. show(got) .. "\n    want " .. show(want)
    end
end

local function entry(cursor, steam, ready, banned)
    return { cursor = cursor, steam = steam, ready = ready, banned = banned }
end

local A, B, C = "76561198000000001", "76561198000000002", "76561198000000003"

-- Feed.checkPage: nil for a page it takes whole, else a reason it refuses all of it.
do
    local page = function(fields)
        local p = { rule = "steam+discord", next = 2, more = false,
            changes = { entry(1, A, true, false), entry(2, B, false, true) } }
        for k, v in pairs(fields) do
            p[k] = v
        end
        return p
    end
    local function empty(next, more)
        return { rule = "none", next = next, more = more, changes = {} }
    end
    local function with(first, second)
        return page({ changes = { first, second or entry(2, B, false, true) } })
    end
    local cases = {
        -- name, page, since, taken
        { "a well-formed page", page({}), 0, true },
        { "an empty page at the cursor asked", empty(7, false), 7, true },
        { "an empty page whose changes were dropped", { rule = "steam", next = 7, more = false }, 7, true },
        { "not a table", nil, 0, false },
        { "an unknown rule", page({ rule = "discord" }), 0, false },
        { "next before since", page({ next = 2 }), 3, false },
        { "next not the last entry's cursor", page({ next = 3 }), 0, false },
        { "an empty page that moves the cursor", empty(9, false), 7, false },
        { "more that is not a boolean", page({ more = "false" }), 0, false },
        { "more with no entries", empty(7, true), 7, false },
        { "a cursor at since", page({}), 1, false },
        { "cursors out of order", with(entry(2, A, true, false), entry(1, B, true, false)), 0, false },
        { "a repeated cursor", with(entry(2, A, true, false), entry(2, B, true, false)), 0, false },
        { "a fractional cursor", page({ next = 2.5, changes = { entry(2.5, A, true, false) } }), 0, false },
        { "a cursor past 2^53", page({ next = 2 ^ 53 + 2, changes = { entry(2 ^ 53 + 2, A, true, false) } }),
            0, false },
        { "a SteamID64 as a number", with(entry(1, 76561198000000001, true, false)), 0, false },
        { "a SteamID64 of 16 digits", with(entry(1, "7656119800000000", true, false)), 0, false },
        { "ready missing", with({ cursor = 1, steam = A, banned = false }), 0, false },
        { "banned as a string", with(entry(1, A, true, "false")), 0, false },
        { "an entry that is not an object", with(entry(1, A, true, false), "76561198000000002"), 0, false },
    }
    for _, case in ipairs(cases) do
        local problem = Feed.checkPage(case[2], case[3])
        expect("checkPage: " .. case[1], problem == nil, case[4])
    end
    local full = { rule = "none", next = Feed.PAGE_LIMIT + 1, more = true, changes = {} }
    for i = 1, Feed.PAGE_LIMIT + 1 do
        full.changes[i] = entry(i, string.format("765611980%08d", i), true, false)
    end
    expect("checkPage: more entries than asked for", Feed.checkPage(full, 0) ~= nil, true)
end

-- Feed.apply: what the list keeps, what it reports changed, and its count.
do
    local list = Feed.newList()
    local changed = Feed.apply(list, { rule = "steam+discord", next = 3, more = false,
        changes = { entry(1, A, true, false), entry(2, B, false, false), entry(3, C, false, true) } })
    expect("apply: ready and banned kept, a not-ready account not stored",
        { list.accounts, list.count, list.cursor }, { { [A] = "ready", [C] = "banned" }, 2, 3 })
    expect("apply: the changed accounts", changed, { A, C })

    changed = Feed.apply(list, { rule = "steam+discord", next = 6, more = false,
        changes = { entry(4, C, false, false), entry(5, A, true, false), entry(6, B, true, false) } })
    expect("apply: an unban forgets, a repeat changes nothing, a link adds",
        { list.accounts, list.count, changed }, { { [A] = "ready", [B] = "ready" }, 2, { C, B } })

    changed = Feed.apply(list, { rule = "steam+discord", next = 8, more = false,
        changes = { entry(7, A, false, true), entry(8, A, false, false) } })
    expect("apply: the last entry for an account wins", { list.accounts, list.count, changed },
        { { [B] = "ready" }, 1, { A } })

    local none = Feed.newList()
    Feed.apply(none, { rule = "none", next = 2, more = false,
        changes = { entry(1, A, true, false), entry(2, B, false, true) } })
    expect("apply: under none only bans are stored", { none.accounts, none.count }, { { [B] = "banned" }, 1 })

    local cap = Feed.MAX_ACCOUNTS
    Feed.MAX_ACCOUNTS = 2
    local small = Feed.newList()
    Feed.apply(small, { rule = "steam", next = 2, more = false,
        changes = { entry(1, A, true, false), entry(2, B, true, false) } })
    local result, problem = Feed.apply(small, { rule = "steam", next = 3, more = false,
        changes = { entry(3, C, true, false) } })
    expect("apply: past the cap the page is refused and the list untouched",
        { result, problem ~= nil, small.count, small.cursor, small.accounts[C] }, { nil, true, 2, 2, nil })
    result = Feed.apply(small, { rule = "steam", next = 5, more = false,
        changes = { entry(4, A, false, false), entry(5, C, true, false) } })
    expect("apply: at the cap a page that also removes one is taken", { small.count, small.accounts[C] },
        { 2, "ready" })
    Feed.MAX_ACCOUNTS = cap

    expect("query: the largest cursor is written exactly", Feed.query(9007199254740991),
        "since=9007199254740991&limit=" .. Feed.PAGE_LIMIT)
end

-- Policy.doorAnswer: (text, cause) per list, policy and age.
do
    local T = Policy.TEXT
    local function list(rule)
        return { rule = rule, accounts = { [A] = "ready", [B] = "banned" }, count = 2 }
    end
    -- A view with the given list rule (nil: no list yet), policy, clock and last answer.
    local function v(rule, policy, now, lastAnswer, failing)
        return { list = rule and list(rule), policy = policy, refresh = 5, now = now, lastAnswer = lastAnswer,
            failing = failing }
    end
    local cases = {
        -- name, view, state, text
        { "no list yet, still loading", v(nil, "last_known", 1), nil, T.loading },
        { "no list yet, the service failing", v(nil, "last_known", 1, nil, true), nil, T.serviceDown },
        { "ready", v("steam+discord", "last_known", 10, 9), "ready", nil },
        { "unknown under steam+discord", v("steam+discord", "last_known", 10, 9), nil, T.notLinked },
        { "unknown under steam", v("steam", "last_known", 10, 9), nil, T.notLinkedSteam },
        { "unknown under none", v("none", "last_known", 10, 9), nil, nil },
        { "banned under none", v("none", "last_known", 10, 9), "banned", T.banned },
        { "last_known with an old list still admits", v("steam", "last_known", 1000, 9), "ready", nil },
        { "last_known with an old list still refuses the unknown", v("steam", "last_known", 1000, 9), nil,
            T.notLinkedSteam },
        { "refuse within the grace", v("steam", "refuse", 24, 9), "ready", nil },
        { "refuse past the grace", v("steam", "refuse", 24.01, 9), "ready", T.serviceDown },
        { "refuse past the grace under none", v("none", "refuse", 24.01, 9), nil, T.serviceDown },
        { "refuse with a list but no answer on record", v("steam", "refuse", 1), "ready", T.serviceDown },
    }
    for _, case in ipairs(cases) do
        local text, cause = Policy.doorAnswer(case[2], case[3])
        expect("doorAnswer: " .. case[1], text, case[4])
        expect("doorAnswer: " .. case[1] .. " (a cause for the log)", cause ~= nil, case[4] ~= nil)
    end
end

-- Retry: the back-off and the service's Retry-After.
do
    local waits = {}
    for failures = 1, 7 do
        waits[failures] = Retry.delay(failures, 5)
    end
    expect("delay: doubles from one period to the cap", waits, { 5, 10, 20, 40, 60, 60, 60 })
    expect("delay: a thousand failures in a row", Retry.delay(1000, 5), 60)
    expect("delay: never under a long refresh period", Retry.delay(1, 90), 90)
    expect("delay: Retry-After longer than the back-off", Retry.delay(1, 5, 120), 120)
    expect("delay: Retry-After shorter than the back-off", Retry.delay(4, 5, 3), 40)
    expect("delay: Retry-After past the cap", Retry.delay(1, 5, 86400), Retry.MAX_RETRY_AFTER)
    local headers = {
        { "as the service writes it", { ["Retry-After"] = "7" }, 7 },
        { "in another case", { ["retry-after"] = " 30 " }, 30 },
        { "an HTTP date", { ["Retry-After"] = "Wed, 21 Oct 2015 07:28:00 GMT" }, nil },
        { "negative", { ["Retry-After"] = "-5" }, nil },
        { "absent", { ["Content-Type"] = "application/json" }, nil },
        { "no headers at all", nil, nil },
    }
    for _, case in ipairs(headers) do
        expect("retryAfter: " .. case[1], Retry.retryAfter(case[2]), case[3])
    end
end

-- Settings.resolve: the file wins where it speaks, the convars fill the rest, and no problem line holds
-- the key.
do
    local U = "https://convar.example/base"
    local convars = { url = U, key = "convar-key", policy = "refuse", refresh = "9" }
    local function pick(s)
        return { s.url, s.key, s.policy, s.refresh }
    end
    local cases = {
        -- name, file, file problem, convars, { url, key, policy, refresh }, problems
        { "convars alone", nil, nil, convars, { U, "convar-key", "refuse", 9 }, 0 },
        { "the file wins where it speaks",
            { url = "https://file.example/base/", key = "file-key", refresh = 3 }, nil, convars,
            { "https://file.example/base", "file-key", "refuse", 3 }, 0 },
        { "nothing set", nil, nil, { url = "", key = "", policy = "last_known", refresh = "5" },
            { nil, nil, "last_known", 5 }, 2 },
        { "an unreadable file falls back to the convars", nil, "not a JSON object", convars,
            { U, "convar-key", "refuse", 9 }, 1 },
        { "an unknown member is named", { url = "https://file.example", polcy = "refuse" }, nil, convars,
            { "https://file.example", "convar-key", "refuse", 9 }, 1 },
        { "a refresh under the floor", { refresh = 1 }, nil, convars, { U, "convar-key", "refuse", 2 }, 1 },
        { "a refresh that is not a number", nil, nil,
            { url = U, key = "k", policy = "refuse", refresh = "often" }, { U, "k", "refuse", 5 }, 1 },
        { "an unknown policy", { policy = "admit_all" }, nil, convars, { U, "convar-key", "last_known", 9 },
            1 },
        { "an address with a query", { url = "https://file.example/base?x=1" }, nil, convars,
            { nil, "convar-key", "refuse", 9 }, 1 },
        { "an address of another scheme", { url = "ftp://file.example/base" }, nil, convars,
            { nil, "convar-key", "refuse", 9 }, 1 },
        { "a key that would break its header line", { key = "secret\r\nX-Other: 1" }, nil, convars,
            { U, nil, "refuse", 9 }, 1 },
        { "a key with a space", { key = "two words" }, nil, convars, { U, nil, "refuse", 9 }, 1 },
    }
    for _, case in ipairs(cases) do
        local settings, problems = Settings.resolve(case[2], case[3], case[4])
        expect("resolve: " .. case[1], pick(settings), case[5])
        expect("resolve: " .. case[1] .. " (problems)", #problems, case[6])
        for _, problem in ipairs(problems) do
            for _, secret in ipairs({ "convar-key", "file-key", "secret", "two words" }) do
                local where = problem:find(secret, 1, true)
                expect("resolve: " .. case[1] .. " (no key in " .. problem .. ")", where, nil)
            end
        end
    end
    local settings = Settings.resolve({ key = "file-key" }, nil, convars)
    expect("resolve: where each setting came from", settings.from,
        { url = "orvane_url", key = "data/orvane_allowlist.json", policy = "orvane_policy",
            refresh = "orvane_refresh" })

    local hosts = {
        { "https://link.orvanegaming.com/orvane-launcher/v1/9e3f51d0", false },
        { "http://127.0.0.1:8080/base", true },
        { "https://localhost/base", true },
        { "https://10.1.2.3/", true },
        { "https://172.16.0.1", true },
        { "https://172.32.0.1", false },
        { "https://192.168.1.20:443/x", true },
        { "https://[::1]:8443/x", true },
        { "https://[fd00::5]/x", true },
        { "https://[2001:db8::1]/x", false },
        { "https://fd.example.com/x", false },
        { "https://127.example.com/x", false },
    }
    for _, case in ipairs(hosts) do
        expect("privateHost: " .. case[1], Settings.privateHost(case[1]), case[2])
    end
end

for _, failure in ipairs(failures) do
    io.stderr:write("FAIL " .. failure .. "\n")
end
print(string.format("%d passed, %d failed", checks - #failures, #failures))
os.exit(#failures == 0 and 0 or 1)
