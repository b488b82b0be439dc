// Where a password comes from: typed on the terminal without echo (twice
// when packing, so a typing error cannot lock the archive), or the first line
// of a file.
#pragma once

#include <optional>
#include <string>

#include "cli_status.h"

// Asks on the terminal; refused when there is no terminal or the two answers differ.
Status AskPassword(bool twice, std::string& password);
// The file's contents without one trailing line end.
Status ReadPasswordFile(const std::string& path, std::string& password);
// Reads a whole file.
Status ReadWholeFile(const std::string& path, std::string& contents);
Status ReadStandardInput(std::string& contents);
