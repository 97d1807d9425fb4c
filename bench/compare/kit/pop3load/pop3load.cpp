// pop3load — POP3 load generator (C++20, plain epoll, one event loop per thread).
//
// Scenarios:
//   download  greeting, USER, PASS, STAT, UIDL, LIST, RETR 1..n, QUIT (one command at a time)
//   churn     greeting, QUIT
//   login     greeting, USER, PASS, STAT, QUIT
//   idle      greeting, USER, PASS, then hold the connection (NOOP every --noop-interval s)
//
// Every reply must start with "+OK". For RETR the message octets (bytes between the
// status line and the terminating ".\r\n", dot-stuffing undone, CRLF counted as 2) must
// equal the LIST size of that message. UIDL lines must be "n uid" with n = 1..STAT count
// in order and uid 1..70 characters 0x21..0x7E, unique within the listing and the same
// in every session of the same user during the run.
//
// Output: one JSON object on stdout at the end. Diagnostics go to stderr.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

using i64 = int64_t;
using u64 = uint64_t;
using u32 = uint32_t;

constexpr i64 kNsPerSec = 1000000000LL;

inline i64 now_ns() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return i64(ts.tv_sec) * kNsPerSec + ts.tv_nsec;
}

std::atomic<bool> g_interrupted{false};
extern "C" void on_sigint(int) { g_interrupted.store(true, std::memory_order_relaxed); }

// ---------------------------------------------------------------- histogram
// Log-linear histogram of nanosecond values: exact below 256 ns, then 128
// sub-buckets per power of two (relative error below 0.8 %). Max is exact.
class Histogram {
 public:
  static constexpr int kSubBits = 7;
  static constexpr int kSub = 1 << kSubBits;
  static constexpr int kLinear = 2 * kSub;
  static constexpr int kOctaves = 40;
  static constexpr int kBuckets = kLinear + kOctaves * kSub;

  Histogram() : b_(kBuckets, 0) {}

  void add(u64 v) {
    ++count_;
    sum_ += v;
    if (v > max_) max_ = v;
    ++b_[index(v)];
  }
  void merge(const Histogram& o) {
    for (int i = 0; i < kBuckets; ++i) b_[i] += o.b_[i];
    count_ += o.count_;
    sum_ += o.sum_;
    max_ = std::max(max_, o.max_);
  }
  u64 count() const { return count_; }
  u64 max() const { return max_; }
  double mean() const { return count_ ? double(sum_) / double(count_) : 0.0; }
  // Value at quantile q (0..1): midpoint of the bucket holding the rank, capped at max.
  double quantile(double q) const {
    if (!count_) return 0;
    u64 rank = u64(std::ceil(q * double(count_)));
    if (rank < 1) rank = 1;
    u64 cum = 0;
    for (int i = 0; i < kBuckets; ++i) {
      cum += b_[i];
      if (cum >= rank) {
        double mid = double(lower(i)) + double(width(i) - 1) / 2.0;
        return std::min(mid, double(max_));
      }
    }
    return double(max_);
  }
  static int index(u64 v) {
    if (v < u64(kLinear)) return int(v);
    int e = 63 - __builtin_clzll(v);  // e >= 8
    int sub = int((v >> (e - kSubBits)) & (kSub - 1));
    int idx = kLinear + (e - (kSubBits + 1)) * kSub + sub;
    return std::min(idx, kBuckets - 1);
  }
  static u64 lower(int idx) {
    if (idx < kLinear) return u64(idx);
    int k = idx - kLinear;
    int e = k / kSub + kSubBits + 1;
    int sub = k % kSub;
    return (u64(kSub + sub)) << (e - kSubBits);
  }
  static u64 width(int idx) {
    if (idx < kLinear) return 1;
    int e = (idx - kLinear) / kSub + kSubBits + 1;
    return u64(1) << (e - kSubBits);
  }

 private:
  std::vector<u64> b_;
  u64 count_ = 0, sum_ = 0, max_ = 0;
};

// ---------------------------------------------------------------- options
enum class Scenario { Download, Churn, Login, Idle };

const char* scenario_name(Scenario s) {
  switch (s) {
    case Scenario::Download: return "download";
    case Scenario::Churn: return "churn";
    case Scenario::Login: return "login";
    case Scenario::Idle: return "idle";
  }
  return "?";
}

struct Options {
  std::string host = "127.0.0.1";
  int port = 110;
  Scenario scenario = Scenario::Download;
  int clients = 1;
  double duration = 10;
  long sessions = 0;  // > 0: run exactly this many sessions instead of --duration
  std::string user_pattern = "user%d";
  int users = 1;
  std::string password = "pw";
  int threads = 1;
  double warmup = 0;         // seconds run before the measured window (duration mode)
  double ramp = 0;           // new connections per second at start (0: all at once)
  double timeout = 30;       // per-reply time limit, seconds
  double noop_interval = 30; // idle scenario
  double backoff = 0.1;      // pause of a client slot after a failed session, seconds
  double quit_wait = 2;      // wait for the server to close after QUIT +OK, seconds
  size_t bufsize = 65536;    // receive buffer per connection
  size_t read_max = 0;       // testing: at most this many bytes per read() (0: buffer size)
  bool allow_nonlocal = false;
  bool uidl_stability = true; // same UIDL listing in every session of a user
  u64 retr_extra = 0;        // octets every RETR message carries beyond its LIST size
  std::string label;
  int samples = 8;           // error / mismatch texts kept
};

[[noreturn]] void usage(const char* msg) {
  if (msg) std::fprintf(stderr, "pop3load: %s\n", msg);
  std::fprintf(stderr,
               "usage: pop3load --port N [--host 127.0.0.1] [--scenario download|churn|login|idle]\n"
               "       [--clients C] [--duration S | --sessions N] [--users U] [--user-pattern user%%d]\n"
               "       [--password PW] [--threads T] [--warmup S] [--ramp CONN_PER_S] [--timeout S]\n"
               "       [--noop-interval S] [--backoff S] [--quit-wait S] [--bufsize BYTES]\n"
               "       [--read-max BYTES] [--label TEXT] [--samples N] [--no-uidl-check]\n"
               "       [--retr-extra OCTETS] [--allow-nonlocal]\n");
  std::exit(2);
}

