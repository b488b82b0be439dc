// Every command and option of varnow with its help text. The notes of each
// command are its help footer and its paragraph in the man page.
#include "cli_definition.h"

#include "core_identity.h"

namespace {

void AddPasswordOptions(CLI::App* app, PasswordSource& password, const char* askHelp) {
  CLI::Option* ask = app->add_flag("--password", password.Ask, askHelp);
  CLI::Option* file =
      app->add_option("--password-file", password.File,
                      "Read the password from the first line of FILE ('-': standard input)")
          ->type_name("FILE");
  ask->excludes(file);
}

void AddReadOptions(CLI::App* app, ReadCommand& read, bool quiet) {
  AddPasswordOptions(app, read.Password,
                     "Ask for the password of a protected archive on the terminal");
  app->add_option("--codepage", read.CodePageName,
                  "Code page of the stored names (default: 1252 for a Windows core, UTF-8 for "
                  "any other)")
      ->type_name("CP");
  app->add_option("--core", read.CoreFile,
                  "The 20480-byte core the archive was made with, when it is none of the two "
                  "this varnow carries")
      ->type_name("FILE");
  if (quiet) app->add_flag("-q,--quiet", read.Quiet, "No progress line and no summary");
}

void SetNotes(CLI::App* app, const std::string& notes) {
  app->footer("\n" + notes + "\n" + kExitCodeText);
}

}  // namespace

const char* CommandNotes(const std::string& command) {
  if (command == "pack")
    return "A SOURCE is stored under its own name (a folder with everything below it); a SOURCE "
           "ending in '/' or '/.' gives its contents without its name. A path read with "
           "--files-from is stored under the path as written, relative to the current folder "
           "(a leading './' dropped); a folder there brings everything below it, and a path "
           "named twice is stored once. --exclude patterns are shell globs ('*' also matches "
           "'/') over the stored name with '/' between folders; a pattern matches the whole "
           "name or any tail of it that starts after a '/', and an excluded folder leaves out "
           "everything below it. Symbolic links are stored as what they point to; dangling "
           "links and loops are skipped with a warning. Empty folders are kept. Every name the "
           "target cannot take is reported, each with its reason, before anything is written. "
           "For the Windows target a warning names each entry whose full path on the "
           "recipient's machine may pass 260 characters. When SOURCE_DATE_EPOCH is set, every "
           "time later than it is stored as it, so that the same content packs to the same "
           "bytes from any checkout. The file is written under a temporary name beside OUTPUT, "
           "verified, and only then renamed to OUTPUT; an existing OUTPUT is replaced only "
           "with --force. An OUTPUT that begins with '-' is refused unless it follows --, "
           "since it is usually an option mistyped; a warning says when OUTPUT's name does not "
           "suit the target (.exe for Linux; .run, .sh or no extension for Windows). A file "
           "that changes size or disappears while it is read stops the pack (exit 2) and "
           "nothing is written. --password-file - reads the password from the first line of "
           "standard input. --run-after is launched once expanding ends: its whole text is "
           "taken as one program or document name, found from the folder the recipient "
           "expands in (no arguments are split off at blanks), started detached, and its exit "
           "status is not awaited; the expander only reports when it could not be started. A "
           "warning says when the text holds blanks, or names no file in the archive and no "
           "absolute path.";
  if (command == "list")
    return "Shows the header, which core the file starts with, every entry and the ratio. "
           "Control characters in names and texts are shown escaped (\\n, \\xNN). Times are "
           "UTC. With --json the output is one JSON document: an object per FILE (an array of "
           "them for several FILEs) with the header fields (path, file_bytes, size_field, core, "
           "code_page, comment, run_after, protected, stream_offset), the totals (files, "
           "folders, input_bytes, archive_bytes, core_bytes, and ratio: archive_bytes over "
           "input_bytes), an \"entries\" array and, when reading failed, \"error\". An entry "
           "has kind, stored_name (each stored byte as the character of its number), name "
           "(UTF-8 with '/', null when it cannot be decoded) and, for a file, size, packed, "
           "record_bytes, reference (as stored), reference_slot, prefix, and created, "
           "last_access and last_write in ISO 8601 (UTC).";
  if (command == "test")
    return "Decodes every entry, checks every block, size and reference, and names the core: "
           "one of the two this varnow carries, or the one given with --core. A sound archive "
           "behind an unknown core exits 2, since files drawing on the core would come out "
           "wrong. Prints one verdict per FILE; the exit code is the worst of them.";
  if (command == "extract")
    return "NAMEs choose the entries to write: a name with '/' between folders (as list --json "
           "gives it; list shows the stored '\\'), a shell glob over it (quote it: 'docs/*'), "
           "or a folder, which brings everything below it. Every entry is still decoded, since "
           "later files draw on earlier ones; a NAME that matches nothing is reported, exit 1. "
           "By default an existing file is never replaced: extraction stops at the first one "
           "with exit code 1 (files before it stay). Nothing is written outside DIR: unsafe "
           "names are refused, and symbolic links inside DIR are never followed. A Windows "
           "distributable extracts here too. A core this varnow does not carry draws a warning "
           "(varnow test tells whether the files come out right). Last-access and last-write "
           "times are set; Linux keeps no creation time. The archive keeps no permissions: a "
           "file that begins with '#!' or is an ELF program comes out executable (0777 less the "
           "umask), as from the Linux core; others as 0666 less the umask. A damaged archive "
           "stops the run and removes the file being written.";
  return "";
}

