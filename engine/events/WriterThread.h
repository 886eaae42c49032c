// A queue of texts and one thread that hands them to an output, so that whoever posts (a
// module's worker, a slot) never waits on that output: a paused reader, a full pipe, a slow
// terminal. Every presenter of the engine's events writes through one of these.
//
// Contract:
// - Post never blocks on the output. The queue holds at most Bound items; what becomes of one
//   more is the owner's choice: DropAndCount (a terminal) drops it and counts it, and the count
//   is written as a line of its own once the queue is written out; Lose (a stream of record)
//   takes nothing more from then on, writes what it holds, and Lost() says so.
// - A writer that returns false has lost its output: nothing more is written (Lost()).
// - With a frame maker, Refresh asks the thread to draw the owner's state once more; frames
//   come at most once per Pace, and the last state is drawn at Stop.
// - Stop waits at most the given while for what is pending, then leaves the thread to the
//   blocked output (it owns its half of the state) and returns how many items stayed unwritten.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

class CWriterThread {
 public:
  enum class EFull { DropAndCount, Lose };
  enum class ELost { No, Behind, OutputGone, NoThread, Stalled };
  // Writes one item (or frame); false when the output is gone.
  using CWrite = std::function<bool(const std::string& text)>;
  using CFrame = std::function<std::string()>;
  using CDropped = std::function<std::string(size_t dropped)>;
  using CStarter = std::function<std::thread(std::function<void()> work)>;
  struct COptions {
    size_t m_nBound = 1024;
    EFull m_full = EFull::DropAndCount;
    // With DropAndCount: the line that says how many were dropped.
    CDropped m_fnDropped;
    // Draws the owner's state after Refresh; called on the thread, without its lock.
    CFrame m_fnFrame;
    std::chrono::milliseconds m_pace{0};
    // Starts the thread (one the user's signals leave alone, say); std::thread when empty.
    CStarter m_fnStart;
  };

  // Without a writer nothing is written and nothing is lost.
  CWriterThread(CWrite write, COptions options);
  ~CWriterThread();
  CWriterThread(const CWriterThread&) = delete;
  CWriterThread& operator=(const CWriterThread&) = delete;

  bool Running() const { return m_bRunning; }
  void Post(std::string text);
  void Refresh();
  ELost Lost() const;
  // Items posted that were not written: refused once lost, or left at Stop.
  size_t Unwritten() const;
  size_t Stop(std::chrono::milliseconds wait);

 private:
  struct CState;
  static void Run(std::shared_ptr<CState> state, CWrite write);

  std::shared_ptr<CState> m_pState;
  std::atomic<bool> m_bRunning{false};
};