double parse_double(const char* name, const char* v) {
  char* end = nullptr;
  errno = 0;
  double d = std::strtod(v, &end);
  if (errno || end == v || *end || !(d >= 0)) {
    std::string m = std::string("bad value for ") + name + ": " + v;
    usage(m.c_str());
  }
  return d;
}
long parse_long(const char* name, const char* v, long min) {
  char* end = nullptr;
  errno = 0;
  long l = std::strtol(v, &end, 10);
  if (errno || end == v || *end || l < min) {
    std::string m = std::string("bad value for ") + name + ": " + v;
    usage(m.c_str());
  }
  return l;
}

Options parse_args(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    std::string val;
    bool has_val = false;
    if (auto eq = a.find('='); a.rfind("--", 0) == 0 && eq != std::string::npos) {
      val = a.substr(eq + 1);
      a = a.substr(0, eq);
      has_val = true;
    }
    auto next = [&]() -> const char* {
      if (has_val) return val.c_str();
      if (i + 1 >= argc) usage((a + " needs a value").c_str());
      return argv[++i];
    };
    if (a == "--host") o.host = next();
    else if (a == "--port") o.port = int(parse_long("--port", next(), 1));
    else if (a == "--scenario") {
      std::string s = next();
      if (s == "download") o.scenario = Scenario::Download;
      else if (s == "churn") o.scenario = Scenario::Churn;
      else if (s == "login") o.scenario = Scenario::Login;
      else if (s == "idle") o.scenario = Scenario::Idle;
      else usage(("unknown scenario " + s).c_str());
    } else if (a == "--clients") o.clients = int(parse_long("--clients", next(), 1));
    else if (a == "--duration") o.duration = parse_double("--duration", next());
    else if (a == "--sessions") o.sessions = parse_long("--sessions", next(), 1);
    else if (a == "--users") o.users = int(parse_long("--users", next(), 1));
    else if (a == "--user-pattern") o.user_pattern = next();
    else if (a == "--password") o.password = next();
    else if (a == "--threads") o.threads = int(parse_long("--threads", next(), 1));
    else if (a == "--warmup") o.warmup = parse_double("--warmup", next());
    else if (a == "--ramp") o.ramp = parse_double("--ramp", next());
    else if (a == "--timeout") o.timeout = parse_double("--timeout", next());
    else if (a == "--noop-interval") o.noop_interval = parse_double("--noop-interval", next());
    else if (a == "--backoff") o.backoff = parse_double("--backoff", next());
    else if (a == "--quit-wait") o.quit_wait = parse_double("--quit-wait", next());
    else if (a == "--bufsize") o.bufsize = size_t(parse_long("--bufsize", next(), 1024));
    else if (a == "--read-max") o.read_max = size_t(parse_long("--read-max", next(), 0));
    else if (a == "--label") o.label = next();
    else if (a == "--samples") o.samples = int(parse_long("--samples", next(), 0));
    else if (a == "--allow-nonlocal") o.allow_nonlocal = true;
    else if (a == "--no-uidl-check") o.uidl_stability = false;
    // A server whose RETR ends every message with one CR LF more than its LIST size counts
    // is held to exactly that: --retr-extra 2.
    else if (a == "--retr-extra") o.retr_extra = u64(parse_long("--retr-extra", next(), 0));
    else if (a == "-h" || a == "--help") usage(nullptr);
    else usage(("unknown option " + a).c_str());
  }
  if (o.port > 65535) usage("--port out of range");
  if (o.threads > o.clients) o.threads = o.clients;
  if (o.user_pattern.find("%d") == std::string::npos) usage("--user-pattern must contain %d");
  if (o.scenario == Scenario::Idle && o.sessions) usage("--sessions does not apply to the idle scenario");
  if (o.timeout <= 0) usage("--timeout must be > 0");
  return o;
}

// ---------------------------------------------------------------- shared state
enum Cmd : int { K_GREETING, K_USER, K_PASS, K_STAT, K_UIDL, K_LIST, K_RETR, K_NOOP, K_QUIT, K_SESSION, K_COUNT };
const char* const kCmdNames[K_COUNT] = {"greeting", "USER", "PASS", "STAT", "UIDL",
                                        "LIST",     "RETR", "NOOP", "QUIT", "session"};

struct Shared {
  const Options* o = nullptr;
  sockaddr_storage addr{};
  socklen_t addrlen = 0;
  std::vector<std::string> user_cmd;   // "USER name\r\n", index user-1
  std::vector<std::string> user_name;
  std::string pass_cmd;
  std::atomic<long> tokens{0};         // --sessions: session starts left
  i64 t0 = 0, t_window = 0, t_end = 0; // duration mode
  // idle scenario
  std::atomic<int> idle_settled{0};
  std::atomic<i64> hold_start{0};
  std::atomic<i64> hold_end{0};
  // UIDL fingerprint per user (0: not seen yet)
  std::unique_ptr<std::atomic<u64>[]> uidl_fp;
};

struct Stats {
  Histogram lat[K_COUNT];
  u64 sessions_ok = 0, sessions_failed = 0, sessions_aborted = 0;
  u64 commands = 0, messages = 0, bytes_rx = 0, bytes_tx = 0, octets = 0;
  u64 errors = 0, mismatches = 0, quit_no_close = 0;
  u64 connects = 0;
  // idle
  u64 established = 0, login_failed = 0, dropped = 0, alive_at_end = 0, quit_ok = 0, noops = 0;
  std::vector<std::string> error_samples, mismatch_samples;
};

enum class Phase : uint8_t { Free, Await, Held, QuitWait, Done };
enum class RState : uint8_t { Status, Lines, Body };

