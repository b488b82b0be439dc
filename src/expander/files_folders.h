// Folders and files on disk: making every folder along a path, the overwrite
// question, the progress lines, the output file with its prefix, its three
// times and its close.
#pragma once

#include <stdint.h>

// Length of the name up to and including its last backslash (0 if none).
int32_t FolderPart(const char* name);
// Makes every folder along path[0, length), which ends with a backslash.
void MakeFolders(const char* path, int32_t length);
void AskOverwrite();
// The output window's sink: writes to the file being expanded.
void WriteOutputFile(void* context, const uint8_t* data, int32_t count);
void CreateOutputFile(const uint8_t* prefix, int32_t prefixLength);
void FinishOutputFile();
