// varnow-man-page: writes the man page varnow(1) in roff to standard output.
// The synopsis and every command's options come from the same CLI11
// definition that varnow parses with (cli_definition.cpp), so the page
// cannot drift from the options; the fixed sections below say what no option
// says: the distributable's own behaviour, the exit codes and examples.
//   varnow-man-page [DATE]
#include <stdio.h>

#include <string>

#include "cli_definition.h"
#include "core_identity.h"

namespace {

// Text for roff: backslashes and hyphens escaped, no line starting with a
// control character.
std::string Roff(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else if (c == '\'') {
      out += "\\(aq";
    } else {
      out += c;
    }
  }
  if (!out.empty() && out[0] == '.') out = "\\&" + out;
  return out;
}

std::string Bold(const std::string& text) { return "\\fB" + Roff(text) + "\\fR"; }
std::string Italic(const std::string& text) { return "\\fI" + Roff(text) + "\\fR"; }

// "-q, --quiet" in bold with its value name in italics.
std::string OptionTerm(const CLI::Option* o) {
  std::string names = o->get_name(false, true);
  names = names.substr(0, names.find('{'));  // a flag's default, as in "--no-verify{false}"
  std::string out;
  size_t start = 0;
  for (;;) {
    size_t comma = names.find(',', start);
    out += (out.empty() ? "" : ", ") + Bold(names.substr(start, comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (o->get_expected_min() > 0) {
    std::string value = o->get_type_name();
    // CLI11 adds its checks to the value name ("TEXT:{windows,linux}"); the
    // description says them in words.
    value = value.substr(0, value.find(':'));
    out += " " + Italic(value);
  }
  return out;
}

std::string Synopsis(const CLI::App* command) {
  std::string line = ".B varnow " + command->get_name() + "\n[\\fIOPTIONS\\fR]";
  for (const CLI::Option* o : command->get_options()) {
    if (!o->get_positional()) continue;
    std::string name = Italic(o->get_name()) + (o->get_expected_max() > 1 ? "\\&..." : "");
    line += " " + (o->get_required() ? name : "[" + name + "]");
  }
  return line + "\n.br\n";
}

std::string Options(const CLI::App* command) {
  std::string out;
  for (const CLI::Option* o : command->get_options()) {
    if (o->get_positional() || o->get_name() == "--help") continue;
    std::string description = o->get_description();
    std::string defaults = o->get_default_str();
    if (!defaults.empty() && o->get_expected_min() > 0)
      description += " (default: " + defaults + ")";
    out += ".TP\n" + OptionTerm(o) + "\n" + Roff(description) + ".\n";
  }
  return out;
}

constexpr const char* kDescription = R"roff(.SH DESCRIPTION
A distributable is one file: the expander (the core program, exactly 20480
bytes, for 32\-bit Windows consoles or for Linux x86\-64) followed by an
archive that is bound to the bytes of that core.
.B varnow
makes distributables
.RB ( pack ),
shows their header and entries
.RB ( list ),
checks them
.RB ( test )
and expands them on any machine
.RB ( extract ),
whatever platform they were made for.
It carries both cores; the
.B \-\-version
option names them.
)roff";

constexpr const char* kFixedSections = R"roff(.SH EXIT STATUS
.TP
.B 0
Success.
.TP
.B 1
Bad usage or refused input: an unknown option, a name the target cannot
take, an existing output without
.BR \-\-force ,
a wrong password, a file that is not a distributable, a NAME that matches
no entry.
.TP
.B 2
A damaged distributable, an unknown core found by
.BR test ,
or an input/output failure.
.PP
Errors go to standard error as one line naming the file; with several
FILEs each failure has its line and the exit status is the worst.
.SH THE DISTRIBUTABLE
A distributable takes no options and ignores its arguments.
Run in a folder, it shows its comment, asks for the password when the
archive is protected (three tries), and expands its folders and files with
their times into the current folder.
When a file exists it asks
.RB \(dq "Overwrite? (Y/N)" \(dq;
an answer is one line, Y or N; the end of input answers N, so nothing is
replaced unbidden.
After the last file it opens its run\-after command, if it has one.
.PP
Unattended runs answer on standard input:
.TP
.B yes | ./file
replaces every existing file;
.TP
.B echo N | ./file
keeps every existing file (so does
.BR "./file < /dev/null" );
.TP
.B printf \(aqsecret\en\(aq | ./file
gives the password of a protected archive; answers to the overwrite
question follow on later lines.
.PP
Its exit status: 0 when every entry was expanded or skipped as answered;
1 when it refuses to start: a bare core with no archive, a file whose size
differs from the one its header records, or a wrong password three times;
2 when it stops part way: a damaged archive, a read or write error, or a
folder it cannot make.
The file being written when it stops is removed; the files before it stay.
.SH ENVIRONMENT
.TP
.B SOURCE_DATE_EPOCH
Seconds since 1970.
When set,
.B pack
stores every time later than it as that time, so that the same content
packs to the same bytes from any checkout.
A value that is not such a number is refused.
.SH EXAMPLES
.TP
.B varnow pack \-\-target linux \-\-comment \(aqRelease 2\(aq release.run docs/ bin/tool
Packs the folder docs (its contents) and the file bin/tool for Linux.
.TP
.B find . \-name \(aq*.txt\(aq \-print0 | varnow pack \-\-files\-from \- \-\-null texts.exe
Packs the listed files for Windows, each under its path.
.TP
.B varnow pack \-f \-\-exclude \(aq*.o\(aq \-\-exclude .git out.exe project
Replaces out.exe with the project folder, leaving out object files and .git.
.TP
.B SOURCE_DATE_EPOCH=$(git log \-1 \-\-format=%ct) varnow pack out.exe project
A pack that is byte\-identical from any checkout of the same commit.
.TP
.B varnow list \-\-json out.exe
The header and entries as one JSON document.
.TP
.B varnow test *.exe
One verdict per file, naming the core of each.
.TP
.B varnow extract \-C /tmp/x out.exe \(aqproject/docs/*\(aq
Writes only the entries below project/docs.
.TP
.B varnow extract \-O out.exe project/README | less
Shows one file without writing anything.
.SH SEE ALSO
.BR tar (1),
.BR unzip (1)
)roff";

}  // namespace

int main(int argc, char** argv) {
  Cli cli;
  DefineCli(cli);
  const std::string date = argc > 1 ? argv[1] : "";
  std::string page = ".TH VARNOW 1 \"" + date + "\" \"varnow " + VarnowVersion() +
                     "\" \"User Commands\"\n.SH NAME\nvarnow \\- makes, lists, tests and "
                     "extracts self\\-extracting distributables\n.SH SYNOPSIS\n";
  const CLI::App* commands[] = {cli.PackApp, cli.ListApp, cli.TestApp, cli.ExtractApp};
  for (const CLI::App* c : commands) page += Synopsis(c);
  page += ".B varnow\n\\fB\\-V\\fR | \\fB\\-\\-version\\fR | \\fB\\-h\\fR | \\fB\\-\\-help\\fR\n";
  page += kDescription;
  page += ".SH COMMANDS\n";
  for (const CLI::App* c : commands) {
    page += ".SS \"" + Roff(c->get_name()) + "\"\n" + Roff(c->get_description()) + ".\n.PP\n";
    page += Roff(CommandNotes(c->get_name())) + "\n";
    for (const CLI::Option* o : c->get_options()) {
      if (!o->get_positional()) continue;
      page += ".TP\n" + Italic(o->get_name()) + "\n" + Roff(o->get_description()) + ".\n";
    }
    page += Options(c);
    page += ".TP\n" + Bold("-h") + ", " + Bold("--help") + "\nShows the command's help.\n";
  }
  page += ".SS \"options of varnow itself\"\n";
  page += ".TP\n" + Bold("-V") + ", " + Bold("--version") +
          "\nShows the version of varnow and of the two cores it carries: their banner, size "
          "and CRC\\-32.\n";
  page += kFixedSections;
  fputs(page.c_str(), stdout);
  return ferror(stdout) ? 1 : 0;
}
