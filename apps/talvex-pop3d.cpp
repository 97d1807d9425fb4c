// talvex-pop3d: the host service. Creates one POP3Server, sets its properties from the
// command line, starts it and prints every log line on standard output until SIGINT or
// SIGTERM stops it.
#include <malloc.h>
#include <sys/resource.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <utility>

#include "data/backend.hpp"
#include "data_options.hpp"
#include "database_watch.hpp"
#include "exit_codes.hpp"
#include "host/event_loop.hpp"
#include "host/metrics_endpoint.hpp"
#include "host/pop3_server.hpp"
#include "platform/date_text.hpp"
#include "platform/hex.hpp"
#include "platform/log.hpp"
#include "session/tls_credentials.hpp"

namespace {

// Fields are tab-separated and lines end in LF, so tabs, line ends, backslashes and every
// other control byte inside a field are escaped: a peer's bytes that reach a log line can
// neither split it nor drive the operator's terminal.
std::string Escape(const std::string& field) {
  static constexpr std::array<std::pair<char, const char*>, 4> kNamed = {
      {{'\r', "\\r"}, {'\n', "\\n"}, {'\t', "\\t"}, {'\\', "\\\\"}}};
  std::string out;
  out.reserve(field.size());
  for (const char c : field) {
    const auto named = std::find_if(kNamed.begin(), kNamed.end(),
                                    [c](const auto& entry) { return entry.first == c; });
    const auto byte = static_cast<unsigned char>(c);
    if (named != kNamed.end()) {
      out += named->second;
    } else if (byte < 0x20 || byte == 0x7F) {
      out += "\\x";
      talvex::hex::AppendByte(out, byte);
    } else {
      out += c;
    }
  }
  return out;
}

void PrintLogLine(const std::string& dateTime, std::int32_t messageType, const std::string& source,
                  const std::string& message) {
  const std::string line = Escape(dateTime) + "\t" + std::to_string(messageType) + "\t" +
                           Escape(source) + "\t" + Escape(message) + "\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

// A message of a few MiB is composed into a buffer that is freed once it has been sent. Left
// to its defaults, the allocator maps and unmaps such buffers each time, and every message
// pays for faulting its pages in again; kept in the heap, with a bounded amount of free
// memory at its top, the next large message reuses them.
void TuneAllocator() {
  constexpr int kLargeBuffer = 8 << 20;
  mallopt(M_MMAP_THRESHOLD, kLargeBuffer);
  mallopt(M_TRIM_THRESHOLD, 2 * kLargeBuffer);
}

// Long enough to bridge the gap between a reply and a client's next command on loopback and on
// a local network, short enough that a lightly loaded server's CPU stays near idle.
constexpr std::int32_t kDefaultBusyPoll = 50;

// How long an orderly stop waits for the sessions' releases before it leaves them to the locks'
// staleness; a release is one short transaction, so this is long only for a database in trouble.
constexpr std::chrono::seconds kStopLimit{5};

// Each session holds one socket; the listener, the databases, the log and the runtime need a
// few more besides.
constexpr rlim_t kReservedDescriptors = 32;

// Raises the soft limit on open descriptors to the hard one, so that the sessions fit when the
// administrator allowed it; a warning line when they still do not.
void RaiseDescriptorLimit(std::int16_t maxConnections) {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return;
  if (limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0) getrlimit(RLIMIT_NOFILE, &limit);
  }
  const auto needed =
      static_cast<rlim_t>(std::max<std::int16_t>(maxConnections, 0)) + kReservedDescriptors;
  if (limit.rlim_cur == RLIM_INFINITY || needed <= limit.rlim_cur) return;
  PrintLogLine(
      talvex::NowText(), static_cast<std::int32_t>(talvex::Severity::kFailure), "talvex-pop3d",
      "The limit of " + std::to_string(limit.rlim_cur) + " open files is too low for " +
          std::to_string(maxConnections) + " connections (needs " + std::to_string(needed) +
          "); further connections wait until descriptors are freed");
}

// --metrics ADDR:PORT, on a loopback address only: the counts say who uses the service, which
// is for the operator's scraper on this machine, not for the network.
std::string CheckMetricsAddress(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) return "ADDR:PORT expected, e.g. 127.0.0.1:9110";
  std::error_code ec;
  std::string host = text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  const auto address = asio::ip::make_address(host, ec);
  if (ec) return "'" + host + "' is not an IP address";
  if (!address.is_loopback()) return "'" + host + "' is not a loopback address";
  unsigned port = 0;
  const std::string digits = text.substr(colon + 1);
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), port);
  if (digits.empty() || error != std::errc() || end != digits.data() + digits.size() ||
      port > 65535) {
    return "'" + digits + "' is not a port number";
  }
  return "";
}

asio::ip::tcp::endpoint MetricsAddress(const std::string& text) {
  const std::size_t colon = text.rfind(':');
  std::string host = text.substr(0, colon);
  if (host.front() == '[') host = host.substr(1, host.size() - 2);
  return {asio::ip::make_address(host),
          static_cast<std::uint16_t>(std::stoul(text.substr(colon + 1)))};
}

