#include "base/messages.h"

#include <cstddef>

namespace qvl {
namespace {

struct Texts {
  Message message;
  const char* english;
  const char* russian;
};

// In the order of Message. Every message ends with a full stop, but one that ends with the
// system's reason, which brings its own (Report adds one where it does not); the fragments that
// other messages take in (kMatchLevel, kWindowsError, kTheFile, kUnknownMachine, kUnknownReason,
// kThisMachine) have none.
constexpr Texts kTexts[] = {
    {Message::kAlreadyRunning,
     "A capture is already running in {folder}. Wait until it has ended, then try again.",
     "В папке {folder} уже идёт снятие отпечатка. Дождитесь окончания и повторите попытку."},
    {Message::kOutOfMemory, "Out of memory. Close other programs and try again.",
     "Недостаточно памяти. Закройте другие программы и повторите попытку."},
    {Message::kUnexpectedFailure,
     "Unexpected failure. Try again; if it happens again, give the text of this message to "
     "whoever supplied the program. Reason: {reason}",
     "Непредвиденный сбой. Повторите попытку; если сбой повторится, передайте текст этого "
     "сообщения поставщику программы. Причина: {reason}"},
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
     "{message}. qvlcapture keeps a run's files in its working folder, and that must be a folder "
     "that the user can write to, not under Program Files or on a read-only share. Ask the "
     "administrator to install qvlcapture in a folder that the user can write to, or to give it "
     "such a folder with -WORKDIR:.",
     "{message}. Программа qvlcapture записывает свои файлы в рабочую папку, и у пользователя "
     "должно быть право записи в неё: это не может быть папка в Program Files или сетевая папка, "
     "открытая только для чтения. Обратитесь к администратору: программу qvlcapture нужно "
     "установить в папку, доступную пользователю для записи, или указать такую папку в ключе "
     "-WORKDIR:."},
    {Message::kWriteAfterClose, "Cannot write {path}: the file is already closed.",
     "Не удалось записать {path}: файл уже закрыт."},
    {Message::kMissingFile, "Cannot read {path}: there is no such file.",
     "Не удалось прочитать {path}: файл не найден."},
    {Message::kNotAFile, "Cannot read {path}: it is not a file.",
     "Не удалось прочитать {path}: по этому пути находится не файл."},
    {Message::kTooLargeForMemory, "Cannot read {path}: the file is too large for memory.",
     "Не удалось прочитать {path}: файл не помещается в памяти."},
    {Message::kTemplateTooLong,
     "{path} is {length} bytes long, but a stored template has at most {size} bytes. The file "
     "must hold one stored template: ask the administrator.",
     "Файл {path} слишком велик для сохранённого шаблона: его размер в байтах — {length}, а "
     "допустимо не больше {size}. В файле должен быть один сохранённый шаблон; обратитесь к "
     "администратору."},
    {Message::kDatabaseTooLarge,
     "Cannot read the database {path}: {length} bytes do not fit in memory. Close other programs, "
     "or ask the administrator.",
     "Не удалось прочитать базу отпечатков {path}: она не помещается в памяти (размер в байтах: "
     "{length}). Закройте другие программы или обратитесь к администратору."},
    {Message::kConversionFailed, "Cannot convert text to code page {code_page}: {reason}",
     "Не удалось преобразовать текст в кодовую страницу {code_page}: {reason}"},
    {Message::kNoProgramFolder, "Cannot find the program's folder: {reason}",
     "Не удалось определить папку программы: {reason}"},
    {Message::kOutOfRange,
     "{quantity} is out of range: {value}. It must lie between -32768 and 32767.",
     "{quantity} вне допустимых пределов: {value}. Значение должно быть от -32768 до 32767."},
    {Message::kMatchLevel, "The match level (-LEVEL:)", "Уровень совпадения (ключ -LEVEL:)"},
    {Message::kTooManyRecords,
     "The database {path} holds {count} records, but the library's one-to-many search (-CMATCH) "
     "takes at most 32767. Split the database, or use -CVERIMATCH, which has no such limit.",
     "В базе отпечатков {path} записей: {count}, а поиск по всей базе (ключ -CMATCH) в "
     "библиотеке сканера работает не более чем с 32767 записями. Разделите базу отпечатков на "
     "части или используйте ключ -CVERIMATCH: у него такого ограничения нет."},
    {Message::kNumberOverflows,
     "The number in {switch} is too large. Give a smaller number.",
     "Слишком большое число в ключе {switch}. Укажите меньшее число."},
    {Message::kUtf16Command,
     "{path} is UTF-16 text without a byte-order mark, whose byte order qvlcapture cannot tell. "
     "Save it with the mark (PowerShell: Out-File), or in the ANSI code page (PowerShell: "
     "Set-Content -Encoding Default).",
     "Файл {path} записан в кодировке UTF-16 без метки порядка байтов, и qvlcapture не может "
     "определить порядок байтов. Сохраните файл с меткой (PowerShell: Out-File) или в кодировке "
     "ANSI (PowerShell: Set-Content -Encoding Default)."},
    {Message::kUnspellableCommand,
     "{path} is UTF-16 text that is not whole: it holds half of a character (a lone surrogate). "
     "Save it again, with PowerShell's Out-File or in UTF-8.",
     "Файл {path} в кодировке UTF-16 повреждён: в нём есть половина символа (одиночный "
     "суррогат). Сохраните файл заново командой PowerShell Out-File или в кодировке UTF-8."},
    {Message::kFullPathDatabase,
     "-MFILE:{name} depends on the current drive or current folder of the program that starts "
     "qvlcapture. Give a full path (C:\\Data\\staff.bin, \\\\server\\share\\staff.bin) or a name "
     "relative to the working folder ({folder}).",
     "Путь в ключе -MFILE:{name} зависит от текущего диска или текущей папки той программы, "
     "которая запускает qvlcapture. Укажите полный путь (C:\\Data\\staff.bin, "
     "\\\\server\\share\\staff.bin) или путь относительно рабочей папки ({folder})."},
    {Message::kNoTemplate,
     "The scanner library made no template of the captured print (QvlProcess left it empty). "
     "Take the print again.",
     "Библиотека сканера не построила шаблон снятого отпечатка (функция QvlProcess "
     "оставила шаблон пустым). Повторите снятие отпечатка."},
    {Message::kWindowClassFailed, "Cannot register the window class: {reason}",
     "Не удалось зарегистрировать класс окна: {reason}"},
    {Message::kWindowFailed, "Cannot create the window: {reason}",
     "Не удалось создать окно: {reason}"},
    {Message::kNoEntryPoint,
     "The scanner library {path} has no entry point {entry_point}: it is another library of that "
     "name, or an older version of the scanner vendor's. Copy the vendor's library, which has "
     "all six entry points, into the program's folder.",
     "В библиотеке сканера {path} нет точки входа {entry_point}: это другая библиотека с тем же "
     "именем или старая версия библиотеки производителя сканера. Скопируйте в папку программы "
     "библиотеку производителя, в которой есть все шесть точек входа."},
    {Message::kLibraryNowhere,
     "The scanner library {name} is neither in the program's folder ({folder}) nor in the system "
     "folder ({system_folder}). Copy the scanner vendor's {name} into the program's folder.",
     "Библиотека сканера {name} не найдена ни в папке программы ({folder}), ни в системной папке "
     "({system_folder}). Скопируйте {name} производителя сканера в папку программы."},
    {Message::kLibraryNotOnPath,
     "The scanner library {name} is neither in the program's folder ({folder}) nor on the "
     "system's library path ({reason}). Copy {name} into the program's folder.",
     "Библиотека сканера {name} не найдена ни в папке программы ({folder}), ни в папках, где "
     "система ищет библиотеки (ответ системы: {reason}). Скопируйте {name} в папку программы."},
    {Message::kCannotLoad, "Cannot load the scanner library {path}: {reason}",
     "Не удалось загрузить библиотеку сканера {path}: {reason}"},
    {Message::kLibraryStartFailed,
     "The scanner library {path} failed in {entry_point} as it loaded. Try again; if it happens "
     "again, give the text of this message to the scanner vendor. Reason: {reason}",
     "Сбой в библиотеке сканера {path} при загрузке (в функции {entry_point}). Повторите попытку; если сбой "
     "повторится, передайте текст этого сообщения производителю сканера. Причина: {reason}"},
    {Message::kDependencyMissing,
     "{path} is there, but the library it needs, {missing}, is missing. Install what the scanner "
     "vendor's library requires (its runtime or driver package), or copy the missing library "
     "into its folder.",
     "Библиотека сканера {path} найдена, но нет нужной ей библиотеки {missing}. "
     "Установите компоненты, необходимые библиотеке производителя сканера (среду выполнения или "
     "пакет драйверов), или скопируйте недостающую библиотеку в папку с библиотекой сканера."},
    {Message::kSomeDependencyMissing,
     "{path} is there, but a library that it needs is missing. Install what the scanner vendor's "
     "library requires (its runtime or driver package), or copy what is missing into its folder.",
     "Библиотека сканера {path} найдена, но нет одной из нужных ей библиотек. Установите "
     "компоненты, необходимые библиотеке производителя сканера (среду выполнения или пакет "
     "драйверов), или скопируйте недостающее в папку с библиотекой сканера."},
    {Message::kMachineMismatch,
     "{path} is a {library_bits}-bit library for {library_machine}, and this qvlcapture is a "
     "{program_bits}-bit program for {program_machine}: the two cannot work together. Use the "
     "scanner vendor's library for {program_machine}.",
     "{path} — {library_bits}-разрядная библиотека для {library_machine}, а эта версия qvlcapture "
     "— {program_bits}-разрядная программа для {program_machine}: вместе они работать не могут. "
     "Используйте библиотеку производителя сканера для {program_machine}."},
    {Message::kBitnessMismatch,
     "{path} is a {library_bits}-bit library for {library_machine}, and this qvlcapture is a "
     "{program_bits}-bit program for {program_machine}: the two cannot work together. Use the "
     "{library_bits}-bit qvlcapture with this library (on Windows the {package} package), or the "
     "scanner vendor's {program_bits}-bit library with this one.",
     "{path} — {library_bits}-разрядная библиотека для {library_machine}, а эта версия qvlcapture "
     "— {program_bits}-разрядная программа для {program_machine}: вместе они работать не могут. "
     "Используйте с этой библиотекой {library_bits}-разрядную версию qvlcapture (для Windows — "
     "пакет "
     "{package}) или с этой программой {program_bits}-разрядную библиотеку производителя сканера."},
    {Message::kWindowsError, "Windows error {code}", "ошибка Windows {code}"},
    {Message::kTheFile, "the file", "файл"},
    {Message::kLibraryFault,
     "The scanner library {library} crashed in {entry_point}: {fault} at {where}. No answer was "
     "written. Try again; if it happens again, give the text of this message to the scanner "
     "vendor.",
     "Сбой в библиотеке сканера {library} при вызове {entry_point}: {fault} по адресу {where}. "
     "Результат не записан. Повторите попытку; если сбой повторится, передайте текст этого "
     "сообщения производителю сканера."},
    {Message::kProgramFault,
     "qvlcapture crashed: {fault} at {where}. No answer was written. This is a fault of "
     "qvlcapture itself: please give the text of this message to whoever supplied qvlcapture.",
     "Аварийное завершение программы qvlcapture: {fault} по адресу {where}. Результат не записан. "
     "Это ошибка самой программы qvlcapture: передайте текст этого сообщения поставщику "
     "программы."},
    {Message::kScannerBusy,
     "The scanner is busy: another run of qvlcapture holds it (its window or its message may "
     "still be open). Wait until that run has ended, then try again.",
     "Сканер занят другим экземпляром программы qvlcapture (возможно, ещё открыто его окно или "
     "сообщение). Дождитесь его завершения и повторите попытку."},
    {Message::kNoWorkFolder,
     "The working folder {path} (-WORKDIR:) does not exist. Create it before starting qvlcapture.",
     "Рабочая папка {path} (ключ -WORKDIR:) не существует. Создайте её до запуска qvlcapture."},
    {Message::kLevelNotANumber,
     "The match level -LEVEL:{value} is not a number. Give a whole number from -32768 to 32767, "
     "such as -LEVEL:3.",
     "Уровень совпадения -LEVEL:{value} не является числом. Укажите целое число от -32768 до "
     "32767, например -LEVEL:3."},
    {Message::kLibraryThreadFault,
     "The scanner library {library} crashed on a thread of its own: {fault} at {where}. No "
     "answer was written. Try again; if it happens again, give the text of this message to the "
     "scanner vendor.",
     "Сбой в библиотеке сканера {library} в её собственном потоке: {fault} по адресу {where}. "
     "Результат не записан. Повторите попытку; если сбой повторится, передайте текст этого "
     "сообщения производителю сканера."},
    {Message::kMissingDatabase,
     "The database {path} is missing, or is not a file. Ask the administrator to place it there, "
     "or to name it with -MFILE:.",
     "База отпечатков {path} не найдена, или по этому пути находится не файл. Попросите "
     "администратора поместить её туда или указать другой файл в ключе -MFILE:."},
    {Message::kUnknownMachine, "machine {code}", "процессора с кодом {code}"},
    {Message::kDependenciesMissing,
     "{path} is there, but the libraries it needs, {missing}, are missing. Install what the "
     "scanner vendor's library requires (its runtime or driver package), or copy the missing "
     "libraries into its folder.",
     "Библиотека сканера {path} найдена, но нет нужных ей библиотек: {missing}. "
     "Установите компоненты, необходимые библиотеке производителя сканера (среду выполнения или "
     "пакет драйверов), или скопируйте недостающие библиотеки в папку с библиотекой сканера."},
    {Message::kBlankWorkFolder,
     "-WORKDIR: names no folder. Give the working folder's full path, or a name relative to "
     "the program's folder.",
     "В ключе -WORKDIR: не указана папка. Укажите полный путь к рабочей папке или путь "
     "относительно папки программы."},
    {Message::kAnchoredWorkFolder,
     "-WORKDIR:{value} depends on the current drive or current folder of the program that starts "
     "qvlcapture. Give a full path (C:\\Work\\a) or a name relative to the program's folder "
     "({folder}).",
     "Путь в ключе -WORKDIR:{value} зависит от текущего диска или текущей папки той программы, "
     "которая запускает qvlcapture. Укажите полный путь (C:\\Work\\a) или путь относительно "
     "папки программы ({folder})."},
    {Message::kWorkFolderIsFile,
     "-WORKDIR: names the file {path}, not a folder. Name a folder.",
     "В ключе -WORKDIR: указан файл {path}, а не папка. Укажите папку."},
    {Message::kInCommandFile, "{message} The command was read from {path}.",
     "{message} Команда прочитана из файла {path}."},
    {Message::kLibraryHung,
     "The scanner library {library} stopped answering: {entry_point} had not returned after "
     "{seconds} seconds. The run was ended and no result was written. Check the scanner's "
     "connection and driver, then try again.",
     "Библиотека сканера {library} перестала отвечать: функция {entry_point} не вернула "
     "управление за {seconds} с. Работа прервана, результат не записан. Проверьте подключение "
     "сканера и его драйвер, затем повторите попытку."},
    {Message::kTimedOut,
     "No print within {seconds} s. Try again. If a finger was put on the scanner, check its "
     "cable and driver (QvlOpenDevice returned {status} when the scanner was opened).",
     "Отпечаток не получен за {seconds} с. Повторите попытку. Если палец прикладывали, проверьте "
     "кабель и драйвер сканера (функция QvlOpenDevice вернула код {status})."},
    {Message::kNotAPrint,
     "The scanner reported no print: QvlGetImage gave the capture flag {flag}, not 1. Try again; "
     "if it happens again, check the scanner and its driver.",
     "Сканер не передал отпечаток: функция QvlGetImage вернула признак захвата {flag} вместо 1. "
     "Повторите попытку; если это повторится, проверьте сканер и его драйвер."},
    {Message::kBridgeStoppedRun,
     "qvlcapture had not ended after {seconds} seconds, and qvlbridge stopped it. Check the "
     "scanner's connection and driver, then try again.",
     "Программа qvlcapture не завершилась за {seconds} с, и служба qvlbridge остановила её. "
     "Проверьте подключение сканера и его драйвер, затем повторите попытку."},
    {Message::kUnknownArgument,
     "{argument} is no switch of qvlcapture. It takes -CVERIFY, -CMATCH, -CVERIMATCH, "
     "-CONTROL:, -MFILE:, -LEVEL:, -TIMEOUT:, -FOCUS, -WORKDIR: and -QUIET.",
     "Аргумент {argument} не является ключом qvlcapture. Допустимые ключи: -CVERIFY, -CMATCH, "
     "-CVERIMATCH, -CONTROL:, -MFILE:, -LEVEL:, -TIMEOUT:, -FOCUS, -WORKDIR: и -QUIET."},
    {Message::kPictureNotThisRuns,
     "The answer in result.txt is this capture's, but scan.bmp holds no picture of this "
     "capture: another program holds the old one, the disk had no room for the new one, or the "
     "scanner library wrote none. Close the program that holds scan.bmp, or free some disk "
     "space; if that does not help, check the scanner and its driver.",
     "Ответ в result.txt относится к этому снятию отпечатка, но в scan.bmp нет снимка этого "
     "снятия: старый файл занят другой программой, на диске не хватило места для нового или "
     "библиотека сканера не записала снимок. Закройте программу, которая держит scan.bmp, или "
     "освободите место на диске; если это не поможет, проверьте сканер и его драйвер."},
    {Message::kTimedOutAtOnce,
     "No print. Try again. If a finger was put on the scanner, check its cable and driver "
     "(QvlOpenDevice returned {status} when the scanner was opened).",
     "Отпечаток не получен. Повторите попытку. Если палец прикладывали, проверьте кабель и "
     "драйвер сканера (функция QvlOpenDevice вернула код {status})."},
    {Message::kUnknownReason, "the system gives no reason", "система не сообщила причину"},
    {Message::kThisMachine, "this computer's processor", "процессора этого компьютера"},
    {Message::kPastTheLimit,
     "{argument} is the eleventh argument, and qvlcapture reads ten at most: it and whatever "
     "follows it would be ignored. Leave out what is not needed.",
     "Аргумент {argument} — одиннадцатый, а qvlcapture читает не больше десяти аргументов: он и "
     "все следующие за ним были бы пропущены. Уберите лишние аргументы."},
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

namespace {

bool HasCyrillic(std::string_view text) {
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte == 0xD0 || byte == 0xD1) return true;
  }
  return false;
}

// A value as a Russian sentence takes it: the system's reason after a colon in lower case, and
// said to be the system's own words where the system gave them in another language; seconds with
// a decimal comma.
void AppendRussianValue(std::string& out, std::string_view name, std::string_view value) {
  if (name == "seconds") {
    for (char c : value) out += c == '.' ? ',' : c;
    return;
  }
  if (name != "reason" || value.empty()) return void(out.append(value));
  if (!HasCyrillic(value)) {
    // Whether the system's or a library's, a text in Latin letters is the error's own text.
    constexpr std::string_view kAnswer = "ответ системы: ";
    if (out.size() >= kAnswer.size() &&
        out.compare(out.size() - kAnswer.size(), kAnswer.size(), kAnswer) == 0)
      out.resize(out.size() - kAnswer.size());
    out += "текст ошибки на английском языке: ";
    return void(out.append(value));
  }
  auto byte = [&](std::size_t i) {
    return i < value.size() ? static_cast<unsigned char>(value[i]) : 0;
  };
  bool after_colon = out.size() >= 2 && out.compare(out.size() - 2, 2, ": ") == 0;
  // А-Я followed by a lower-case letter: a word, not an abbreviation such as «USB».
  bool capital = byte(0) == 0xD0 && ((byte(1) >= 0x90 && byte(1) <= 0xAF) || byte(1) == 0x81);
  bool then_lower = (byte(2) == 0xD0 && byte(3) >= 0xB0) || byte(2) == 0xD1;
  if (after_colon && capital && then_lower) {
    unsigned char letter = byte(1);  // Ё, А-П and Р-Я each move to another place
    out += static_cast<char>(letter >= 0x90 && letter < 0xA0 ? 0xD0 : 0xD1);
    out += static_cast<char>(letter == 0x81 ? 0x91 : letter < 0xA0 ? letter + 0x20 : letter - 0x20);
    value.remove_prefix(2);
  }
  out.append(value);
}

}  // namespace

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
    if (blank == blanks.end()) {
      out.append(text.substr(open, close - open + 1));
    } else if (g_language == Language::kRussian) {
      AppendRussianValue(out, name, blank->value);
    } else {
      out.append(blank->value);
    }
    text.remove_prefix(close + 1);
  }
}

std::string Say(Message message, std::initializer_list<Blank> blanks) {
  std::string out;
  AppendSaid(out, message, blanks);
  return out;
}

}  // namespace qvl
