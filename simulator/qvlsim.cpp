// qvlsim: makes what the stand-in scanner's fingers would give, so every mode of qvlcapture can
// be tried without a scanner.
//
//   qvlsim enroll --finger F --out verify1.bin        one 256-byte template of finger F
//   qvlsim database --fingers N [--include F[@R]]... --out match.bin
//                                                     N records of other fingers, finger F at
//                                                     record R (or a record of its own choice)
//   qvlsim image --finger F --out finger.bmp          the finger as a picture
//   qvlsim scores --fingers N                         similarity of same and other fingers

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "finger.h"

namespace {

constexpr int kRecordSize = 256;
// Database fingers are numbered from here, well away from the small numbers people pick.
constexpr int kFirstStrangerFinger = 100000;
constexpr long kMaxRecords = 8000000;  // 2 GB of templates

struct Arguments {
  int finger = 1;
  int fingers = 100;
  std::uint32_t capture = 1;
  std::string out;
  std::vector<std::pair<int, long>> includes;  // finger, record (-1: any)
};

[[noreturn]] void Usage(const char* problem) {
  std::fprintf(
      stderr,
      "qvlsim: %s\n"
      "usage: qvlsim enroll --finger F --out FILE [--capture C]\n"
      "       qvlsim database --fingers N [--include F[@R]]... --out FILE\n"
      "       qvlsim image --finger F --out FILE.bmp\n"
      "       qvlsim scores --fingers N\n"
      "The stand-in library reads QVLSIM_* settings (simulator/README.md): QVLSIM_FINGER,\n"
      "QVLSIM_ARRIVE, QVLSIM_FAIL, and QVLSIM_CRASH=access|illegal|divide|load, which makes\n"
      "QvlProcess (or the library's start-up) crash as faulty vendor code does.\n",
      problem);
  std::exit(2);
}

// The whole of `value` as a whole number from `min` to `max`, or a usage error naming `name`.
long long Number(const std::string& name, const char* value, long long min, long long max) {
  char* end = nullptr;
  errno = 0;
  long long number = std::strtoll(value, &end, 10);
  if (end == value || *end != '\0' || errno == ERANGE || number < min || number > max) {
    Usage((name + " takes a whole number from " + std::to_string(min) + " to " +
           std::to_string(max) + ", not '" + value + "'")
              .c_str());
  }
  return number;
}

Arguments ParseArguments(int argc, char** argv) {
  Arguments args;
  for (int i = 2; i < argc; ++i) {
    std::string name = argv[i];
    if (i + 1 >= argc) Usage(("missing value after " + name).c_str());
    const char* value = argv[++i];
    if (name == "--finger") {
      args.finger = static_cast<int>(Number(name, value, INT_MIN, INT_MAX));
    } else if (name == "--fingers") {
      args.fingers = static_cast<int>(Number(name, value, 0, kMaxRecords));
    } else if (name == "--capture") {
      args.capture = static_cast<std::uint32_t>(Number(name, value, 0, UINT32_MAX));
    } else if (name == "--out") {
      args.out = value;
    } else if (name == "--include") {
      std::string finger = value;
      std::size_t at = finger.find('@');
      long record = at == std::string::npos
                        ? -1L
                        : static_cast<long>(Number(name, value + at + 1, 0, kMaxRecords));
      args.includes.emplace_back(Number(name, finger.substr(0, at).c_str(), INT_MIN, INT_MAX),
                                 record);
    } else {
      Usage(("unknown option " + name).c_str());
    }
  }
  return args;
}

std::vector<std::uint8_t> TemplateOf(int finger, std::uint32_t capture) {
  std::vector<std::uint8_t> image(qvlsim::kImageWidth * qvlsim::kImageHeight);
  std::vector<std::uint8_t> feature(kRecordSize + 1);
  qvlsim::DrawFinger(finger, capture, image.data());
  qvlsim::ExtractTemplate(image.data(), feature.data());
  feature.resize(kRecordSize);
  return feature;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  bool ok = file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (file && std::fclose(file) != 0) ok = false;
  if (!ok) std::fprintf(stderr, "qvlsim: cannot write %s\n", path.c_str());
  return ok;
}

int Database(const Arguments& args) {
  long records = args.fingers;
  std::vector<int> fingers(static_cast<std::size_t>(records));
  for (long i = 0; i < records; ++i) fingers[i] = kFirstStrangerFinger + static_cast<int>(i);
  // Named records first; the others take free records from a third of the way in. No record
  // ever holds two included fingers: one would silently be lost.
  std::vector<bool> taken(static_cast<std::size_t>(records));
  auto place = [&](int finger, long record) {
    taken[record] = true;
    fingers[record] = finger;
    std::printf("finger %d at record %ld\n", finger, record);
  };
  for (auto [finger, record] : args.includes) {
    if (record < 0) continue;
    if (record >= records) Usage("--include names a record past the end of the database");
    if (taken[record]) Usage("--include names one record twice");
    place(finger, record);
  }
  long next_free = records / 3;
  for (auto [finger, record] : args.includes) {
    if (record >= 0) continue;
    for (long tried = 0; tried < records && taken[next_free % records]; ++tried) ++next_free;
    if (records == 0 || taken[next_free % records])
      Usage("--include: more fingers than records in the database");
    place(finger, next_free % records);
  }
  std::vector<std::uint8_t> bytes;
  bytes.reserve(static_cast<std::size_t>(records) * kRecordSize);
  for (long i = 0; i < records; ++i) {
    std::vector<std::uint8_t> record =
        TemplateOf(fingers[i], 1000u + static_cast<std::uint32_t>(i));
    bytes.insert(bytes.end(), record.begin(), record.end());
  }
  return WriteFile(args.out, bytes) ? 0 : 1;
}

// Prints how similar captures of the same finger are, and of different fingers: the basis of
// the match levels.
int Scores(const Arguments& args) {
  int histogram_same[11] = {}, histogram_other[11] = {};
  std::vector<std::vector<std::uint8_t>> first, second;
  for (int f = 1; f <= args.fingers; ++f) {
    first.push_back(TemplateOf(f, 1));
    second.push_back(TemplateOf(f, 2));
  }
  for (int a = 0; a < args.fingers; ++a) {
    for (int b = 0; b < args.fingers; ++b) {
      int score = qvlsim::Similarity(first[a].data(), second[b].data());
      (a == b ? histogram_same : histogram_other)[score / 10]++;
    }
  }
  std::printf("similarity  same finger  other finger\n");
  for (int i = 0; i <= 10; ++i)
    std::printf("%3d-%3d%%  %11d  %12d\n", i * 10, i == 10 ? 100 : i * 10 + 9, histogram_same[i],
                histogram_other[i]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) Usage("no command");
  std::string command = argv[1];
  Arguments args = ParseArguments(argc, argv);
  if (command == "scores") return Scores(args);
  if (args.out.empty()) Usage("--out is missing");
  if (command == "enroll")
    return WriteFile(args.out, TemplateOf(args.finger, args.capture)) ? 0 : 1;
  if (command == "database") return Database(args);
  if (command == "image") {
    std::vector<std::uint8_t> image(qvlsim::kImageWidth * qvlsim::kImageHeight);
    qvlsim::DrawFinger(args.finger, args.capture, image.data());
    return qvlsim::SaveBmp(args.out, image.data()) ? 0 : 1;
  }
  Usage(("unknown command " + command).c_str());
}
