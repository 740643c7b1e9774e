#include "support/test_client.h"

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
namespace ssl = net::ssl;

TestClient::TestClient(std::uint16_t port, const std::string& caFile) {
    const net::ip::tcp::endpoint endpoint(net::ip::make_address("127.0.0.1"), port);
    if (caFile.empty()) {
        plain_.emplace(io_);
    } else {
        context_.load_verify_file(caFile);
        context_.set_verify_mode(ssl::verify_peer);
        tls_.emplace(io_, context_);
        tls_->set_verify_callback(ssl::rfc2818_verification("localhost"));
    }
    connected_ = !run([&](auto done) { lowest().async_connect(endpoint, done); });
    if (connected_ && tls_)
        connected_ = !run([&](auto done) { tls_->async_handshake(ssl::stream_base::client, done); });
}

beast::tcp_stream& TestClient::lowest() {
    return tls_ ? beast::get_lowest_layer(*tls_) : *plain_;
}

template <class Start> beast::error_code TestClient::run(Start start) {
    beast::error_code result;
    lowest().expires_after(std::chrono::seconds(30));
    start([&result](beast::error_code ec, auto&&...) { result = ec; });
    io_.restart();
    io_.run();
    return result;
}

bool TestClient::sendRaw(const std::string& bytes) {
    return !run([&](auto done) {
        if (tls_)
            net::async_write(*tls_, net::buffer(bytes), done);
        else
            net::async_write(*plain_, net::buffer(bytes), done);
    });
}

Reply TestClient::readReply() {
    http::response<http::string_body> response;
    const beast::error_code ec = run([&](auto done) {
        if (tls_)
            http::async_read(*tls_, buffer_, response, done);
        else
            http::async_read(*plain_, buffer_, response, done);
    });
    Reply reply;
    if (ec)
        return reply;
    reply.status = static_cast<int>(response.result_int());
    for (const auto& field : response)
        reply.headers[std::string(field.name_string())] = std::string(field.value());
    reply.body = response.body();
    reply.keepAlive = response.keep_alive();
    return reply;
}

Reply TestClient::request(const std::string& method, const std::string& target,
                          const std::map<std::string, std::string>& headers, const std::string& body) {
    http::request<http::string_body> request(http::string_to_verb(method), target, 11);
    request.set(http::field::host, "localhost");
    request.set(http::field::user_agent, "OrvaneGaming/2.0");
    for (const auto& [name, value] : headers)
        request.set(name, value);
    request.body() = body;
    request.prepare_payload();
    const beast::error_code ec = run([&](auto done) {
        if (tls_)
            http::async_write(*tls_, request, done);
        else
            http::async_write(*plain_, request, done);
    });
    return ec ? Reply{} : readReply();
}

bool TestClient::closedByServer() {
    char byte = 0;
    const beast::error_code ec = run([&](auto done) {
        if (tls_)
            tls_->async_read_some(net::buffer(&byte, 1), done);
        else
            plain_->async_read_some(net::buffer(&byte, 1), done);
    });
    return ec && ec != beast::error::timeout;
}
