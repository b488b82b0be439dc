// The shared opening steps of the read commands.
#include "read_session.h"

#include "host/host.h"
#include "password_input.h"

Status ArchiveCodePage(const ReadCommand& command, const ArchiveInfo& info, CodePage& page) {
  std::string name = command.CodePageName;
  if (name.empty())
    name = info.Core == CoreKind::kWindows ? host::DefaultWindowsCodePage() : "UTF-8";
  std::optional<CodePage> parsed = ParseCodePage(name);
  if (!parsed) return Refused("--codepage " + name + ": no such code page");
  page = *parsed;
  return Success();
}

Status UnlockFor(const ReadCommand& command, const CodePage& page, ArchiveReader& reader) {
  if (!reader.Info().IsProtected) return reader.Unlock("");
  std::string password;
  Status s;
  if (!command.Password.File.empty()) {
    s = ReadPasswordFile(command.Password.File, password);
  } else if (command.Password.Ask) {
    s = AskPassword(false, password);
  } else {
    return Refused(DisplayPath(command.Archive) +
                   ": protected; give --password or --password-file FILE");
  }
  if (!s.Ok()) return s;
  // The password was typed in the archive's code page; where it cannot be
  // converted it is taken as given.
  std::optional<std::string> converted = FromUtf8(page, password);
  return reader.Unlock(converted ? *converted : password);
}
