#include "slow_clients.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

namespace asio = boost::asio;
namespace beast = boost::beast;
using tcp = asio::ip::tcp;
using SlowClock = std::chrono::steady_clock;

namespace {

double since(SlowClock::time_point from) {
    return std::chrono::duration<double>(SlowClock::now() - from).count();
}

enum class SlowKind { Silent, Trickle, SilentTcp };

class SlowConn : public std::enable_shared_from_this<SlowConn> {
  public:
    SlowConn(asio::io_context& io, asio::ssl::context& tls, const BenchOptions& options, SlowKind kind,
             SlowGroupReport& report, std::atomic<int>& settled)
        : stream_(io, tls), timer_(io), options_(options), kind_(kind), report_(report), settled_(settled) {
        request_ = "GET " + options.basePath + "/config HTTP/1.1\r\nHost: " + options.host + "\r\n\r\n";
    }

    void start(const tcp::endpoint& endpoint) {
        SSL_set_tlsext_host_name(stream_.native_handle(), options_.host.c_str());
        stream_.set_verify_callback(asio::ssl::host_name_verification(options_.host));
        beast::get_lowest_layer(stream_).expires_after(std::chrono::seconds(10));
        beast::get_lowest_layer(stream_).async_connect(
            endpoint, [self = shared_from_this()](beast::error_code ec) {
                if (ec)
                    return self->settle();
                if (self->kind_ == SlowKind::SilentTcp)
                    return self->waitForEnd(beast::get_lowest_layer(self->stream_));
                self->stream_.async_handshake(asio::ssl::stream_base::client,
                                              [self](beast::error_code e) { self->onHandshake(e); });
            });
    }

    void close() {
        closing_ = true;
        timer_.cancel();
        beast::get_lowest_layer(stream_).close();
    }

  private:
    void settle() {
        if (!settledOnce_) {
            settledOnce_ = true;
            ++settled_;
        }
    }

    void onHandshake(beast::error_code ec) {
        if (ec)
            return settle();
        waitForEnd(stream_);
        if (kind_ == SlowKind::Trickle)
            sendNextByte();
    }

    // Whatever comes back, or the connection's end, tells when the service gave up on it.
    template <class Stream> void waitForEnd(Stream& stream) {
        settle();
        ++report_.opened;
        opened_ = SlowClock::now();
        beast::get_lowest_layer(stream_).expires_never();
        stream.async_read_some(
            asio::buffer(answer_),
            [self = shared_from_this()](beast::error_code e, std::size_t n) { self->onServiceEnd(e, n); });
    }

    void sendNextByte() {
        if (closing_ || ended_ || sent_ >= request_.size())
            return;
        asio::async_write(stream_, asio::buffer(request_.data() + sent_, 1),
                          [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              if (ec)
                                  return;
                              ++self->sent_;
                              ++self->report_.bytesSent;
                              self->timer_.expires_after(std::chrono::seconds(1));
                              self->timer_.async_wait([self](beast::error_code e) {
                                  if (!e)
                                      self->sendNextByte();
                              });
                          });
    }

    void onServiceEnd(beast::error_code ec, std::size_t bytes) {
        if (closing_)
            return;
        ended_ = true;
        timer_.cancel();
        ++report_.closedByService;
        report_.closedAfterSeconds.push_back(since(opened_));
        if (!ec && bytes > 0) {
            ++report_.answered;
            if (report_.firstAnswer.empty()) {
                const std::string text(answer_.data(), bytes);
                report_.firstAnswer = text.substr(0, text.find('\r'));
            }
        }
        beast::get_lowest_layer(stream_).close();
    }

    beast::ssl_stream<beast::tcp_stream> stream_;
    asio::steady_timer timer_;
    const BenchOptions& options_;
    SlowKind kind_;
    SlowGroupReport& report_;
    std::atomic<int>& settled_;
    std::string request_;
    std::array<char, 256> answer_{};
    std::size_t sent_ = 0;
    SlowClock::time_point opened_{};
    bool settledOnce_ = false;
    bool ended_ = false;
    bool closing_ = false;
};

} // namespace

struct SlowClients::State {
    const BenchOptions& options;
    asio::ssl::context& tls;
    asio::io_context io;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> guard;
    std::thread thread;
    std::vector<std::shared_ptr<SlowConn>> conns;
    SlowReport report;
    std::atomic<int> settled{0};
    SlowClock::time_point openedAt{};

    State(const BenchOptions& o, asio::ssl::context& t) : options(o), tls(t) {}
};

SlowClients::SlowClients(const BenchOptions& options, asio::ssl::context& tls)
    : state_(std::make_unique<State>(options, tls)) {}

SlowClients::~SlowClients() {
    if (state_->thread.joinable())
        finish();
}

void SlowClients::open() {
    State& s = *state_;
    s.report.idle.asked = s.options.idle;
    s.report.trickle.asked = s.options.trickle;
    s.report.silentTcp.asked = s.options.silentTcp;
    const tcp::endpoint endpoint(asio::ip::make_address(s.options.address),
                                 static_cast<unsigned short>(std::stoi(s.options.port)));
    const std::pair<SlowKind, SlowGroupReport*> groups[] = {
        {SlowKind::Silent, &s.report.idle},
        {SlowKind::Trickle, &s.report.trickle},
        {SlowKind::SilentTcp, &s.report.silentTcp},
    };
    for (const auto& [kind, report] : groups) {
        for (int i = 0; i < report->asked; ++i) {
            auto conn = std::make_shared<SlowConn>(s.io, s.tls, s.options, kind, *report, s.settled);
            s.conns.push_back(conn);
            conn->start(endpoint);
        }
    }
    s.guard.emplace(s.io.get_executor());
    s.thread = std::thread([&s] { s.io.run(); });
    const int total = static_cast<int>(s.conns.size());
    const auto limit = SlowClock::now() + std::chrono::seconds(10);
    while (s.settled.load() < total && SlowClock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    s.openedAt = SlowClock::now();
}

SlowReport SlowClients::finish() {
    State& s = *state_;
    asio::post(s.io, [&s] {
        for (auto& conn : s.conns)
            conn->close();
    });
    s.guard.reset();
    s.thread.join();
    s.report.heldSeconds = since(s.openedAt);
    return s.report;
}
