// The device search through the real POSIX serial layer, over several ports at once: a missing
// device, a port held by another program, a silent module, the module, and a second module.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include "integration/ModsimRig.h"

namespace {

class CStateDir {
 public:
  CStateDir() {
    char dir[] = "/tmp/modsim_search.XXXXXX";
    if (mkdtemp(dir)) m_strDir = dir;
  }
  ~CStateDir() {
    for (const std::string& file : m_files) std::remove(file.c_str());
    rmdir(m_strDir.c_str());
  }
  std::string File(const std::string& name) {
    m_files.push_back(m_strDir + "/" + name);
    return m_files.back();
  }

 private:
  std::string m_strDir;
  std::vector<std::string> m_files;
};

TEST(IntegrationSearch, FirstAnsweringPortWinsAndLaterPortsAreNotTouched) {
  CStateDir dir;
  CModsimProcess held, silent, module, second;
  std::string heldState = dir.File("held"), silentState = dir.File("silent"),
              moduleState = dir.File("module"), secondState = dir.File("second");
  ASSERT_TRUE(held.Start(MODSIM_PATH, {"--state", heldState}));
  ASSERT_TRUE(silent.Start(MODSIM_PATH, {"--silent", "--state", silentState}));
  ASSERT_TRUE(module.Start(MODSIM_PATH, {"--state", moduleState}));
  ASSERT_TRUE(second.Start(MODSIM_PATH, {"--state", secondState}));

  // Another program has the first module's port open exclusively.
  int holder = open(held.Path().c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);

  CPosixCommApi api(CDeviceNamespace::FromMap({{1, "/dev/pts/does-not-exist"},
                                               {2, held.Path()},
                                               {3, silent.Path()},
                                               {4, module.Path()},
                                               {5, second.Path()}}));
  CSerialPort serial(api);
  CFakeSetupView view;
  CSetupOperations ops(serial, view, [](DWORD ms) { PlatformSleep(ms); });

  EXPECT_TRUE(ops.FindModulePort());
  EXPECT_EQ(ops.m_strPortName, "COM4");
  close(holder);

  EXPECT_EQ(CModsimProcess::ReadState(heldState)["probes"], "0");
  EXPECT_EQ(CModsimProcess::ReadState(silentState)["probes"], "1");
  EXPECT_EQ(CModsimProcess::ReadState(moduleState)["probes"], "1");
  EXPECT_EQ(CModsimProcess::ReadState(secondState)["probes"], "0");
  // Every probed port was closed again: each one opens at once for someone else.
  for (const CModsimProcess* p : {&held, &silent, &module}) {
    int fd = open(p->Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0) << p->Path();
    EXPECT_EQ(flock(fd, LOCK_EX | LOCK_NB), 0) << p->Path();
    close(fd);
  }
}

}  // namespace
