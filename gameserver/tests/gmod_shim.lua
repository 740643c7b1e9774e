-- The part of Garry's Mod's server Lua API that the allow-list addon calls, under plain LuaJIT, and no
-- more: a function the addon starts calling must be added here, where a reviewer sees it.
--
-- Time is virtual: timers fire as the test advances the clock one tick at a time. HTTP is real: each
-- http.Fetch runs curl in the background, and before the clock moves every request in flight is waited
-- for and its callback run, so a request costs no virtual time and "within one refresh" is exact.
-- Any error raised in a hook, a timer or a callback is recorded in shim.errors for the test to fail on.
local ffi = require("ffi")
local cjson = require("cjson")

ffi.cdef([[int usleep(unsigned int usec);]])

local Shim = {}
Shim.__index = Shim

local JSON_KEY_LIMIT = 15000 -- util.JSONToTable's, unless told to ignore it
local HTTP_REAL_TIMEOUT = 60

local function shellQuote(text)
    return "'" .. tostring(text):gsub("'", "'\\''") .. "'"
end

local function readAll(path)
    local f = io.open(path, "rb")
    if not f then
        return nil
    end
    local data = f:read("*a")
    f:close()
    return data
end

local function writeAll(path, data)
    local f = assert(io.open(path, "wb"))
    f:write(data)
    f:close()
end

-- Loopback and private destinations, which the game's HTTP refuses without -allowlocalhttp.
local function privateDestination(url)
    local host = url:match("^https?://%[([^%]]+)%]") or url:match("^https?://([^:/]+)") or ""
    host = host:lower()
    if host == "localhost" or host == "::1" then
        return true
    end
    local a, b = host:match("^(%d+)%.(%d+)%.%d+%.%d+$")
    a, b = tonumber(a), tonumber(b)
    return a ~= nil and (a == 127 or a == 10 or (a == 172 and b >= 16 and b <= 31) or (a == 192 and b == 168))
end