struct Conn {
  int fd = -1;
  u32 slot = 0;
  Phase phase = Phase::Free;
  RState rs = RState::Status;
  Cmd cmd = K_GREETING;
  bool want_out = false;
  bool established = false;  // idle: logged in
  bool quit_after = false;   // idle: send QUIT after the NOOP reply
  uint8_t bstate = 0;        // RETR body scanner state
  char* buf = nullptr;
  size_t len = 0;
  const char* optr = nullptr;
  size_t olen = 0, ooff = 0;
  char out[64];
  u32 user = 0;              // 1-based
  u32 user_seq = 0;
  u32 nmsgs = 0;
  u64 stat_size = 0;
  u32 line_no = 0;
  u64 list_sum = 0;
  u32 cur = 0;
  u64 body_octets = 0;
  u64 uid_fp = 0;
  std::vector<u32> sizes;
  std::vector<u64> uid_hashes;
  i64 t_cmd = 0, t_sess = 0, t_deadline = 0, start_at = 0, next_noop = 0;
};

inline u64 fnv1a(const char* p, size_t n) {
  u64 h = 1469598103934665603ULL;
  for (size_t i = 0; i < n; ++i) {
    h ^= uint8_t(p[i]);
    h *= 1099511628211ULL;
  }
  return h;
}
inline u64 mix(u64 a, u64 b) {
  u64 x = a ^ (b + 0x9e3779b97f4a7c15ULL + (a << 6) + (a >> 2));
  return x ? x : 1;
}

std::string sanitize(std::string_view s, size_t maxlen = 160) {
  std::string r;
  for (char ch : s.substr(0, maxlen)) {
    unsigned char u = uint8_t(ch);
    if (u >= 0x20 && u < 0x7f) r.push_back(ch);
    else {
      char tmp[8];
      std::snprintf(tmp, sizeof tmp, "\\x%02x", u);
      r += tmp;
    }
  }
  if (s.size() > maxlen) r += "...";
  return r;
}

// First i in [s, e-1) with s[i] == '\n' and s[i+1] == '.', or nullptr. Only such places
// matter inside a RETR body: a line that starts with '.' is stuffed or is the terminator.
inline const char* find_nl_dot(const char* s, const char* e) {
#if defined(__SSE2__)
  const __m128i nl = _mm_set1_epi8('\n');
  const __m128i dot = _mm_set1_epi8('.');
  while (e - s >= 17) {
    __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
    __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + 1));
    unsigned m = unsigned(_mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, nl), _mm_cmpeq_epi8(b, dot))));
    if (m) return s + __builtin_ctz(m);
    s += 16;
  }
#endif
  for (; e - s >= 2; ++s) {
    const char* nlp = static_cast<const char*>(std::memchr(s, '\n', size_t(e - s - 1)));
    if (!nlp) return nullptr;
    if (nlp[1] == '.') return nlp;
    s = nlp;
  }
  return nullptr;
}

// ---------------------------------------------------------------- worker
class Worker {
 public:
  Worker(Shared* sh, int id, std::vector<u32> slots) : sh_(sh), o_(sh->o), id_(id) {
    conns_.resize(slots.size());
    bufmem_.reset(new char[slots.size() * o_->bufsize]);
    for (size_t i = 0; i < slots.size(); ++i) {
      conns_[i].slot = slots[i];
      conns_[i].buf = bufmem_.get() + i * o_->bufsize;
    }
    ready_.reserve(conns_.size());
    scratch_.reserve(conns_.size());
  }

  void run();
  Stats& stats() { return st_; }

 private:
  Shared* sh_;
  const Options* o_;
  int id_;
  int ep_ = -1;
  std::vector<Conn> conns_;
  std::unique_ptr<char[]> bufmem_;
  std::vector<Conn*> ready_;
  Stats st_;
  bool counting_ = true;
  bool stopping_ = false;
  bool idle_quitting_ = false;
  int active_ = 0;
  size_t done_ = 0;
  std::vector<Conn*> scratch_;

  void set_done(Conn& c) {
    if (c.phase != Phase::Done) {
      c.phase = Phase::Done;
      ++done_;
    }
  }

  bool duration_mode() const { return o_->sessions == 0 && o_->scenario != Scenario::Idle; }
  Scenario scen() const { return o_->scenario; }

  void sample(std::vector<std::string>& v, const Conn& c, std::string_view what, std::string_view detail) {
    if (int(v.size()) >= o_->samples) return;
    std::string s = "[";
    s += c.user ? sh_->user_name[c.user - 1] : std::string("-");
    s += " ";
    s += kCmdNames[c.cmd];
    if (c.cmd == K_RETR) s += " " + std::to_string(c.cur);
    s += "] ";
    s += what;
    if (!detail.empty()) {
      s += ": ";
      s += sanitize(detail);
    }
    v.push_back(std::move(s));
  }
  void error_note(const Conn& c, std::string_view what, std::string_view detail) {
    ++st_.errors;
    sample(st_.error_samples, c, what, detail);
  }
  void mismatch(const Conn& c, std::string_view what, std::string_view detail = {}) {
    ++st_.mismatches;
    sample(st_.mismatch_samples, c, what, detail);
  }

  // Session-ending failure. Always returns false (for "return fail(...)").
  bool fail(Conn& c, std::string_view what, std::string_view detail = {}) {
    error_note(c, what, detail);
    if (scen() == Scenario::Idle) {
      if (!c.established) ++st_.login_failed;
      else if (!idle_quitting_) ++st_.dropped;
    }
    end_session(c, false);
    return false;
  }
  bool fail_errno(Conn& c, const char* what) {
    int e = errno;
    return fail(c, what, std::strerror(e));
  }

  void set_events(Conn& c, bool want_out) {
    if (c.want_out == want_out) return;
    c.want_out = want_out;
    epoll_event ev{};
    ev.events = EPOLLIN | (want_out ? u32(EPOLLOUT) : 0u);
    ev.data.ptr = &c;
    epoll_ctl(ep_, EPOLL_CTL_MOD, c.fd, &ev);
  }

  u32 pick_user(Conn& c) {
    const u32 U = u32(o_->users), C = u32(o_->clients);
    if (C <= U) {
      // Slot s owns users s+1, s+1+C, s+1+2C, ... (no two concurrent sessions share a user).
      u64 u = u64(c.slot) + 1 + u64(c.user_seq) * C;
      if (u > U) {
        c.user_seq = 0;
        u = c.slot + 1;
      }
      ++c.user_seq;
      return u32(u);
    }
    return c.slot % U + 1;
  }

