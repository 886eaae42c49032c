// The station's events for other programs (a line controller, a dashboard), a presenter of the
// engine's events: one JSON object per line, each written and flushed as a whole.
//
// Contract: events never wait on the output: a writer thread writes them. A reader may fall
// up to kBound events behind and loses none. When the output fails (a closed pipe, a full
// disk) or falls further behind, the stream is lost: Lost() says so from then on, with why,
// and nothing more is taken. Stop waits the given while for a slow reader to take what is
// pending and returns how many events stayed unwritten.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "engine/report/Output.h"
#include "engine/events/EngineEvent.h"
#include "engine/events/WriterThread.h"

class CEventStream final : public CEngineEventSink {
 public:
  static constexpr size_t kBound = 4096;
  // Writes one line; false when the output is gone.
  using CWriter = std::function<bool(const std::string& line)>;
  // Without a writer the stream takes every event and writes none.
  explicit CEventStream(CWriter write, CWriterThread::CStarter start = {});
  ~CEventStream() override { Stop(std::chrono::seconds(3)); }

  void OnArrived(const CModuleArrived& event) override;
  void OnProgrammingStarted(const CProgrammingStarted& event) override;
  void OnAttemptEnded(const CAttemptEnded& event) override;
  void OnRemoved(const CModuleRemoved& event) override;

  bool Lost() const;
  std::string LostText() const;
  size_t Stop(std::chrono::milliseconds wait) { return m_writer.Stop(wait); }

 private:
  // A line: time, slot, port and event, with the fields given.
  void Post(const CEventPlace& at, const char* event, CJson fields);

  CWriterThread m_writer;
};
