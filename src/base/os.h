#pragma once

// The small operating-system services the run needs. One implementation file per platform
// (os-posix.cpp, os-win32.cpp); the rest of the program never includes a system header.
//
// Paths are UTF-8 throughout. Texts that come from the caller (the command line, command.txt)
// are bytes in the system's ANSI code page and stay so; AnsiToPath turns a file name given
// there into a path.

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "base/messages.h"

namespace qvl {

// The language the user reads: Russian where the user's Windows (or, on Linux, the locale of
// LC_ALL, LC_MESSAGES or LANG) speaks it, English otherwise.
Language UserLanguage();

// Folder of the running executable, without a trailing separator.
std::string ProgramFolder();

// Folder + separator + name, with the platform's separator.
std::string JoinPath(const std::string& folder, const std::string& name);

// What a path is relative to. Anchored: C:x and \x on Windows, which the system resolves against
// the current folder of a drive, or the current drive, of whichever process asks.
enum class PathKind { kRelative, kFull, kAnchored };
PathKind KindOfPath(const std::string& path);

// The arguments after the program's name as one text, in the ANSI code page; with `unicode`, in
// UTF-8 as the system holds it (Windows: UTF-16), for paths, which any alphabet may spell.
std::string CommandLineTail(bool unicode = false);

// The environment variable `name`, in UTF-8; nullopt when it is not set.
std::optional<std::string> EnvironmentValue(const std::string& name);

// A file name from the caller's command (ANSI bytes) as a UTF-8 path fragment.
std::string AnsiToPath(std::string_view ansi);

// Where the scanner library, which takes no wide paths, can write the file `name` meant for
// `folder`: zero-terminated ANSI bytes, and the same place as a UTF-8 path. In `folder` itself
// when the ANSI code page can spell it (through the folder's short 8.3 name if need be), else in
// the temporary folder under a name of this process's own.
struct LibraryPath {
  std::string ansi;
  std::string path;
};
LibraryPath LibraryWritablePath(const std::string& folder, const std::string& name);

// Makes `path` a file holding `parts`, one after another; false when it cannot. Takes no lock and
// allocates nothing on Linux, so a crash report can be written with it.
bool WriteWholeFile(const std::string& path,
                    std::initializer_list<std::string_view> parts) noexcept;

// Removes a file; a missing file is no failure.
bool RemoveFile(const std::string& path);
// Moves `from` over `to` in one step, so `to` is never missing or half written. False with the
// for one when another program holds `to` open.
bool MoveOver(const std::string& from, const std::string& to);

// The file that holds a program folder for one run. Every spelling of the folder, and every
// computer on a shared one, meets the same file; the system lets go of it with the process,
// however that ends.
inline constexpr char kLockFileName[] = "qvlcapture.lock";
// How long a start waits for a lock whose holder is still ending. A caller that kills a hung run
// starts the next at once, but the system lets the locks go only once the killed process is torn
// down: later still when a driver call has to be cancelled first, or, under Wine, when the Wine
// server gets to it.
inline constexpr int kLockGraceMilliseconds = 2000;
// Takes the lock file in `folder` until the process ends. False when another run holds it past
// the grace; any other failure is a RunError.
bool LockFolder(const std::string& folder, int grace_ms = kLockGraceMilliseconds);
// Takes the one lock of this user's session (Windows: a named mutex; elsewhere a lock file of the
// user's) until the process ends, so that runs in different folders never poll the scanner at
// once. False when another run holds it past the grace. A test harness that drives several
// stand-in scanners at once names a lock of its own in QVLCAPTURE_SCANNER_LOCK.
bool LockScanner();
// Lets the scanner lock go before the process ends: for a run that stops before it opened the
// scanner, so that its message, which may stay open for minutes, holds no scanner it never used.
void ReleaseScanner();

#ifndef _WIN32
// HOME, or, for a program started without it (a service manager, cron), the account's own home
// from the password database; empty when there is none. Never a shared folder such as /tmp.
std::string AccountHome();
#endif

// Whether `path` is a folder (through a link to one too).
bool IsFolder(const std::string& path);

// error.txt for a report that may come while another thread holds the heap or the allocator's
// lock (a crash inside the vendor's code): PrepareReportFile does, once the run's folder is known,
// all that needs memory; WriteReportFile then writes `name` whole in that folder with system
// calls alone, or removes what it could not write whole. Nothing until prepared.
void PrepareReportFile(const std::string& folder, const char* name);
void WriteReportFile(std::string_view message) noexcept;

// "qvlcapture: <message>" and a line end on standard error, in UTF-8, where the caller gave the
// program one (a service that redirects it); nothing where it did not. Allocates nothing: a
// crash report comes through here too.
void WriteStandardError(std::string_view message) noexcept;

// UTF-8 text (a command.txt saved as UTF-8) in the ANSI code page, as the command line comes;
// nullopt when it is no UTF-8 or a character has no form there.
std::optional<std::string> Utf8ToAnsi(std::string_view utf8);

// Why a call to the system failed, taken at the failing call and handed on from there: nothing
// in between can overwrite it. Windows: the system's error code, or the C runtime's errno where
// the runtime failed without the system; elsewhere errno.
struct SystemError {
  unsigned long code = 0;
  bool c_runtime = false;
};
// The reason of the call that has just failed.
SystemError LastSystemError();
// Its text in the user's language; `subject` (a path) fills the places where the system's
// message names the file.
std::string SystemErrorText(SystemError error, std::string_view subject = {});
// Whether `error`, from creating `path`, means that its folder refuses writing (access denied,
// read-only media), rather than something about the file itself.
bool FolderRefusesWriting(const std::string& path, SystemError error);

// Whether a lock that could not be taken is held by another process (a start to refuse), rather
// than one that cannot be had here at all (on NFS, say: an error).
bool HeldElsewhere(SystemError error);

// Opens a file like fopen, with a UTF-8 path, never inherited by a process the library starts.
// nullptr with the reason in `error`.
std::FILE* OpenFile(const std::string& path, const char* mode, SystemError* error);

// Length of a regular file, through a symbolic link to it too; nullopt when the path is missing
// or is not a regular file.
std::optional<std::uint64_t> RegularFileLength(const std::string& path);
// The same for a file already open, so what is measured is what is read.
std::optional<std::uint64_t> OpenFileLength(std::FILE* file);

// Abstract so tests can run the capture wait in virtual time. SystemClock() is the real one:
// monotonic, so a change of the wall clock cannot shorten or stretch a wait.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::int64_t NowMs() = 0;
  virtual void SleepMs(int ms) = 0;
};
Clock& SystemClock();

}  // namespace qvl
