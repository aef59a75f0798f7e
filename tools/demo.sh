#!/usr/bin/env bash
# Builds the Linux program and shows it at work against the stand-in scanner: a capture (the
# simulated finger arrives after two seconds), a verification and an identification. The
# window's texts are Russian, as the people at the scanner are; on Linux a console stands in
# for the window.
set -eu
cd "$(dirname "$0")/.."
cmake --preset linux -DQVL_BUILD_TESTS=OFF >/dev/null  # the demo needs no tests
cmake --build --preset linux --target qvlcapture QvlScanner qvlsim >/dev/null
cd build/linux
rm -f result.txt

show() {  # what the caller reads after the run
  echo "-- exit status $1; result.txt:"
  sed 's/\r$//; s/^/   | /' result.txt
  echo
}

echo "== 1. Capture: qvlcapture -CONTROL:demo-token"
./qvlcapture -CONTROL:demo-token && show $?
echo "   The answer -1 means that no comparison was asked for; demo-token is the caller's token."
echo "   feature.txt: $(wc -l <feature.txt) lines, the 256 template bytes and one more the library"
echo "   may use; scan.bmp: $(wc -c <scan.bmp) bytes, the finger's picture."
echo

echo "== 2. Verification: finger 7 enrolled in verify1.bin, finger 7 on the scanner (answer 1)"
./qvlsim enroll --finger 7 --out verify1.bin
QVLSIM_FINGER=7 QVLSIM_ARRIVE=1polls ./qvlcapture -CVERIFY -CONTROL:verify 2>/dev/null && show $?
echo "   ... and finger 8 on the scanner (answer 0)"
QVLSIM_FINGER=8 QVLSIM_ARRIVE=1polls ./qvlcapture -CVERIFY -CONTROL:verify 2>/dev/null && show $?

echo "== 3. Identification: 1,000 records, finger 7 in three of them (their numbers)"
./qvlsim database --fingers 1000 --include 7@12 --include 7@500 --include 7@999 --out staff.bin
QVLSIM_FINGER=7 QVLSIM_ARRIVE=1polls ./qvlcapture -CVERIMATCH -MFILE:staff.bin -CONTROL:A17 \
  2>/dev/null && show $?

echo "== 4. Unattended: -QUIET, and no finger comes within the timeout"
QVLSIM_ARRIVE=never ./qvlcapture -QUIET -TIMEOUT:0 -CONTROL:kiosk 2>/dev/null ||
  echo "-- exit status $? (2: timed out); no box waited; error.txt: $(sed 's/^\xef\xbb\xbf//' error.txt)"
