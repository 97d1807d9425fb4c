// MeteredBackend: a backend that times every call of the backend it wraps and counts the
// calls that the database failed, for the server's metrics. A procedure's own refusal (a
// locked drop, say) is an answer, not a database error, and is not counted.
#pragma once

#include <chrono>
#include <memory>
#include <utility>

#include "data/backend.hpp"
#include "platform/error_numbers.hpp"
#include "platform/failure.hpp"
#include "platform/metrics.hpp"

namespace talvex::data {

class MeteredBackend final : public Backend {
 public:
  MeteredBackend(std::shared_ptr<Backend> inner, std::shared_ptr<Metrics> metrics)
      : inner_(std::move(inner)), metrics_(std::move(metrics)) {}

  Recordset Run(std::string_view procedure, std::span<const BoundParameter> parameters,
                bool rows) override {
    const auto start = std::chrono::steady_clock::now();
    try {
      Recordset result = inner_->Run(procedure, parameters, rows);
      metrics_->DatabaseCall(std::chrono::steady_clock::now() - start);
      return result;
    } catch (const Failure& failure) {
      Failed(failure, start);
      throw;
    }
  }

  asio::awaitable<Recordset> RunAsync(std::string procedure, std::vector<BoundParameter> parameters,
                                      bool rows) override {
    const auto start = std::chrono::steady_clock::now();
    try {
      Recordset result =
          co_await inner_->RunAsync(std::move(procedure), std::move(parameters), rows);
      metrics_->DatabaseCall(std::chrono::steady_clock::now() - start);
      co_return result;
    } catch (const Failure& failure) {
      Failed(failure, start);
      throw;
    }
  }

  std::unique_ptr<BodyReader> OpenBody(std::int64_t itemId) override {
    return inner_->OpenBody(itemId);
  }

  void SetEventLog(const LogSink& log) override { inner_->SetEventLog(log); }

 private:
  void Failed(const Failure& failure, std::chrono::steady_clock::time_point start) const {
    metrics_->DatabaseCall(std::chrono::steady_clock::now() - start);
    if (!failure.Is(ErrorNumber::kDbCommand)) metrics_->Count(Metrics::Counter::kDatabaseErrors);
  }

  std::shared_ptr<Backend> inner_;
  std::shared_ptr<Metrics> metrics_;
};

}  // namespace talvex::data