-- options: addon (the addon's folder), data (the server's data/ folder), tmp (a folder for requests),
-- ca (a CA file for HTTPS), allowLocalHttp (as -allowlocalhttp), tick (seconds per tick), echo (copy
-- log lines to stderr).
function Shim.new(options)
    local self = setmetatable({}, Shim)
    self.options = options
    self.tickSeconds = options.tick or 0.05
    self.ticks = 0
    self.now = 0
    self.errors = {}
    self.logs = {}
    self.kicks = {}
    self.connected = {}
    self.loading = {}
    self.hooks = {}
    self.timers = {}
    self.timerSeq = 0
    self.convars = {}
    self.requests = {}
    self.requestSeq = 0
    self.fetched = {} -- every URL asked, in order, with its virtual time (and an answer's size)
    return self
end

-- Runs fn as the game runs Lua code: an error is reported, recorded, and the game goes on.
function Shim:call(where, fn, ...)
    local results = { xpcall(fn, debug.traceback, ...) }
    if not results[1] then
        self.errors[#self.errors + 1] = where .. ": " .. tostring(results[2])
        io.stderr:write("[shim] Lua error in " .. where .. ": " .. tostring(results[2]) .. "\n")
        return false
    end
    return true, unpack(results, 2, table.maxn(results))
end

local Player = {}
Player.__index = Player

function Player:SteamID64()
    return self.steam
end

function Player:IsBot()
    return self.bot
end

function Player:Kick(reason)
    local shim = self.shim
    for i, other in ipairs(shim.connected) do
        if other == self then
            table.remove(shim.connected, i)
            shim.kicks[#shim.kicks + 1] = { steam = self.steam, reason = tostring(reason), at = shim.now }
            return
        end
    end
end

function Shim:installGlobals()
    local shim = self
    _G.SysTime = function()
        return shim.now
    end
    _G.ServerLog = function(text)
        for line in tostring(text):gmatch("[^\n]+") do
            shim.logs[#shim.logs + 1] = { at = shim.now, line = line }
            if shim.options.echo then
                io.stderr:write(string.format("[%8.2f] %s\n", shim.now, line))
            end
        end
    end
    _G.include = function(path)
        local chunk = assert(loadfile(shim.options.addon .. "/lua/" .. path))
        return chunk()
    end
    _G.file = {
        Read = function(name, gamePath)
            assert(gamePath == "DATA", "the shim reads only the DATA path")
            return readAll(shim.options.data .. "/" .. name)
        end,
    }
    _G.FCVAR_NONE, _G.FCVAR_PROTECTED, _G.FCVAR_DONTRECORD = 0, 32, 131072
    _G.CreateConVar = function(name, default, flags, help)
        if not shim.convars[name] then
            shim.convars[name] = { name = name, value = tostring(default), flags = flags or 0, help = help }
        end
        return shim.convars[name]
    end
    _G.GetConVar = function(name)
        local convar = shim.convars[name]
        return convar and {
            GetString = function()
                return convar.value
            end,
        }
    end
    _G.hook = {
        Add = function(event, name, fn)
            shim.hooks[event] = shim.hooks[event] or {}
            shim.hooks[event][name] = fn
        end,
    }
    _G.timer = {
        Create = function(name, delay, repetitions, fn)
            shim.timerSeq = shim.timerSeq + 1
            shim.timers[name] = { delay = delay, left = repetitions, fn = fn, seq = shim.timerSeq,
                at = shim.now + math.max(delay, 0) }
        end,
    }
    _G.player = {
        GetAll = function()
            local copy = {}
            for i, ply in ipairs(shim.connected) do
                copy[i] = ply
            end
            return copy
        end,
    }
    _G.util = {
        JSONToTable = function(json, ignoreLimits, ignoreConversions)
            return shim:jsonToTable(json, ignoreLimits, ignoreConversions)
        end,
    }
    _G.http = {
        Fetch = function(url, onSuccess, onFailure, headers)
            shim:fetch(url, onSuccess, onFailure, headers)
        end,
    }
end

-- As the game's: nil on failure; null members dropped; keys converted to numbers where they read as
-- one; nil past 15,000 keys.
function Shim:jsonToTable(json, ignoreLimits, ignoreConversions)
    local ok, value = pcall(cjson.decode, json)
    if not ok or type(value) ~= "table" then
        return nil
    end
    local keys = 0
    local function convert(item)
        if item == cjson.null then
            return nil
        end
        if type(item) ~= "table" then
            return item
        end
        local out = {}
        for key, member in pairs(item) do
            keys = keys + 1
            if not ignoreConversions and type(key) == "string" and key:find("^%-?%d+%.?%d*$") then
                key = tonumber(key)
            end
            out[key] = convert(member)
        end
        return out
    end
    local result = convert(value)
    if not ignoreLimits and keys > JSON_KEY_LIMIT then
        return nil
    end
    return result
end

function Shim:fetch(url, onSuccess, onFailure, headers)
    self.requestSeq = self.requestSeq + 1
    local request = { onSuccess = onSuccess, onFailure = onFailure, url = url }
    self.requests[#self.requests + 1] = request
    request.record = { url = url, at = self.now, headers = headers }
    self.fetched[#self.fetched + 1] = request.record
    if type(url) ~= "string" or not url:find("^https?://") then
        request.failure = "invalid url"
        return
    end
    if privateDestination(url) and not self.options.allowLocalHttp then
        request.failure = "unsuccessful"
        return
    end
    local base = string.format("%s/request-%d", self.options.tmp, self.requestSeq)
    request.base = base
    -- The headers (the key among them) go through a file, never the command line.
    local lines = {}
    for name, value in pairs(headers or {}) do
        lines[#lines + 1] = tostring(name) .. ": " .. tostring(value)
    end
    writeAll(base .. ".send", table.concat(lines, "\n") .. "\n")
    local arguments = {
        "curl", "-sS", "--noproxy", "'*'", "--proto", "=http,https", "--connect-timeout", "5",
        "--max-time", "20", "-A", shellQuote("Valve/Steam HTTP Client 1.0 (4000)"),
        "-H", shellQuote("@" .. base .. ".send"),
        "-D", shellQuote(base .. ".headers"), "-o", shellQuote(base .. ".body"), "-w", "'%{http_code}'",
    }
    if self.options.ca then
        arguments[#arguments + 1] = "--cacert " .. shellQuote(self.options.ca)
    end
    arguments[#arguments + 1] = shellQuote(url)
    local command = string.format("(%s >%s 2>%s; echo $? >%s && mv %s %s) </dev/null >/dev/null 2>&1 &",
        table.concat(arguments, " "), shellQuote(base .. ".code"), shellQuote(base .. ".err"),
        shellQuote(base .. ".tmp"), shellQuote(base .. ".tmp"), shellQuote(base .. ".done"))
    os.execute(command)
end

local function parseHeaders(text)
    local headers = {}
    for line in (text or ""):gmatch("[^\r\n]+") do
        local name, value = line:match("^([^:%s]+):%s*(.-)%s*$")
        if name then
            headers[name] = value
        end
    end
    return headers
end

-- Waits for every request in flight and runs its callback, in the order the requests were made.
function Shim:finishRequests()
    local requests = self.requests
    self.requests = {}
    local deadline = os.time() + HTTP_REAL_TIMEOUT
    for _, request in ipairs(requests) do
        if request.base then
            local exit = readAll(request.base .. ".done")
            while not exit do
                if os.time() > deadline then
                    self.errors[#self.errors + 1] = "HTTP request to " .. request.url .. " never finished"
                    return
                end
                ffi.C.usleep(2000)
                exit = readAll(request.base .. ".done")
            end
            if tonumber(exit) == 0 then
                request.body = readAll(request.base .. ".body") or ""
                request.code = tonumber(readAll(request.base .. ".code"))
                request.headers = parseHeaders(readAll(request.base .. ".headers"))
            else
                request.failure = "unsuccessful"
                request.curlError = readAll(request.base .. ".err")
            end
            for _, suffix in ipairs({ ".send", ".body", ".code", ".headers", ".err", ".done" }) do
                os.remove(request.base .. suffix)
            end
        end
        if request.failure then
            if request.onFailure then
                self:call("http.Fetch onFailure", request.onFailure, request.failure)
            end
        elseif request.onSuccess then
            -- What the answer cost the game's one Lua thread, for the benchmark.
            local started = os.clock()
            self:call("http.Fetch onSuccess", request.onSuccess, request.body, #request.body, request.headers,
                request.code)
            request.record.bytes, request.record.seconds = #request.body, os.clock() - started
            request.record.kib = collectgarbage("count")
        end
    end
end

function Shim:fireTimers()
    local due = {}
    for name, t in pairs(self.timers) do
        if t.at <= self.now + 1e-9 then
            due[#due + 1] = { name = name, timer = t }
        end
    end
    table.sort(due, function(a, b)
        if a.timer.at ~= b.timer.at then
            return a.timer.at < b.timer.at
        end
        return a.timer.seq < b.timer.seq
    end)
    for _, entry in ipairs(due) do
        local t = entry.timer
        if self.timers[entry.name] == t then -- not replaced by an earlier timer of this tick
            if t.left == 1 then
                self.timers[entry.name] = nil
            else
                t.left = t.left > 1 and t.left - 1 or 0
                t.at = self.now + math.max(t.delay, self.tickSeconds)
            end
            self:call("timer " .. entry.name, t.fn)
        end
    end
end

-- One game tick: the answers that arrived, then the clock, then the timers due.
function Shim:tick()
    self:finishRequests()
    self.ticks = self.ticks + 1
    self.now = self.ticks * self.tickSeconds
    self:fireTimers()
end

function Shim:advance(seconds)
    local target = self.now + seconds - 1e-9
    while self.now < target do
        self:tick()
    end
    self:finishRequests()
end

-- Ticks until predicate() holds or `seconds` of virtual time pass; whether it held.
function Shim:runUntil(predicate, seconds)
    local limit = self.now + seconds + 1e-9
    while true do
        self:finishRequests()
        if predicate() then
            return true
        end
        if self.now >= limit then
            return false
        end
        self:tick()
    end
end

function Shim:runHooks(event, ...)
    for name, fn in pairs(self.hooks[event] or {}) do
        local results = { self:call("hook " .. event .. " " .. name, fn, ...) }
        if results[1] and table.maxn(results) > 1 then
            return unpack(results, 2, table.maxn(results))
        end
    end
end

function Shim:loadAddon()
    self:installGlobals()
    local folder = self.options.addon .. "/lua/autorun/server"
    local names = {}
    for name in io.popen("ls " .. shellQuote(folder)):lines() do
        if name:find("%.lua$") then
            names[#names + 1] = name
        end
    end
    table.sort(names)
    for _, name in ipairs(names) do
        local chunk, problem = loadfile(folder .. "/" .. name)
        if not chunk then
            self.errors[#self.errors + 1] = "loading " .. name .. ": " .. problem
        else
            self:call("autorun/server/" .. name, chunk)
        end
    end
end

-- A player knocking: the CheckPassword hooks' answer (a hook returning nothing lets them in, as with
-- no sv_password). An admitted player joins player.GetAll() and spawns at once, or with
-- options.loading only at spawn(), as one still downloading the server's content.
function Shim:connect(steam, name, options)
    options = options or {}
    -- Bots never knock: the game adds them without asking CheckPassword.
    local answer = options.bot and {} or
        { self:runHooks("CheckPassword", steam, "127.0.0.1:27005", "", "", name or "jugador") }
    local result = { returned = answer }
    if answer[1] == false then
        result.admitted, result.reason = false, answer[2]
        return result
    end
    result.admitted = true
    local ply = setmetatable({ shim = self, steam = steam, bot = options.bot or false }, Player)
    self.loading[steam] = ply
    if not options.loading then
        self:spawn(steam)
    end
    return result
end

function Shim:spawn(steam)
    local ply = assert(self.loading[steam], "no player loading with that SteamID64")
    self.loading[steam] = nil
    self.connected[#self.connected + 1] = ply
    self:runHooks("PlayerInitialSpawn", ply, false)
end

function Shim:connectedSteamIds()
    local ids = {}
    for i, ply in ipairs(self.connected) do
        ids[i] = ply.steam
    end
    return ids
end

function Shim:setConVar(name, value)
    local convar = self.convars[name]
    if not convar then
        error("no convar " .. name .. " (the addon did not create it)")
    end
    convar.value = tostring(value)
end

return Shim