// The dialogue of the mail standards, as a whole or behaviour by behaviour, and the abuse
// limits; every one is off unless asked for.
struct StandardsOptions {
  bool rfcStrict = false;
  bool dotStuffing = false;
  bool longLines = false;
  std::int32_t inactivityTimer = 0;
  bool respCodes = false;
  bool lockBeforeOk = false;
  bool loginDelay = false;
  std::int16_t maxPerIp = 0;
  std::int32_t loginTimeout = 0;

  void Add(CLI::App& app) {
    app.add_flag("--rfc-strict", rfcStrict,
                 "all of --dot-stuffing, --long-lines, --resp-codes, --lock-before-ok and a "
                 "600-second --inactivity-timer (also registry value RFCStrict = 1)");
    app.add_flag("--dot-stuffing", dotStuffing,
                 "double the '.' that begins a line of RETR and TOP messages (RFC 1939)");
    app.add_flag("--long-lines", longLines,
                 "accept command lines of up to 255 octets with CR LF (RFC 2449), not 45");
    app.add_option("--inactivity-timer", inactivityTimer,
                   "close a session after SECONDS without a command, instead of at a fixed age "
                   "of ten minutes (RFC 1939 asks for at least 600)")
        ->check(CLI::PositiveNumber);
    app.add_flag("--resp-codes", respCodes,
                 "response codes [IN-USE], [SYS/TEMP] and [AUTH] in -ERR replies, listed in CAPA "
                 "(RFC 2449, RFC 3206)");
    app.add_flag("--lock-before-ok", lockBeforeOk,
                 "answer PASS with +OK only once the mail drop is locked");
    app.add_flag("--login-delay", loginDelay,
                 "delay the reply to a failed log-in by client address: 1 s, doubling to 16 s, "
                 "forgotten after 10 quiet minutes");
    app.add_option("--max-per-ip", maxPerIp, "connections one client address may hold at once")
        ->check(CLI::PositiveNumber);
    app.add_option("--login-timeout", loginTimeout,
                   "close a session in which nobody has logged in after SECONDS")
        ->check(CLI::PositiveNumber);
  }

  void Apply(talvex::POP3Server& server) const {
    server.RfcStrict(rfcStrict);
    server.DotStuffing(dotStuffing);
    server.LongLines(longLines);
    server.InactivityTimer(inactivityTimer);
    server.RespCodes(respCodes);
    server.LockBeforeOk(lockBeforeOk);
    server.LoginDelay(loginDelay);
    server.MaxPerIp(maxPerIp);
    server.LoginTimeout(loginTimeout);
  }
};

void PrintOwnLine(talvex::Severity severity, const std::string& message) {
  PrintLogLine(talvex::NowText(), static_cast<std::int32_t>(severity), "talvex-pop3d", message);
}

// The TLS options: the certificate and key go together, and the port and --require-tls mean
// nothing without them.
struct TlsOptions {
  explicit TlsOptions(CLI::App& app) {
    auto* certOption = app.add_option("--tls-cert", certificateFile,
                                      "PEM file of the server certificate (and its chain) for TLS");
    auto* keyOption =
        app.add_option("--tls-key", keyFile, "PEM file of the certificate's private key");
    certOption->needs(keyOption);
    keyOption->needs(certOption);
    app.add_option("--tls-port", port,
                   "port for implicit TLS (995 by convention; 0 picks a free one)")
        ->check(CLI::Range(0, 32767))
        ->needs(certOption);
    app.add_flag("--require-tls", required,
                 "refuse USER and PASS on the plain port until the client has sent STLS")
        ->needs(certOption);
  }

  // The loaded credentials, or nothing without TLS options; a file that does not load is a
  // bad value, reported here.
  std::optional<std::shared_ptr<talvex::TlsCredentials>> Load() const {
    if (certificateFile.empty()) return std::shared_ptr<talvex::TlsCredentials>();
    try {
      return std::make_shared<talvex::TlsCredentials>(certificateFile, keyFile);
    } catch (const talvex::Failure& failure) {
      std::cerr << "talvex-pop3d: --tls-cert/--tls-key: " << failure.Description() << "\n";
      return std::nullopt;
    }
  }

  std::string certificateFile;
  std::string keyFile;
  std::int32_t port = -1;
  bool required = false;
};

// SIGHUP reads the certificate and key again; sessions keep running either way.
void ReloadOnHangUp(asio::signal_set& signals, talvex::TlsCredentials* credentials) {
  signals.async_wait([&signals, credentials](const std::error_code& ec, int) {
    if (ec) return;
    if (!credentials) {
      PrintOwnLine(talvex::Severity::kNotice, "SIGHUP: no TLS certificate to reload");
    } else if (const auto problem = credentials->Reload()) {
      PrintOwnLine(talvex::Severity::kError,
                   "TLS reload failed, the previous certificate stays in use: " + *problem);
    } else {
      PrintOwnLine(talvex::Severity::kNotice, "TLS certificate and key reloaded");
    }
    ReloadOnHangUp(signals, credentials);
  });
}

}  // namespace

