#include "http/edge.h"
#include "config/document_rules.h"

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <nlohmann/json.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <future>
#include <unistd.h>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace ssl = net::ssl;
using tcp = net::ip::tcp;

namespace {

// Request bytes (a bearer token among them) are overwritten before their memory is given back.
template <class T> struct WipingAllocator {
    using value_type = T;
    WipingAllocator() = default;
    template <class U> WipingAllocator(const WipingAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return std::allocator<T>{}.allocate(n); }
    void deallocate(T* p, std::size_t n) {
        OPENSSL_cleanse(p, n * sizeof(T));
        std::allocator<T>{}.deallocate(p, n);
    }
    template <class U> bool operator==(const WipingAllocator<U>&) const noexcept { return true; }
    template <class U> bool operator!=(const WipingAllocator<U>&) const noexcept { return false; }
};

using RequestParser = http::request_parser<http::string_body, WipingAllocator<char>>;
using ReadBuffer = beast::basic_flat_buffer<WipingAllocator<char>>;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

std::string_view view(beast::string_view text) {
    return {text.data(), text.size()};
}

std::string addressText(const net::ip::address& address) {
    if (address.is_v6() && address.to_v6().is_v4_mapped())
        return net::ip::make_address_v4(net::ip::v4_mapped, address.to_v6()).to_string();
    return address.to_string();
}

// UTC with milliseconds: polls of one client a few seconds apart stay in order and measurable.
std::string logTimestamp(std::chrono::system_clock::time_point at) {
    const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
    std::string text = timestampOf(ms / 1000);
    char fraction[8];
    std::snprintf(fraction, sizeof fraction, ".%03dZ", static_cast<int>(ms % 1000));
    text.pop_back();
    return text + fraction;
}

// What a log line may show of a path: printable ASCII, bounded.
std::string loggable(std::string_view path) {
    std::string text;
    for (char c : path.substr(0, 200))
        text += c > 0x20 && c < 0x7F ? c : '?';
    return text.empty() ? "-" : text;
}

std::int64_t steadyMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

struct Edge {
    EdgeOptions options;
    EdgeHooks hooks;
    net::io_context io;
    // Keeps the network threads running while a request waits on the provider threads and nothing else
    // is pending, as when draining has closed the acceptor: its answer is still to be written.
    net::executor_work_guard<net::io_context::executor_type> busy{io.get_executor()};
    bool servesTls = false;
    std::mutex tlsLock;
    std::shared_ptr<ssl::context>
        tls;                      // replaced whole on reload; each connection keeps the one it began with
    std::atomic<int> inFlight{0}; // requests read and not yet fully answered
    std::atomic<bool> draining{false};
    tcp::acceptor acceptor{io};
    net::steady_timer housekeepingTimer{io};
    net::steady_timer acceptRetry{io};
    net::steady_timer trimTimer{io};
    net::steady_timer summaryTimer{io};
    net::thread_pool providers;
    std::atomic<int> providerWaiting{0}; // requests posted to the provider threads and not yet answered
    std::atomic<std::int64_t> providerQueueFull{0};
    std::vector<std::thread> threads;
    std::once_flag stopped;

    // The connections held, by address key (an address counted only while it holds one).
    std::mutex connectionsLock;
    std::int64_t open = 0;
    std::int64_t peakSinceTrim = 0;
    std::unordered_map<std::string, int> byAddress;
    std::atomic<std::int64_t> refusedMaxConnections{0}, refusedPerAddress{0}, handshakeTimeouts{0},
        requestTimeouts{0}, acceptFailures{0};
    EdgeCounts summarised; // as of the last summary line; only the summary touches it
    // Refusals counted when memory was last given back, and at the last check; only the check touches them.
    std::int64_t refusedAtTrim = 0, refusedAtCheck = 0;

