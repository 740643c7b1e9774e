-- When to ask the service again after it failed to answer.
local Retry = {}

-- Waits double from one refresh period up to this, so a service that is down is not asked every few
-- seconds by every game server at once.
Retry.MAX_BACKOFF = 60
-- A Retry-After longer than this is not waited out in full: the list would go stale for too long.
Retry.MAX_RETRY_AFTER = 600

-- Seconds from the response's Retry-After (delay-seconds form only), or nil. Header names arrive as the
-- server wrote them, so they are compared without case.
function Retry.retryAfter(headers)
    if type(headers) ~= "table" then
        return nil
    end
    for name, value in pairs(headers) do
        if type(name) == "string" and name:lower() == "retry-after" then
            local seconds = tostring(value):match("^%s*(%d+)%s*$")
            return seconds and tonumber(seconds) or nil
        end
    end
    return nil
end

-- The wait before the next attempt after `failures` failures in a row (1 for the first).
function Retry.delay(failures, refresh, retryAfter)
    local wait = math.min(refresh * 2 ^ math.min(failures - 1, 16), Retry.MAX_BACKOFF)
    if retryAfter then
        wait = math.max(wait, math.min(retryAfter, Retry.MAX_RETRY_AFTER))
    end
    return math.max(wait, refresh)
end

return Retry
