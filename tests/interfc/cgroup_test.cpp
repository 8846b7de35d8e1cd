#include "vqpeek/cgroup.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using Directories = std::vector<std::string>;

// The directories that CgroupDirectories finds for the given
// /proc/self/cgroup and /proc/self/mountinfo texts.
Directories Walk(const std::string& cgroup, const std::string& mountinfo) {
  const std::map<std::string, std::string> files = {{"/proc/self/cgroup", cgroup},
                                                    {"/proc/self/mountinfo", mountinfo}};
  return CgroupDirectories([&](const std::string& path, std::string* text) {
    const auto found = files.find(path);
    if (found == files.end()) return false;
    *text = found->second;
    return true;
  });
}

const std::string kProc = "22 1 0:5 / /proc rw - proc proc rw\n";

TEST(CgroupDirectories, WalksFromTheOwnCgroupUpToWhereverTheHierarchyIsMounted) {
  const std::string mountinfo =
      kProc + "30 22 0:26 / /run/my\\040cgroups rw,nosuid shared:4 - cgroup2 cgroup2 rw\n";
  EXPECT_EQ(Walk("1:cpu:/old\n0::/box/job\n", mountinfo),
            (Directories{"/run/my cgroups/box/job", "/run/my cgroups/box", "/run/my cgroups"}));
  EXPECT_EQ(Walk("0::/\n", mountinfo), (Directories{"/run/my cgroups"}));
  // A container's mount shows its own cgroup at the top: nothing above it.
  EXPECT_EQ(
      Walk("0::/box/job/\n", "31 22 0:26 /box /sys/fs/cgroup ro master:4 - cgroup2 cgroup2 rw\n"),
      (Directories{"/sys/fs/cgroup/job", "/sys/fs/cgroup"}));
}

TEST(CgroupDirectories, TakesTheMountThatHoldsThePathAtASlash) {
  // "/bo" is a prefix of "/box/job" but not a cgroup above it.
  const std::string mounts =
      "40 22 0:26 /bo /wrong rw - cgroup2 cgroup2 rw\n"
      "41 22 0:26 / /right rw - cgroup2 cgroup2 rw\n"
      "42 22 0:26 /box /closest rw - cgroup2 cgroup2 rw\n";
  EXPECT_EQ(Walk("0::/box/job\n", mounts), (Directories{"/closest/job", "/closest"}));
  EXPECT_EQ(Walk("0::/bob\n", mounts), (Directories{"/right/bob", "/right"}));
  EXPECT_EQ(Walk("0::/box/job\n", "40 22 0:26 /bo /wrong rw - cgroup2 cgroup2 rw\n"),
            Directories{});
}

TEST(CgroupDirectories, RefusesWhatCannotBeFollowedSafely) {
  const std::string mountinfo = kProc + "30 22 0:26 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n";
  EXPECT_EQ(Walk("0::/../../outside\n", mountinfo), Directories{});
  EXPECT_EQ(Walk("0::/box/../../etc\n", mountinfo), Directories{});
  EXPECT_EQ(Walk("0::relative\n", mountinfo), Directories{});
  EXPECT_EQ(Walk("1:memory:/x\n", mountinfo), Directories{});  // version 1 only
  // Only the version-1 hierarchies are mounted.
  EXPECT_EQ(Walk("0::/box\n", kProc + "30 22 0:26 / /sys/fs/cgroup/cpu rw - cgroup cgroup rw\n"),
            Directories{});
  EXPECT_EQ(Walk("0::/box\n", ""), Directories{});
}

}  // namespace
