// The OpenMetrics text of a server's counts.
#include "platform/metrics.hpp"

#include <algorithm>
#include <cstdio>

namespace talvex {
namespace {

struct CounterText {
  Metrics::Counter counter;
  std::string_view family;
  std::string_view labels;
  std::string_view help;
};

// One family may hold several counters, told apart by labels; families are written once.
constexpr std::array<CounterText, 7> kCounters{{
    {Metrics::Counter::kSessions, "talvex_sessions", "", "POP3 sessions accepted."},
    {Metrics::Counter::kLoginsOk, "talvex_logins", R"(result="ok")", "POP3 log-ins."},
    {Metrics::Counter::kLoginsFailed, "talvex_logins", R"(result="failed")", "POP3 log-ins."},
    {Metrics::Counter::kMessagesRetrieved, "talvex_messages_retrieved", "",
     "Messages sent whole by RETR."},
    {Metrics::Counter::kOctetsRetrieved, "talvex_retrieved_octets", "",
     "Octets of the messages sent by RETR."},
    {Metrics::Counter::kItemsDeleted, "talvex_items_deleted", "",
     "Items removed from their drops at QUIT."},
    {Metrics::Counter::kDatabaseErrors, "talvex_database_errors", "",
     "Database calls that failed."},
}};

void Family(std::string& out, std::string_view name, std::string_view type, std::string_view help) {
  out.append("# TYPE ").append(name).append(" ").append(type).append("\n");
  out.append("# HELP ").append(name).append(" ").append(help).append("\n");
}

void Sample(std::string& out, std::string_view name, std::string_view labels, double value) {
  out.append(name);
  if (!labels.empty()) out.append("{").append(labels).append("}");
  std::array<char, 32> text{};
  std::snprintf(text.data(), text.size(), " %.17g\n", value);
  out.append(text.data());
}

void Sample(std::string& out, std::string_view name, std::string_view labels, std::uint64_t value) {
  out.append(name);
  if (!labels.empty()) out.append("{").append(labels).append("}");
  out.append(" ").append(std::to_string(value)).append("\n");
}

}  // namespace

void Metrics::CommandReceived(std::string_view word) {
  const auto found = commands_.find(word);
  if (found != commands_.end()) {
    ++found->second;
  } else {
    commands_.emplace(word, 1);
  }
}

void Metrics::Histogram::Observe(std::chrono::nanoseconds value) {
  const double seconds = std::chrono::duration<double>(value).count();
  const auto* first = std::lower_bound(kBounds.begin(), kBounds.end(), seconds);
  for (auto i = static_cast<std::size_t>(first - kBounds.begin()); i < buckets_.size(); ++i) {
    ++buckets_.at(i);
  }
  ++count_;
  sum_ += seconds;
}

void Metrics::Histogram::Write(std::string& out, std::string_view name,
                               std::string_view help) const {
  Family(out, name, "histogram", help);
  const std::string bucket = std::string(name) + "_bucket";
  for (std::size_t i = 0; i < kBounds.size(); ++i) {
    std::array<char, 32> bound{};
    std::snprintf(bound.data(), bound.size(), "le=\"%g\"", kBounds.at(i));
    Sample(out, bucket, bound.data(), buckets_.at(i));
  }
  Sample(out, bucket, R"(le="+Inf")", count_);
  Sample(out, std::string(name) + "_sum", "", sum_);
  Sample(out, std::string(name) + "_count", "", count_);
}

std::string Metrics::Exposition() const {
  std::string out;
  Family(out, "talvex_sessions_open", "gauge", "POP3 sessions open now.");
  Sample(out, "talvex_sessions_open", "", static_cast<std::uint64_t>(sessionsOpen_));
  std::string_view family;
  for (const CounterText& counter : kCounters) {
    if (counter.family != family) {
      family = counter.family;
      Family(out, family, "counter", counter.help);
    }
    Sample(out, std::string(family) + "_total", counter.labels, Value(counter.counter));
  }
  Family(out, "talvex_commands", "counter", "POP3 commands received, by command word.");
  for (const auto& [word, count] : commands_) {
    Sample(out, "talvex_commands_total", "command=\"" + word + "\"", count);
  }
  databaseCalls_.Write(out, "talvex_database_call_seconds", "Time a database call took.");
  loopLag_.Write(out, "talvex_event_loop_lag_seconds",
                 "How late the event loop ran a timer that was due.");
  out.append("# EOF\n");
  return out;
}

}  // namespace talvex
