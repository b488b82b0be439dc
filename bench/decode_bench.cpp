// Decode benchmark: packs a few MB of real text and of real binaries with the
// writer's encoder into a distributable in memory, then times the core's
// expansion of it (whole expander on the fake platform, and the real Linux core
// as a process) beside `gzip -d` of the same bytes, in the same run. Prints
// output MB/s (10^6 bytes per second), best and median of several runs; no target.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "fake_platform.h"
#include "writer/archive_writer.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kChunkBytes = size_t{4} << 20;  // one file entry per 4 MiB of input
constexpr size_t kCoreBytes = 20480;

struct Options {
  size_t SetBytes = size_t{6} << 20;  // bytes of input per set
  int Runs = 7;
  int Level = kDefaultLevel;
  std::string Core = VARNOW_BENCH_LINUX_CORE;
  std::vector<std::pair<std::string, std::vector<std::string>>> Sets;  // name, source paths
};

struct Stats {
  double Best = 0;
  double Median = 0;
};

// Best and median of the timings, as rates in MB/s for the given byte count.
Stats RatesOf(std::vector<double> seconds, size_t bytes) {
  std::sort(seconds.begin(), seconds.end());
  auto rate = [&](double s) { return s > 0 ? static_cast<double>(bytes) / 1e6 / s : 0.0; };
  size_t n = seconds.size();
  double median = n % 2 ? seconds[n / 2] : (seconds[n / 2 - 1] + seconds[n / 2]) / 2;
  return {rate(seconds.front()), rate(median)};
}

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::optional<std::vector<uint8_t>> ReadWhole(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

bool WriteWhole(const fs::path& path, const std::vector<uint8_t>& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
  return static_cast<bool>(out);
}

// Regular files under the sources (folders recursed, links not followed), in
// name order so that a set is the same bytes from run to run on one machine.
std::vector<fs::path> FilesUnder(const std::vector<std::string>& sources) {
  std::vector<fs::path> files;
  for (const std::string& source : sources) {
    std::error_code ec;
    fs::file_status st = fs::symlink_status(source, ec);
    if (fs::is_regular_file(st)) {
      files.emplace_back(source);
    } else if (fs::is_directory(st)) {
      std::vector<fs::path> found;
      for (auto it = fs::recursive_directory_iterator(
               source, fs::directory_options::skip_permission_denied, ec);
           !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec) && !it->is_symlink(ec)) found.push_back(it->path());
      }
      std::sort(found.begin(), found.end());
      files.insert(files.end(), found.begin(), found.end());
    }
  }
  return files;
}

// Whole files concatenated until limit bytes, the last one cut.
std::vector<uint8_t> GatherBytes(const std::vector<std::string>& sources, size_t limit) {
  std::vector<uint8_t> data;
  for (const fs::path& file : FilesUnder(sources)) {
    if (data.size() >= limit) break;
    std::optional<std::vector<uint8_t>> bytes = ReadWhole(file);
    if (!bytes) continue;
    size_t take = std::min(bytes->size(), limit - data.size());
    data.insert(data.end(), bytes->begin(), bytes->begin() + static_cast<ptrdiff_t>(take));
  }
  return data;
}

std::string ChunkName(size_t index) {
  char name[32];
  std::snprintf(name, sizeof name, "part-%03zu.bin", index);
  return name;
}

// Runs argv with standard input from /dev/null and standard output to
// outputPath, in folder dir. Returns the wall time, or nothing when the
// program could not start or did not exit with 0.
std::optional<double> RunTimed(const std::vector<std::string>& argv, const std::string& dir,
                               const std::string& outputPath) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  double start = Now();
  pid_t pid = fork();
  if (pid < 0) return std::nullopt;
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0) _exit(126);
    if (!dir.empty() && chdir(dir.c_str()) != 0) _exit(126);
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return std::nullopt;
  double seconds = Now() - start;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
  return seconds;
}

struct SetResult {
  std::string Name;
  size_t InputBytes = 0;
  uint64_t VarnowBytes = 0;  // distributable minus the core image
  uint64_t GzipBytes = 0;
  double EncodeSeconds = 0;
  double GzipSeconds = 0;
  Stats Fake, Core, Gzip;
  bool CoreRan = false;
};

// The expanded files of the fake, in part order, equal the input.
bool FakeOutputMatches(const std::vector<uint8_t>& data, size_t parts) {
  size_t offset = 0;
  for (size_t i = 0; i < parts; ++i) {
    auto it = Fake().Items.find(ChunkName(i));
    if (it == Fake().Items.end()) return false;
    const std::vector<uint8_t>& got = it->second.Data;
    if (offset + got.size() > data.size() ||
        !std::equal(got.begin(), got.end(), data.begin() + static_cast<ptrdiff_t>(offset))) {
      return false;
    }
    offset += got.size();
  }
  return offset == data.size();
}

