-- A game server for the tests: the addon under gmod_shim.lua, driven one JSON command per line on stdin,
-- one JSON answer per line on stdout. Every answer carries the virtual time and every Lua error so far.
-- (lua-cjson writes an empty array as {}: the reader takes {} for an empty list.)
--
--   luajit gmod_server.lua --addon DIR --data DIR --tmp DIR [--ca FILE] [--allow-local-http] [--echo]
--
-- Commands ({"op": ...}):
--   load                              runs the addon's autorun files
--   convar name value                 sets a convar as server.cfg would (the addon must have made it)
--   connect steam [name] [bot]        a player knocks: admitted, reason, returned (the hook's values)
--           [loading]                 admitted, the player stays loading until spawn
--   spawn steam                       a loading player arrives
--   advance seconds                   runs the game that long
--   until what seconds [steam|text]   runs until it holds: kicked (steam), log (text in a line),
--                                     filled (a whole list), fetched (requests made reach `count`)
--   status                            the addon's status, connected players, kicks, convar flags
--   logs [from]                       log lines from index `from` (1 first)
--   fetched [from]                    the requests made: url, virtual time, header names, and for an
--                                     answer its bytes, the CPU seconds its callback took and Lua's
--                                     heap in KiB right after it (uncollected)
--   memory                            Lua's heap in KiB after a full collection
local here = arg[0]:match("^(.*)/[^/]*$") or "."
package.path = here .. "/?.lua;" .. package.path
local cjson = require("cjson")
local Shim = require("gmod_shim")

local options = {}
local i = 1
while i <= #arg do
    local name = arg[i]
    if name == "--allow-local-http" then
        options.allowLocalHttp = true
    elseif name == "--echo" then
        options.echo = true
    else
        options[name:sub(3)] = arg[i + 1]
        i = i + 1
    end
    i = i + 1
end

local shim = Shim.new(options)

local conditions = {
    kicked = function(command)
        for _, kick in ipairs(shim.kicks) do
            if kick.steam == command.steam then
                return true
            end
        end
        return false
    end,
    log = function(command)
        for _, entry in ipairs(shim.logs) do
            if entry.line:find(command.text, 1, true) then
                return true
            end
        end
        return false
    end,
    filled = function()
        local status = OrvaneAllowlist and OrvaneAllowlist.status()
        return status ~= nil and status.rule ~= nil and not status.filling
    end,
    fetched = function(command)
        return #shim.fetched >= command.count
    end,
}

local function since(array, from, map)
    local out = {}
    for k = from or 1, #array do
        out[#out + 1] = map(array[k])
    end
    return out
end

local commands = {
    load = function()
        shim:loadAddon()
        return {}
    end,
    convar = function(command)
        shim:setConVar(command.name, command.value)
        return {}
    end,
    connect = function(command)
        local result = shim:connect(command.steam, command.name,
            { bot = command.bot, loading = command.loading })
        return { admitted = result.admitted, reason = result.reason or cjson.null,
            returned = result.returned }
    end,
    spawn = function(command)
        shim:spawn(command.steam)
        return {}
    end,
    advance = function(command)
        shim:advance(command.seconds)
        return {}
    end,
    ["until"] = function(command)
        local check = assert(conditions[command.what], "no condition " .. tostring(command.what))
        local met = shim:runUntil(function()
            return check(command)
        end, command.seconds)
        return { met = met }
    end,
    status = function()
        local status = OrvaneAllowlist and OrvaneAllowlist.status() or {}
        local flags = {}
        for name, convar in pairs(shim.convars) do
            flags[name] = convar.flags
        end
        local kicks = {}
        for k, kick in ipairs(shim.kicks) do
            kicks[k] = kick
        end
        return { addon = status, connected = shim:connectedSteamIds(), kicks = kicks,
            convar_flags = flags, version = OrvaneAllowlist and OrvaneAllowlist.version or cjson.null }
    end,
    logs = function(command)
        return { logs = since(shim.logs, command.from, function(entry)
            return entry
        end) }
    end,
    fetched = function(command)
        return { fetched = since(shim.fetched, command.from, function(entry)
            local names = {}
            for name in pairs(entry.headers or {}) do
                names[#names + 1] = name
            end
            table.sort(names)
            return { url = entry.url, at = entry.at, headers = names, bytes = entry.bytes,
                seconds = entry.seconds, kib = entry.kib }
        end) }
    end,
    memory = function()
        collectgarbage("collect")
        collectgarbage("collect")
        return { kib = collectgarbage("count") }
    end,
}

for line in io.stdin:lines() do
    local ok, reply = pcall(function()
        local command = cjson.decode(line)
        local handler = assert(commands[command.op], "no command " .. tostring(command.op))
        return handler(command)
    end)
    if not ok then
        reply = { failed = tostring(reply) }
    end
    reply.now = shim.now
    reply.errors = shim.errors
    io.stdout:write(cjson.encode(reply), "\n")
    io.stdout:flush()
end