  void start_session(Conn& c) {
    c.len = 0;
    c.rs = RState::Status;
    c.cmd = K_GREETING;
    c.want_out = false;
    c.established = false;
    c.quit_after = false;
    c.user = scen() == Scenario::Churn ? 0 : pick_user(c);
    c.nmsgs = 0;
    c.cur = 0;
    const auto* sa = reinterpret_cast<const sockaddr*>(&sh_->addr);
    int fd = ::socket(sa->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      c.phase = Phase::Await;  // so that fail() accounts it like any failed session
      fail_errno(c, "socket");
      return;
    }
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    c.fd = fd;
    ++active_;
    c.phase = Phase::Await;
    c.t_sess = c.t_cmd = now_ns();
    ++st_.connects;
    if (::connect(fd, sa, sh_->addrlen) < 0 && errno != EINPROGRESS) {
      fail_errno(c, "connect");
      return;
    }
    // The greeting's arrival tells us the connection is up; a refused connect shows
    // up as EPOLLERR/EPOLLHUP and read() then reports the error.
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = &c;
    if (epoll_ctl(ep_, EPOLL_CTL_ADD, fd, &ev) < 0) fail_errno(c, "epoll_ctl");
  }

  void end_session(Conn& c, bool ok) {
    i64 t = now_ns();
    if (c.fd >= 0) {
      ::close(c.fd);
      c.fd = -1;
      --active_;
    }
    c.len = 0;
    c.want_out = false;
    if (ok) {
      if (counting_) {
        ++st_.sessions_ok;
        st_.lat[K_SESSION].add(u64(t - c.t_sess));
      }
    } else {
      ++st_.sessions_failed;
    }
    if (scen() == Scenario::Idle) {
      if (!c.established && !idle_quitting_) sh_->idle_settled.fetch_add(1);
      set_done(c);
      return;
    }
    if (stopping_ || (o_->sessions && sh_->tokens.fetch_sub(1) <= 0)) {
      set_done(c);
      return;
    }
    c.phase = Phase::Free;
    if (ok) {
      ready_.push_back(&c);
      c.start_at = 0;
    } else {
      c.start_at = t + i64(o_->backoff * kNsPerSec);
    }
  }

  bool send_raw(Conn& c, Cmd k, const char* p, size_t n) {
    c.cmd = k;
    c.rs = RState::Status;
    c.optr = p;
    c.olen = n;
    c.ooff = 0;
    c.phase = Phase::Await;
    c.t_cmd = now_ns();
    return flush_out(c);
  }
  bool flush_out(Conn& c) {
    while (c.ooff < c.olen) {
      ssize_t n = ::send(c.fd, c.optr + c.ooff, c.olen - c.ooff, MSG_NOSIGNAL);
      if (n > 0) {
        c.ooff += size_t(n);
        st_.bytes_tx += u64(n);
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        set_events(c, true);
        return true;
      }
      if (n < 0 && errno == EINTR) continue;
      return fail_errno(c, "send");
    }
    set_events(c, false);
    return true;
  }
  bool send_static(Conn& c, Cmd k, const std::string& s) { return send_raw(c, k, s.data(), s.size()); }
  bool send_lit(Conn& c, Cmd k, const char* lit) { return send_raw(c, k, lit, std::strlen(lit)); }
  bool send_retr(Conn& c, u32 n) {
    std::memcpy(c.out, "RETR ", 5);
    auto r = std::to_chars(c.out + 5, c.out + sizeof c.out - 2, n);
    r.ptr[0] = '\r';
    r.ptr[1] = '\n';
    c.cur = n;
    return send_raw(c, K_RETR, c.out, size_t(r.ptr + 2 - c.out));
  }

  void on_writable(Conn& c) {
    if (c.phase == Phase::Await && c.ooff < c.olen) flush_out(c);
    else set_events(c, false);
  }

  void on_readable(Conn& c) {
    for (;;) {
      size_t space = o_->bufsize - c.len;
      if (space == 0) {
        fail(c, "reply line too long (no CRLF within buffer)");
        return;
      }
      if (o_->read_max && space > o_->read_max) space = o_->read_max;
      ssize_t n = ::read(c.fd, c.buf + c.len, space);
      if (n > 0) {
        if (counting_) st_.bytes_rx += u64(n);
        c.len += size_t(n);
        if (!process(c)) return;
        if (size_t(n) < space && c.phase != Phase::QuitWait) return;  // drained for now
        continue;
      }
      if (n == 0) {
        on_eof(c);
        return;
      }
      if (errno == EAGAIN || errno == EWOULDBLOCK) return;
      if (errno == EINTR) continue;
      fail_errno(c, c.cmd == K_GREETING ? "connect/read" : "read");
      return;
    }
  }

  void on_eof(Conn& c) {
    if (c.phase == Phase::QuitWait) {
      end_session(c, true);
      return;
    }
    if (c.phase == Phase::Held) {
      fail(c, "server closed idle connection");
      return;
    }
    fail(c, "connection closed by server while waiting for reply");
  }

  // Body of a RETR reply: count message octets, undo dot-stuffing, find ".\r\n".
  // States: 0 line start, 1 inside a line (or lines), 2 '.' at line start, 3 ".\r" at line start.
  size_t scan_body(Conn& c, const char* p, size_t n, bool& done) {
    const char* s = p;
    const char* e = p + n;
    uint8_t st = c.bstate;
    u64 oct = c.body_octets;
    while (s < e) {
      switch (st) {
        case 0:
          if (*s == '.') {
            st = 2;
            ++s;
            break;
          }
          st = 1;
          [[fallthrough]];
        case 1: {
          // Skip to the next line that starts with '.', or to the end of the data.
          const char* hit = find_nl_dot(s, e);
          if (hit) {
            oct += u64(hit + 1 - s);
            s = hit + 1;
            st = 0;
          } else {
            oct += u64(e - s);
            st = e[-1] == '\n' ? 0 : 1;
            s = e;
          }
          break;
        }
        case 2:
          if (*s == '\r') {
            st = 3;
            ++s;
          } else {
            st = 1;  // stuffed line: the leading dot is not part of the message
          }
          break;
        case 3:
          if (*s == '\n') {
            ++s;
            done = true;
            c.bstate = 0;
            c.body_octets = oct;
            return size_t(s - p);
          }
          oct += 1;  // ".\r" + more: stuffed line whose text starts with CR
          st = 1;
          break;
      }
    }
    c.bstate = st;
    c.body_octets = oct;
    return n;
  }