void DefineCli(Cli& cli) {
  CLI::App& app = cli.App;
  app.require_subcommand(1);
  // The same options on every system: "/tmp/x" is a path, never an option.
  app.allow_windows_style_options(false);
  app.footer(std::string("\n") + kExitCodeText);
  app.set_version_flag("-V,--version", VersionText(), "Show the version of varnow and its cores");

  PackCommand& pack = cli.Pack;
  CLI::App* packApp = app.add_subcommand("pack", "Pack files and folders into a distributable");
  packApp->add_option("OUTPUT", pack.Output, "The distributable to write")->required();
  packApp->add_option("SOURCE", pack.Sources, "Files and folders to pack");
  packApp->add_option("--exclude", pack.Excludes, "Leave out what matches PATTERN (repeatable)")
      ->type_name("PATTERN")
      ->allow_extra_args(false);
  packApp
      ->add_option("--files-from", pack.FilesFrom,
                   "Also pack the paths listed in FILE, one a line ('-': standard input)")
      ->type_name("FILE");
  packApp->add_flag("--null", pack.NullSeparated,
                    "The --files-from list is separated by NUL bytes (find -print0)");
  packApp->add_flag("-f,--force", pack.Force, "Replace OUTPUT when it exists");
  CLI::Option* target =
      packApp
          ->add_option("--target", pack.Target,
                       "Core to put in front: windows (32-bit console) or linux (x86-64)")
          ->check(CLI::IsMember({"windows", "linux"}))
          ->type_name("windows|linux")
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
  packApp
      ->add_option("--run-after", pack.RunAfter,
                   "Program or document opened after expanding: the whole text is one name, "
                   "no arguments")
      ->type_name("COMMAND");
  AddPasswordOptions(packApp, pack.Password,
                     "Protect with a password, asked twice on the terminal without echo");
  packApp
      ->add_option("--level", pack.Level,
                   "1 (fastest) to 9 (smallest); -1 to -9 are the same as --level 1 to 9")
      ->type_name("N")
      ->check(CLI::Range(1, 9))
      ->capture_default_str();
  // -1 ... -9, as zip and gzip take them; shown in --level's help only.
  for (int n = 1; n <= 9; ++n) {
    packApp->add_flag_callback("-" + std::to_string(n), [&pack, n] { pack.LevelFlag = n; })
        ->group("");
  }
  packApp->add_option("--threads", pack.Threads, "Coding threads (default: one per processor)")
      ->type_name("N")
      ->check(CLI::Range(0, 256));
  packApp->add_flag("-q,--quiet", pack.Quiet, "No progress line and no summary");
  packApp->add_flag("!--no-verify", pack.Verify,
                    "Skip decoding the new file and comparing it with the sources");
  SetNotes(packApp, CommandNotes("pack"));
  cli.PackApp = packApp;

  CLI::App* listApp =
      app.add_subcommand("list", "Show the header, the core and every entry of distributables");
  listApp->add_option("FILE", cli.List.Archives, "The distributables")->required();
  listApp->add_flag("--json", cli.List.Json, "Print one JSON document");
  AddReadOptions(listApp, cli.List, false);
  SetNotes(listApp, CommandNotes("list"));
  cli.ListApp = listApp;

  CLI::App* testApp = app.add_subcommand(
      "test", "Decode every entry, check blocks, sizes and password, and identify the core");
  testApp->add_option("FILE", cli.Test.Archives, "The distributables")->required();
  AddReadOptions(testApp, cli.Test, true);
  SetNotes(testApp, CommandNotes("test"));
  cli.TestApp = testApp;

  ExtractCommand& extract = cli.Extract;
  CLI::App* extractApp = app.add_subcommand("extract", "Expand a distributable into a folder");
  extractApp->add_option("FILE", extract.Read.Archive, "The distributable")->required();
  extractApp->add_option("NAME", extract.Names, "Entries to write (names or globs); default all");
  AddReadOptions(extractApp, extract.Read, true);
  CLI::Option* folder =
      extractApp->add_option("-C,--directory", extract.Folder, "Expand into DIR (made if missing)")
          ->type_name("DIR")
          ->capture_default_str();
  CLI::Option* overwrite =
      extractApp->add_flag("--overwrite", cli.Overwrite, "Replace existing files");
  CLI::Option* skip =
      extractApp->add_flag("--skip-existing", cli.SkipExisting, "Keep existing files and go on")
          ->excludes(overwrite);
  extractApp
      ->add_flag("-O,--stdout", extract.ToStdout,
                 "Write the chosen files' contents to standard output, in the archive's order")
      ->excludes(folder)
      ->excludes(overwrite)
      ->excludes(skip);
  SetNotes(extractApp, CommandNotes("extract"));
  cli.ExtractApp = extractApp;
}