bool CoreOutputMatches(const std::vector<uint8_t>& data, size_t parts, const fs::path& dir) {
  size_t offset = 0;
  for (size_t i = 0; i < parts; ++i) {
    std::optional<std::vector<uint8_t>> got = ReadWhole(dir / ChunkName(i));
    if (!got || offset + got->size() > data.size() ||
        !std::equal(got->begin(), got->end(), data.begin() + static_cast<ptrdiff_t>(offset))) {
      return false;
    }
    offset += got->size();
  }
  return offset == data.size();
}

bool RunSet(const Options& opt, const std::vector<uint8_t>& coreImage, const fs::path& work,
            const std::string& name, const std::vector<uint8_t>& data, SetResult& r) {
  r.Name = name;
  r.InputBytes = data.size();
  std::vector<std::string> names;
  std::vector<ArchiveEntry> entries;
  for (size_t offset = 0, i = 0; offset < data.size(); offset += kChunkBytes, ++i) {
    ArchiveEntry e;
    e.Name = ChunkName(i);
    e.LastWrite = e.Creation = e.LastAccess = FileTime{0x2A3B4C5D, 0x01D91D7E};
    e.Data =
        std::span<const uint8_t>(data).subspan(offset, std::min(kChunkBytes, data.size() - offset));
    entries.push_back(e);
  }
  PackOptions pack;
  pack.Level = opt.Level;
  std::vector<uint8_t> archive;
  double t0 = Now();
  PackResult packed = WriteArchiveToVector(coreImage, entries, pack, archive);
  r.EncodeSeconds = Now() - t0;
  if (!packed.Ok) {
    std::fprintf(stderr, "decode_bench: %s: packing refused: %s\n", name.c_str(),
                 packed.Error.c_str());
    return false;
  }
  r.VarnowBytes = archive.size() - kCoreBytes;

  // The whole expander on the fake platform, files kept in memory.
  std::vector<double> fakeTimes;
  for (int run = 0; run < opt.Runs; ++run) {
    ResetFake();
    Fake().OwnFile = archive;
    Fake().DiskLimit = int64_t{1} << 40;
    double start = Now();
    int code = RunExpander();
    double seconds = Now() - start;
    if (code != 0 || !FakeOutputMatches(data, entries.size())) {
      std::fprintf(
          stderr, "decode_bench: %s: the expander on the fake exited %d or wrote other bytes\n%s\n",
          name.c_str(), code, Fake().Output.c_str());
      return false;
    }
    fakeTimes.push_back(seconds);
  }
  ResetFake();
  r.Fake = RatesOf(fakeTimes, data.size());

  // The real Linux core: the distributable run in an empty folder.
  fs::path exe = work / (name + ".run");
  fs::path outDir = work / (name + ".out");
  if (!opt.Core.empty() && WriteWhole(exe, archive) && chmod(exe.c_str(), 0755) == 0) {
    std::vector<double> coreTimes;
    bool ok = true;
    for (int run = 0; run < opt.Runs && ok; ++run) {
      fs::remove_all(outDir);
      fs::create_directory(outDir);
      std::optional<double> s = RunTimed({exe.string()}, outDir.string(), "/dev/null");
      ok = s && CoreOutputMatches(data, entries.size(), outDir);
      if (ok) coreTimes.push_back(*s);
    }
    if (ok) {
      r.Core = RatesOf(coreTimes, data.size());
      r.CoreRan = true;
    } else {
      std::fprintf(stderr, "decode_bench: %s: the Linux core failed or wrote other bytes\n",
                   name.c_str());
    }
    fs::remove_all(outDir);
  }

  // gzip -9 of the same bytes, one stream, then gzip -d to /dev/null.
  fs::path raw = work / (name + ".raw");
  fs::path gz = work / (name + ".raw.gz");
  if (!WriteWhole(raw, data)) return false;
  std::optional<double> gzs = RunTimed({"gzip", "-9", "-c", raw.string()}, "", gz.string());
  if (!gzs) {
    std::fprintf(stderr, "decode_bench: gzip -9 failed\n");
    return false;
  }
  r.GzipSeconds = *gzs;
  r.GzipBytes = fs::file_size(gz);
  std::vector<double> gzipTimes;
  for (int run = 0; run < opt.Runs; ++run) {
    std::optional<double> s = RunTimed({"gzip", "-d", "-c", gz.string()}, "", "/dev/null");
    if (!s) {
      std::fprintf(stderr, "decode_bench: gzip -d failed\n");
      return false;
    }
    gzipTimes.push_back(*s);
  }
  r.Gzip = RatesOf(gzipTimes, data.size());
  fs::remove(exe);
  fs::remove(raw);
  fs::remove(gz);
  return true;
}

void Usage() {
  std::fprintf(stderr,
               "usage: decode_bench [--mb N] [--runs N] [--level 1-9] [--core FILE|--no-core]\n"
               "                    [--set NAME PATH...]...\n"
               "Without --set: 'text' (common licences and /usr/include) and 'binaries'\n"
               "(/usr/bin), N MB each (default 6).\n");
}

