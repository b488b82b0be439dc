// Text between the system (UTF-8 file names, terminal) and a
// distributable's code page, through the system's converter. Conversions never guess: a
// character that has no counterpart is reported, not replaced. Display text
// shows every control character escaped, so an archive cannot drive a terminal.
#pragma once

#include <optional>
#include <string>

struct CodePage {
  std::string Name;        // as the user wrote it, for messages
  std::string SystemName;  // as the system converter names it: CP<number> or UTF-8
  bool IsUtf8 = false;     // names pass through unchanged
};

// "1252", "cp1252", "CP932", "65001", "UTF-8"...; nullopt when the system knows no such code page.
std::optional<CodePage> ParseCodePage(const std::string& text);
// The code page text converted from UTF-8; nullopt when some character
// cannot be represented (or the text is not valid UTF-8).
std::optional<std::string> FromUtf8(const CodePage& page, const std::string& text);
// Code page text converted to UTF-8; nullopt when some byte has no meaning there.
std::optional<std::string> ToUtf8(const CodePage& page, const std::string& text);
// For display: converted to UTF-8 where possible; control characters (C0, DEL,
// C1) and bytes that convert to nothing are shown as \n, \r, \t or \xNN.
std::string DisplayText(const CodePage& page, const std::string& text);
// The same for text that already is (or should be) UTF-8, such as a path.
std::string DisplayPath(const std::string& text);
// True when text is well-formed UTF-8.
bool IsValidUtf8(const std::string& text);
// An entry's name as this system writes paths: UTF-8, '/' between folders,
// empty and "." parts dropped (so a folder loses its "\."); nullopt when a
// byte means nothing in the code page.
std::optional<std::string> DecodedEntryName(const CodePage& page, const std::string& stored);
