// The expander's messages, word for word. BEL (7) ends the ones that beep.
#pragma once

inline constexpr char kBannerStart[] = "*** ";
inline constexpr char kProductName[] = "Varnow Expander 32 Ver. 1.66";
inline constexpr char kBannerEnd[] = " ***  ";
inline constexpr char kCreditText[] = "by the Varnow team";
inline constexpr char kCoreProgramMessage[] = "This is core program.\a";
inline constexpr char kSmallerMessage[] =
    "This file is smaller than original file.  Cannot expand.  Press ENTER key.\a";
inline constexpr char kLargerMessage[] =
    "This file is larger than original file.  This file might be infected with virus.  "
    "Cannot expand.  Press ENTER key.\a";
inline constexpr char kPasswordPrompt[] = "Password : ";
inline constexpr char kReadErrorMessage[] = "File read error.";
inline constexpr char kBrokenMessage[] = "This file is broken.";
inline constexpr char kWriteErrorMessage[] = "File write error.";
inline constexpr char kOverwriteQuestion[] = " already exists. Overwrite? (Y/N) : \a";
inline constexpr char kSkippingLabel[] = "skipping : ";
inline constexpr char kExpandingLabel[] = "expanding : ";
inline constexpr char kExpandingTail[] = " ... ";
inline constexpr char kEndMessage[] = "end.";
inline constexpr char kCannotMakeFolder[] = "Cannot make folder : ";
inline constexpr char kPressEnter[] = "Press Enter key.\a";
inline constexpr char kCouldNotRun[] = "Couldn't run ";

// Exit codes of the process.
inline constexpr int kExitDone = 0;     // all entries processed
inline constexpr int kExitRefused = 1;  // bare core, wrong size, wrong password
inline constexpr int kExitFailed = 2;   // fatal stop, folder that cannot be made
