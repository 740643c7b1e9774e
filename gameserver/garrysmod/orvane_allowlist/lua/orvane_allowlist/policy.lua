-- Who may come in, decided from the list in memory alone: the game asks at the door and wants its
-- answer at once.
local Policy = {}

Policy.TEXT = {
    notLinked = "Para jugar aquí vincula tus cuentas de Steam y Discord en el launcher de OrvaneGaming "
        .. "y vuelve a entrar.",
    notLinkedSteam = "Para jugar aquí vincula tu cuenta de Steam en el launcher de OrvaneGaming "
        .. "y vuelve a entrar.",
    banned = "Tu cuenta está bloqueada en esta comunidad.",
    serviceDown = "El servicio de vinculación no responde. Inténtalo de nuevo en unos minutos.",
    loading = "El servidor está cargando la lista de jugadores. Inténtalo de nuevo en unos segundos.",
}

-- Under "refuse", a list older than this many refresh periods no longer admits anyone.
Policy.GRACE_PERIODS = 3

-- What the list alone says of a player: nil to admit, else the text that refuses them and a word for
-- the log.
function Policy.listAnswer(list, state)
    if state == "banned" then
        return Policy.TEXT.banned, "banned"
    end
    if state == "ready" or list.rule == "none" then
        return nil
    end
    return list.rule == "steam" and Policy.TEXT.notLinkedSteam or Policy.TEXT.notLinked, "not linked"
end

-- The door's answer for a player whose state in `view.list` is `state` ("ready", "banned" or nil):
-- nil to admit, else the refusal text and a word for the log. view: list (nil before the first fill),
-- policy ("last_known" or "refuse"), refresh (seconds), now and lastAnswer (when the service last
-- answered, on one clock), failing (the service's last answer was a failure).
function Policy.doorAnswer(view, state)
    if not view.list then
        if view.failing then
            return Policy.TEXT.serviceDown, "no list yet, the service does not answer"
        end
        return Policy.TEXT.loading, "no list yet"
    end
    if view.policy == "refuse" and Policy.stale(view) then
        return Policy.TEXT.serviceDown, "the list is stale"
    end
    return Policy.listAnswer(view.list, state)
end

function Policy.stale(view)
    return view.lastAnswer == nil or view.now - view.lastAnswer > Policy.GRACE_PERIODS * view.refresh
end

return Policy
