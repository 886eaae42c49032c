// Live updates for the browsers that follow a page by Server-Sent Events.
//
// Contract:
// - Post never waits on a client: it appends the message to each client's own bounded queue
//   and wakes that client. A client whose queue is full (a stalled browser, a hostile reader)
//   is dropped: its stream ends and the browser reconnects, taking the current state again.
// - A message posted with a name to keep is held as the latest of its name; a client that
//   joins later gets every kept message first, so a new page starts from the current state.
// - Next blocks the streaming thread of one client until a message comes, the wait ends (a
//   keep-alive comment is due) or the hub closes; it never spins.
// - Close ends every stream and refuses new clients; posts after it are dropped.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class CSseHub;

class CSseClient {
 public:
  enum class ENext { Message, Idle, Ended };
  // The next text to send in *text (a whole event, or a keep-alive comment when Idle).
  ENext Next(std::chrono::milliseconds wait, std::string* text);

 private:
  friend class CSseHub;
  bool Push(const std::string& text, size_t bound);  // false: full, the client is dropped
  void End();

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::deque<std::string> m_queue;
  bool m_bEnded = false;
};

class CSseHub {
 public:
  static constexpr size_t kDefaultQueue = 256;
  static constexpr size_t kDefaultClients = 64;

  explicit CSseHub(size_t queueBound = kDefaultQueue, size_t maxClients = kDefaultClients)
      : m_nQueueBound(queueBound), m_nMaxClients(maxClients) {}

  // A new client with the kept messages queued, or null when the hub is closed or full.
  std::shared_ptr<CSseClient> Join();
  void Leave(const std::shared_ptr<CSseClient>& client);
  // Posts event `name` with data (one line of JSON or text); keep: hold it for later joiners.
  void Post(const std::string& name, const std::string& data, bool keep = false);
  void Close();
  size_t Clients() const;

  // The wire form of one event: "event: NAME\ndata: LINE\n\n", a line break in data split
  // into several data lines as the format wants.
  static std::string Format(const std::string& name, const std::string& data);

 private:
  const size_t m_nQueueBound;
  const size_t m_nMaxClients;
  mutable std::mutex m_mutex;
  std::vector<std::shared_ptr<CSseClient>> m_clients;
  std::map<std::string, std::string> m_kept;  // name -> formatted event
  bool m_bClosed = false;
};
