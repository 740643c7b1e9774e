// The real edge over real TLS on a loopback port, serving the contract: bounded requests, strict framing,
// idle and slow clients, forwarded addresses and what its log lines may hold.
#include "support/edge_fixture.h"

#include <memory>
#include <mutex>
#include <regex>
#include <set>
#include <thread>

namespace {

std::map<std::string, std::string> withToken(const std::string& token) {
    auto headers = LauncherHeaders;
    headers["Authorization"] = "Bearer " + token;
    return headers;
}

TEST_F(EdgeTest, TheLauncherRoadOverTlsWithKeepAliveAndCleanLogLines) {
    startTls();
    auto connection = client();
    const Reply created = connection->request("POST", BasePath + "/sessions", LauncherHeaders, "{}");
    ASSERT_EQ(created.status, 201);
    EXPECT_EQ(created.headers.at("Content-Type"), "application/json");
    EXPECT_EQ(created.headers.at("Strict-Transport-Security"), "max-age=31536000");
    const std::string token = nlohmann::json::parse(created.body)["token"];
    // The same connection serves the next request.
    EXPECT_TRUE(created.keepAlive);
    EXPECT_EQ(connection->request("GET", BasePath + "/session", withToken(token)).status, 200);
    const Reply link = connection->request("POST", BasePath + "/link/steam", withToken(token), "{}");
    ASSERT_EQ(link.status, 200);
    const std::string url = nlohmann::json::parse(link.body)["url"];
    const std::string state = url.substr(url.find("state=") + 6, 43);
    script.nextSteam = providerAccount("76561198000000001", "Ana");
    const Reply page =
        client()->request("GET", BasePath + "/callback/steam?state=" + state + "&openid.sig=c2lnbmF0dXJl");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(nlohmann::json::parse(
                  connection->request("GET", BasePath + "/session", withToken(token)).body)["steam"]["id"],
              "76561198000000001");

    const auto lines = log();
    ASSERT_EQ(lines.size(), 5u);
    const char* const routes[] = {"sessions", "session", "link/steam", "callback/steam", "session"};
    const char* const methods[] = {"POST", "GET", "POST", "GET", "GET"};
    const int statuses[] = {201, 200, 200, 200, 200};
    const std::set<std::string> fields = {"time", "client", "method", "route",
                                          "path", "status", "bytes",  "duration_ms"};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        SCOPED_TRACE(line);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        const nlohmann::json entry = nlohmann::json::parse(line);
        std::set<std::string> keys;
        for (const auto& item : entry.items())
            keys.insert(item.key());
        EXPECT_EQ(keys, fields);
        EXPECT_EQ(entry["client"], "127.0.0.1");
        EXPECT_EQ(entry["method"], methods[i]);
        EXPECT_EQ(entry["route"], routes[i]);
        EXPECT_EQ(entry["path"], BasePath + "/" + routes[i]);
        EXPECT_EQ(entry["status"], statuses[i]);
        EXPECT_GT(entry["bytes"].get<int>(), 0);
        EXPECT_GE(entry["duration_ms"].get<double>(), 0.0);
        EXPECT_TRUE(std::regex_match(entry["time"].get<std::string>(),
                                     std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z)")));
        EXPECT_EQ(line.find(token), std::string::npos);
        EXPECT_EQ(line.find(state), std::string::npos);
        EXPECT_EQ(line.find("openid"), std::string::npos);
        EXPECT_EQ(line.find('?'), std::string::npos);
    }
}

TEST_F(EdgeTest, OversizedOrMalformedRequestsAreRefusedAndTheConnectionClosed) {
    startTls();
    const std::string target = BasePath + "/config";
    struct Case {
        const char* name;
        std::string bytes;
        int status;
    };
    const Case cases[] = {
        {"headers over the limit",
         "GET " + target + " HTTP/1.1\r\nHost: x\r\nX-Pad: " + std::string(edge_limits::HeaderBytes, 'p') +
             "\r\n\r\n",
         431},
        {"request line over the limit",
         "GET " + target + "?" + std::string(edge_limits::HeaderBytes, 'q') + " HTTP/1.1\r\nHost: x\r\n\r\n",
         431},
        {"body over the limit",
         "POST " + BasePath + "/sessions HTTP/1.1\r\nHost: x\r\nContent-Length: " +
             std::to_string(edge_limits::BodyBytes + 1) + "\r\n\r\n{}",
         413},
        {"not HTTP", "HELLO THERE\r\n\r\n", 400},
        {"bad header line", "GET " + target + " HTTP/1.1\r\nHost x\r\n\r\n", 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto connection = client();
        ASSERT_TRUE(connection->sendRaw(c.bytes));
        const Reply reply = connection->readReply();
        EXPECT_EQ(reply.status, c.status);
        EXPECT_FALSE(reply.keepAlive);
        EXPECT_TRUE(connection->closedByServer());
    }
    // A body within the limit is read and answered.
    auto connection = client();
    EXPECT_EQ(connection
                  ->request("POST", BasePath + "/sessions", LauncherHeaders,
                            "{\"pad\":\"" + std::string(edge_limits::BodyBytes - 10, 'a') + "\"}")
                  .status,
              201);
    // A refused request's line still names its client.
    for (const std::string& line : log())
        EXPECT_EQ(nlohmann::json::parse(line)["client"], "127.0.0.1") << line;
}

// Each case is a request followed in the same bytes by a GET /config: a request framed one way only is
// answered and so is the GET after it; any other is refused and the connection closed, so the bytes after
// it are never read as a request of their own.
TEST_F(EdgeTest, RequestsWhoseLengthCouldBeReadTwoWaysAreRefused) {
    startTls();
    const std::string post = "POST " + BasePath + "/sessions HTTP/1.1\r\n";
    const std::string next = "GET " + BasePath + "/config HTTP/1.1\r\nHost: x\r\n\r\n";
    const std::string chunkedBody = "2\r\n{}\r\n0\r\n\r\n";
    struct Case {
        const char* name;
        std::string bytes;
        int status; // 201: answered and the GET after it too; 400: refused and closed
    };
    const Case cases[] = {
        {"Content-Length", post + "Host: x\r\nContent-Length: 2\r\n\r\n{}", 201},
        {"chunked", post + "Host: x\r\nTransfer-Encoding: chunked\r\n\r\n" + chunkedBody, 201},
        {"Chunked in capitals", post + "Host: x\r\nTransfer-Encoding: CHUNKED\r\n\r\n" + chunkedBody, 201},
        // Beast frames this one by the length and reads the body's tail as a second request.
        {"xchunked with a length",
         post + "Host: x\r\nTransfer-Encoding: xchunked\r\nContent-Length: 2\r\n\r\n{}", 400},
        // Beast takes this one as having no body and reads the chunks as the next request.
        {"chunked, identity", post + "Host: x\r\nTransfer-Encoding: chunked, identity\r\n\r\n" + chunkedBody,
         400},
        // Beast reads the second header alone and accepts it.
        {"two Transfer-Encoding headers",
         post + "Host: x\r\nTransfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n\r\n" + chunkedBody,
         400},
        {"identity", post + "Host: x\r\nTransfer-Encoding: identity\r\nContent-Length: 2\r\n\r\n{}", 400},
        {"chunked with a length",
         post + "Host: x\r\nTransfer-Encoding: chunked\r\nContent-Length: 2\r\n\r\n" + chunkedBody, 400},
        {"a length with chunked",
         post + "Host: x\r\nContent-Length: 2\r\nTransfer-Encoding: chunked\r\n\r\n" + chunkedBody, 400},
        // Beast accepts both of these as they are.
        {"no Host", post + "Content-Length: 2\r\n\r\n{}", 400},
        {"two Hosts", post + "Host: x\r\nHost: y\r\nContent-Length: 2\r\n\r\n{}", 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto connection = client();
        ASSERT_TRUE(connection->sendRaw(c.bytes + next));
        const Reply first = connection->readReply();
        EXPECT_EQ(first.status, c.status);
        if (c.status == 400) {
            EXPECT_FALSE(first.keepAlive);
            EXPECT_TRUE(connection->closedByServer());
        } else {
            EXPECT_EQ(connection->readReply().status, 200);
        }
    }
    for (const std::string& line : log()) {
        const nlohmann::json entry = nlohmann::json::parse(line);
        EXPECT_EQ(entry["client"], "127.0.0.1") << line;
        if (entry["status"] == 400) {
            EXPECT_EQ(entry["route"], "sessions") << line;
        }
    }
}

TEST_F(EdgeTest, HundredsOfIdleConnectionsDoNotKeepOthersWaiting) {
    EdgeOptions options;
    options.certificateFile = certificate.certificate;
    options.privateKeyFile = certificate.privateKey;
    options.threads = 2;
    options.maxConnectionsPerAddress = 1000; // every client here is 127.0.0.1
    startEdgeWith(options);
    // Some never start TLS, some finish the handshake and then say nothing.
    std::vector<std::unique_ptr<TestClient>> idle;
    std::vector<std::unique_ptr<TestClient>> silent;
    for (int i = 0; i < 300; ++i)
        idle.push_back(std::make_unique<TestClient>(edgePort(*edge), ""));
    for (int i = 0; i < 50; ++i)
        silent.push_back(client());
    for (const auto& c : idle)
        ASSERT_TRUE(c->connected());
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(client()->request("GET", BasePath + "/config", LauncherHeaders).status, 200);
}

TEST_F(EdgeTest, ASlowClientIsCutOffBeforeItFinishes) {
    startTls(1);
    // Nothing at all after the handshake.
    EXPECT_TRUE(client()->closedByServer());
    // A header sent a byte at a time, each well within any per-byte timeout, for far longer than the
    // service gives a whole request: the service hangs up before the header is complete.
    auto connection = client();
    const std::string header =
        "GET " + BasePath + "/config HTTP/1.1\r\nHost: x\r\nX-Slow: " + std::string(300, 's') + "\r\n\r\n";
    std::size_t sent = 0;
    while (sent < header.size() && connection->sendRaw(header.substr(sent, 1))) {
        ++sent;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_LT(sent, header.size());
    // Others are still served.
    EXPECT_EQ(client()->request("GET", BasePath + "/config").status, 200);
}

TEST_F(EdgeTest, ForwardedAddressesAreBelievedOnlyFromTheTrustedProxy) {
    struct Case {
        const char* proxy;
        const char* forwarded;
        const char* logged;
    };
    const Case cases[] = {
        {"127.0.0.1", "198.51.100.7, 203.0.113.5", "203.0.113.5"},
        {"127.0.0.1", "not an address", "127.0.0.1"},
        {"192.0.2.1", "203.0.113.5", "127.0.0.1"},
        {"", "203.0.113.5", "127.0.0.1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.proxy);
        EdgeOptions options;
        options.trustedProxy = c.proxy;
        startEdgeWith(options);
        TestClient plain(edgePort(*edge), "");
        ASSERT_TRUE(plain.connected());
        EXPECT_EQ(plain.request("GET", BasePath + "/config", {{"X-Forwarded-For", c.forwarded}}).status, 200);
        stopEdge(*edge);
        edge.reset();
        ASSERT_FALSE(log().empty());
        EXPECT_EQ(nlohmann::json::parse(log().back())["client"], c.logged) << log().back();
    }
}

TEST_F(EdgeTest, TlsBelowVersionOnePointTwoIsRefused) {
    startTls();
    namespace net = boost::asio;
    net::io_context io;
    net::ssl::context old(net::ssl::context::tls_client);
    SSL_CTX_set_security_level(old.native_handle(), 0);
    SSL_CTX_set_max_proto_version(old.native_handle(), TLS1_1_VERSION);
    boost::beast::ssl_stream<boost::beast::tcp_stream> stream(io, old);
    boost::beast::error_code ec;
    boost::beast::get_lowest_layer(stream).expires_after(std::chrono::seconds(30));
    boost::beast::get_lowest_layer(stream).connect(
        net::ip::tcp::endpoint(net::ip::make_address("127.0.0.1"), edgePort(*edge)), ec);
    ASSERT_FALSE(ec);
    stream.handshake(net::ssl::stream_base::client, ec);
    EXPECT_TRUE(ec);
}

} // namespace
