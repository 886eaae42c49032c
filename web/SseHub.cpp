#include "web/SseHub.h"

#include <algorithm>

CSseClient::ENext CSseClient::Next(std::chrono::milliseconds wait, std::string* text) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_wake.wait_for(lock, wait, [this] { return m_bEnded || !m_queue.empty(); });
  if (!m_queue.empty()) {
    *text = std::move(m_queue.front());
    m_queue.pop_front();
    return ENext::Message;
  }
  if (m_bEnded) return ENext::Ended;
  // A comment line keeps proxies and the browser from taking a quiet stream for a dead one,
  // and lets the server notice a client that has gone.
  *text = ": idle\n\n";
  return ENext::Idle;
}

bool CSseClient::Push(const std::string& text, size_t bound) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_bEnded) return false;
    if (m_queue.size() >= bound) {
      // What it has not read is dropped with it: the browser reconnects and starts afresh.
      m_queue.clear();
      m_bEnded = true;
    } else {
      m_queue.push_back(text);
    }
  }
  m_wake.notify_one();
  return !m_bEnded;
}

void CSseClient::End() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bEnded = true;
  }
  m_wake.notify_one();
}

std::shared_ptr<CSseClient> CSseHub::Join() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_bClosed || m_clients.size() >= m_nMaxClients) return nullptr;
  auto client = std::make_shared<CSseClient>();
  for (const auto& kept : m_kept) client->m_queue.push_back(kept.second);
  m_clients.push_back(client);
  return client;
}

void CSseHub::Leave(const std::shared_ptr<CSseClient>& client) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), client), m_clients.end());
}

void CSseHub::Post(const std::string& name, const std::string& data, bool keep) {
  const std::string text = Format(name, data);
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_bClosed) return;
  if (keep) m_kept[name] = text;
  for (auto it = m_clients.begin(); it != m_clients.end();) {
    // A full client ends here; its streaming thread sees the end and leaves.
    if ((*it)->Push(text, m_nQueueBound)) {
      ++it;
    } else {
      it = m_clients.erase(it);
    }
  }
}

void CSseHub::Close() {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_bClosed = true;
  for (auto& client : m_clients) client->End();
  m_clients.clear();
}

size_t CSseHub::Clients() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_clients.size();
}

std::string CSseHub::Format(const std::string& name, const std::string& data) {
  std::string text = "event: " + name + "\n";
  size_t start = 0;
  while (true) {
    const size_t end = data.find('\n', start);
    text += "data: " + data.substr(start, end == std::string::npos ? end : end - start) + "\n";
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return text + "\n";
}
