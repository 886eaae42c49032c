// The writer thread every presenter writes through: a paused output within the bound loses
// nothing, beyond it a terminal drops and says how many while a stream of record is lost, a
// stop waits only its while and counts what stayed unwritten.
#include <gtest/gtest.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/events/WriterThread.h"

namespace {

using namespace std::chrono_literals;
using EFull = CWriterThread::EFull;
using ELost = CWriterThread::ELost;

// An output that holds its first write until opened; it outlives a writer thread given up on.
struct COutput {
  std::mutex m_mutex;
  std::condition_variable m_cv;
  bool m_bOpen = false, m_bEntered = false, m_bTakes = true;
  std::vector<std::string> m_written;

  bool Write(const std::string& text) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_bEntered = true;
    m_cv.notify_all();
    m_cv.wait(lock, [&] { return m_bOpen; });
    if (m_bTakes) m_written.push_back(text);
    return m_bTakes;
  }
  void Await(bool COutput::*flag, bool set) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (set) this->*flag = true;
    m_cv.notify_all();
    m_cv.wait(lock, [&] { return this->*flag; });
  }
};

TEST(WriterThread, APausedOutputWithinTheBoundBeyondItAndGone) {
  const struct {
    const char* what;
    size_t bound;
    EFull full;
    size_t behind;  // posted while the first item is held
    bool opens;     // the output takes again before the stop
    bool takes;
    size_t written;
    size_t unwritten;
    ELost lost;
  } cases[] = {
      {"within the bound", 4096, EFull::Lose, 4096, true, true, 4097, 0, ELost::No},
      {"a terminal behind", 4, EFull::DropAndCount, 10, true, true, 6, 0, ELost::No},
      {"a record behind", 4, EFull::Lose, 10, true, true, 5, 6, ELost::Behind},
      {"a reader that never comes back", 4, EFull::Lose, 3, false, false, 0, 4, ELost::Stalled},
      {"an output gone", 8, EFull::Lose, 3, true, false, 0, 4, ELost::OutputGone},
  };
  for (const auto& c : cases) {
    auto output = std::make_shared<COutput>();
    output->m_bTakes = c.takes;
    CWriterThread::COptions options;
    options.m_nBound = c.bound;
    options.m_full = c.full;
    options.m_fnDropped = [](size_t n) { return "(" + std::to_string(n) + " dropped)"; };
    CWriterThread writer([output](const std::string& text) { return output->Write(text); },
                         options);
    writer.Post("first");
    output->Await(&COutput::m_bEntered, false);
    for (size_t k = 0; k < c.behind; ++k) writer.Post("item " + std::to_string(k));
    if (c.opens) output->Await(&COutput::m_bOpen, true);
    EXPECT_EQ(writer.Stop(c.opens ? 10s : 200ms), c.unwritten) << c.what;
    EXPECT_EQ(writer.Lost(), c.lost) << c.what;
    output->Await(&COutput::m_bOpen, true);
    std::lock_guard<std::mutex> lock(output->m_mutex);
    EXPECT_EQ(output->m_written.size(), c.written) << c.what;
    if (c.full == EFull::DropAndCount) {
      EXPECT_EQ(output->m_written.back(), "(6 dropped)");
    }
  }
}

}  // namespace
