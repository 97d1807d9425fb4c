// InstanceHeartbeat: the server process's row among the database's server instances. A lock on
// a mail drop names the process of the session that holds it; while the process beats, the lock
// stands, and once it has stopped beating for a minute (killed, hung, cut off) the drop may be
// taken over, instead of after the lock's fifteen minutes. Each start takes a new identifier, so
// a restarted process never keeps the locks of the one before it alive.
//
// The beats are awaited calls on backends of the server's (a pool of their own), from the event
// loop: a slow database holds up the next beat and nothing else.
#pragma once

#include <asio/io_context.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "data/backend_pool.hpp"
#include "platform/environment.hpp"
#include "platform/log.hpp"

namespace talvex {

// Well inside the minute after which a silent process's locks are stale, so that one beat
// lost to a busy database does not cost the locks.
inline constexpr std::chrono::milliseconds kHeartbeatPeriod{15000};

class InstanceHeartbeat {
 public:
  InstanceHeartbeat(asio::io_context& io, Environment env, std::shared_ptr<data::BackendPool> pool,
                    LogSink log, std::chrono::milliseconds period = kHeartbeatPeriod);
  // Stops beating without removing the row: the process is on its way out unordered, and the
  // row ages out like a killed one's.
  ~InstanceHeartbeat();
  InstanceHeartbeat(const InstanceHeartbeat&) = delete;
  InstanceHeartbeat& operator=(const InstanceHeartbeat&) = delete;

  // Takes a new identifier and beats at once, then every period; `firstBeat` runs on the event
  // loop once the first beat is over, whatever its outcome, so that the server serves no session
  // before its locks can name the process. Already beating, it only runs `firstBeat`.
  void Start(std::function<void()> firstBeat);
  // The identifier the locks are to carry: empty until a beat has registered the process, so
  // that no lock names a process the database does not know (which would make it stale).
  std::string InstanceId() const;
  // Stops beating and removes the process's row; `done` runs afterwards, on the event loop,
  // also when the removal failed or the process never registered.
  void Stop(std::function<void()> done);

  // What the loop and this object share; the loop keeps it while it runs.
  struct State;

 private:
  std::shared_ptr<State> state_;
};

}  // namespace talvex
