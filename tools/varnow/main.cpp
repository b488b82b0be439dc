// varnow: makes, lists, tests and extracts self-extracting distributables.
// The command line (cli_definition.cpp) is parsed here with CLI11; each
// command returns a Status whose message goes to standard error as one line,
// and whose code is the exit code: 0 success, 1 bad usage or refused input,
// 2 damaged archive or input/output failure.
#include <stdio.h>

#include "cli_definition.h"
#include "host/host.h"

namespace {

int Report(const Status& s) {
  // An empty message: the command reported its failures itself (several FILEs).
  if (!s.Ok() && !s.Message.empty()) {
    fflush(stdout);
    fprintf(stderr, "varnow: %s\n", s.Message.c_str());
  }
  return s.ExitCode;
}

// Paths as the rest of the tool takes them: '/' between folders.
void NormalizePaths(Cli& cli) {
  cli.Pack.Output = host::NormalPath(cli.Pack.Output);
  for (std::string& source : cli.Pack.Sources) source = host::NormalPath(source);
  cli.Extract.Folder = host::NormalPath(cli.Extract.Folder);
  for (std::string& name : cli.Extract.Names) name = host::NormalPath(name);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments = host::Arguments(argc, argv);
  std::vector<char*> pointers;
  for (std::string& a : arguments) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  argv = pointers.data();
  Cli cli;
  DefineCli(cli);
  CLI::App& app = cli.App;

  const std::string first = argc > 1 ? argv[1] : "";
  if (!first.empty() && first[0] != '-' && first != "pack" && first != "list" && first != "test" &&
      first != "extract") {
    fprintf(stderr, "varnow: unknown command '%s' (see varnow --help)\n", argv[1]);
    return kExitRefused;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::string where;
    for (CLI::App* sub : app.get_subcommands()) where = sub->get_name() + ": ";
    fprintf(stderr, "varnow: %s%s (see varnow %s--help)\n", where.c_str(), e.what(),
            where.empty() ? "" : (where.substr(0, where.size() - 2) + " ").c_str());
    return kExitRefused;
  }

  if (cli.PackApp->parsed()) {
    cli.Pack.LevelGiven = cli.PackApp->count("--level") > 0;
    // Whether OUTPUT came after "--": it does not appear before the first "--".
    for (int i = 1; i < argc; ++i) {
      if (std::string(argv[i]) == "--") {
        cli.Pack.OutputAfterSeparator = true;
        break;
      }
      if (argv[i] == cli.Pack.Output && i > 1) break;
    }
    NormalizePaths(cli);
    return Report(RunPack(cli.Pack));
  }
  NormalizePaths(cli);
  if (cli.ListApp->parsed()) return Report(RunList(cli.List));
  if (cli.TestApp->parsed()) return Report(RunTest(cli.Test));
  cli.Extract.Existing = cli.Overwrite      ? ExistingFiles::kOverwrite
                         : cli.SkipExisting ? ExistingFiles::kSkip
                                            : ExistingFiles::kRefuse;
  return Report(RunExtract(cli.Extract));
}