int Run(int argc, char** argv) {
  CLI::App app{"Talvex POP3 service: serves the suite's stored items to mail clients over POP3"};
  std::int32_t port = 110;
  std::int16_t maxConnections = 100;
  std::string domain;
  bool forceDelete = false;
  bool reusePort = false;
  std::int16_t loggingMode = 1;
  std::int32_t busyPoll = kDefaultBusyPoll;
  app.add_option("--port", port, "TCP port to listen on (0 picks a free one)")
      ->capture_default_str();
  app.add_option("--max-connections", maxConnections, "number of simultaneous sessions")
      ->capture_default_str();
  app.add_option("--domain", domain, "mail domain appended to the host name");
  app.add_flag("--force-delete", forceDelete, "mark retrieved messages deleted at once");
  app.add_flag("--reuse-port", reusePort,
               "share the port with other talvex-pop3d processes (SO_REUSEPORT)");
  std::string metricsAddress;
  app.add_option("--metrics", metricsAddress,
                 "serve OpenMetrics text at http://ADDR:PORT/metrics (loopback addresses only)")
      ->check(CheckMetricsAddress);
  app.add_option("--logging-mode", loggingMode,
                 "0 errors and failed log-ins, 1 adds sessions, 2 adds session detail")
      ->capture_default_str();
  app.add_option("--busy-poll", busyPoll,
                 "microseconds the event loop polls after its work before it sleeps (0: never)")
      ->capture_default_str()
      ->check(CLI::Range(0, 10000));
  StandardsOptions standards;
  standards.Add(app);
  const TlsOptions tlsOptions(app);
  const talvex::apps::DataOptions dataOptions(app);
  if (const auto exitCode =
          talvex::apps::ParseCommandLine(app, argc, argv, dataOptions, "talvex-pop3d")) {
    return *exitCode;
  }
  const auto tls = tlsOptions.Load();
  if (!tls) return talvex::apps::kExitUsage;

  RaiseDescriptorLimit(maxConnections);
  TuneAllocator();
  // One thread runs every handler, and no other thread touches the loop (the database's helper
  // threads report through descriptors the loop reads), so the loop runs without the
  // scheduler's and the reactor's locks, and a handler posted from the loop (each yield of a
  // listing, each resumed database call) skips the wake-up.
  asio::io_context io(ASIO_CONCURRENCY_HINT_UNSAFE);
  const talvex::Environment env = dataOptions.Env();
  talvex::POP3Server server(io, env);
  server.EventLog(PrintLogLine);
  server.MaxConnections(maxConnections);
  server.MyDomain(domain);
  server.ForceDelete(forceDelete);
  server.ReusePort(reusePort);
  server.LoggingMode(loggingMode);
  standards.Apply(server);
  server.UseTls(*tls, tlsOptions.port, tlsOptions.required);
  std::optional<talvex::MetricsEndpoint> metricsEndpoint;
  if (!metricsAddress.empty()) {
    auto metrics = std::make_shared<talvex::Metrics>();
    server.UseMetrics(metrics);
    metricsEndpoint.emplace(io, metrics, MetricsAddress(metricsAddress));
    PrintLogLine(talvex::NowText(), static_cast<std::int32_t>(talvex::Severity::kNotice),
                 "talvex-pop3d",
                 "Metrics at http://" + metricsAddress.substr(0, metricsAddress.rfind(':')) + ":" +
                     std::to_string(metricsEndpoint->Port()) + "/metrics");
  }
  if (!server.StartListening(port)) return talvex::apps::kExitRefused;

  // An orderly stop lets the sessions give their drops back and takes the process's heartbeat
  // out of the database before the loop ends, so that a server started next serves every drop
  // at once. A second signal does not wait for that.
  asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([&](const std::error_code& ec, int) {
    if (ec) return;
    server.StopListening();
    server.AfterStop(kStopLimit, [&io] { io.stop(); });
    signals.async_wait([&io](const std::error_code& again, int) {
      if (!again) io.stop();
    });
  });
  // A hang-up never ends the service: without TLS there is just nothing to reload.
  asio::signal_set hangUp(io, SIGHUP);
  ReloadOnHangUp(hangUp, tls->get());
  int exitCode = talvex::apps::kExitOk;
  std::optional<talvex::apps::DatabaseWatch> watch;
  if (const auto target = talvex::data::ResolveConnection("", env);
      target.engine == talvex::data::ConnectionTarget::Engine::kSqlite) {
    watch.emplace(io, target.location, [&](const std::string& reason) {
      PrintLogLine(talvex::NowText(), static_cast<std::int32_t>(talvex::Severity::kError),
                   "talvex-pop3d", reason);
      exitCode = talvex::apps::kExitRefused;
      server.StopListening();
      io.stop();
    });
    watch->Start();
  }
  talvex::RunEventLoop(io, std::chrono::microseconds(busyPoll));
  server.EventLog(nullptr);  // the object's own stop on the way out is not news any more
  return exitCode;
}

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& error) {
    std::cerr << "talvex-pop3d: " << error.what() << "\n";
    return talvex::apps::kExitRefused;
  }
}
