#include "base/messages.h"

#include <cstddef>

namespace qvl {
namespace {

struct Texts {
  Message message;
  const char* english;
  const char* russian;
};

// In the order of Message. A full stop that a text ends with stays out of the blank before it:
// a system reason brings its own.
constexpr Texts kTexts[] = {
    {Message::kAlreadyRunning,
     "A capture is already running in {folder}: wait until it has ended, then start qvlcapture "
     "again.",
     "В папке {folder} уже идёт снятие отпечатка: дождитесь, пока оно закончится, и запустите "
     "qvlcapture снова."},
    {Message::kOutOfMemory, "Out of memory", "Недостаточно памяти"},
    {Message::kUnexpectedFailure, "Unexpected failure: {reason}", "Непредвиденный сбой: {reason}"},
    {Message::kCannotCreate, "Cannot create {path}: {reason}",
     "Не удалось создать {path}: {reason}"},
    {Message::kCannotWrite, "Cannot write {path}: {reason}",
     "Не удалось записать {path}: {reason}"},
    {Message::kCannotClose, "Cannot close {path}: {reason}", "Не удалось закрыть {path}: {reason}"},
    {Message::kCannotOpen, "Cannot open {path}: {reason}", "Не удалось открыть {path}: {reason}"},
    {Message::kCannotRead, "Cannot read {path}: {reason}", "Не удалось прочитать {path}: {reason}"},
    {Message::kCannotLock, "Cannot lock {path}: {reason}",
     "Не удалось заблокировать {path}: {reason}"},
    {Message::kFolderRefusesWriting,
     "{message}. qvlcapture keeps all its files beside itself, so it must live in a folder that "
     "the user can write, not under Program Files or on a read-only share.",
     "{message}. qvlcapture хранит все свои файлы рядом с собой, поэтому она должна лежать в "
     "папке, куда пользователь может писать, а не в Program Files и не в сетевой папке только "
     "для чтения."},
    {Message::kWriteAfterClose, "Cannot write {path}: the file is already closed",
     "Не удалось записать {path}: файл уже закрыт"},
    {Message::kMissingFile, "Cannot read {path}: it is missing or is not a file",
     "Не удалось прочитать {path}: его нет или это не файл"},
    {Message::kNotAFile, "Cannot read {path}: it is not a file",
     "Не удалось прочитать {path}: это не файл"},
    {Message::kTooLargeForMemory, "Cannot read {path}: the file is too large for memory",
     "Не удалось прочитать {path}: файл не помещается в памяти"},
    {Message::kTemplateTooLong,
     "{path} is {length} bytes long; a stored template has at most {size}",
     "{path} имеет длину {length} байт, а сохранённый шаблон занимает не больше {size}"},
    {Message::kDatabaseTooLarge,
     "Cannot read the database {path}: {length} bytes do not fit in memory",
     "Не удалось прочитать базу {path}: {length} байт не помещаются в памяти"},
    {Message::kConversionFailed, "Cannot convert text to code page {code_page}: {reason}",
     "Не удалось перевести текст в кодовую страницу {code_page}: {reason}"},
    {Message::kNoProgramFolder, "Cannot find the program's folder: {reason}",
     "Не удалось определить папку программы: {reason}"},
    {Message::kOutOfRange,
     "{quantity} {value} is out of range: it must lie between -32768 and 32767",
     "{quantity} {value} вне допустимых пределов: значение должно лежать между -32768 и 32767"},
    {Message::kMatchLevel, "The match level (-LEVEL:)", "Уровень совпадения (-LEVEL:)"},
    {Message::kRecordCount, "The number of records in {path}", "Число записей в {path}"},
    {Message::kNumberOverflows, "{switch} value is too large: the number overflows",
     "Значение {switch} слишком велико: число переполняется"},
    {Message::kUtf16Command,
     "{path} is UTF-16 text, which qvlcapture cannot read: save it in the ANSI code page "
     "(PowerShell: Set-Content -Encoding Default)",
     "{path} записан в UTF-16, а qvlcapture его прочитать не может: сохраните его в кодовой "
     "странице ANSI (PowerShell: Set-Content -Encoding Default)"},
    {Message::kUnspellableCommand,
     "{path} is UTF-8 text with a character that the system's ANSI code page cannot spell: use "
     "only characters of that code page, or save it as ANSI",
     "{path} записан в UTF-8 и содержит символ, которого нет в кодовой странице ANSI системы: "
     "используйте только символы этой кодовой страницы или сохраните файл в ANSI"},
    {Message::kFullPathDatabase,
     "-MFILE:{name} is a full path, but the database is always looked for inside the working "
     "folder ({folder}): give its name there, or a path below it such as db\\staff.bin",
     "-MFILE:{name} задаёт полный путь, а база всегда ищется в рабочей папке ({folder}): "
     "укажите имя файла в ней или путь внутри неё, например db\\staff.bin"},
    {Message::kNoTemplate,
     "The scanner library made no template of the captured print (QvlProcess left it empty): "
     "put the finger on the scanner again",
     "Библиотека сканера не построила шаблон снятого отпечатка (QvlProcess оставила его "
     "пустым): приложите палец к сканеру ещё раз"},
    {Message::kWindowClassFailed, "Cannot register the window class: {reason}",
     "Не удалось зарегистрировать класс окна: {reason}"},
    {Message::kWindowFailed, "Cannot create the window: {reason}",
     "Не удалось создать окно: {reason}"},
    {Message::kNoEntryPoint,
     "The scanner library {path} has no entry point {entry_point}: it is another library of that "
     "name, or an older version of the scanner vendor's. Place the vendor's library, which has "
     "all six entry points, beside the program.",
     "В библиотеке сканера {path} нет точки входа {entry_point}: это другая библиотека с тем же "
     "именем или старая версия библиотеки производителя сканера. Положите рядом с программой "
     "библиотеку производителя, в которой есть все шесть точек входа."},
    {Message::kLibraryNowhere,
     "The scanner library {name} is neither in the program's folder ({folder}) nor in the system "
     "folder ({system_folder}). Place the scanner vendor's {name} beside {program}.",
     "Библиотеки сканера {name} нет ни в папке программы ({folder}), ни в системной папке "
     "({system_folder}). Положите {name} производителя сканера рядом с {program}."},
    {Message::kLibraryNotOnPath,
     "The scanner library {name} is neither in the program's folder ({folder}) nor on the "
     "system's library path ({reason}). Place {name} beside {program}.",
     "Библиотеки сканера {name} нет ни в папке программы ({folder}), ни на системном пути "
     "библиотек ({reason}). Положите {name} рядом с {program}."},
    {Message::kCannotLoad, "Cannot load the scanner library {path}: {reason}",
     "Не удалось загрузить библиотеку сканера {path}: {reason}"},
    {Message::kLibraryStartFailed,
     "The scanner library {path} failed in {entry_point} as it loaded: {reason} Try again; if it "
     "happens again, give this message to the scanner vendor.",
     "Библиотека сканера {path} дала сбой в {entry_point} при загрузке: {reason} Попробуйте ещё "
     "раз; если сбой повторится, передайте это сообщение производителю сканера."},
    {Message::kDependencyMissing,
     "{path} is there, but the library it needs, {missing}, is missing. Install what the scanner "
     "vendor's library requires (its runtime or driver package), or place what is missing beside "
     "it.",
     "{path} на месте, но нужной ей библиотеки {missing} нет. Установите то, что требуется "
     "библиотеке производителя сканера (её среду выполнения или пакет драйверов), или положите "
     "недостающее рядом с ней."},
    {Message::kSomeDependencyMissing,
     "{path} is there, but a library that it needs is missing. Install what the scanner vendor's "
     "library requires (its runtime or driver package), or place what is missing beside it.",
     "{path} на месте, но нужной ей библиотеки нет. Установите то, что требуется библиотеке "
     "производителя сканера (её среду выполнения или пакет драйверов), или положите недостающее "
     "рядом с ней."},
    {Message::kMachineMismatch,
     "{path} is a {library_bits}-bit library for {library_machine}, and this qvlcapture is a "
     "{program_bits}-bit program for {program_machine}: the two cannot work together. Use the "
     "scanner vendor's library for {program_machine}.",
     "{path} — {library_bits}-битная библиотека для {library_machine}, а эта qvlcapture — "
     "{program_bits}-битная программа для {program_machine}: вместе они работать не могут. "
     "Используйте библиотеку производителя сканера для {program_machine}."},
    {Message::kBitnessMismatch,
     "{path} is a {library_bits}-bit library for {library_machine}, and this qvlcapture is a "
     "{program_bits}-bit program for {program_machine}: the two cannot work together. Use the "
     "{library_bits}-bit qvlcapture with this library (on Windows the {package} package), or the "
     "scanner vendor's {program_bits}-bit library with this one.",
     "{path} — {library_bits}-битная библиотека для {library_machine}, а эта qvlcapture — "
     "{program_bits}-битная программа для {program_machine}: вместе они работать не могут. "
     "Используйте с этой библиотекой {library_bits}-битную qvlcapture (для Windows — пакет "
     "{package}) или с этой программой {program_bits}-битную библиотеку производителя сканера."},
    {Message::kWindowsError, "Windows error {code}", "Ошибка Windows {code}"},
    {Message::kTheFile, "the file", "файл"},
    {Message::kLibraryFault,
     "The scanner library {library} crashed in {entry_point}: {fault} at {where}. No answer was "
     "written. Try again; if it happens again, give this message to the scanner vendor.",
     "Библиотека сканера {library} аварийно завершилась в {entry_point}: {fault} по адресу "
     "{where}. Ответ не записан. Попробуйте ещё раз; если сбой повторится, передайте это "
     "сообщение производителю сканера."},
    {Message::kProgramFault,
     "qvlcapture crashed: {fault} at {where}. No answer was written. This is a fault of "
     "qvlcapture itself: please report it with this message.",
     "Аварийное завершение qvlcapture: {fault} по адресу {where}. Ответ не записан. Это ошибка "
     "самой qvlcapture: сообщите о ней, приложив это сообщение."},
    {Message::kScannerBusy,
     "The scanner is busy: a capture is already running for another folder. Wait until it has "
     "ended, then try again.",
     "Сканер занят: для другой папки уже идёт снятие отпечатка. Дождитесь окончания и повторите "
     "попытку."},
    {Message::kNoWorkFolder,
     "The working folder {path} (-WORKDIR:) does not exist: create it before starting qvlcapture.",
     "Рабочей папки {path} (-WORKDIR:) не существует: создайте её до запуска qvlcapture."},
    {Message::kLevelNotANumber,
     "The match level -LEVEL:{value} is not a number: give a whole number from -32768 to 32767, "
     "such as -LEVEL:3.",
     "Уровень совпадения -LEVEL:{value} не является числом: укажите целое число от -32768 до "
     "32767, например -LEVEL:3."},
    {Message::kLibraryThreadFault,
     "The scanner library {library} crashed on a thread of its own: {fault} at {where}. No "
     "answer was written. Try again; if it happens again, give this message to the scanner "
     "vendor.",
     "Сбой в библиотеке сканера {library} в её собственном потоке: {fault} по адресу {where}. "
     "Ответ не записан. Повторите попытку; если сбой повторится, передайте текст этого "
     "сообщения производителю сканера."},
};

constexpr bool InMessageOrder() {
  for (std::size_t i = 0; i < sizeof kTexts / sizeof kTexts[0]; ++i) {
    if (static_cast<std::size_t>(kTexts[i].message) != i) return false;
  }
  return sizeof kTexts / sizeof kTexts[0] == static_cast<std::size_t>(Message::kCount);
}
static_assert(InMessageOrder(), "kTexts must hold every Message, in the enum's order");

Language g_language = Language::kEnglish;

}  // namespace

void SetLanguage(Language language) { g_language = language; }

Language CurrentLanguage() { return g_language; }

std::string_view MessageText(Message message, Language language) {
  const Texts& texts = kTexts[static_cast<std::size_t>(message)];
  return language == Language::kRussian ? texts.russian : texts.english;
}

void AppendSaid(std::string& out, Message message, std::initializer_list<Blank> blanks) {
  std::string_view text = MessageText(message, g_language);
  while (!text.empty()) {
    std::size_t open = text.find('{');
    std::size_t close = open == std::string_view::npos ? open : text.find('}', open);
    if (close == std::string_view::npos) {
      out.append(text);
      return;
    }
    out.append(text.substr(0, open));
    std::string_view name = text.substr(open + 1, close - open - 1);
    const Blank* blank = blanks.begin();
    while (blank != blanks.end() && blank->name != name) ++blank;
    out.append(blank != blanks.end() ? blank->value : text.substr(open, close - open + 1));
    text.remove_prefix(close + 1);
  }
}

std::string Say(Message message, std::initializer_list<Blank> blanks) {
  std::string out;
  AppendSaid(out, message, blanks);
  return out;
}

}  // namespace qvl
