// Walking the sources, following symbolic links and other reparse points as
// the format has none, and checking every stored name against what
// the target's core accepts: the core's own name check with the target's
// rules, and on Windows the characters Windows forbids and names it would change.
#include "pack_sources.h"

#include <string.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>
#include <utility>

#include "archive_reader.h"
#include "entries/entry_records.h"
#include "host/host.h"
#include "name_patterns.h"
#include "password_input.h"

namespace {

SourceItem MakeItem(const std::string& path, const std::string& relative,
                    const host::ItemInfo& info) {
  SourceItem item;
  item.DiskPath = path;
  item.Relative = relative;
  item.IsFolder = info.IsFolder;
  item.Size = info.Size;
  item.Creation = info.Creation;
  item.LastAccess = info.LastAccess;
  item.LastWrite = info.LastWrite;
  item.Device = info.Device;
  item.Identity = info.Identity;
  item.IdentityKnown = info.IdentityKnown;
  return item;
}

struct Walker {
  std::vector<SourceItem>& Items;
  const Warn& WarnOf;
  const std::vector<std::string>& Excludes;
  std::vector<std::pair<uint64_t, uint64_t>> Ancestors;  // folders on the current path

  Status Folder(const std::string& path, const std::string& relative) {
    std::vector<std::string> names;
    if (host::Error e = host::ListFolder(path, names))
      return Damaged(DisplayPath(path) + ": cannot read folder: " + e.Text);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
      Status s = Item(path + "/" + name, relative.empty() ? name : relative + "/" + name, false);
      if (!s.Ok()) return s;
    }
    return Success();
  }

  // contentsOnly: store what the folder holds, not the folder itself.
  Status Item(const std::string& path, const std::string& relative, bool contentsOnly) {
    if (!relative.empty() && ExcludedBy(Excludes, relative)) return Success();
    host::ItemInfo info;
    host::Error error;
    switch (host::ProbePath(path, info, error)) {
      case host::Probe::kDangling:
        WarnOf(DisplayPath(path) + ": skipped: a symbolic link to nothing");
        return Success();
      case host::Probe::kLoop:
        WarnOf(DisplayPath(path) + ": skipped: a loop of symbolic links");
        return Success();
      case host::Probe::kOther:
        WarnOf(DisplayPath(path) + ": skipped: neither a file nor a folder");
        return Success();
      case host::Probe::kMissing:
        return Refused(DisplayPath(path) + ": no such file or folder");
      case host::Probe::kError:
        return Damaged(DisplayPath(path) + ": cannot read: " + error.Text);
      case host::Probe::kFile:
        Items.push_back(MakeItem(path, relative, info));
        return Success();
      case host::Probe::kFolder:
        break;
    }
    const std::pair<uint64_t, uint64_t> id{info.Device, info.Identity};
    if (std::find(Ancestors.begin(), Ancestors.end(), id) != Ancestors.end()) {
      WarnOf(DisplayPath(path) + ": skipped: a link back to a folder that holds it (a loop)");
      return Success();
    }
    if (!contentsOnly) Items.push_back(MakeItem(path, relative, info));
    Ancestors.push_back(id);
    Status s = Folder(path, relative);
    Ancestors.pop_back();
    return s;
  }
};

// The last name of a path, empty when the path asks for a folder's contents.
std::string TopName(const std::string& source) {
  if (source.empty() || source.back() == '/') return "";
  size_t slash = source.rfind('/');
  std::string last = slash == std::string::npos ? source : source.substr(slash + 1);
  if (last == ".") return "";
  if (last == "..") {
    std::string real = host::FullPath(source);
    if (real.empty()) return "";
    return TopName(real);
  }
  return last;
}

// Windows cannot hold these in a name, or would silently change it.
std::string WindowsNameProblem(const std::string& component) {
  for (unsigned char c : component) {
    if (c < 32) return "a control character, which Windows does not allow in names";
    if (strchr("<>:\"|?*", c) != nullptr)
      return std::string("the character '") + static_cast<char>(c) +
             "', which Windows does not allow in names";
  }
  if (!component.empty() && (component.back() == '.' || component.back() == ' '))
    return "a name part ending in a dot or blank, which Windows would drop";
  std::string stem = component.substr(0, component.find('.'));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  for (char& c : stem) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  static const std::set<std::string> kDevices = {
      "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
      "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
  if (kDevices.count(stem) != 0) return "a device name that Windows reserves (" + stem + ")";
  return "";
}

}  // namespace

