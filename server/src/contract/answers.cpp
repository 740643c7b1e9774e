#include "contract/answers.h"
#include "storage/secrets.h"

#include <openssl/crypto.h>

namespace {

// Long enough for a database restart, short against the launchers' 30 s polls.
constexpr int StorageRetryAfterSeconds = 5;

const std::string PageStyle =
    "body{font-family:sans-serif;background:#15171c;color:#eceff4;margin:0;display:flex;min-height:100vh;"
    "align-items:center;justify-content:center}main{max-width:32em;padding:2em}h1{font-size:1.4em}"
    "p{line-height:1.5}form{display:flex;gap:1em;margin-top:1.5em}button{font-size:1em;padding:.6em 1.2em;"
    "border:0;border-radius:4px;cursor:pointer}button[value=confirm]{background:#4c8df6;color:#fff}";

std::string escapeHtml(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&#39;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

} // namespace

Response jsonTextAnswer(int status, std::string body) {
    Response response;
    response.status = status;
    response.headers = {{"Content-Type", "application/json"},
                        {"Cache-Control", "no-store"},
                        {"X-Content-Type-Options", "nosniff"}};
    response.body = std::move(body);
    return response;
}

Response jsonAnswer(int status, const nlohmann::json& body) {
    return jsonTextAnswer(status, body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
}

Response errorAnswer(int status, const std::string& code) {
    return jsonAnswer(status, nlohmann::json{{"error", code}});
}

Response tooManyAnswer(const std::string& code, int retryAfterSeconds) {
    Response response = errorAnswer(429, code);
    response.headers.emplace_back("Retry-After", std::to_string(retryAfterSeconds));
    return response;
}

Response storageFailure(const Request& request) {
    if (request.method == "POST" && request.path == BasePath + "/link/discord")
        return errorAnswer(500, "storage");
    Response response = errorAnswer(503, "storage");
    response.headers.emplace_back("Retry-After", std::to_string(StorageRetryAfterSeconds));
    return response;
}

Response providersBusyPage() {
    Response response =
        pageAnswer(503, "Demasiadas vinculaciones a la vez",
                   "Ahora mismo hay muchas vinculaciones en curso. Espera unos segundos e "
                   "inténtalo de nuevo recargando esta página: el enlace sigue siendo válido.");
    response.headers.emplace_back("Retry-After", std::to_string(StorageRetryAfterSeconds));
    response.reason = "provider_queue_full";
    return response;
}

Response storageFailurePage(const std::string& whatFailed) {
    Response response =
        pageAnswer(503, "Servicio no disponible",
                   whatFailed + " Espera un momento, vuelve al launcher y pulsa «Vincular» de nuevo.");
    response.headers.emplace_back("Retry-After", std::to_string(StorageRetryAfterSeconds));
    return response;
}

namespace {

// Only the page's own style may apply (its hash is the whole policy for styles), and a form only where a
// page has one, posting to this origin.
Response htmlPage(int status, const std::string& title, const std::string& main, bool postsForm) {
    static const std::string style = "style-src 'sha256-" + sha256Base64(PageStyle) + "'; ";
    const std::string policy = "default-src 'none'; " + style + "base-uri 'none'; form-action " +
                               (postsForm ? "'self'" : "'none'") + "; frame-ancestors 'none'";
    Response response;
    response.status = status;
    response.headers = {{"Content-Type", "text/html; charset=utf-8"},
                        {"Content-Security-Policy", policy},
                        {"Cache-Control", "no-store"},
                        // The callback's address holds the state and the code: no other site may see it.
                        {"Referrer-Policy", "no-referrer"},
                        {"X-Content-Type-Options", "nosniff"},
                        {"X-Frame-Options", "DENY"}};
    response.body = "<!DOCTYPE html>\n<html lang=\"es\"><head><meta charset=\"utf-8\">"
                    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\"><title>" +
                    escapeHtml(title) + "</title><style>" + PageStyle + "</style></head><body><main><h1>" +
                    escapeHtml(title) + "</h1>" + main + "</main></body></html>\n";
    return response;
}

std::string paragraph(const std::string& text) {
    return "<p>" + escapeHtml(text) + "</p>";
}

std::string agoText(std::int64_t minutes) {
    if (minutes < 1)
        return "hace menos de un minuto";
    return minutes == 1 ? "hace 1 minuto" : "hace " + std::to_string(minutes) + " minutos";
}

} // namespace

Response pageAnswer(int status, const std::string& title, const std::string& message) {
    return htmlPage(status, title, paragraph(message), false);
}

Response confirmationPage(const ConfirmationText& text, const std::string& action, const std::string& token) {
    std::string main = paragraph("La cuenta de " + text.provider + " «" + text.account +
                                 "» se vinculará a la solicitud de " + text.provider +
                                 " que un launcher hizo " + agoText(text.minutesAgo) + ".");
    if (text.otherNetwork)
        main += paragraph("Pedido desde otra red: esa solicitud no salió de la red desde la que abres esta "
                          "página.");
    if (text.moves)
        main +=
            paragraph(text.provider == "Steam"
                          ? "Esta cuenta ya está abierta en otro launcher; este también podrá usarla."
                          : "Esta cuenta de Discord está vinculada ahora a otra cuenta de Steam y pasará a "
                            "esta.");
    main += paragraph("Confirma solo si acabas de pulsar «Vincular» en tu propio launcher. Si alguien te ha "
                      "enviado este enlace, pulsa Cancelar: no se vinculará nada.");
    main += "<form method=\"post\" action=\"" + escapeHtml(action) +
            "\"><input type=\"hidden\" name=\"token\" value=\"" + escapeHtml(token) +
            "\"><button type=\"submit\" name=\"action\" value=\"confirm\">Confirmar vinculación</button>"
            "<button type=\"submit\" name=\"action\" value=\"cancel\">Cancelar</button></form>";
    Response response = htmlPage(200, "Confirma la vinculación", main, true);
    OPENSSL_cleanse(main.data(), main.size());
    return response;
}
