-- The allow-list as the link service's changes feed builds it: a table from SteamID64 to "ready" or
-- "banned". An account that may not play and is not banned is simply absent, as is every account under
-- rule "none" unless banned, so the table holds only what a decision needs.
local Feed = {}

-- Entries asked per page. util.JSONToTable refuses documents of more than 15,000 keys; a page of 1,000
-- entries has about 6,000.
Feed.PAGE_LIMIT = 1000
-- A full page is about 110 KiB; anything past this is not a page of ours.
Feed.MAX_PAGE_BYTES = 256 * 1024
-- The list refuses to grow past this many accounts, whatever the service says.
Feed.MAX_ACCOUNTS = 1000000

local RULES = { none = true, steam = true, ["steam+discord"] = true }
local MAX_CURSOR = 9007199254740991
local STEAM_ID = "^" .. string.rep("%d", 17) .. "$"

local function isCursor(value)
    return type(value) == "number" and value >= 0 and value <= MAX_CURSOR and math.floor(value) == value
end

function Feed.isSteamId(value)
    return type(value) == "string" and value:find(STEAM_ID) ~= nil
end

-- The query that asks for the page after `cursor`. Cursors reach 2^53; %.0f writes them exactly on any
-- Lua 5.1 build, where %d may go through a 32-bit long.
function Feed.query(cursor)
    return string.format("since=%.0f&limit=%d", cursor, Feed.PAGE_LIMIT)
end

function Feed.newList()
    return { rule = nil, accounts = {}, count = 0, cursor = 0 }
end

-- nil when `page` (decoded JSON) is a well-formed answer to since=`since`, else what is wrong with it.
-- A page is taken whole or not at all, so a list never holds half of one.
function Feed.checkPage(page, since)
    if type(page) ~= "table" then
        return "not a JSON object"
    end
    if not RULES[page.rule] then
        return "unknown rule " .. tostring(page.rule)
    end
    if not isCursor(page.next) or page.next < since then
        return "next is not a cursor at or after " .. string.format("%.0f", since)
    end
    if type(page.more) ~= "boolean" then
        return "more is not a boolean"
    end
    local changes = page.changes or {}
    if type(changes) ~= "table" or #changes > Feed.PAGE_LIMIT then
        return "changes is not a list of at most " .. Feed.PAGE_LIMIT .. " entries"
    end
    local last = since
    for i = 1, #changes do
        local change = changes[i]
        if type(change) ~= "table" or not Feed.isSteamId(change.steam) or type(change.ready) ~= "boolean" or
            type(change.banned) ~= "boolean" then
            return "entry " .. i .. " is not a player"
        end
        if not isCursor(change.cursor) or change.cursor <= last then
            return "entry " .. i .. " is out of cursor order"
        end
        last = change.cursor
    end
    if last ~= page.next then
        return "next is not the last entry's cursor"
    end
    -- A full page with nothing in it would have the list ask again at once forever.
    if page.more and #changes == 0 then
        return "more with no entries"
    end
    return nil
end

local function stateOf(change, rule)
    if change.banned then
        return "banned"
    end
    if change.ready and rule ~= "none" then
        return "ready"
    end
    return nil
end

-- Applies a checked page to `list` under the page's rule (a new list takes it; the caller refills a
-- list whose rule changed). Returns the SteamID64s whose state changed, or nil and the reason when the
-- list would pass MAX_ACCOUNTS, leaving it untouched.
function Feed.apply(list, page)
    assert(list.rule == nil or list.rule == page.rule, "a list is filled under one rule")
    local changes = page.changes or {}
    -- The last entry for an account wins; `order` keeps each account once.
    local final, order = {}, {}
    for i = 1, #changes do
        local steam = changes[i].steam
        if final[steam] == nil then
            order[#order + 1] = steam
        end
        final[steam] = stateOf(changes[i], page.rule) or false
    end
    local added, changed = 0, {}
    for _, steam in ipairs(order) do
        local now, before = final[steam] or nil, list.accounts[steam]
        if now ~= before then
            changed[#changed + 1] = steam
            added = added + (now and 1 or 0) - (before and 1 or 0)
        end
    end
    if list.count + added > Feed.MAX_ACCOUNTS then
        return nil, "the list would pass " .. Feed.MAX_ACCOUNTS .. " accounts"
    end
    for _, steam in ipairs(changed) do
        list.accounts[steam] = final[steam] or nil
    end
    list.rule = page.rule
    list.count = list.count + added
    list.cursor = page.next
    return changed
end

-- "ready", "banned" or nil (unknown, or known and not ready).
function Feed.lookup(list, steamId)
    return list.accounts[steamId]
end

return Feed