  // Returns false when the connection was closed while processing.
  bool process(Conn& c) {
    size_t pos = 0;
    while (pos < c.len) {
      if (c.phase != Phase::Await) {
        // Nothing is outstanding: whatever the server sends now is unsolicited.
        std::string_view junk(c.buf + pos, c.len - pos);
        return fail(c, c.phase == Phase::QuitWait ? "data after QUIT reply" : "unsolicited data", junk);
      }
      if (c.rs == RState::Body) {
        bool done = false;
        pos += scan_body(c, c.buf + pos, c.len - pos, done);
        if (done && !reply_complete(c, c.len - pos)) return false;
        continue;
      }
      char* start = c.buf + pos;
      char* nl = static_cast<char*>(std::memchr(start, '\n', c.len - pos));
      if (!nl) break;
      size_t ll = size_t(nl - start);
      pos += ll + 1;
      if (ll == 0 || start[ll - 1] != '\r') return fail(c, "line not terminated by CRLF", std::string_view(start, ll));
      std::string_view line(start, ll - 1);
      bool ok = c.rs == RState::Status ? on_status(c, line, c.len - pos) : on_ml_line(c, line, c.len - pos);
      if (!ok) return false;
    }
    if (pos > 0) {
      size_t rest = c.len - pos;
      if (rest) std::memmove(c.buf, c.buf + pos, rest);
      c.len = rest;
    }
    return true;
  }

  static bool parse_u64(std::string_view s, u64& v) {
    if (s.empty() || s.size() > 19) return false;
    auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    return r.ec == std::errc() && r.ptr == s.data() + s.size();
  }

  bool on_status(Conn& c, std::string_view line, size_t rest) {
    if (line.size() < 3 || std::memcmp(line.data(), "+OK", 3) != 0) {
      bool err = line.size() >= 4 && std::memcmp(line.data(), "-ERR", 4) == 0;
      return fail(c, err ? "-ERR reply" : "malformed reply (neither +OK nor -ERR)", line);
    }
    switch (c.cmd) {
      case K_STAT: {
        // "+OK nn mm"
        std::string_view t = line.substr(3);
        u64 n = 0, m = 0;
        size_t a = t.find_first_not_of(' ');
        size_t b = a == std::string_view::npos ? a : t.find(' ', a);
        bool ok = a != std::string_view::npos && b != std::string_view::npos && parse_u64(t.substr(a, b - a), n);
        if (ok) {
          size_t d = t.find_first_not_of(' ', b);
          size_t e2 = d == std::string_view::npos ? d : t.find(' ', d);
          ok = d != std::string_view::npos &&
               parse_u64(t.substr(d, e2 == std::string_view::npos ? std::string_view::npos : e2 - d), m);
        }
        if (!ok || n > 10000000) return fail(c, "malformed STAT reply", line);
        c.nmsgs = u32(n);
        c.stat_size = m;
        return reply_complete(c, rest);
      }
      case K_UIDL:
      case K_LIST:
        c.rs = RState::Lines;
        c.line_no = 0;
        c.list_sum = 0;
        c.uid_fp = 0;
        if (c.cmd == K_UIDL) c.uid_hashes.clear();
        else c.sizes.assign(c.nmsgs, UINT32_MAX);
        return true;
      case K_RETR:
        c.rs = RState::Body;
        c.bstate = 0;
        c.body_octets = 0;
        return true;
      default:
        return reply_complete(c, rest);
    }
  }

  bool on_ml_line(Conn& c, std::string_view line, size_t rest) {
    if (line.size() == 1 && line[0] == '.') return reply_complete(c, rest);
    if (!line.empty() && line[0] == '.') line.remove_prefix(1);  // undo dot-stuffing
    ++c.line_no;
    size_t sp = line.find(' ');
    u64 n = 0;
    if (sp == std::string_view::npos || !parse_u64(line.substr(0, sp), n)) {
      error_note(c, c.cmd == K_UIDL ? "malformed UIDL line" : "malformed LIST line", line);
      return true;
    }
    if (n != c.line_no) {
      error_note(c, "listing out of order", line);
      return true;
    }
    std::string_view arg = line.substr(sp + 1);
    if (c.cmd == K_UIDL) {
      bool ok = !arg.empty() && arg.size() <= 70;
      for (char ch : arg) ok = ok && uint8_t(ch) >= 0x21 && uint8_t(ch) <= 0x7e;
      if (!ok) {
        error_note(c, "malformed unique-id", line);
        return true;
      }
      u64 h = fnv1a(arg.data(), arg.size());
      c.uid_hashes.push_back(h);
      c.uid_fp = mix(mix(c.uid_fp, n), h);
    } else {
      u64 sz = 0;
      // A scan listing may carry more after the size (RFC 1939 7.); only the size counts.
      if (size_t sp2 = arg.find(' '); sp2 != std::string_view::npos) arg = arg.substr(0, sp2);
      if (!parse_u64(arg, sz) || sz > UINT32_MAX - 1) {
        error_note(c, "malformed LIST size", line);
        return true;
      }
      c.list_sum += sz;
      if (n <= c.nmsgs) c.sizes[n - 1] = u32(sz);
    }
    return true;
  }

