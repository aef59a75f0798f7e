// End to end on Linux: the real program and the stand-in library, copied into a fresh program
// folder for each test, run as a caller would run them.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "testing/fakes.h"

namespace qvl {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int exit_code = -1;
  std::string stderr_text;
};

class EndToEndTest : public testing::Test {
 protected:
  EndToEndTest() : folder(dir.path()) { Install(folder); }

  // Makes `path` a program folder: the program and the stand-in library.
  static void Install(const std::string& path) {
    fs::create_directories(path);
    for (const char* name : {"qvlcapture", "libQvlScanner.so"})
      fs::copy_file(fs::path(QVL_BUILD_DIR) / name, fs::path(path) / name);
  }

  // Runs the program with `args` and extra environment; sends SIGINT after `interrupt_ms`
  // when that is not negative.
  Outcome Run(std::vector<std::string> args, std::vector<std::string> env = {},
              int interrupt_ms = -1, bool as_nobody = false) {
    std::string log = dir.File("stderr.log");
    pid_t child = fork();
    if (child == 0) {
      int null_in = open("/dev/null", O_RDONLY);
      int err = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(null_in, STDIN_FILENO);
      dup2(err, STDERR_FILENO);
      for (std::string& setting : env) putenv(setting.data());
      if (as_nobody && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
      std::string program = folder + "/qvlcapture";
      std::vector<char*> argv{program.data()};
      for (std::string& arg : args) argv.push_back(arg.data());
      argv.push_back(nullptr);
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    Outcome outcome;
    auto started = std::chrono::steady_clock::now();
    bool interrupted = false;
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
      auto waited = std::chrono::steady_clock::now() - started;
      if (interrupt_ms >= 0 && !interrupted && waited >= std::chrono::milliseconds(interrupt_ms)) {
        kill(child, SIGINT);
        interrupted = true;
      }
      if (waited > std::chrono::seconds(30)) {
        kill(child, SIGKILL);
        ADD_FAILURE() << "the program did not end within 30 s";
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    outcome.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.stderr_text = dir.Read("stderr.log");
    return outcome;
  }

  std::string ReadInFolder(const std::string& name) {
    return ReadFileOrMissing(folder + "/" + name);
  }

  void Qvlsim(const std::string& arguments) {
    std::string command = std::string(QVL_BUILD_DIR) + "/qvlsim " + arguments + " >/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  ScopedTempDir dir;
  std::string folder;
};

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

TEST_F(EndToEndTest, CapturedRunWritesAllOutputs) {
  Outcome outcome = Run({"-CONTROL:A17"}, {"QVLSIM_ARRIVE=3polls"});
  EXPECT_EQ(outcome.exit_code, 0) << outcome.stderr_text;
  EXPECT_EQ(ReadInFolder("result.txt"), "-1\r\nA17\r\n");
  std::string feature = ReadInFolder("feature.txt");
  EXPECT_EQ(std::count(feature.begin(), feature.end(), '\n'), 257);
  std::string bmp = ReadInFolder("scan.bmp");
  EXPECT_EQ(bmp.substr(0, 2), "BM");
  EXPECT_EQ(bmp.size(), 54u + 280 * 280 * 3);
  EXPECT_TRUE(Has(outcome.stderr_text, "Приложите палец"));
  EXPECT_TRUE(Has(outcome.stderr_text, "Отпечаток получен!"));
}

TEST_F(EndToEndTest, TimeoutEmptiesResultAndTellsTheUser) {
  std::ofstream(folder + "/result.txt") << "1\r\nold\r\n";
  Outcome outcome = Run({"-TIMEOUT:0", "-CONTROL:x"}, {"QVLSIM_ARRIVE=never"});
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(ReadInFolder("result.txt"), "");
  EXPECT_EQ(ReadInFolder("feature.txt"), "<missing>");
  EXPECT_TRUE(Has(outcome.stderr_text, "Произошел таймаут 2 минуты (120 секунд)"));
}

TEST_F(EndToEndTest, InterruptIsTheUserClosingTheWindow) {
  Outcome outcome = Run({"-TIMEOUT:30"}, {"QVLSIM_ARRIVE=never"}, 500);
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(ReadInFolder("result.txt"), "");
  EXPECT_FALSE(Has(outcome.stderr_text, "таймаут"));
}

TEST_F(EndToEndTest, FlagOtherThanOneIsNoPrint) {
  Outcome outcome = Run({}, {"QVLSIM_ARRIVE=1polls", "QVLSIM_FLAG=2"});
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(ReadInFolder("result.txt"), "");
  EXPECT_TRUE(Has(outcome.stderr_text, "таймаут"));
}

TEST_F(EndToEndTest, MissingLibraryIsAnErrorNamingIt) {
  fs::remove(folder + "/libQvlScanner.so");
  Outcome outcome = Run({}, {"LD_LIBRARY_PATH=/nonexistent"});
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_TRUE(Has(outcome.stderr_text, "libQvlScanner.so")) << outcome.stderr_text;
  EXPECT_EQ(ReadInFolder("result.txt"), "");
}

TEST_F(EndToEndTest, MissingEntryPointIsAnErrorNamingIt) {
  fs::copy_file(QVL_BROKEN_LIBRARY, folder + "/libQvlScanner.so",
                fs::copy_options::overwrite_existing);
  Outcome outcome = Run({});
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_TRUE(Has(outcome.stderr_text, "QvlMatchN")) << outcome.stderr_text;
}

TEST_F(EndToEndTest, ResultFileThatCannotBeCreatedIsAnError) {
  fs::create_directory(folder + "/result.txt");
  Outcome outcome = Run({}, {"QVLSIM_ARRIVE=1polls"});
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_TRUE(Has(outcome.stderr_text, "result.txt")) << outcome.stderr_text;
  EXPECT_EQ(ReadInFolder("feature.txt"), "<missing>");
}

TEST_F(EndToEndTest, CommandFileOneSwitchPerLine) {
  std::ofstream(folder + "/command.txt") << "-CVERIFY\r\n-CONTROL:from-file\r\n";
  Qvlsim("enroll --finger 4 --out " + folder + "/verify1.bin");
  Outcome outcome = Run({"-CONTROL:ignored"}, {"QVLSIM_ARRIVE=1polls", "QVLSIM_FINGER=4"});
  EXPECT_EQ(outcome.exit_code, 0) << outcome.stderr_text;
  EXPECT_EQ(ReadInFolder("result.txt"), "1\r\nfrom-file\r\n");
}

TEST_F(EndToEndTest, VerifySameFingerAndAnother) {
  Qvlsim("enroll --finger 7 --out " + folder + "/verify1.bin");
  Run({"-CVERIFY"}, {"QVLSIM_ARRIVE=1polls", "QVLSIM_FINGER=7"});
  EXPECT_EQ(ReadInFolder("result.txt"), "1\r\n\r\n");
  Run({"-CVERIFY"}, {"QVLSIM_ARRIVE=1polls", "QVLSIM_FINGER=8"});
  EXPECT_EQ(ReadInFolder("result.txt"), "0\r\n\r\n");
}

TEST_F(EndToEndTest, IdentifyListsTheThreeEnrolledCopies) {
  Qvlsim("database --fingers 1000 --include 7@12 --include 7@500 --include 7@999 --out " +
         folder + "/staff.bin");
  Outcome outcome = Run({"-CVERIMATCH", "-MFILE:staff.bin", "-CONTROL:A17"},
                        {"QVLSIM_ARRIVE=1polls", "QVLSIM_FINGER=7"});
  EXPECT_EQ(outcome.exit_code, 0) << outcome.stderr_text;
  EXPECT_EQ(ReadInFolder("result.txt"), "12,500,999\r\nA17\r\n");
  Run({"-CMATCH", "-MFILE:staff.bin"}, {"QVLSIM_ARRIVE=1polls", "QVLSIM_FINGER=7"});
  std::string answer = ReadInFolder("result.txt");
  EXPECT_TRUE(answer == "12\r\n\r\n" || answer == "500\r\n\r\n" || answer == "999\r\n\r\n")
      << answer;
}

TEST_F(EndToEndTest, FolderWithSpacesAndCyrillic) {
  folder = dir.File("папка с пробелами");
  Install(folder);
  Outcome outcome = Run({"-CONTROL:ok"}, {"QVLSIM_ARRIVE=1polls"});
  EXPECT_EQ(outcome.exit_code, 0) << outcome.stderr_text;
  EXPECT_EQ(ReadInFolder("result.txt"), "-1\r\nok\r\n");
  EXPECT_EQ(ReadInFolder("scan.bmp").substr(0, 2), "BM");
}

// Faults injected through the stand-in library: the run does what the library's answers mean,
// never crashes, and result.txt is empty or complete.

TEST_F(EndToEndTest, FaultDeviceThatFailsToOpenNeverDeliversAPrint) {
  Outcome outcome = Run({"-TIMEOUT:0"}, {"QVLSIM_FAIL=open", "QVLSIM_ARRIVE=1polls"});
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(ReadInFolder("result.txt"), "");
  EXPECT_TRUE(Has(outcome.stderr_text, "таймаут"));
}

TEST_F(EndToEndTest, FaultProcessingLeavesAZeroTemplateThatIsStillWritten) {
  Outcome outcome = Run({"-CONTROL:t"}, {"QVLSIM_FAIL=process", "QVLSIM_ARRIVE=1polls"});
  EXPECT_EQ(outcome.exit_code, 0);
  std::string zeros;
  for (int i = 0; i < 257; ++i) zeros += "0\r\n";
  EXPECT_EQ(ReadInFolder("feature.txt"), zeros);
  EXPECT_EQ(ReadInFolder("result.txt"), "-1\r\nt\r\n");
}

TEST_F(EndToEndTest, FaultSavingTheImageOnlyLosesTheImage) {
  Outcome outcome = Run({"-CONTROL:t"}, {"QVLSIM_FAIL=bmp", "QVLSIM_ARRIVE=1polls"});
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(ReadInFolder("scan.bmp"), "<missing>");
  EXPECT_EQ(ReadInFolder("result.txt"), "-1\r\nt\r\n");
}

TEST_F(EndToEndTest, FaultOddMatchResultsAreReadAsTheirLow16Bits) {
  Qvlsim("enroll --finger 1 --out " + folder + "/verify1.bin");
  Qvlsim("database --fingers 3 --out " + folder + "/match.bin");
  auto answer = [&](const char* forced, const char* mode) {
    Run({mode}, {"QVLSIM_ARRIVE=1polls", std::string("QVLSIM_MATCH_RESULT=") + forced});
    return ReadInFolder("result.txt");
  };
  EXPECT_EQ(answer("-5", "-CVERIFY"), "0\r\n\r\n");
  EXPECT_EQ(answer("-5", "-CMATCH"), "-5\r\n\r\n");
  EXPECT_EQ(answer("70000", "-CMATCH"), "4464\r\n\r\n");
  EXPECT_EQ(answer("65536", "-CVERIFY"), "1\r\n\r\n");  // low 16 bits 0: a match
  EXPECT_EQ(answer("-32769", "-CVERIMATCH"), "\r\n\r\n");
}

TEST_F(EndToEndTest, FaultSlowLibraryCallIsWaitedFor) {
  Outcome outcome = Run({"-CONTROL:slow"}, {"QVLSIM_ARRIVE=1polls", "QVLSIM_DELAY_MS=1200",
                                            "QVLSIM_DELAY_CALLS=open,process"});
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(ReadInFolder("result.txt"), "-1\r\nslow\r\n");
}

// Bad input: the behaviour the caller relies on, or a clear error stop; nothing lost.

TEST_F(EndToEndTest, BinaryBytesInCommandFileReachResultByteForByte) {
  std::string token("\x01\x00\xff\xc0\x7f\x0b", 6);
  std::ofstream(folder + "/command.txt", std::ios::binary) << "-CONTROL:" << token << " -focus";
  Outcome outcome = Run({}, {"QVLSIM_ARRIVE=1polls"});
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(ReadInFolder("result.txt"), "-1\r\n" + token + "\r\n");
}

TEST_F(EndToEndTest, TenMegabyteCommandFile) {
  std::ofstream(folder + "/command.txt") << "-CONTROL:first " << std::string(10 << 20, 'x');
  Outcome outcome = Run({}, {"QVLSIM_ARRIVE=1polls"});
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(ReadInFolder("result.txt"), "-1\r\nfirst\r\n");
}

TEST_F(EndToEndTest, LongCyrillicTokenReachesResultByteForByte) {
  std::string token;
  for (int i = 0; i < 100 * 1024; ++i) token += static_cast<char>(0xC0 + i % 64);  // CP1251 А..я
  Outcome outcome = Run({"-CONTROL:" + token}, {"QVLSIM_ARRIVE=1polls"});
  EXPECT_EQ(outcome.exit_code, 0);
  EXPECT_EQ(ReadInFolder("result.txt"), "-1\r\n" + token + "\r\n");
}

TEST_F(EndToEndTest, NumberTooLargeStopsNamingTheSwitch) {
  Outcome outcome = Run({"-TIMEOUT:1e999"}, {"QVLSIM_ARRIVE=1polls"});
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_TRUE(Has(outcome.stderr_text, "-TIMEOUT:")) << outcome.stderr_text;
  EXPECT_EQ(ReadInFolder("result.txt"), "");
}

TEST_F(EndToEndTest, DatabaseThatIsAFolderStopsNamingIt) {
  fs::create_directory(folder + "/match.bin");
  Outcome outcome = Run({"-CMATCH", "-CONTROL:t"}, {"QVLSIM_ARRIVE=1polls"});
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_TRUE(Has(outcome.stderr_text, "match.bin")) << outcome.stderr_text;
  EXPECT_EQ(ReadInFolder("result.txt"), "");
  std::string feature = ReadInFolder("feature.txt");
  EXPECT_EQ(std::count(feature.begin(), feature.end(), '\n'), 257);
}

TEST_F(EndToEndTest, DatabaseTooLargeForMemoryStopsNamingIt) {
  // A sparse file of 8 TiB: no machine here has that much memory, and the file costs no disk.
  {
    std::ofstream(folder + "/huge.bin").put('\0');
  }
  std::error_code error;
  fs::resize_file(folder + "/huge.bin", std::uintmax_t{1} << 43, error);
  if (error) GTEST_SKIP() << "this file system cannot hold an 8 TiB sparse file";
  Outcome outcome = Run({"-CVERIMATCH", "-MFILE:huge.bin"}, {"QVLSIM_ARRIVE=1polls"});
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_TRUE(Has(outcome.stderr_text, "huge.bin")) << outcome.stderr_text;
  EXPECT_EQ(ReadInFolder("result.txt"), "");
}

TEST_F(EndToEndTest, VerifyFileThatIsAFolderCountsAsMissing) {
  fs::create_directory(folder + "/verify1.bin");
  Run({"-CVERIFY"}, {"QVLSIM_ARRIVE=1polls"});
  EXPECT_EQ(ReadInFolder("result.txt"), "0\r\n\r\n");
}

TEST_F(EndToEndTest, ReadOnlyFolderStopsBeforeTheScannerOpens) {
  // Root may write anywhere, so the program runs as nobody there.
  fs::permissions(folder, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  fs::permissions(dir.path(), fs::perms::others_exec | fs::perms::others_read,
                  fs::perm_options::add);
  Outcome outcome = Run({}, {"QVLSIM_ARRIVE=1polls"}, -1, geteuid() == 0);
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_TRUE(Has(outcome.stderr_text, "result.txt")) << outcome.stderr_text;
  EXPECT_EQ(ReadInFolder("feature.txt"), "<missing>");
  fs::permissions(folder, fs::perms::owner_write, fs::perm_options::add);
}

TEST_F(EndToEndTest, UnreadableCommandFileStopsNamingIt) {
  std::ofstream(folder + "/command.txt") << "-CONTROL:secret";
  fs::permissions(folder + "/command.txt", fs::perms::none);
  fs::permissions(folder, fs::perms::all);  // result.txt itself stays writable
  fs::permissions(dir.path(), fs::perms::others_exec, fs::perm_options::add);
  Outcome outcome = Run({}, {"QVLSIM_ARRIVE=1polls"}, -1, geteuid() == 0);
  EXPECT_EQ(outcome.exit_code, 1);
  EXPECT_TRUE(Has(outcome.stderr_text, "command.txt")) << outcome.stderr_text;
  EXPECT_EQ(ReadInFolder("result.txt"), "");
}

}  // namespace
}  // namespace qvl