    Edge(const EdgeOptions& o, EdgeHooks h)
        : options(o), hooks(std::move(h)),
          providers(static_cast<std::size_t>(std::max(1, o.providerThreads))) {}
};

namespace {

// Takes a place under the caps for a new connection, or counts why there is none. An empty key is the
// trusted proxy's, held only to the total.
bool admit(Edge& edge, const std::string& key) {
    std::lock_guard guard(edge.connectionsLock);
    if (edge.open >= edge.options.maxConnections) {
        ++edge.refusedMaxConnections;
        return false;
    }
    if (!key.empty()) {
        int& held = edge.byAddress[key];
        if (held >= edge.options.maxConnectionsPerAddress) {
            ++edge.refusedPerAddress;
            return false;
        }
        ++held;
    }
    edge.peakSinceTrim = std::max(edge.peakSinceTrim, ++edge.open);
    return true;
}

void leave(Edge& edge, const std::string& key) {
    std::lock_guard guard(edge.connectionsLock);
    --edge.open;
    if (key.empty())
        return;
    const auto held = edge.byAddress.find(key);
    if (held != edge.byAddress.end() && --held->second <= 0)
        edge.byAddress.erase(held);
}

void accept(const std::shared_ptr<Edge>& edge);

// A connection costs a socket and this object until its first byte arrives; only then are the TLS
// stream and its buffers made, so a flood of silent connections holds next to no memory. Between
// requests the parser and read buffer are let go as well.
template <class Stream> class Connection : public std::enable_shared_from_this<Connection<Stream>> {
  public:
    Connection(const std::shared_ptr<Edge>& edge, tcp::socket&& socket, std::string peer, std::string key)
        : edge_(edge), socket_(std::move(socket)), firstByte_(socket_.get_executor()), peer_(std::move(peer)),
          key_(std::move(key)) {}
    ~Connection() { leave(*edge_, key_); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    void start() {
        firstByte_.expires_after(std::chrono::seconds(edge_->options.handshakeSeconds));
        firstByte_.async_wait([weak = this->weak_from_this()](beast::error_code ec) {
            if (auto self = weak.lock(); self && !ec)
                self->handshakeExpired();
        });
        socket_.async_wait(tcp::socket::wait_read, [self = this->shared_from_this()](beast::error_code ec) {
            if (ec)
                return self->close();
            self->begin();
        });
    }

  private:
    beast::tcp_stream& lowest() { return beast::get_lowest_layer(*stream_); }

    void begin() {
        if constexpr (std::is_same_v<Stream, TlsStream>) {
            {
                std::lock_guard guard(edge_->tlsLock);
                context_ = edge_->tls;
            }
            stream_.emplace(beast::tcp_stream(std::move(socket_)), *context_);
            stream_->async_handshake(ssl::stream_base::server,
                                     [self = this->shared_from_this()](beast::error_code ec) {
                                         if (ec)
                                             return self->close();
                                         self->ready_ = true;
                                         self->firstByte_.cancel();
                                         self->readNext();
                                     });
        } else {
            stream_.emplace(std::move(socket_));
            ready_ = true;
            firstByte_.cancel();
            readNext();
        }
    }

    // Runs on the connection's strand, like every other handler of it; the expiry may have been queued
    // just before the handshake finished.
    void handshakeExpired() {
        if (ready_)
            return;
        ++edge_->handshakeTimeouts;
        close();
    }

    void readNext() {
        parser_.emplace();
        parser_->header_limit(static_cast<std::uint32_t>(edge_limits::HeaderBytes));
        parser_->body_limit(edge_limits::BodyBytes);
        lowest().expires_after(std::chrono::seconds(edge_->options.readSeconds));
        http::async_read_header(
            *stream_, buffer_, *parser_,
            [self = this->shared_from_this()](beast::error_code ec, std::size_t) { self->onHeader(ec); });
    }

    void onHeader(beast::error_code ec) {
        if (ec)
            return onRead(ec);
        if (!wellFramed(parser_->get())) {
            started_ = steadyMicros();
            answering();
            return refuse(400);
        }
        http::async_read(
            *stream_, buffer_, *parser_,
            [self = this->shared_from_this()](beast::error_code ec, std::size_t) { self->onRead(ec); });
    }

    // A request whose end could be read two ways is refused, so no proxy or cache before the service can
    // see a different request in the same bytes: at most one Transfer-Encoding, exactly "chunked", and no
    // Content-Length beside it; exactly one Host.
    template <class Message> static bool wellFramed(const Message& message) {
        const std::size_t encodings = message.count(http::field::transfer_encoding);
        if (encodings > 1 ||
            (encodings == 1 && (!beast::iequals(message[http::field::transfer_encoding], "chunked") ||
                                message.count(http::field::content_length) > 0)))
            return false;
        return message.count(http::field::host) == 1;
    }

    void onRead(beast::error_code ec) {
        started_ = steadyMicros();
        if (!ec || ec == http::error::header_limit || ec == http::error::body_limit ||
            ec.category() == http::make_error_code(http::error::bad_target).category())
            answering();
        if (ec == http::error::header_limit)
            return refuse(431);
        if (ec == http::error::body_limit)
            return refuse(413);
        if (ec == beast::error::timeout && (served_ == 0 || parser_->got_some()))
            ++edge_->requestTimeouts; // an idle kept-alive connection simply ends
        if (ec == http::error::end_of_stream || ec == http::error::partial_message ||
            ec == beast::error::timeout)
            return close();
        if (ec && ec.category() == http::make_error_code(http::error::bad_target).category())
            return refuse(400);
        if (ec)
            return close();
        auto& message = parser_->get();
        request_ = Request{};
        request_.method = std::string(message.method_string());
        const std::string_view target = view(message.target());
        const std::size_t question = target.find('?');
        request_.path = std::string(target.substr(0, question));
        if (question != std::string_view::npos)
            request_.query = std::string(target.substr(question + 1));
        request_.authorization = std::string(message[http::field::authorization]);
        request_.clientAddress = clientAddress(view(message["X-Forwarded-For"]));
        request_.body = message.body();
        keepAlive_ = message.keep_alive();
        forgetRequest(message);
        ++served_;
        if (edge_->hooks.blocks && edge_->hooks.blocks(request_)) {
            if (++edge_->providerWaiting > edge_->options.providerQueue) {
                --edge_->providerWaiting;
                ++edge_->providerQueueFull;
                Response busy = edge_->hooks.busy ? edge_->hooks.busy(request_) : Response{503, {}, "", {}};
                forgetSecrets();
                return send(std::move(busy));
            }
            net::post(edge_->providers, [self = this->shared_from_this()] {
                Response response = self->answer();
                --self->edge_->providerWaiting;
                net::post(self->stream_->get_executor(), [self, response = std::move(response)]() mutable {
                    self->send(std::move(response));
                });
            });
            return;
        }
        send(answer());
    }

    // The parser's copy of the secret headers is wiped now; the record's copies after the answer.
    static void
    forgetRequest(http::request<http::string_body, http::basic_fields<WipingAllocator<char>>>& message) {
        const std::string_view authorization = view(message[http::field::authorization]);
        OPENSSL_cleanse(const_cast<char*>(authorization.data()), authorization.size());
        const std::string_view target = view(message.target());
        OPENSSL_cleanse(const_cast<char*>(target.data()), target.size());
    }

    Response answer() {
        Response response;
        try {
            response = edge_->hooks.handle(request_);
        } catch (const std::exception&) {
            response = Response{500, {{"Content-Type", "application/json"}}, "{\"error\":\"internal\"}", {}};
        }
        forgetSecrets();
        return response;
    }

    void forgetSecrets() {
        OPENSSL_cleanse(request_.authorization.data(), request_.authorization.size());
        OPENSSL_cleanse(request_.query.data(), request_.query.size());
    }

    std::string clientAddress(std::string_view forwarded) {
        if (edge_->options.trustedProxy.empty() || peer_ != edge_->options.trustedProxy || forwarded.empty())
            return peer_;
        // The proxy appends the address it saw last; anything before it was written by the client.
        const std::size_t comma = forwarded.rfind(',');
        std::string last(forwarded.substr(comma == std::string_view::npos ? 0 : comma + 1));
        last.erase(0, last.find_first_not_of(' '));
        last.erase(last.find_last_not_of(' ') + 1);
        beast::error_code ec;
        const auto address = net::ip::make_address(last, ec);
        return ec ? peer_ : addressText(address);
    }

    static std::string pathOf(std::string_view target) {
        return std::string(target.substr(0, target.find('?')));
    }

    void answering() {
        if (!counted_)
            ++edge_->inFlight;
        counted_ = true;
    }

    void answered() {
        if (counted_)
            --edge_->inFlight;
        counted_ = false;
    }

    // Whatever the parser has read of the request line names it in the log line ("-" for nothing); the
    // headers read so far may name the client behind the trusted proxy, the peer otherwise.
    void refuse(int status) {
        const auto& message = parser_->get();
        request_ = Request{};
        request_.method = std::string(message.method_string());
        request_.path = pathOf(view(message.target()));
        request_.clientAddress = clientAddress(view(message["X-Forwarded-For"]));
        keepAlive_ = false;
        send(Response{status, {{"Content-Type", "application/json"}}, "{\"error\":\"request\"}", {}});
    }

    void send(Response response) {
        response_.emplace(static_cast<http::status>(response.status), 11);
        for (const auto& [name, value] : response.headers)
            response_->set(name, value);
        if (edge_->servesTls)
            response_->set(http::field::strict_transport_security, "max-age=31536000");
        response_->body() = std::move(response.body);
        OPENSSL_cleanse(response.body.data(), response.body.size());
        if (edge_->draining)
            keepAlive_ = false;
        response_->keep_alive(keepAlive_);
        response_->prepare_payload();
        // Logged before the answer leaves, so whoever has read it can find its line.
        logAnswer(response.status, response_->body().size(), response.reason);
        lowest().expires_after(std::chrono::seconds(edge_->options.writeSeconds));
        http::async_write(
            *stream_, *response_,
            [self = this->shared_from_this()](beast::error_code ec, std::size_t) { self->onWrite(ec); });
    }

    void onWrite(beast::error_code ec) {
        OPENSSL_cleanse(response_->body().data(), response_->body().size());
        response_.reset();
        answered();
        if (ec || !keepAlive_)
            return close();
        // An idle kept-alive connection holds no parser and no more buffer than a pipelined request needs.
        parser_.reset();
        buffer_.shrink_to_fit();
        readNext();
    }

    // The path is logged without its query; the route is the contract's name for it.
    void logAnswer(int status, std::size_t bytes, const std::string& reason) {
        const double seconds = static_cast<double>(steadyMicros() - started_) / 1e6;
        const std::string route = routeName(request_.method, request_.path);
        if (edge_->hooks.answered)
            edge_->hooks.answered(route, status, seconds, reason);
        if (!edge_->hooks.log)
            return;
        nlohmann::json line = {{"time", logTimestamp(std::chrono::system_clock::now())},
                               {"client", loggable(request_.clientAddress)},
                               {"method", loggable(request_.method)},
                               {"route", route},
                               {"path", loggable(request_.path)},
                               {"status", status},
                               {"bytes", bytes},
                               {"duration_ms", std::round(seconds * 1e5) / 100}};
        if (!reason.empty())
            line["reason"] = reason;
        edge_->hooks.log(line.dump());
    }

    void close() {
        answered();
        firstByte_.cancel();
        beast::error_code ignored;
        if (!stream_) {
            socket_.shutdown(tcp::socket::shutdown_both, ignored);
            socket_.close(ignored);
            return;
        }
        lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
        lowest().close();
    }

    std::shared_ptr<Edge> edge_;
    tcp::socket socket_; // until the first byte; then moved into stream_
    net::steady_timer firstByte_;
    std::shared_ptr<ssl::context> context_; // outlives stream_, which refers to it
    std::optional<Stream> stream_;
    std::string peer_;
    std::string key_;
    ReadBuffer buffer_;
    std::optional<RequestParser> parser_;
    std::optional<http::response<http::string_body>> response_;
    Request request_;
    bool keepAlive_ = false;
    bool counted_ = false;
    bool ready_ = false; // handshake done (plain HTTP: first byte seen)
    std::int64_t served_ = 0;
    std::int64_t started_ = 0;
};

void accept(const std::shared_ptr<Edge>& edge) {
    edge->acceptor.async_accept(net::make_strand(edge->io), [edge](beast::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted)
            return;
        if (ec) {
            // Out of descriptors, most likely: wait for connections to end rather than spin.
            ++edge->acceptFailures;
            edge->acceptRetry.expires_after(std::chrono::milliseconds(100));
            edge->acceptRetry.async_wait([edge](beast::error_code waited) {
                if (!waited)
                    accept(edge);
            });
            return;
        }
        beast::error_code failed, ignored;
        const auto endpoint = socket.remote_endpoint(failed);
        const std::string peer = failed ? std::string() : addressText(endpoint.address());
        const bool proxy = !edge->options.trustedProxy.empty() && peer == edge->options.trustedProxy;
        const std::string key = proxy ? std::string() : addressKey(peer);
        if (failed || !admit(*edge, key)) {
            // A reset rather than a close: no TIME_WAIT left behind for each of a flood.
            socket.set_option(net::socket_base::linger(true, 0), ignored);
            socket.close(ignored);
        } else {
            socket.set_option(tcp::no_delay(true), ignored);
            if (edge->servesTls)
                std::make_shared<Connection<TlsStream>>(edge, std::move(socket), peer, key)->start();
            else
                std::make_shared<Connection<beast::tcp_stream>>(edge, std::move(socket), peer, key)->start();
        }
        accept(edge);
    });
}

// After a burst has gone, the allocator's freed pages go back to the system: without this the resident
// memory of the busiest moment stays with the process. A burst is connections held and closed, or
// connections refused, that have stopped.
void scheduleTrim(const std::shared_ptr<Edge>& edge) {
    edge->trimTimer.expires_after(std::chrono::seconds(edge_limits::TrimCheckSeconds));
    edge->trimTimer.async_wait([edge](beast::error_code ec) {
        if (ec)
            return;
        const std::int64_t refused = edge->refusedMaxConnections + edge->refusedPerAddress;
        bool trim =
            refused - edge->refusedAtTrim >= edge_limits::TrimAfterClosed && refused == edge->refusedAtCheck;
        edge->refusedAtCheck = refused;
        {
            std::lock_guard guard(edge->connectionsLock);
            trim = trim || (edge->peakSinceTrim - edge->open >= edge_limits::TrimAfterClosed &&
                            edge->open <= edge->peakSinceTrim / 2);
            if (trim)
                edge->peakSinceTrim = edge->open;
        }
        if (trim) {
            edge->refusedAtTrim = refused;
            net::post(edge->providers, [] { returnFreeMemory(); });
        }
        scheduleTrim(edge);
    });
}

// One line for every connection refused or cut since the last, never one per connection.
void summarise(Edge& edge) {
    const EdgeCounts now = edgeCounts(edge);
    const EdgeCounts& then = edge.summarised;
    const nlohmann::json fields = {
        {"open", now.open},
        {"refused_max_connections", now.refusedMaxConnections - then.refusedMaxConnections},
        {"refused_per_address", now.refusedPerAddress - then.refusedPerAddress},
        {"handshake_timeouts", now.handshakeTimeouts - then.handshakeTimeouts},
        {"request_timeouts", now.requestTimeouts - then.requestTimeouts},
        {"accept_failures", now.acceptFailures - then.acceptFailures},
    };
    bool any = false;
    for (const auto& [name, value] : fields.items())
        any = any || (name != "open" && value.get<std::int64_t>() != 0);
    if (!any || !edge.hooks.log)
        return;
    edge.summarised = now;
    edge.hooks.log(eventLogLine("connections", fields));
}

void scheduleSummary(const std::shared_ptr<Edge>& edge) {
    edge->summaryTimer.expires_after(std::chrono::seconds(edge->options.summarySeconds));
    edge->summaryTimer.async_wait([edge](beast::error_code ec) {
        if (ec)
            return;
        summarise(*edge);
        scheduleSummary(edge);
    });
}

// The reactor keeps each socket's registration (about 170 bytes) for the next socket and never frees it.
// Made one after another now, they sit together; made during a flood, each would sit among its
// connection's freed memory and keep those pages from ever going back to the system.
void reserveRegistrations(net::io_context& io, int count) {
    std::vector<tcp::socket> sockets;
    sockets.reserve(static_cast<std::size_t>(count));
    beast::error_code ec;
    for (int i = 0; i < count && !ec; ++i)
        sockets.emplace_back(io).open(tcp::v4(), ec);
}

void scheduleHousekeeping(const std::shared_ptr<Edge>& edge) {
    if (!edge->hooks.housekeeping)
        return;
    edge->housekeepingTimer.expires_after(std::chrono::seconds(edge->options.housekeepingSeconds));
    edge->housekeepingTimer.async_wait([edge](beast::error_code ec) {
        if (ec)
            return;
        net::post(edge->providers, [edge] { edge->hooks.housekeeping(); });
        scheduleHousekeeping(edge);
    });
}

// Why a file cannot be opened (permission denied, missing ...), or empty when it can.
std::string unopenable(const std::string& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return {};
    }
    const int why = errno;
    std::string reason = "cannot open " + file + ": " + std::strerror(why);
    if (why == EACCES)
        reason += " (the service's user cannot read it: copy the pair for it, as the certbot deploy hook "
                  "does)";
    return reason;
}

// OpenSSL's own words for the last failure, cleared for the next step.
std::string opensslReason() {
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code ? ERR_reason_error_string(code) : nullptr;
    ERR_clear_error();
    return reason ? reason : "unknown error";
}

// An encrypted key is refused at once instead of OpenSSL asking for a pass phrase on a terminal.
int noPassphrase(char*, int, int, void*) {
    return 0;
}

// The reason of a refused pair tells the three cases apart: the service's user cannot read a file, a file
// is not a PEM certificate chain or key, or the key is not the certificate's.
bool makeTls(std::shared_ptr<ssl::context>& tls, const std::string& certificateFile,
             const std::string& privateKeyFile, std::string& error) {
    tls = std::make_shared<ssl::context>(ssl::context::tls_server);
    ssl::context& context = *tls;
    context.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                        ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
    SSL_CTX* native = context.native_handle();
    SSL_CTX_set_min_proto_version(native, TLS1_2_VERSION);
    // TLS 1.2 only with forward secrecy and an AEAD cipher; TLS 1.3's suites are OpenSSL's own.
    SSL_CTX_set_cipher_list(native, edge_limits::Tls12Ciphers);
    SSL_CTX_set_options(native, SSL_OP_CIPHER_SERVER_PREFERENCE | SSL_OP_NO_RENEGOTIATION);
    // OpenSSL's record buffers are freed while a connection waits between requests.
    SSL_CTX_set_mode(native, SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_default_passwd_cb(native, noPassphrase);
    for (const std::string* file : {&certificateFile, &privateKeyFile})
        if (!(error = unopenable(*file)).empty())
            return false;
    ERR_clear_error();
    if (SSL_CTX_use_certificate_chain_file(native, certificateFile.c_str()) != 1) {
        error = "cannot parse " + certificateFile + " as a PEM certificate chain: " + opensslReason();
        return false;
    }
    if (SSL_CTX_use_PrivateKey_file(native, privateKeyFile.c_str(), SSL_FILETYPE_PEM) != 1) {
        const unsigned long code = ERR_peek_last_error();
        // OpenSSL checks the key against the certificate as it loads it.
        if (ERR_GET_LIB(code) == ERR_LIB_X509 && ERR_GET_REASON(code) == X509_R_KEY_VALUES_MISMATCH) {
            ERR_clear_error();
            error =
                "the private key " + privateKeyFile + " does not match the certificate " + certificateFile;
        } else {
            error = "cannot parse " + privateKeyFile + " as a PEM private key: " + opensslReason();
        }
        return false;
    }
    if (SSL_CTX_check_private_key(native) != 1) {
        ERR_clear_error();
        error = "the private key " + privateKeyFile + " does not match the certificate " + certificateFile;
        return false;
    }
    return true;
}

} // namespace

bool checkTlsFiles(const std::string& certificateFile, const std::string& privateKeyFile,
                   std::string& error) {
    std::shared_ptr<ssl::context> tls;
    return makeTls(tls, certificateFile, privateKeyFile, error);
}

std::shared_ptr<Edge> startEdge(const EdgeOptions& options, EdgeHooks hooks, std::string& error) {
    auto edge = std::make_shared<Edge>(options, std::move(hooks));
    edge->servesTls = !options.certificateFile.empty();
    if (edge->servesTls && !makeTls(edge->tls, options.certificateFile, options.privateKeyFile, error))
        return nullptr;
    beast::error_code ec;
    const auto address = net::ip::make_address(options.address, ec);
    const tcp::endpoint endpoint(address, options.port);
    if (!ec)
        edge->acceptor.open(endpoint.protocol(), ec);
    if (!ec)
        edge->acceptor.set_option(net::socket_base::reuse_address(true), ec);
    if (!ec)
        edge->acceptor.bind(endpoint, ec);
    if (!ec)
        edge->acceptor.listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        error =
            "cannot listen on " + options.address + ":" + std::to_string(options.port) + ": " + ec.message();
        return nullptr;
    }
    // Those of the connections held at most, the one refused past them and the acceptor.
    reserveRegistrations(edge->io, options.maxConnections + 2);
    accept(edge);
    scheduleHousekeeping(edge);
    scheduleTrim(edge);
    scheduleSummary(edge);
    for (int i = 0; i < std::max(1, options.threads); ++i)
        edge->threads.emplace_back([edge = edge.get()] { edge->io.run(); });
    return edge;
}