  // A full reply to c.cmd has arrived; rest = bytes received beyond it.
  bool reply_complete(Conn& c, size_t rest) {
    i64 t = now_ns();
    if (counting_) {
      st_.lat[c.cmd].add(u64(t - c.t_cmd));
      if (c.cmd != K_GREETING) ++st_.commands;
    }
    if (rest) return fail(c, "unsolicited data after reply", std::string_view(c.buf + c.len - rest, rest));
    switch (c.cmd) {
      case K_GREETING:
        if (scen() == Scenario::Churn) return send_lit(c, K_QUIT, "QUIT\r\n");
        return send_static(c, K_USER, sh_->user_cmd[c.user - 1]);
      case K_USER:
        return send_static(c, K_PASS, sh_->pass_cmd);
      case K_PASS:
        if (scen() == Scenario::Idle) {
          c.established = true;
          ++st_.established;
          sh_->idle_settled.fetch_add(1);
          c.phase = Phase::Held;
          c.next_noop = t + i64(o_->noop_interval * kNsPerSec);
          return true;
        }
        return send_lit(c, K_STAT, "STAT\r\n");
      case K_STAT:
        if (scen() == Scenario::Login) return send_lit(c, K_QUIT, "QUIT\r\n");
        return send_lit(c, K_UIDL, "UIDL\r\n");
      case K_UIDL: {
        if (c.uid_hashes.size() != c.nmsgs)
          mismatch(c, "UIDL count differs from STAT",
                   std::to_string(c.uid_hashes.size()) + " vs " + std::to_string(c.nmsgs));
        std::sort(c.uid_hashes.begin(), c.uid_hashes.end());
        if (std::adjacent_find(c.uid_hashes.begin(), c.uid_hashes.end()) != c.uid_hashes.end())
          mismatch(c, "duplicate unique-id in UIDL listing");
        if (o_->uidl_stability) {
          // The benchmark never deletes, so a user's listing must not change during the run.
          auto& slot = sh_->uidl_fp[c.user - 1];
          u64 expect = 0;
          u64 fp = c.uid_fp ? c.uid_fp : 1;
          if (!slot.compare_exchange_strong(expect, fp) && expect != fp)
            mismatch(c, "UIDL listing differs from an earlier session of the same user");
        }
        return send_lit(c, K_LIST, "LIST\r\n");
      }
      case K_LIST: {
        if (c.line_no != c.nmsgs)
          mismatch(c, "LIST count differs from STAT", std::to_string(c.line_no) + " vs " + std::to_string(c.nmsgs));
        if (c.list_sum != c.stat_size)
          mismatch(c, "LIST sizes do not add up to STAT size",
                   std::to_string(c.list_sum) + " vs " + std::to_string(c.stat_size));
        if (c.nmsgs == 0) return send_lit(c, K_QUIT, "QUIT\r\n");
        return send_retr(c, 1);
      }
      case K_RETR: {
        if (counting_) {
          ++st_.messages;
          st_.octets += c.body_octets;
        }
        u32 want = c.sizes[c.cur - 1];
        if (want != UINT32_MAX && c.body_octets != want + o_->retr_extra)
          mismatch(c, "RETR octets differ from LIST size",
                   std::to_string(c.body_octets) + " received vs " + std::to_string(want) + " listed" +
                       (o_->retr_extra ? " + " + std::to_string(o_->retr_extra) : ""));
        if (c.cur < c.nmsgs) return send_retr(c, c.cur + 1);
        return send_lit(c, K_QUIT, "QUIT\r\n");
      }
      case K_NOOP:
        ++st_.noops;
        if (c.quit_after) return send_lit(c, K_QUIT, "QUIT\r\n");
        c.phase = Phase::Held;
        c.next_noop = t + i64(o_->noop_interval * kNsPerSec);
        return true;
      case K_QUIT:
        if (scen() == Scenario::Idle) ++st_.quit_ok;
        c.phase = Phase::QuitWait;
        c.t_deadline = t + i64(o_->quit_wait * kNsPerSec);
        return true;
      default:
        return fail(c, "internal: unexpected command state");
    }
  }

  void sweep(i64 t) {
    const i64 tmo = i64(o_->timeout * kNsPerSec);
    for (auto& c : conns_) {
      switch (c.phase) {
        case Phase::Free:
          if (!stopping_ && c.start_at <= t) start_session(c);
          break;
        case Phase::Await:
          if (t - c.t_cmd > tmo) fail(c, "timeout waiting for reply");
          break;
        case Phase::QuitWait:
          if (t >= c.t_deadline) {
            ++st_.quit_no_close;
            end_session(c, true);
          }
          break;
        case Phase::Held:
          if (idle_quitting_) {
            send_lit(c, K_QUIT, "QUIT\r\n");
          } else if (t >= c.next_noop) {
            send_lit(c, K_NOOP, "NOOP\r\n");
          }
          break;
        case Phase::Done:
          break;
      }
    }
  }

  void abort_all() {
    for (auto& c : conns_) {
      if (c.fd >= 0) {
        ::close(c.fd);
        c.fd = -1;
        --active_;
        ++st_.sessions_aborted;
      }
      set_done(c);
    }
  }

  bool all_done() const { return done_ == conns_.size(); }

  void idle_control(i64 t) {
    if (scen() != Scenario::Idle) return;
    i64 he = sh_->hold_end.load();
    if (he == 0 && sh_->idle_settled.load() >= o_->clients) {
      i64 expect = 0;
      i64 end = t + i64(o_->duration * kNsPerSec);
      if (sh_->hold_end.compare_exchange_strong(expect, end)) {
        sh_->hold_start.store(t);
        std::fprintf(stderr, "# idle: all %d connections settled, holding for %.1f s\n", o_->clients, o_->duration);
        he = end;
      } else {
        he = expect;
      }
    }
    if (he != 0 && !idle_quitting_ && (t >= he || g_interrupted.load())) {
      idle_quitting_ = true;
      for (auto& c : conns_) {
        if (c.established && c.fd >= 0) {
          ++st_.alive_at_end;
          if (c.phase == Phase::Held) send_lit(c, K_QUIT, "QUIT\r\n");
          else if (c.phase == Phase::Await && c.cmd == K_NOOP) c.quit_after = true;
        }
      }
    }
  }
};

