#include "load_worker.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <nlohmann/json.hpp>

#include <cmath>
#include <deque>
#include <memory>
#include <optional>

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

namespace {

constexpr std::size_t kBodyLimit = 64 * 1024;
constexpr auto kWarmUpLimit = std::chrono::seconds(10);
constexpr auto kSessionsLimit = std::chrono::seconds(600);
// The schedule is checked at least this far apart: a request may leave up to this late, and since its
// latency counts from its scheduled time, that delay is in the figures, not hidden.
constexpr auto kTick = std::chrono::microseconds(500);

struct Job {
    BenchClock::time_point scheduled;
    std::uint64_t index = 0;
    bool retried = false;
};

enum class Mode { Poll, Sessions };
enum class Stage { Connect, Handshake, Write, Read };

class Worker;

// One client connection slot. Without keep-alive it opens a fresh TLS connection for every job.
class Conn : public std::enable_shared_from_this<Conn> {
  public:
    explicit Conn(Worker& worker) : worker_(worker) {}
    void warm() { open(); }
    void send(const Job& job);
    void abort(); // the run's hard stop: pending operations end with operation_aborted
    bool busy() const { return job_.has_value(); }
    void dropJob() { job_.reset(); }

  private:
    void open();
    void onConnect(beast::error_code ec);
    void onHandshake(beast::error_code ec);
    void write();
    void onRead(beast::error_code ec);
    void fail(Stage stage, beast::error_code ec);
    void closeStream();

    Worker& worker_;
    std::optional<beast::ssl_stream<beast::tcp_stream>> stream_;
    beast::flat_buffer buffer_;
    http::request<http::string_body> request_;
    std::optional<http::response_parser<http::string_body>> parser_;
    std::optional<Job> job_;
    bool open_ = false;
    int served_ = 0; // answers on the current TLS connection
};

class Worker {
  public:
    Worker(const LoadPlan& plan, WorkerShare share, Mode mode, int connections)
        : plan_(plan), share_(share), mode_(mode), tick_(io_), stop_(io_),
          endpoint_(asio::ip::make_address(plan.options.address),
                    static_cast<unsigned short>(std::stoi(plan.options.port))) {
        for (int i = 0; i < connections; ++i)
            pool_.push_back(std::make_shared<Conn>(*this));
    }

    asio::io_context& io() { return io_; }
    const BenchOptions& options() const { return plan_.options; }
    asio::ssl::context& tls() { return plan_.tls; }
    const tcp::endpoint& endpoint() const { return endpoint_; }
    bool stopping() const { return stopping_; }
    // Sessions are always made over kept-alive connections: only the polling is measured.
    bool keepAlive() const { return mode_ == Mode::Sessions || plan_.options.keepAlive; }
    RunStats& stats() { return stats_; }
    std::vector<std::string>& tokens() { return tokensOut_; }

    // Kept-alive connections are opened before the clock starts, as a launcher's would already be.
    void warmUp() {
        if (!options().keepAlive || mode_ != Mode::Poll)
            return;
        warming_ = static_cast<int>(pool_.size());
        for (auto& conn : pool_)
            conn->warm();
        const auto limit = BenchClock::now() + kWarmUpLimit;
        while (warming_ > 0 && BenchClock::now() < limit)
            io_.run_one_for(std::chrono::milliseconds(100));
    }

    void onWarm(bool ok) {
        --warming_;
        if (!ok)
            ++stats_.warmFailures;
    }

    void runPoll(BenchClock::time_point start) {
        start_ = start;
        const double rate = options().rate / share_.count;
        phase_ = static_cast<double>(share_.index) / share_.count;
        end_ = start_ + seconds(options().seconds);
        if (options().saturate) {
            total_ = 0;
        } else {
            rate_ = rate;
            const double count = std::ceil(options().seconds * rate - phase_);
            total_ = count > 0 ? static_cast<std::uint64_t>(count) : 0;
        }
        idle_.clear();
        for (auto& conn : pool_)
            idle_.push_back(conn.get());
        tick_.expires_at(start_);
        tick_.async_wait([this](beast::error_code ec) {
            if (!ec)
                onTick();
        });
        armHardStop(end_ + std::chrono::milliseconds(options().timeoutMs) + std::chrono::seconds(1));
        io_.restart();
        io_.run();
    }

