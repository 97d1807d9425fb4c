// BackendPool: the backends that the DataAccess objects of one server share, one per database,
// so that a session's connection outlives the session: opening the embedded database, setting
// it up and preparing its procedures happen once per server instead of once per client
// connection. The objects that share a pool run on one thread and every call is a transaction
// of its own, so sharing needs no lock.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "data/backend.hpp"
#include "data/metered_backend.hpp"
#include "platform/metrics.hpp"

namespace talvex::data {

class BackendPool {
 public:
  // The backends it makes report the state of their databases to `log`.
  explicit BackendPool(LogSink log = {}) : log_(std::move(log)) {}

  // The pool's backend of the target, made at the first request.
  std::shared_ptr<Backend> Get(const ConnectionTarget& target) {
    std::shared_ptr<Backend>& slot = SlotOf(target);
    if (!slot) {
      slot = CreateBackend(target);
      slot->SetEventLog(log_);
      if (metrics_) slot = std::make_shared<MeteredBackend>(std::move(slot), metrics_);
    }
    return slot;
  }

  // The backends made from now on time their calls and count their failures there.
  void UseMetrics(std::shared_ptr<Metrics> metrics) { metrics_ = std::move(metrics); }

  // Serves `backend` for the target from now on, in place of any made before: how a caller
  // (a test, above all) puts its own engine behind the DataHandlers that share the pool.
  void Provide(const ConnectionTarget& target, std::shared_ptr<Backend> backend) {
    SlotOf(target) = std::move(backend);
  }

 private:
  // The target's entry, added empty when the pool has none yet.
  std::shared_ptr<Backend>& SlotOf(const ConnectionTarget& target) {
    for (auto& [known, backend] : backends_) {
      if (known == target) return backend;
    }
    return backends_.emplace_back(target, nullptr).second;
  }

  LogSink log_;
  std::shared_ptr<Metrics> metrics_;
  std::vector<std::pair<ConnectionTarget, std::shared_ptr<Backend>>> backends_;
};

}  // namespace talvex::data