void Worker::run() {
  ep_ = epoll_create1(EPOLL_CLOEXEC);
  if (ep_ < 0) {
    std::perror("epoll_create1");
    std::exit(1);
  }
  const i64 t0 = sh_->t0;
  // Initial start times (ramp) and session tokens.
  for (auto& c : conns_) {
    c.phase = Phase::Free;
    c.start_at = o_->ramp > 0 ? t0 + i64(double(c.slot) / o_->ramp * kNsPerSec) : t0;
    if (o_->sessions && sh_->tokens.fetch_sub(1) <= 0) set_done(c);
  }
  counting_ = !duration_mode() || o_->warmup <= 0;
  std::vector<epoll_event> evs(1024);
  i64 next_sweep = 0;
  for (;;) {
    i64 t = now_ns();
    if (duration_mode()) {
      counting_ = t >= sh_->t_window && t < sh_->t_end;
      if (t >= sh_->t_end || g_interrupted.load()) {
        stopping_ = true;
        abort_all();
        break;
      }
    } else if (o_->sessions && g_interrupted.load() && !stopping_) {
      stopping_ = true;
      abort_all();
    }
    if (t >= next_sweep) {
      idle_control(t);
      sweep(t);
      next_sweep = t + 10 * 1000000LL;
    }
    if (!duration_mode() && all_done()) break;
    int n = epoll_wait(ep_, evs.data(), int(evs.size()), 10);
    if (n < 0 && errno != EINTR) {
      std::perror("epoll_wait");
      break;
    }
    for (int i = 0; i < n; ++i) {
      Conn& c = *static_cast<Conn*>(evs[i].data.ptr);
      if (c.fd < 0) continue;  // closed earlier in this batch
      u32 e = evs[i].events;
      if ((e & EPOLLOUT) && c.want_out) on_writable(c);
      if (c.fd >= 0 && (e & (EPOLLIN | EPOLLERR | EPOLLHUP))) on_readable(c);
    }
    if (!ready_.empty()) {
      // Sessions restart after the batch, never inside it (stale events point at the slot).
      scratch_.swap(ready_);
      for (Conn* c : scratch_)
        if (c->phase == Phase::Free && !stopping_) start_session(*c);
      scratch_.clear();
    }
  }
  ::close(ep_);
}

