// A fresh folder for one test: a unique one under the system's temporary
// folder, or one of a fixed name under a given folder (emptied first), with an
// optional work folder inside where the runs happen. Removed again when the
// test passed; kept for inspection (and its place printed) when it failed.
// Also the few whole-file reads and writes the tests do in it.
#pragma once

#include <stdint.h>

#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

struct SandboxPlace {
  std::filesystem::path Parent;        // empty: the system's temporary folder
  std::string Name = "varnow-XXXXXX";  // a name ending in XXXXXX is made unique
  std::string WorkFolder;              // when set: made inside, where runs happen
};

class Sandbox {
 public:
  explicit Sandbox(const SandboxPlace& place = {});
  ~Sandbox();
  Sandbox(const Sandbox&) = delete;
  Sandbox& operator=(const Sandbox&) = delete;

  const std::filesystem::path& Root() const { return root_; }
  // The work folder, or the root when there is none.
  const std::filesystem::path& Work() const { return work_; }
  std::filesystem::path operator/(const std::string& relative) const { return root_ / relative; }
  // The names directly in the root.
  std::set<std::string> RootNames() const;

 private:
  std::filesystem::path root_, work_;
};

// Writes the whole file, making its folders first; throws when it cannot.
void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& data);
void WriteText(const std::filesystem::path& path, std::string_view text);
// The whole file; empty when it cannot be read.
std::vector<uint8_t> ReadFile(const std::filesystem::path& path);
std::string ReadText(const std::filesystem::path& path);