    void runSessions(std::uint64_t count) {
        start_ = BenchClock::now();
        end_ = start_ + kSessionsLimit;
        total_ = count;
        for (auto& conn : pool_) {
            if (issued_ >= total_)
                break;
            startNow(*conn);
        }
        armHardStop(end_);
        io_.run();
    }

    void fillRequest(const Job& job, http::request<http::string_body>& request) const {
        const BenchOptions& o = options();
        request = {};
        request.version(11);
        request.set(http::field::host, o.host);
        request.set(http::field::user_agent, "orvane-link-bench");
        request.set(http::field::accept, "application/json");
        request.keep_alive(keepAlive());
        // Polling alternates the two documents; a starting launcher first asks for its session.
        const std::uint64_t step = o.startups ? job.index % 3 : job.index % 2 + 1;
        if (mode_ == Mode::Sessions || step == 0) {
            request.method(http::verb::post);
            request.target(o.basePath + "/sessions");
            request.set(http::field::content_type, "application/json");
            request.body() = "{}";
        } else if (plan_.tokens.empty() || step == 1) {
            request.method(http::verb::get);
            request.target(o.basePath + "/config");
        } else {
            request.method(http::verb::get);
            request.target(o.basePath + "/session");
            request.set(http::field::authorization,
                        "Bearer " + plan_.tokens[(job.index / (o.startups ? 3 : 2)) % plan_.tokens.size()]);
        }
        request.prepare_payload();
    }

    void onAnswer(const Job& job, int status, const std::string& body) {
        const auto now = BenchClock::now();
        ++stats_.byStatus[status];
        const auto micros =
            std::chrono::duration_cast<std::chrono::microseconds>(now - job.scheduled).count();
        stats_.latencyUs.push_back(static_cast<std::uint32_t>(std::min<long long>(micros, UINT32_MAX)));
        stats_.lastAnswerSeconds = std::max(stats_.lastAnswerSeconds, toSeconds(now - start_));
        if (mode_ == Mode::Sessions && status == 201)
            keepToken(body);
    }

    void onFailure(Failure failure) { ++stats_.failures[failure]; }
    void onStaleRetry() { ++stats_.staleRetries; }

    // A connection finished its job: it takes the next one, or waits.
    void release(Conn& conn) {
        --busy_;
        if (stopping_)
            return;
        if (!pending_.empty()) {
            const Job job = pending_.front();
            pending_.pop_front();
            ++busy_;
            conn.send(job);
        } else if (issuesOnAnswer() && issued_ < total_) {
            startNow(conn);
        } else {
            idle_.push_back(&conn);
        }
        finishIfDone();
    }

  private:
    static BenchClock::duration seconds(double value) {
        return std::chrono::duration_cast<BenchClock::duration>(std::chrono::duration<double>(value));
    }
    static double toSeconds(BenchClock::duration d) { return std::chrono::duration<double>(d).count(); }

    bool issuesOnAnswer() const { return mode_ == Mode::Sessions || options().saturate; }

    void startNow(Conn& conn) {
        ++busy_;
        ++stats_.sent;
        conn.send(Job{BenchClock::now(), issued_++ * share_.count + share_.index, false});
    }