// ---------------------------------------------------------------- output
void json_str(std::string& out, std::string_view s) {
  out += '"';
  for (char ch : s) {
    switch (ch) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (uint8_t(ch) < 0x20) {
          char tmp[8];
          std::snprintf(tmp, sizeof tmp, "\\u%04x", uint8_t(ch));
          out += tmp;
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

std::string fmt(double v, int prec = 1) {
  char tmp[64];
  std::snprintf(tmp, sizeof tmp, "%.*f", prec, v);
  return tmp;
}

bool is_loopback(const sockaddr_storage& a) {
  if (a.ss_family == AF_INET) {
    auto* s = reinterpret_cast<const sockaddr_in*>(&a);
    return (ntohl(s->sin_addr.s_addr) >> 24) == 127;
  }
  if (a.ss_family == AF_INET6) {
    auto* s = reinterpret_cast<const sockaddr_in6*>(&a);
    return IN6_IS_ADDR_LOOPBACK(&s->sin6_addr);
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  Options o = parse_args(argc, argv);
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGINT, on_sigint);
  std::signal(SIGTERM, on_sigint);

  // Enough descriptors for every connection.
  rlimit rl{};
  if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < rl.rlim_max) {
    rl.rlim_cur = rl.rlim_max;
    setrlimit(RLIMIT_NOFILE, &rl);
  }
  if (getrlimit(RLIMIT_NOFILE, &rl) == 0 && rlim_t(o.clients) + 64 > rl.rlim_cur)
    std::fprintf(stderr, "pop3load: warning: RLIMIT_NOFILE %llu is low for %d clients\n",
                 (unsigned long long)rl.rlim_cur, o.clients);

  Shared sh;
  sh.o = &o;
  {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* res = nullptr;
    std::string port = std::to_string(o.port);
    int rc = getaddrinfo(o.host.c_str(), port.c_str(), &hints, &res);
    if (rc != 0 || !res) {
      std::fprintf(stderr, "pop3load: cannot resolve %s: %s\n", o.host.c_str(), gai_strerror(rc));
      return 2;
    }
    std::memcpy(&sh.addr, res->ai_addr, res->ai_addrlen);
    sh.addrlen = res->ai_addrlen;
    freeaddrinfo(res);
  }
  if (!o.allow_nonlocal && !is_loopback(sh.addr)) {
    std::fprintf(stderr, "pop3load: refusing non-loopback target %s (use --allow-nonlocal)\n", o.host.c_str());
    return 2;
  }
  for (int u = 1; u <= o.users; ++u) {
    std::string name = o.user_pattern;
    name.replace(name.find("%d"), 2, std::to_string(u));
    sh.user_name.push_back(name);
    sh.user_cmd.push_back("USER " + name + "\r\n");
  }
  sh.pass_cmd = "PASS " + o.password + "\r\n";
  sh.uidl_fp.reset(new std::atomic<u64>[size_t(o.users)]);
  for (int u = 0; u < o.users; ++u) sh.uidl_fp[u].store(0);
  sh.tokens.store(o.sessions);

  rusage ru0{}, ru1{};
  getrusage(RUSAGE_SELF, &ru0);
  sh.t0 = now_ns();
  sh.t_window = sh.t0 + i64(o.warmup * kNsPerSec);
  sh.t_end = sh.t_window + i64(o.duration * kNsPerSec);

  std::vector<std::unique_ptr<Worker>> workers;
  for (int t = 0; t < o.threads; ++t) {
    std::vector<u32> slots;
    for (int s = t; s < o.clients; s += o.threads) slots.push_back(u32(s));
    workers.emplace_back(new Worker(&sh, t, std::move(slots)));
  }
  std::vector<std::thread> th;
  for (size_t t = 1; t < workers.size(); ++t) th.emplace_back([&, t] { workers[t]->run(); });
  workers[0]->run();
  for (auto& x : th) x.join();
  const i64 t_done = now_ns();
  getrusage(RUSAGE_SELF, &ru1);

  Stats total;
  for (auto& w : workers) {
    Stats& s = w->stats();
    for (int k = 0; k < K_COUNT; ++k) total.lat[k].merge(s.lat[k]);
    total.sessions_ok += s.sessions_ok;
    total.sessions_failed += s.sessions_failed;
    total.sessions_aborted += s.sessions_aborted;
    total.commands += s.commands;
    total.messages += s.messages;
    total.bytes_rx += s.bytes_rx;
    total.bytes_tx += s.bytes_tx;
    total.octets += s.octets;
    total.errors += s.errors;
    total.mismatches += s.mismatches;
    total.quit_no_close += s.quit_no_close;
    total.connects += s.connects;
    total.established += s.established;
    total.login_failed += s.login_failed;
    total.dropped += s.dropped;
    total.alive_at_end += s.alive_at_end;
    total.quit_ok += s.quit_ok;
    total.noops += s.noops;
    for (auto& e : s.error_samples)
      if (int(total.error_samples.size()) < o.samples) total.error_samples.push_back(e);
    for (auto& e : s.mismatch_samples)
      if (int(total.mismatch_samples.size()) < o.samples) total.mismatch_samples.push_back(e);
  }

  const bool dmode = o.sessions == 0 && o.scenario != Scenario::Idle;
  double elapsed = dmode ? double(std::min(t_done, sh.t_end) - std::min(sh.t_window, t_done)) / kNsPerSec
                         : double(t_done - sh.t0) / kNsPerSec;
  if (elapsed <= 0) elapsed = 1e-9;
  auto tv = [](const timeval& a, const timeval& b) { return double(b.tv_sec - a.tv_sec) + double(b.tv_usec - a.tv_usec) / 1e6; };
  double cpu_user = tv(ru0.ru_utime, ru1.ru_utime);
  double cpu_sys = tv(ru0.ru_stime, ru1.ru_stime);
  double wall = double(t_done - sh.t0) / kNsPerSec;

  std::string j = "{";
  auto key = [&](const char* k) {
    if (j.size() > 1) j += ", ";
    json_str(j, k);
    j += ": ";
  };
  if (!o.label.empty()) {
    key("label");
    json_str(j, o.label);
  }
  key("scenario"); json_str(j, scenario_name(o.scenario));
  key("target"); json_str(j, o.host + ":" + std::to_string(o.port));
  key("clients"); j += std::to_string(o.clients);
  key("threads"); j += std::to_string(o.threads);
  key("users"); j += std::to_string(o.users);
  if (dmode || o.scenario == Scenario::Idle) { key("duration"); j += fmt(o.duration, 1); }
  if (o.sessions) { key("sessions_requested"); j += std::to_string(o.sessions); }
  if (o.warmup > 0) { key("warmup"); j += fmt(o.warmup, 1); }
  key("elapsed_s"); j += fmt(elapsed, 3);
  key("sessions_completed"); j += std::to_string(total.sessions_ok);
  key("sessions_failed"); j += std::to_string(total.sessions_failed);
  key("sessions_aborted_at_end"); j += std::to_string(total.sessions_aborted);
  key("commands"); j += std::to_string(total.commands);
  key("messages_retrieved"); j += std::to_string(total.messages);
  key("message_octets"); j += std::to_string(total.octets);
  key("bytes_received"); j += std::to_string(total.bytes_rx);
  key("bytes_sent"); j += std::to_string(total.bytes_tx);
  key("sessions_per_s"); j += fmt(double(total.sessions_ok) / elapsed, 1);
  key("commands_per_s"); j += fmt(double(total.commands) / elapsed, 1);
  key("messages_per_s"); j += fmt(double(total.messages) / elapsed, 1);
  key("mib_per_s"); j += fmt(double(total.bytes_rx) / elapsed / 1048576.0, 2);
  key("latency_us");
  j += "{";
  bool first = true;
  for (int k = 0; k < K_COUNT; ++k) {
    const Histogram& h = total.lat[k];
    if (!h.count()) continue;
    if (!first) j += ", ";
    first = false;
    json_str(j, kCmdNames[k]);
    j += ": {\"n\": " + std::to_string(h.count()) + ", \"mean\": " + fmt(h.mean() / 1e3) +
         ", \"p50\": " + fmt(h.quantile(0.50) / 1e3) + ", \"p90\": " + fmt(h.quantile(0.90) / 1e3) +
         ", \"p99\": " + fmt(h.quantile(0.99) / 1e3) + ", \"max\": " + fmt(double(h.max()) / 1e3) + "}";
  }
  j += "}";
  key("errors"); j += std::to_string(total.errors);
  key("error_samples");
  j += "[";
  for (size_t i = 0; i < total.error_samples.size(); ++i) {
    if (i) j += ", ";
    json_str(j, total.error_samples[i]);
  }
  j += "]";
  key("mismatches"); j += std::to_string(total.mismatches);
  key("mismatch_samples");
  j += "[";
  for (size_t i = 0; i < total.mismatch_samples.size(); ++i) {
    if (i) j += ", ";
    json_str(j, total.mismatch_samples[i]);
  }
  j += "]";
  key("quit_without_close"); j += std::to_string(total.quit_no_close);
  if (o.scenario == Scenario::Idle) {
    i64 hs = sh.hold_start.load(), he = sh.hold_end.load();
    key("idle");
    j += "{\"target\": " + std::to_string(o.clients) + ", \"established\": " + std::to_string(total.established) +
         ", \"login_failed\": " + std::to_string(total.login_failed) +
         ", \"dropped_during_hold\": " + std::to_string(total.dropped) +
         ", \"alive_at_end\": " + std::to_string(total.alive_at_end) +
         ", \"quit_ok\": " + std::to_string(total.quit_ok) + ", \"noops\": " + std::to_string(total.noops) +
         ", \"settle_s\": " + fmt(hs ? double(hs - sh.t0) / kNsPerSec : 0.0, 3) +
         ", \"hold_s\": " + fmt(hs && he ? double(he - hs) / kNsPerSec : 0.0, 3) + "}";
  }
  key("generator_cpu");
  j += "{\"user_s\": " + fmt(cpu_user, 3) + ", \"sys_s\": " + fmt(cpu_sys, 3) +
       ", \"wall_s\": " + fmt(wall, 3) + ", \"util\": " + fmt((cpu_user + cpu_sys) / wall, 3) + "}";
  key("interrupted"); j += g_interrupted.load() ? "true" : "false";
  j += "}\n";
  std::fwrite(j.data(), 1, j.size(), stdout);
  std::fflush(stdout);
  return 0;
}
