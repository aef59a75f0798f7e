#pragma once

// Every message the program can show the user when a run fails, in English and in Russian, kept
// in messages.cpp where a translator finds all of them. A text names its blanks, "{path}", and
// the caller fills them by name. The window's own texts (window/texts.h) are Russian only.

#include <initializer_list>
#include <string>
#include <string_view>

namespace qvl {

enum class Message {
  kAlreadyRunning,
  kOutOfMemory,
  kUnexpectedFailure,
  kCannotCreate,
  kCannotWrite,
  kCannotClose,
  kCannotOpen,
  kCannotRead,
  kCannotLock,
  kFolderRefusesWriting,
  kWriteAfterClose,
  kMissingFile,
  kNotAFile,
  kTooLargeForMemory,
  kTemplateTooLong,
  kDatabaseTooLarge,
  kConversionFailed,
  kNoProgramFolder,
  kOutOfRange,
  kMatchLevel,
  kTooManyRecords,
  kNumberOverflows,
  kUtf16Command,
  kUnspellableCommand,
  kFullPathDatabase,
  kNoTemplate,
  kWindowClassFailed,
  kWindowFailed,
  kNoEntryPoint,
  kLibraryNowhere,
  kLibraryNotOnPath,
  kCannotLoad,
  kLibraryStartFailed,
  kDependencyMissing,
  kSomeDependencyMissing,
  kMachineMismatch,
  kBitnessMismatch,
  kWindowsError,
  kTheFile,
  kLibraryFault,
  kProgramFault,
  kScannerBusy,
  kNoWorkFolder,
  kLevelNotANumber,
  kLibraryThreadFault,
  kMissingDatabase,
  kUnknownMachine,
  kDependenciesMissing,
  kBlankWorkFolder,
  kAnchoredWorkFolder,
  kWorkFolderIsFile,
  kInCommandFile,
  kLibraryHung,
  kTimedOut,
  kNotAPrint,
  kBridgeStoppedRun,
  kUnknownArgument,
  kPictureNotThisRuns,
  kTimedOutAtOnce,
  kUnknownReason,
  kThisMachine,
  kPastTheLimit,
  kCount
};

enum class Language { kEnglish, kRussian };

// The language of every message from now on; English until the program sets the user's.
void SetLanguage(Language language);
Language CurrentLanguage();

struct Blank {
  std::string_view name;
  std::string_view value;
};

// The message in the current language, each of its blanks filled.
std::string Say(Message message, std::initializer_list<Blank> blanks = {});
// The same, appended to `out`: nothing is allocated while `out` has room, which the report of a
// crash relies on.
void AppendSaid(std::string& out, Message message, std::initializer_list<Blank> blanks);
// The text as the table holds it, blanks and all.
std::string_view MessageText(Message message, Language language);

}  // namespace qvl