Status GatherSources(const std::vector<std::string>& sources,
                     const std::vector<std::string>& excludes, std::vector<SourceItem>& items,
                     const Warn& warn) {
  Walker walker{items, warn, excludes, {}};
  for (const std::string& source : sources) {
    std::string top = TopName(source);
    std::string path = source;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    Status s = walker.Item(path, top, top.empty());
    if (!s.Ok()) return s;
    if (top.empty() && !items.empty() && !items.back().IsFolder && items.back().Relative.empty())
      return Refused(DisplayPath(source) + ": a file has no name to be stored under");
  }
  return Success();
}

Status GatherListed(const std::vector<std::string>& paths, const std::vector<std::string>& excludes,
                    std::vector<SourceItem>& items, const Warn& warn) {
  std::vector<std::pair<std::string, std::string>> accepted;  // path, name
  std::string refused;
  for (const std::string& path : paths) {
    std::string name;
    bool climbs = false;
    size_t start = 0;
    for (;;) {
      size_t slash = path.find('/', start);
      std::string part = path.substr(start, slash - start);
      if (part == "..") climbs = true;
      if (!part.empty() && part != ".") name += (name.empty() ? "" : "/") + part;
      if (slash == std::string::npos) break;
      start = slash + 1;
    }
    if (host::IsAbsolute(path) || climbs) {
      refused += (refused.empty() ? "" : ", ") + DisplayPath(path);
      continue;
    }
    accepted.emplace_back(path, name);
  }
  if (!refused.empty())
    return Refused(
        "--files-from: absolute paths and paths with '..' have no name inside the "
        "archive; list paths below the current folder: " +
        refused);
  Walker walker{items, warn, excludes, {}};
  for (const auto& [path, name] : accepted) {
    Status s = walker.Item(path, name, name.empty());
    if (!s.Ok()) return s;
  }
  return Success();
}

bool Identified(SourceItem& item) {
  if (item.IdentityKnown) return true;
  host::ItemInfo info;
  info.IdentityKnown = false;
  if (host::Identify(item.DiskPath, info)) return false;
  item.Device = info.Device;
  item.Identity = info.Identity;
  item.IdentityKnown = true;
  return true;
}

void DropRepeats(std::vector<SourceItem>& items) {
  // Only items that share a name can be repeats: only theirs are looked up.
  std::map<std::string, int> named;
  for (const SourceItem& i : items) ++named[i.Relative];
  std::set<std::tuple<std::string, uint64_t, uint64_t>> seen;
  std::erase_if(items, [&](SourceItem& i) {
    if (named[i.Relative] < 2 || !Identified(i)) return false;
    return !seen.emplace(i.Relative, i.Device, i.Identity).second;
  });
}

Status ReadPathList(const std::string& file, bool nul, std::vector<std::string>& paths) {
  std::string text;
  Status s = file == "-" ? ReadStandardInput(text) : ReadWholeFile(file, text);
  if (!s.Ok()) return s;
  const char separator = nul ? '\0' : '\n';
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) paths.push_back(host::NormalPath(text.substr(start, end - start)));
    start = end + 1;
  }
  if (!nul) {
    for (const std::string& p : paths)
      if (p.find('\0') != std::string::npos)
        return Refused(DisplayPath(file) + ": holds NUL bytes; give --null for such a list");
  }
  return Success();
}

Status StoredName(const std::string& relative, const std::string& diskPath, const CodePage& page,
                  TargetKind target, std::string& stored) {
  const std::string shown = DisplayPath(diskPath);
  if (relative.find('\\') != std::string::npos)
    return Refused(shown +
                   ": the name holds a backslash, which the archive takes for a folder "
                   "separator");
  if (target == TargetKind::kWindows) {
    size_t start = 0;
    for (;;) {
      size_t slash = relative.find('/', start);
      std::string component = relative.substr(start, slash - start);
      std::string problem = WindowsNameProblem(component);
      if (!problem.empty()) return Refused(shown + ": the name holds " + problem);
      if (slash == std::string::npos) break;
      start = slash + 1;
    }
  }
  std::string joined = relative;
  std::replace(joined.begin(), joined.end(), '/', '\\');
  std::optional<std::string> converted = FromUtf8(page, joined);
  if (!converted)
    return Refused(shown + ": the name cannot be represented in code page " + page.Name);
  stored = std::move(*converted);
  if (stored.size() >= static_cast<size_t>(kNameLimit))
    return Refused(shown + ": the name has 32768 bytes or more, more than the core keeps");
  if (!stored.empty() && stored[0] == '*')
    return Refused(shown +
                   ": the name starts with '*', which the core reads as a shared-name "
                   "mark");
  if (!IsSafeNameFor(stored.data(), static_cast<int32_t>(stored.size()),
                     target == TargetKind::kWindows))
    return Refused(shown + ": the core would refuse this name");
  return Success();
}
