// A data engine for tests that records every call as DataAccess hands it over (procedure,
// descriptors, call kind) and answers with no rows, or fails every call; and a session whose
// default database it serves.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/backend_pool.hpp"
#include "data_support.hpp"

namespace talvex::test {

struct RecordedCall {
  std::string procedure;
  std::vector<ParameterDescriptor> descriptors;
  bool rows;
};

class RecordingBackend final : public data::Backend {
 public:
  explicit RecordingBackend(std::optional<Failure> failure = std::nullopt)
      : failure_(std::move(failure)) {}
  Recordset Run(std::string_view procedure, std::span<const data::BoundParameter> parameters,
                bool rows) override {
    RecordedCall call{std::string(procedure), {}, rows};
    for (const auto& parameter : parameters) call.descriptors.push_back(*parameter.descriptor);
    calls.push_back(std::move(call));
    if (failure_) throw *failure_;
    return rows ? Recordset(std::make_shared<const std::vector<std::string>>(), {}) : Recordset();
  }
  std::vector<RecordedCall> calls;

 private:
  std::optional<Failure> failure_;
};

// A session whose default database is served by `backend`.
struct FakeSession {
  explicit FakeSession(std::shared_ptr<data::Backend> backend) {
    auto pool = std::make_shared<data::BackendPool>();
    pool->Provide(data::ResolveConnection("", env), std::move(backend));
    session.emplace(env, pool);
  }
  TempDir dir;
  Environment env{dir.Path(), ""};
  std::optional<Session> session;
};

}  // namespace talvex::test
