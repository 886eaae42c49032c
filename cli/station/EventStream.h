// The station's events for other programs (a line controller, a dashboard): one JSON object
// per line, each written and flushed as a whole.
//
// Contract: Post never waits on the output: a thread of its own writes. When the output fails
// (a closed pipe, a full disk) or falls more than a few thousand events behind, the stream is
// lost: Lost() says so from then on, with why, and nothing more is written. Stop writes what
// is pending, waiting at most a few seconds for an output that does not take it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/report/Output.h"

class CEventStream {
 public:
  // Writes one line; false when the output is gone.
  using CWriter = std::function<bool(const std::string& line)>;
  // Without a writer the stream takes every event and writes none.
  explicit CEventStream(CWriter write);
  ~CEventStream();
  CEventStream(const CEventStream&) = delete;
  CEventStream& operator=(const CEventStream&) = delete;

  void Post(const CJson& event);
  bool Lost() const;
  std::string LostText() const;
  void Stop();

 private:
  struct CState;
  static void Write(std::shared_ptr<CState> state, CWriter write);

  std::shared_ptr<CState> m_pState;
  bool m_bRunning = false;
};
