// varnow: makes, lists, tests and extracts self-extracting distributables.
// The command line is parsed here with CLI11; each command returns a Status
// whose message goes to standard error as one line, and whose code is the
// exit code: 0 success, 1 bad usage or refused input, 2 damaged archive or
// input/output failure.
#include <stdio.h>

#include <CLI/CLI.hpp>

#include "commands.h"

namespace {

constexpr const char* kExitCodes =
    "\nExit codes: 0 success, 1 bad usage or refused input, 2 damaged archive or "
    "input/output failure. Errors go to standard error as one line naming the file.";

void AddPasswordOptions(CLI::App* app, PasswordSource& password, const char* askHelp) {
  CLI::Option* ask = app->add_flag("--password", password.Ask, askHelp);
  CLI::Option* file = app->add_option("--password-file", password.File,
                                      "Read the password from the first line of FILE")
                          ->type_name("FILE");
  ask->excludes(file);
}

void AddReadOptions(CLI::App* app, ReadCommand& read, bool quiet) {
  app->add_option("FILE", read.Archive, "The distributable")->required();
  AddPasswordOptions(app, read.Password,
                     "Ask for the password of a protected archive on the terminal");
  app->add_option("--codepage", read.CodePageName,
                  "Code page of the stored names (default: 1252 for a Windows core, UTF-8 for "
                  "any other)")
      ->type_name("CP");
  if (quiet) app->add_flag("-q,--quiet", read.Quiet, "No progress line and no summary");
}

int Report(const Status& s) {
  if (!s.Ok()) {
    fflush(stdout);
    fprintf(stderr, "varnow: %s\n", s.Message.c_str());
  }
  return s.ExitCode;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"varnow: makes, lists, tests and extracts self-extracting distributables"};
  app.require_subcommand(1);
  app.footer(kExitCodes);

  PackCommand pack;
  CLI::App* packApp = app.add_subcommand("pack", "Pack files and folders into a distributable");
  packApp->add_option("OUTPUT", pack.Output, "The distributable to write")->required();
  packApp->add_option("SOURCE", pack.Sources, "Files and folders to pack")->required();
  CLI::Option* target =
      packApp
          ->add_option("--target", pack.Target,
                       "Core to put in front: windows (32-bit console) or linux (x86-64)")
          ->check(CLI::IsMember({"windows", "linux"}))
          ->capture_default_str();
  packApp->add_option("--core", pack.CoreFile, "Use this 20480-byte core instead")
      ->type_name("FILE")
      ->excludes(target);
  packApp
      ->add_option("--codepage", pack.CodePageName,
                   "Code page of the stored names and texts (default: 1252 for Windows, UTF-8 "
                   "for Linux)")
      ->type_name("CP");
  CLI::Option* comment =
      packApp->add_option("--comment", pack.Comment, "Comment shown before expanding");
  packApp->add_option("--comment-file", pack.CommentFile, "Take the comment from FILE")
      ->type_name("FILE")
      ->excludes(comment);
  packApp->add_option("--run-after", pack.RunAfter, "Command opened after expanding")
      ->type_name("COMMAND");
  AddPasswordOptions(packApp, pack.Password,
                     "Protect with a password, asked twice on the terminal without echo");
  packApp->add_option("--level", pack.Level, "1 (fastest) to 9 (smallest)")
      ->check(CLI::Range(1, 9))
      ->capture_default_str();
  packApp->add_option("--threads", pack.Threads, "Coding threads (default: one per processor)")
      ->check(CLI::Range(0, 256));
  packApp->add_flag("-q,--quiet", pack.Quiet, "No progress line and no summary");
  packApp->add_flag("!--no-verify", pack.Verify,
                    "Skip decoding the new file and comparing it with the sources");
  packApp->footer(
      "\nA SOURCE is stored under its own name (a folder with everything below it); a SOURCE "
      "ending in '/' or '/.' gives its contents without its name. Symbolic links are stored "
      "as what they point to; dangling links and loops are skipped with a warning. Empty "
      "folders are kept. Names are refused, naming the file, when the target's code page "
      "cannot represent them or its core would refuse them. The file is written under a "
      "temporary name beside OUTPUT, verified, and only then renamed to OUTPUT." +
      std::string(kExitCodes));

  ReadCommand list;
  CLI::App* listApp =
      app.add_subcommand("list", "Show the header and every entry of a distributable");
  AddReadOptions(listApp, list, false);
  listApp->footer(
      "\nControl characters in names and texts are shown escaped (\\n, \\xNN). Times are UTC." +
      std::string(kExitCodes));

  ReadCommand test;
  CLI::App* testApp =
      app.add_subcommand("test", "Decode every entry and check blocks, sizes and password");
  AddReadOptions(testApp, test, true);
  testApp->footer("\nPrints a verdict; exit code 0 when the distributable is sound." +
                  std::string(kExitCodes));

  ExtractCommand extract;
  CLI::App* extractApp = app.add_subcommand("extract", "Expand a distributable into a folder");
  AddReadOptions(extractApp, extract.Read, true);
  extractApp->add_option("-C,--directory", extract.Folder, "Expand into DIR (made if missing)")
      ->type_name("DIR")
      ->capture_default_str();
  bool overwrite = false, skip = false;
  CLI::Option* overwriteFlag =
      extractApp->add_flag("--overwrite", overwrite, "Replace existing files");
  extractApp->add_flag("--skip-existing", skip, "Keep existing files and go on")
      ->excludes(overwriteFlag);
  extractApp->footer(
      "\nBy default an existing file is never replaced: extraction stops at the first one "
      "with exit code 1 (files before it stay). Nothing is written outside DIR: unsafe names "
      "are refused, and symbolic links inside DIR are never followed. A Windows "
      "distributable extracts here too. Last-access and last-write times are set; Linux "
      "keeps no creation time. A damaged archive stops the run and removes the file being "
      "written." +
      std::string(kExitCodes));

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
  } catch (const CLI::ParseError& e) {
    std::string where;
    for (CLI::App* sub : app.get_subcommands()) where = sub->get_name() + ": ";
    fprintf(stderr, "varnow: %s%s (see varnow %s--help)\n", where.c_str(), e.what(),
            where.empty() ? "" : (where.substr(0, where.size() - 2) + " ").c_str());
    return kExitRefused;
  }

  if (packApp->parsed()) return Report(RunPack(pack));
  if (listApp->parsed()) return Report(RunList(list));
  if (testApp->parsed()) return Report(RunTest(test));
  extract.Existing = overwrite ? ExistingFiles::kOverwrite
                     : skip    ? ExistingFiles::kSkip
                               : ExistingFiles::kRefuse;
  return Report(RunExtract(extract));
}
