#include "plain_http.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <openssl/crypto.h>

namespace http = boost::beast::http;
using boost::asio::ip::tcp;

namespace {

void wipe(std::string& text) {
    if (!text.empty())
        OPENSSL_cleanse(text.data(), text.size());
    text.clear();
}

} // namespace

PlainHttpConnection::PlainHttpConnection(std::string address, std::string port, std::string host,
                                         std::string bearer)
    : address_(std::move(address)), port_(std::move(port)), host_(std::move(host)),
      bearer_(std::move(bearer)), stream_(io_) {
    wipe(bearer);
}

PlainHttpConnection::~PlainHttpConnection() {
    wipe(bearer_);
}

bool PlainHttpConnection::connect(std::string& error) {
    boost::beast::error_code ec;
    stream_.socket().close(ec);
    buffer_.clear();
    tcp::resolver resolver(io_);
    const auto endpoints = resolver.resolve(address_, port_, tcp::resolver::numeric_host, ec);
    if (!ec)
        stream_.connect(endpoints, ec);
    if (!ec)
        stream_.socket().set_option(tcp::no_delay(true), ec);
    connected_ = !ec;
    if (ec)
        error = "connect: " + ec.message();
    return connected_;
}

HttpAnswer PlainHttpConnection::exchange(const std::string& target) {
    HttpAnswer answer;
    // Written by hand into one buffer made large enough at once, so the key is in no block but this one,
    // which is wiped after the write.
    std::string request;
    request.reserve(target.size() + host_.size() + bearer_.size() + 64);
    request.append("GET ").append(target).append(" HTTP/1.1\r\nHost: ").append(host_);
    request.append("\r\nAuthorization: Bearer ").append(bearer_).append("\r\n\r\n");
    boost::beast::error_code ec;
    boost::asio::write(stream_.socket(), boost::asio::buffer(request), ec);
    wipe(request);
    if (ec) {
        answer.error = "write: " + ec.message();
        return answer;
    }
    http::response_parser<http::string_body> parser;
    parser.body_limit(64 * 1024 * 1024);
    answer.wireBytes = http::read(stream_.socket(), buffer_, parser, ec);
    if (ec) {
        answer.error = "read: " + ec.message();
        return answer;
    }
    http::response<http::string_body> response = parser.release();
    answer.status = static_cast<int>(response.result_int());
    answer.body = std::move(response.body());
    if (!response.keep_alive())
        connected_ = false;
    return answer;
}

HttpAnswer PlainHttpConnection::get(const std::string& target) {
    std::string error;
    if (!connected_ && !connect(error))
        return HttpAnswer{0, {}, 0, error};
    HttpAnswer answer = exchange(target);
    if (answer.status != 0)
        return answer;
    // The service may have closed the kept-alive connection between two requests: once more on a new one.
    ++reconnects_;
    if (!connect(error))
        return HttpAnswer{0, {}, 0, error};
    answer = exchange(target);
    if (answer.status == 0)
        connected_ = false;
    return answer;
}
