// The expander's run, step by step: open and check the archive, unlock it,
// expand every entry, launch the run-after command. Every rejection and
// failure ends the process from where it happens.
#pragma once

// ExpanderMain, the whole run, is declared by the platform seam, whose entry
// points call it.
#include "platform/platform.h"

// Banner, own file, size checks, comment, run-after, protection header.
void OpenArchive();
// Shows the comment as it is read, character by character.
void ShowComment();
// Asks for the password of a protected archive, at most three times.
void PasswordGate();
// Every entry, then the close of the own file.
void ExpandAllEntries();
void LaunchRunAfter();
