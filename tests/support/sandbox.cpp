// The sandbox asks GoogleTest whether the test (or, for a sandbox shared by a
// suite, any test of the suite) failed before it removes anything; a sandbox
// must therefore end while GoogleTest runs, not after main.
#include "sandbox.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <iostream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

// Within a test, whether it failed; within a suite's set-up or tear-down,
// whether any of its tests did; else whether any test of the run did.
bool SomethingFailed() {
  if (::testing::Test::HasFailure()) return true;
  const ::testing::UnitTest* unit = ::testing::UnitTest::GetInstance();
  if (unit->current_test_info() != nullptr) return false;
  const ::testing::TestSuite* suite = unit->current_test_suite();
  return suite != nullptr ? suite->failed_test_count() > 0 : unit->failed_test_count() > 0;
}

bool EndsInPattern(const std::string& name) {
  return name.size() >= 6 && name.compare(name.size() - 6, 6, "XXXXXX") == 0;
}

}  // namespace

Sandbox::Sandbox(const SandboxPlace& place) {
  fs::path parent = place.Parent.empty() ? fs::temp_directory_path() : place.Parent;
  fs::create_directories(parent);
  if (EndsInPattern(place.Name)) {
    std::string pattern = (parent / place.Name).string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed: " + pattern);
    root_ = pattern;
  } else {
    root_ = parent / place.Name;
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    fs::create_directories(root_);
  }
  work_ = place.WorkFolder.empty() ? root_ : root_ / place.WorkFolder;
  fs::create_directories(work_);
}

Sandbox::~Sandbox() {
  if (SomethingFailed()) {
    std::cerr << "sandbox kept for inspection: " << root_.string() << "\n";
    return;
  }
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

std::set<std::string> Sandbox::RootNames() const {
  std::set<std::string> names;
  for (const fs::directory_entry& e : fs::directory_iterator(root_))
    names.insert(e.path().filename().string());
  return names;
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& data) {
  WriteText(path, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

void WriteText(const fs::path& path, std::string_view text) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(text.data(), static_cast<std::streamsize>(text.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::vector<uint8_t> ReadFile(const fs::path& path) {
  std::string text = ReadText(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