    void onTick() {
        if (stopping_)
            return;
        const auto now = BenchClock::now();
        if (options().saturate) {
            if (now < end_) {
                // Every connection starts asking; each asks again when answered, until the end.
                total_ = UINT64_MAX;
                for (Conn* conn : idle_)
                    startNow(*conn);
                idle_.clear();
                tick_.expires_at(end_);
                tick_.async_wait([this](beast::error_code ec) {
                    if (!ec)
                        onTick();
                });
            } else {
                total_ = issued_;
                finishIfDone();
            }
            return;
        }
        // Request k is due at start + (k + phase) / rate, whenever this timer happens to wake.
        const double elapsed = toSeconds(now - start_) * rate_ - phase_;
        std::uint64_t due = elapsed < 0 ? 0 : static_cast<std::uint64_t>(std::floor(elapsed)) + 1;
        due = std::min(due, total_);
        for (; issued_ < due; ++issued_) {
            const auto at = start_ + seconds((static_cast<double>(issued_) + phase_) / rate_);
            pending_.push_back(Job{at, issued_ * share_.count + share_.index, false});
            ++stats_.sent;
        }
        while (!pending_.empty() && !idle_.empty()) {
            Conn* conn = idle_.front();
            idle_.pop_front();
            const Job job = pending_.front();
            pending_.pop_front();
            ++busy_;
            conn->send(job);
        }
        if (issued_ < total_) {
            const auto next = start_ + seconds((static_cast<double>(issued_) + phase_) / rate_);
            tick_.expires_at(std::max(next, now + kTick));
            tick_.async_wait([this](beast::error_code ec) {
                if (!ec)
                    onTick();
            });
        }
        finishIfDone();
    }

    void finishIfDone() {
        if (stopping_ || issued_ < total_ || !pending_.empty() || busy_ > 0)
            return;
        stopping_ = true;
        tick_.cancel();
        stop_.cancel();
        for (auto& conn : pool_)
            conn->abort();
    }

    void armHardStop(BenchClock::time_point at) {
        stop_.expires_at(at);
        stop_.async_wait([this](beast::error_code ec) {
            if (ec || stopping_)
                return;
            // Whatever is still queued or on the way now will never count as answered.
            stats_.failures[Failure::Unfinished] += pending_.size();
            pending_.clear();
            for (auto& conn : pool_) {
                if (conn->busy()) {
                    ++stats_.failures[Failure::Unfinished];
                    conn->dropJob();
                }
            }
            busy_ = 0;
            issued_ = total_;
            stopping_ = true;
            tick_.cancel();
            for (auto& conn : pool_)
                conn->abort();
        });
    }

    void keepToken(const std::string& body) {
        const auto document = nlohmann::json::parse(body, nullptr, false);
        if (!document.is_object() || !document.contains("token") || !document["token"].is_string())
            return;
        const std::string token = document["token"].get<std::string>();
        if (isSessionToken(token))
            tokensOut_.push_back(token);
    }

    asio::io_context io_;
    const LoadPlan& plan_;
    WorkerShare share_;
    Mode mode_;
    asio::steady_timer tick_;
    asio::steady_timer stop_;
    tcp::endpoint endpoint_;
    std::vector<std::shared_ptr<Conn>> pool_;
    std::deque<Conn*> idle_;
    std::deque<Job> pending_;
    RunStats stats_;
    std::vector<std::string> tokensOut_;
    BenchClock::time_point start_{};
    BenchClock::time_point end_{};
    double rate_ = 0;
    double phase_ = 0;
    std::uint64_t total_ = 0;
    std::uint64_t issued_ = 0;
    int busy_ = 0;
    int warming_ = 0;
    bool stopping_ = false;
};

void Conn::open() {
    const BenchOptions& o = worker_.options();
    closeStream();
    stream_.emplace(worker_.io(), worker_.tls());
    buffer_.clear();
    served_ = 0;
    SSL_set_tlsext_host_name(stream_->native_handle(), o.host.c_str());
    stream_->set_verify_callback(asio::ssl::host_name_verification(o.host));
    beast::get_lowest_layer(*stream_).expires_after(std::chrono::milliseconds(o.timeoutMs));
    beast::get_lowest_layer(*stream_).async_connect(
        worker_.endpoint(), [self = shared_from_this()](beast::error_code ec) { self->onConnect(ec); });
}

void Conn::onConnect(beast::error_code ec) {
    if (worker_.stopping())
        return;
    if (ec)
        return fail(Stage::Connect, ec);
    // A request written right after an answer must not wait for the delayed ACK.
    beast::get_lowest_layer(*stream_).socket().set_option(tcp::no_delay(true), ec);
    stream_->async_handshake(asio::ssl::stream_base::client,
                             [self = shared_from_this()](beast::error_code e) { self->onHandshake(e); });
}

void Conn::onHandshake(beast::error_code ec) {
    if (worker_.stopping())
        return;
    if (ec)
        return fail(Stage::Handshake, ec);
    open_ = true;
    if (!job_) {
        beast::get_lowest_layer(*stream_).expires_never();
        worker_.onWarm(true);
        return;
    }
    ++worker_.stats().handshakes; // only those made for a request: the pool's opening is not measured
    write();
}

void Conn::send(const Job& job) {
    job_ = job;
    worker_.fillRequest(job, request_);
    if (!open_)
        return open();
    beast::get_lowest_layer(*stream_).expires_after(std::chrono::milliseconds(worker_.options().timeoutMs));
    write();
}

void Conn::write() {
    http::async_write(*stream_, request_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
        if (self->worker_.stopping())
            return;
        if (ec)
            return self->fail(Stage::Write, ec);
        self->parser_.emplace();
        self->parser_->body_limit(kBodyLimit);
        http::async_read(*self->stream_, self->buffer_, *self->parser_,
                         [self](beast::error_code e, std::size_t) { self->onRead(e); });
    });
}