bool ParseArgs(int argc, char** argv, Options& opt) {
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
    if (a == "--mb") {
      const char* v = value();
      if (!v || std::atof(v) <= 0) return false;
      opt.SetBytes = static_cast<size_t>(std::atof(v) * 1048576);
    } else if (a == "--runs") {
      const char* v = value();
      if (!v || std::atoi(v) < 1) return false;
      opt.Runs = std::atoi(v);
    } else if (a == "--level") {
      const char* v = value();
      if (!v || std::atoi(v) < kMinLevel || std::atoi(v) > kMaxLevel) return false;
      opt.Level = std::atoi(v);
    } else if (a == "--core") {
      const char* v = value();
      if (!v) return false;
      opt.Core = v;
    } else if (a == "--no-core") {
      opt.Core.clear();
    } else if (a == "--set") {
      const char* v = value();
      if (!v) return false;
      opt.Sets.push_back({v, {}});
      while (i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0)
        opt.Sets.back().second.push_back(argv[++i]);
      if (opt.Sets.back().second.empty()) return false;
    } else {
      return false;
    }
  }
  if (opt.Sets.empty()) {
    opt.Sets.push_back({"text", {"/usr/share/common-licenses", "/usr/include"}});
    opt.Sets.push_back({"binaries", {"/usr/bin"}});
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  if (!ParseArgs(argc, argv, opt)) {
    Usage();
    return 1;
  }
  // The Linux core's image heads the distributable, so the same bytes run
  // both on the fake and as a program. Without it, zero bytes stand in.
  std::vector<uint8_t> coreImage(kCoreBytes, 0);
  if (!opt.Core.empty()) {
    std::optional<std::vector<uint8_t>> core = ReadWhole(opt.Core);
    if (!core || core->size() != kCoreBytes) {
      std::fprintf(stderr, "decode_bench: %s is not a %zu-byte core; use --core or --no-core\n",
                   opt.Core.c_str(), kCoreBytes);
      return 1;
    }
    coreImage = *core;
  }
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/varnow-bench-XXXXXX";
  if (!mkdtemp(pattern.data())) {
    std::perror("decode_bench: mkdtemp");
    return 1;
  }
  fs::path work = pattern;

  std::vector<SetResult> results;
  for (const auto& [name, sources] : opt.Sets) {
    std::vector<uint8_t> data = GatherBytes(sources, opt.SetBytes);
    if (data.empty()) {
      std::fprintf(stderr, "decode_bench: no bytes for set %s\n", name.c_str());
      fs::remove_all(work);
      return 1;
    }
    SetResult r;
    if (!RunSet(opt, coreImage, work, name, data, r)) {
      fs::remove_all(work);
      return 2;
    }
    results.push_back(r);
  }
  fs::remove_all(work);

  std::printf("varnow level %d, %zu-byte file entries; gzip -9 as one stream; %d runs each\n",
              opt.Level, kChunkBytes, opt.Runs);
  std::printf("\nsize (ratio = compressed / input; varnow without the %zu-byte core image)\n",
              kCoreBytes);
  std::printf("%-10s %10s %10s %6s %8s %10s %6s %8s\n", "set", "input", "varnow", "ratio", "pack s",
              "gzip -9", "ratio", "gzip s");
  for (const SetResult& r : results) {
    double in = static_cast<double>(r.InputBytes);
    std::printf("%-10s %10zu %10llu %6.4f %8.2f %10llu %6.4f %8.2f\n", r.Name.c_str(), r.InputBytes,
                static_cast<unsigned long long>(r.VarnowBytes), r.VarnowBytes / in, r.EncodeSeconds,
                static_cast<unsigned long long>(r.GzipBytes), r.GzipBytes / in, r.GzipSeconds);
  }
  std::printf("\ndecode, output MB/s, best / median\n");
  std::printf("  fake:  the whole expander in process (core logic built as %s)\n",
              VARNOW_BENCH_BUILD_TYPE);
  std::printf("  core:  the Linux core program (-Os), files written under %s\n",
              work.parent_path().c_str());
  std::printf("  gzip:  gzip -d -c to /dev/null; core and gzip include process start-up\n");
  std::printf("%-10s %15s %15s %15s %11s %11s\n", "set", "varnow fake", "varnow core", "gzip -d",
              "fake/gzip", "core/gzip");
  for (const SetResult& r : results) {
    char fake[32], core[32] = "-", gzip[32], coreRatio[32] = "-";
    std::snprintf(fake, sizeof fake, "%.1f / %.1f", r.Fake.Best, r.Fake.Median);
    std::snprintf(gzip, sizeof gzip, "%.1f / %.1f", r.Gzip.Best, r.Gzip.Median);
    if (r.CoreRan) {
      std::snprintf(core, sizeof core, "%.1f / %.1f", r.Core.Best, r.Core.Median);
      std::snprintf(coreRatio, sizeof coreRatio, "%.3f", r.Core.Median / r.Gzip.Median);
    }
    std::printf("%-10s %15s %15s %15s %11.3f %11s\n", r.Name.c_str(), fake, core, gzip,
                r.Fake.Median / r.Gzip.Median, coreRatio);
  }
  std::printf("(ratios of the medians)\n");
  return 0;
}
