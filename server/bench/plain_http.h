#pragma once
// One kept-alive plain HTTP/1.1 connection asking GETs in turn, as a game server behind the service's
// reverse proxy would. Blocking: each benchmark client is a thread of its own.
#include <boost/asio/io_context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>

#include <cstddef>
#include <string>

struct HttpAnswer {
    int status = 0; // 0: the exchange failed (error says why)
    std::string body;
    std::size_t wireBytes = 0; // status line, headers and body as read
    std::string error;
};

class PlainHttpConnection {
  public:
    PlainHttpConnection(std::string address, std::string port, std::string host, std::string bearer);
    ~PlainHttpConnection();
    PlainHttpConnection(const PlainHttpConnection&) = delete;
    PlainHttpConnection& operator=(const PlainHttpConnection&) = delete;

    // Connects when not connected; a connection the service closed is opened again once (counted in
    // reconnects), so only a failure of the fresh one is a failure.
    HttpAnswer get(const std::string& target);
    bool connect(std::string& error);
    int reconnects() const { return reconnects_; }

  private:
    HttpAnswer exchange(const std::string& target);

    std::string address_, port_, host_, bearer_;
    boost::asio::io_context io_;
    boost::beast::tcp_stream stream_;
    boost::beast::flat_buffer buffer_;
    bool connected_ = false;
    int reconnects_ = 0;
};
