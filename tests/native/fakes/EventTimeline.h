// One ordered record shared by the fakes (port, view, clock), so a test can check the order
// of events across them: for instance that the port was closed before a message box.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

class CEventTimeline {
 public:
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  void Add(std::string event) { m_events.push_back(std::move(event)); }

  // The events that begin with prefix, in order.
  std::vector<std::string> Filter(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& event : m_events) {
      if (event.compare(0, prefix.size(), prefix) == 0) found.push_back(event);
    }
    return found;
  }

  // Index of the first event equal to event, at or after from; npos when there is none.
  std::size_t Find(const std::string& event, std::size_t from = 0) const {
    for (std::size_t i = from; i < m_events.size(); ++i) {
      if (m_events[i] == event) return i;
    }
    return npos;
  }

  std::vector<std::string> m_events;
};
