// Opening a distributable for list, test and extract: the header, then the
// password when it is protected (from --password-file, or asked on the
// terminal with --password; never asked unbidden, so scripts cannot hang).
#pragma once

#include "archive_reader.h"
#include "commands.h"
#include "text_codec.h"

// The code page of the archive's names: --codepage, else 1252 for a Windows
// core and UTF-8 for any other.
Status ArchiveCodePage(const ReadCommand& command, const ArchiveInfo& info, CodePage& page);
Status UnlockFor(const ReadCommand& command, const CodePage& page, ArchiveReader& reader);
