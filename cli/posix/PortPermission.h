// Why a user may not open a serial device node, from the node's owner, group and mode and the
// user's groups, and what to do about it. The group database is a seam: the doctor asks the
// system's, tests hand in their own and never touch the machine's.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

class CGroupDatabase {
 public:
  virtual ~CGroupDatabase() = default;
  // The name of a group or user; the number as text when the database has none.
  virtual std::string GroupName(gid_t gid) const = 0;
  virtual std::string UserName(uid_t uid) const = 0;
  // The user's groups as the database lists them (/etc/group): those of the next login.
  virtual std::vector<gid_t> ConfiguredGroups() const = 0;
  // The groups this process has now: its effective group and its supplementary groups. A
  // group added to the user after the login is not among them.
  virtual std::vector<gid_t> ProcessGroups() const = 0;
};

// The system's: getgrgid, getpwuid, getgrouplist for the real user, getegid and getgroups.
const CGroupDatabase& SystemGroups();

// What the advice rests on: the node as stat gives it and the user asking.
struct CNodeAccess {
  std::string m_strDevice;      // as the user named it
  std::string m_strKernelName;  // the node's own name, "ttyUSB0", for a udev rule
  std::string m_strVendorId;    // the USB ids when the device is one, else empty
  std::string m_strProductId;
  uid_t m_owner = 0;
  gid_t m_group = 0;
  mode_t m_mode = 0;
  uid_t m_user = 0;  // the effective user asking
};

// One paragraph: who may open the node and why the user is not among them, and the remedy:
// a udev rule where only the owner can open it or the mode denies the group, logging in again
// where the user joined the group after this login, and joining the group otherwise.
std::string AdvisePermission(const CNodeAccess& node, const CGroupDatabase& groups);
