// Real pseudo-terminals for the tests of the POSIX serial layer: the master side plays the
// device, the slave's path is the port.
#pragma once

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>

#include "PosixCommApi.h"

class CPty {
 public:
  CPty() {
    m_nMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m_nMaster >= 0 && grantpt(m_nMaster) == 0 && unlockpt(m_nMaster) == 0) {
      m_strSlave = ptsname(m_nMaster);
    }
  }
  ~CPty() { CloseMaster(); }
  bool Ok() const { return m_nMaster >= 0 && !m_strSlave.empty(); }
  const std::string& Slave() const { return m_strSlave; }
  bool Send(const std::string& bytes) {
    return write(m_nMaster, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // What the port wrote, waiting up to timeoutMs for the first byte.
  std::string Receive(int timeoutMs = 1000) {
    std::string got;
    pollfd pfd{m_nMaster, POLLIN, 0};
    while (poll(&pfd, 1, got.empty() ? timeoutMs : 50) > 0) {
      char buf[256];
      const ssize_t n = read(m_nMaster, buf, sizeof buf);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }
  void CloseMaster() {
    if (m_nMaster >= 0) close(m_nMaster);
    m_nMaster = -1;
  }

 private:
  int m_nMaster = -1;
  std::string m_strSlave;
};

class SerialPosixComm : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(m_pty.Ok()); }

  HANDLE OpenSlave() {
    return m_api.CreateFileA(m_pty.Slave().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_EXISTING, 0, nullptr);
  }
  bool SetReadTimeout(HANDLE h, DWORD ms) {
    COMMTIMEOUTS t{};
    t.ReadTotalTimeoutMultiplier = ms;
    return m_api.SetCommTimeouts(h, &t) != FALSE;
  }

  CPty m_pty;
  CPosixCommApi m_api{CDeviceNamespace::FromMap({})};
};
