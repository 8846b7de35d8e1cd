// The cgroup (version 2) directories that bound this process.
#include "vqpeek/cgroup.h"

#include <cstdio>
#include <string_view>

namespace {

// The pieces of `text` between the separator `split`, empty ones left out.
std::vector<std::string_view> Pieces(std::string_view text, char split) {
  std::vector<std::string_view> pieces;
  while (!text.empty()) {
    const std::size_t end = text.find(split);
    if (end != 0) pieces.push_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return pieces;
}

// A path field of mountinfo, where the kernel writes a blank, a tab, a line
// end and a backslash as a backslash and three octal digits.
std::string Unescape(std::string_view field) {
  const auto octal = [&](std::size_t i) { return field[i] >= '0' && field[i] <= '7'; };
  std::string text;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) && octal(i + 3)) {
      text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                (field[i + 3] - '0'));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

// Whether `path` lies in the cgroup `top`: equal to it, or below it at a
// "/" boundary ("/a" holds "/a/b" but not "/ab").
bool IsWithin(std::string_view path, std::string_view top) {
  if (top == "/") return true;
  return path.substr(0, top.size()) == top &&
         (path.size() == top.size() || path[top.size()] == '/');
}

// The process's cgroup path from the "0::" line; empty when there is none
// or it cannot be followed safely.
std::string OwnCgroupPath(std::string_view list) {
  std::string_view path;
  for (const std::string_view line : Pieces(list, '\n')) {
    if (line.substr(0, 3) == "0::") path = line.substr(3);
  }
  if (path.empty() || path[0] != '/') return {};
  // A cgroup outside the process's namespace shows as "/../..": no mount
  // the process sees holds it, and ".." must never climb out of the mount.
  for (const std::string_view name : Pieces(path, '/')) {
    if (name == "..") return {};
  }
  return std::string(path);
}

}  // namespace

std::vector<std::string> CgroupDirectories(const CgroupFileReader& readFile) {
  std::string text;
  if (!readFile("/proc/self/cgroup", &text)) return {};
  const std::string path = OwnCgroupPath(text);
  if (path.empty() || !readFile("/proc/self/mountinfo", &text)) return {};

  // A mountinfo line: id parent device root mount-point options, optional
  // fields, "-", then file system type, source and super-block options.
  std::string top;
  std::string mountPoint;
  for (const std::string_view line : Pieces(text, '\n')) {
    const std::vector<std::string_view> fields = Pieces(line, ' ');
    std::size_t separator = 6;
    while (separator < fields.size() && fields[separator] != "-") ++separator;
    if (separator + 1 >= fields.size() || fields[separator + 1] != "cgroup2") continue;
    std::string root = Unescape(fields[3]);
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    if (!IsWithin(path, root) || (!mountPoint.empty() && root.size() <= top.size())) continue;
    top = std::move(root);
    mountPoint = Unescape(fields[4]);
  }
  if (mountPoint.empty() || mountPoint[0] != '/') return {};

  // Each name of the path below the mount's top is a cgroup directory
  // beneath the one before.
  std::vector<std::string> directories{mountPoint};
  const std::string_view below = std::string_view(path).substr(top == "/" ? 0 : top.size());
  for (const std::string_view name : Pieces(below, '/')) {
    const std::string& above = directories.back();
    directories.push_back(above + (above.back() == '/' ? "" : "/") + std::string(name));
  }
  return {directories.rbegin(), directories.rend()};
}

bool ReadSystemFile(const std::string& path, std::string* text) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[4096];
  text->clear();
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    text->append(buffer, got);
  }
  const bool ok = !std::ferror(file);
  std::fclose(file);
  return ok;
}
