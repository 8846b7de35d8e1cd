// cgroup: the control groups (version 2) that bound this process.
//
// The processor count and the memory check both take the limits of the
// process's cgroup and of every cgroup above it. The kernel names the
// cgroup in the "0::" line of /proc/self/cgroup, as a path from the root of
// the hierarchy that the process can see; /proc/self/mountinfo tells where
// that hierarchy (file system type "cgroup2") is mounted, and which cgroup
// of it the mount shows at its top (a container often sees its own cgroup
// there). Nothing here assumes /sys/fs/cgroup.
#ifndef VQPEEK_CGROUP_H_
#define VQPEEK_CGROUP_H_

#include <functional>
#include <string>
#include <vector>

#include "vqpeek/export.h"

// Puts the text of the file `path` into `text`; returns whether it could be
// read.
using CgroupFileReader = std::function<bool(const std::string& path, std::string* text)>;

// The CgroupFileReader of the running system: reads a small file under
// /proc or the cgroup tree whole.
VQPEEK_EXPORT bool ReadSystemFile(const std::string& path, std::string* text);

// The directories of this process's cgroup and of every cgroup above it up
// to the top that its mount shows: the process's own first, the mount point
// last. The files read are "/proc/self/cgroup" and "/proc/self/mountinfo".
// Of several cgroup2 mounts, the one whose top cgroup is the longest prefix
// of the path, at a "/" boundary, is taken. Empty when there is no "0::"
// line, its path is not absolute or has a ".." component (a cgroup outside
// the process's namespace), or no cgroup2 mount shows it.
VQPEEK_EXPORT std::vector<std::string> CgroupDirectories(const CgroupFileReader& readFile);

#endif  // VQPEEK_CGROUP_H_