void Conn::onRead(beast::error_code ec) {
    if (worker_.stopping())
        return;
    if (ec)
        return fail(Stage::Read, ec);
    ++served_;
    const auto& response = parser_->get();
    if (!worker_.keepAlive() || !response.keep_alive())
        closeStream();
    else
        beast::get_lowest_layer(*stream_).expires_never();
    const Job job = *job_;
    job_.reset();
    worker_.onAnswer(job, response.result_int(), response.body());
    worker_.release(*this);
}

void Conn::fail(Stage stage, beast::error_code ec) {
    const bool reused = served_ > 0;
    const bool nothingBack = stage == Stage::Write || (stage == Stage::Read && !parser_->got_some());
    closeStream();
    if (!job_) {
        worker_.onWarm(false);
        return;
    }
    // A kept-alive connection the service closed while it was idle: ask again on a new one, as a client does.
    if (reused && nothingBack && ec != beast::error::timeout && !job_->retried) {
        worker_.onStaleRetry();
        Job again = *job_;
        again.retried = true;
        return send(again);
    }
    Failure failure = Failure::Read;
    if (ec == beast::error::timeout)
        failure = Failure::Timeout;
    else if (stage == Stage::Connect)
        failure = Failure::Connect;
    else if (stage == Stage::Handshake)
        failure = Failure::Tls;
    else if (stage == Stage::Write)
        failure = Failure::Write;
    worker_.onFailure(failure);
    job_.reset();
    worker_.release(*this);
}

void Conn::closeStream() {
    open_ = false;
    if (!stream_)
        return;
    // No close_notify: the launcher's connection is simply gone when it is done, and a stalled peer
    // must not hold the slot.
    beast::get_lowest_layer(*stream_).close();
    stream_.reset();
}

void Conn::abort() {
    open_ = false;
    if (stream_)
        beast::get_lowest_layer(*stream_).close();
}

} // namespace

bool isSessionToken(const std::string& text) {
    return text.size() == 43 &&
           text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_") ==
               std::string::npos;
}

RunStats runLoadShare(const LoadPlan& plan, WorkerShare share, std::latch& ready,
                      std::shared_future<BenchClock::time_point> start) {
    const int connections = std::max(1, defaultConnections(plan.options) / share.count);
    Worker worker(plan, share, Mode::Poll, connections);
    worker.warmUp();
    ready.count_down();
    worker.runPoll(start.get());
    return worker.stats();
}

RunStats createSessions(const LoadPlan& plan, int count, std::vector<std::string>& tokens) {
    Worker worker(plan, WorkerShare{}, Mode::Sessions, std::min(count, 8));
    worker.runSessions(static_cast<std::uint64_t>(count));
    tokens.insert(tokens.end(), worker.tokens().begin(), worker.tokens().end());
    return worker.stats();
}

std::string setUpClientTls(asio::ssl::context& tls, const std::string& caFile) {
    beast::error_code ec;
    tls.load_verify_file(caFile, ec);
    if (ec)
        return "cannot load the CA file " + caFile + ": " + ec.message();
    tls.set_verify_mode(asio::ssl::verify_peer, ec);
    return "";
}
