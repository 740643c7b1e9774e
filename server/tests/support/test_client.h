#pragma once
// A client for the edge's tests, over TLS trusting only the test's certificate, or plain HTTP. Every
// operation has a 30-second deadline so a fault makes a test fail instead of hang; no test reads times.
// Boost 1.74's asio/awaitable.hpp uses std::exchange without including <utility>.
#include <utility>

#include <boost/asio.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include <map>
#include <optional>
#include <string>

struct Reply {
    int status = 0; // 0: no answer
    std::map<std::string, std::string> headers;
    std::string body;
    bool keepAlive = false;
};

class TestClient {
  public:
    // caFile empty: plain HTTP.
    TestClient(std::uint16_t port, const std::string& caFile);
    bool connected() const { return connected_; }
    Reply request(const std::string& method, const std::string& target,
                  const std::map<std::string, std::string>& headers = {}, const std::string& body = {});
    bool sendRaw(const std::string& bytes);
    Reply readReply();
    // True when the server closed the connection (rather than the deadline passing).
    bool closedByServer();

  private:
    template <class Start> boost::beast::error_code run(Start start);
    boost::beast::tcp_stream& lowest();

    boost::asio::io_context io_;
    boost::asio::ssl::context context_{boost::asio::ssl::context::tls_client};
    std::optional<boost::beast::ssl_stream<boost::beast::tcp_stream>> tls_;
    std::optional<boost::beast::tcp_stream> plain_;
    boost::beast::flat_buffer buffer_;
    bool connected_ = false;
};
