#include "cli/posix/PortPermission.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "engine/values/Settings.h"

namespace {

// A serial port is opened for reading and writing: one bit of the two is not enough.
constexpr mode_t kOwnerReadWrite = S_IRUSR | S_IWUSR;
constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
// Where udev's rules give serial ports to their users on Debian-like systems.
constexpr const char kSerialGroup[] = "dialout";

class CSystemGroups : public CGroupDatabase {
 public:
  std::string GroupName(gid_t gid) const override {
    const group* found = getgrgid(gid);
    return found != nullptr ? found->gr_name : std::to_string(gid);
  }
  std::string UserName(uid_t uid) const override {
    const passwd* found = getpwuid(uid);
    return found != nullptr ? found->pw_name : std::to_string(uid);
  }
  std::vector<gid_t> ConfiguredGroups() const override {
    const passwd* user = getpwuid(getuid());
    if (user == nullptr) return {};
    const std::string name = user->pw_name;
    const gid_t primary = user->pw_gid;
    std::vector<gid_t> groups(32);
    int count = static_cast<int>(groups.size());
    // Too short a list fails and says how long it must be; a group added meanwhile may make
    // the second call fail too, hence a few tries.
    for (int tries = 0; getgrouplist(name.c_str(), primary, groups.data(), &count) < 0; ++tries) {
      if (tries == 4) return {primary};
      groups.resize(std::max<size_t>(static_cast<size_t>(count), groups.size() * 2));
      count = static_cast<int>(groups.size());
    }
    groups.resize(static_cast<size_t>(count));
    return groups;
  }
  std::vector<gid_t> ProcessGroups() const override {
    const int count = getgroups(0, nullptr);
    std::vector<gid_t> groups(count > 0 ? static_cast<size_t>(count) : 0);
    if (count > 0 && getgroups(count, groups.data()) != count) groups.clear();
    groups.push_back(getegid());
    return groups;
  }
};

bool Contains(const std::vector<gid_t>& groups, gid_t gid) {
  return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

std::string Octal(mode_t mode) {
  char text[8];
  std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
  return text;
}

// A rule that makes the node group's to read and write whenever the device appears: by its
// USB ids where it has them, else by its name.
std::string UdevRule(const CNodeAccess& node, const std::string& group) {
  const bool usb = !node.m_strVendorId.empty() && !node.m_strProductId.empty();
  const std::string match = usb ? "ATTRS{idVendor}==\"" + Printable(node.m_strVendorId) +
                                      "\", ATTRS{idProduct}==\"" + Printable(node.m_strProductId) +
                                      "\""
                                : "KERNEL==\"" + Printable(node.m_strKernelName) + "\"";
  return "put the line SUBSYSTEM==\"tty\", " + match + ", GROUP=\"" + group +
         "\", MODE=\"0660\" in /etc/udev/rules.d/99-corvane.rules, then run sudo udevadm "
         "control --reload and sudo udevadm trigger (or plug the device in again).";
}

std::string JoinGroup(const std::string& group) {
  return "sudo usermod -aG " + group +
         " \"$USER\", then log out and in again (the new group counts from the next login).";
}

// The node's group may open it, but the user has not got the group: joined and not yet
// logged in again, or not joined at all. Or has got it, and something beyond the mode denies.
std::string GroupRemedy(const CNodeAccess& node, const CGroupDatabase& groups,
                        const std::string& group, const std::string& device) {
  if (Contains(groups.ProcessGroups(), node.m_group)) {
    return " You are in its group " + group +
           " and its mode lets the group open it: something else denies it (an access control "
           "list, which getfacl " +
           device + " shows, or a security module such as AppArmor or SELinux).";
  }
  if (Contains(groups.ConfiguredGroups(), node.m_group)) {
    return " You are in its group " + group +
           ", but this login began before you were added to it: log out and in again (or run "
           "newgrp " +
           group + " for one shell).";
  }
  return " It belongs to the group " + group +
         " (on Debian-like systems serial ports are in dialout). Add yourself: " + JoinGroup(group);
}

}  // namespace

const CGroupDatabase& SystemGroups() {
  static const CSystemGroups kSystem;
  return kSystem;
}

std::string AdvisePermission(const CNodeAccess& node, const CGroupDatabase& groups) {
  const std::string device = Printable(node.m_strDevice);
  const std::string owner = Printable(groups.UserName(node.m_owner));
  const std::string group = Printable(groups.GroupName(node.m_group));
  std::string text = "no permission to open " + device + " (owner " + owner + ", group " + group +
                     ", mode " + Octal(node.m_mode) + ").";
  if (node.m_user == node.m_owner) {
    if ((node.m_mode & kOwnerReadWrite) != kOwnerReadWrite) {
      return text + " Its mode denies even you, its owner, reading and writing: chmod u+rw " +
             device + ".";
    }
    return text + " You own it and its mode lets you open it: something else denies it (an " +
           "access control list, or a security module such as AppArmor or SELinux).";
  }
  // The root group, or a mode that gives the group nothing: no group to join would help.
  if (node.m_group == 0 || (node.m_mode & kGroupReadWrite) == 0) {
    return text + " Only " + (node.m_owner == 0 ? std::string("root") : "its owner " + owner) +
           " can open it, and joining a group would not help: let udev give it to the group " +
           kSerialGroup + ", " + UdevRule(node, kSerialGroup) + " Then, if you are not in " +
           kSerialGroup + " yet, add yourself: " + JoinGroup(kSerialGroup);
  }
  if ((node.m_mode & kGroupReadWrite) != kGroupReadWrite) {
    const bool read = (node.m_mode & S_IRGRP) != 0;
    text += std::string(" Its mode denies its group ") + group + (read ? " writing" : " reading") +
            ", so being in " + group + " is not enough. For now: sudo chmod g+rw " + device +
            " (until it is plugged in again); for good, let udev set its mode, " +
            UdevRule(node, group);
    if (!Contains(groups.ConfiguredGroups(), node.m_group) &&
        !Contains(groups.ProcessGroups(), node.m_group)) {
      text += " Then add yourself: " + JoinGroup(group);
    }
    return text;
  }
  return text + GroupRemedy(node, groups, group, device);
}