std::uint16_t edgePort(const Edge& edge) {
    beast::error_code ignored;
    return edge.acceptor.local_endpoint(ignored).port();
}

EdgeCounts edgeCounts(Edge& edge) {
    EdgeCounts counts;
    {
        std::lock_guard guard(edge.connectionsLock);
        counts.open = edge.open;
    }
    counts.refusedMaxConnections = edge.refusedMaxConnections;
    counts.refusedPerAddress = edge.refusedPerAddress;
    counts.handshakeTimeouts = edge.handshakeTimeouts;
    counts.requestTimeouts = edge.requestTimeouts;
    counts.acceptFailures = edge.acceptFailures;
    counts.providerQueueFull = edge.providerQueueFull;
    counts.providerWaiting = edge.providerWaiting;
    return counts;
}

const EdgeOptions& edgeOptions(const Edge& edge) {
    return edge.options;
}

void stopEdge(Edge& edge) {
    std::call_once(edge.stopped, [&] {
        edge.io.stop();
        for (std::thread& thread : edge.threads)
            if (thread.joinable() && thread.get_id() != std::this_thread::get_id())
                thread.join();
        edge.providers.join();
        summarise(edge); // what the last minute refused is not lost with the process
    });
}

void drainEdge(Edge& edge) {
    edge.draining = true;
    auto closed = std::make_shared<std::promise<void>>();
    net::post(edge.io, [&edge, closed] {
        beast::error_code ignored;
        edge.acceptor.close(ignored);
        closed->set_value();
    });
    // An edge already stopped runs nothing posted to it.
    if (closed->get_future().wait_for(std::chrono::seconds(edge.options.drainSeconds)) !=
        std::future_status::ready)
        return stopEdge(edge);
    // Idle keep-alive connections hold no request: they end with the edge. Those mid-request are waited for.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(edge.options.drainSeconds);
    while (edge.inFlight > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stopEdge(edge);
}

bool reloadCertificate(Edge& edge, std::string& error) {
    if (!edge.servesTls) {
        error = "the service speaks plain HTTP behind a reverse proxy: no certificate to reload";
        return false;
    }
    std::shared_ptr<ssl::context> fresh;
    if (!makeTls(fresh, edge.options.certificateFile, edge.options.privateKeyFile, error))
        return false;
    std::lock_guard guard(edge.tlsLock);
    edge.tls = std::move(fresh);
    return true;
}

std::string eventLogLine(const std::string& event, const nlohmann::json& fields) {
    nlohmann::json line = {{"time", logTimestamp(std::chrono::system_clock::now())}, {"event", event}};
    if (fields.is_object())
        for (const auto& [name, value] : fields.items())
            line[name] = value;
    return line.dump();
}

void serveUntilSignal(Edge& edge, const std::function<void()>& ready, const std::function<void()>& hangup) {
    net::io_context signalIo;
    net::signal_set signals(signalIo, SIGINT, SIGTERM, SIGHUP);
    std::function<void(beast::error_code, int)> onSignal = [&](beast::error_code ec, int number) {
        if (ec || number != SIGHUP)
            return;
        std::string error;
        if (edge.servesTls) {
            const bool loaded = reloadCertificate(edge, error);
            if (edge.hooks.log)
                edge.hooks.log(loaded ? eventLogLine("certificate_reloaded", {})
                                      : eventLogLine("certificate_refused", {{"reason", error}}));
        }
        if (hangup)
            hangup();
        signals.async_wait(onSignal);
    };
    signals.async_wait(onSignal);
    if (ready)
        ready();
    signalIo.run();
    drainEdge(edge);
}
