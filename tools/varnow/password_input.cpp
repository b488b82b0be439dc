// Passwords typed on the terminal with echo off (the system's seam puts it
// back on every way out), and the password and text files.
#include "password_input.h"

#include "host/host.h"
#include "text_codec.h"

namespace {

Status ReadAll(host::File& file, const std::string& shown, std::string& contents) {
  contents.clear();
  uint8_t buffer[65536];
  for (;;) {
    size_t n = 0;
    if (host::Error e = file.Read(buffer, n)) return Damaged(shown + ": cannot read: " + e.Text);
    if (n == 0) return Success();
    contents.append(reinterpret_cast<const char*>(buffer), n);
  }
}

}  // namespace

Status AskPassword(bool twice, std::string& password) {
  std::vector<std::string> prompts = {"Password: "};
  if (twice) prompts.push_back("Password again: ");
  std::optional<std::vector<std::string>> answers = host::AskHidden(prompts);
  if (!answers)
    return Refused("--password needs a terminal to ask on; use --password-file FILE instead");
  if (answers->size() < prompts.size() || (*answers)[0].empty())
    return Refused("no password was given");
  if (twice && (*answers)[0] != (*answers)[1]) return Refused("the two passwords differ");
  password = (*answers)[0];
  return Success();
}

Status ReadWholeFile(const std::string& path, std::string& contents) {
  host::File file;
  if (host::Error e = host::File::OpenToRead(path, file)) {
    if (e.Kind == host::Failure::kMissing) return Refused(DisplayPath(path) + ": no such file");
    return Damaged(DisplayPath(path) + ": cannot open: " + e.Text);
  }
  return ReadAll(file, DisplayPath(path), contents);
}

Status ReadStandardInput(std::string& contents) {
  host::File file;
  if (host::Error e = host::File::OpenStandardInput(file))
    return Damaged("standard input: cannot open: " + e.Text);
  return ReadAll(file, "standard input", contents);
}

Status ReadPasswordFile(const std::string& path, std::string& password) {
  std::string contents;
  const bool standardInput = path == "-";
  Status s = standardInput ? ReadStandardInput(contents) : ReadWholeFile(path, contents);
  if (!s.Ok()) return s;
  const std::string shown = standardInput ? "--password-file -" : DisplayPath(path);
  if (!contents.empty() && contents.back() == '\n') contents.pop_back();
  if (!contents.empty() && contents.back() == '\r') contents.pop_back();
  if (contents.find_first_of("\r\n") != std::string::npos)
    return Refused(shown + ": the password file holds more than one line");
  if (contents.empty()) return Refused(shown + ": the password file is empty");
  password = std::move(contents);
  return Success();
}
