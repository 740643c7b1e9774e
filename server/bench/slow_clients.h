#pragma once
// Connections that hold the service's slots without finishing a request: some silent after the TLS
// handshake, some sending a request line one byte a second, some silent before the TLS handshake. Run on a
// thread of their own beside the load.
#include "bench_options.h"

#include <boost/asio/ssl/context.hpp>

#include <memory>
#include <string>
#include <vector>

struct SlowGroupReport {
    int asked = 0;
    int opened = 0;                         // TLS handshake completed
    int closedByService = 0;                // the service ended the connection (with or without an answer)
    int answered = 0;                       // of those, how many got bytes first (e.g. a 408)
    std::string firstAnswer;                // the first answer's status line, for the report
    std::vector<double> closedAfterSeconds; // from the handshake to the close
    int bytesSent = 0;                      // trickle: bytes of the request written in all
};

struct SlowReport {
    SlowGroupReport idle;
    SlowGroupReport trickle;
    SlowGroupReport silentTcp;
    double heldSeconds = 0; // how long they were kept
};

class SlowClients {
  public:
    SlowClients(const BenchOptions& options, boost::asio::ssl::context& tls);
    ~SlowClients();
    // Opens every connection and returns once all are open (or failed), at most after 10 s.
    void open();
    // Closes what is left and reports what the service did with them.
    SlowReport finish();

  private:
    struct State;
    std::unique_ptr<State> state_;
};
