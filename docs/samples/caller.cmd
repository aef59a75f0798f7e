@echo off
rem Starts qvlcapture.exe (beside this file, or one folder up as the package ships it) to verify
rem a finger against verify1.bin, waits for it, and prints its answer. Exit status: 0 with an
rem answer, 1 when no print was taken (or another capture runs), 2 when qvlcapture stopped with
rem an error or was not found.
setlocal
set "HERE=%~dp0"
if not exist "%HERE%qvlcapture.exe" for %%F in ("%~dp0..") do set "HERE=%%~fF\"
if not exist "%HERE%qvlcapture.exe" (
  echo qvlcapture.exe is neither in %~dp0 nor in %HERE%: copy this sample beside it
  exit /b 2
)
rem A fresh token: the second line of result.txt proves the answer is this run's.
set "TOKEN=T%RANDOM%%RANDOM%"
start "" /wait "%HERE%qvlcapture.exe" -CVERIFY -TIMEOUT:60 -CONTROL:%TOKEN%
rem Its exit status says how the run ended; only 0 and 7 carry an answer.
set "STATUS=%ERRORLEVEL%"
if "%STATUS%"=="2" (
  echo no finger came before the timeout
  exit /b 1
)
if "%STATUS%"=="3" (
  echo the window was closed
  exit /b 1
)
if "%STATUS%"=="4" (
  echo the scanner saw no print: try again
  exit /b 1
)
if "%STATUS%"=="5" (
  echo another capture is running: try again later
  exit /b 1
)
if "%STATUS%"=="6" (
  echo the scanner library crashed: see error.txt
  exit /b 2
)
if not "%STATUS%"=="0" if not "%STATUS%"=="7" (
  echo qvlcapture stopped with an error
  exit /b 2
)
rem for /f skips empty lines, and the answer line is empty when -CVERIMATCH finds no record:
rem with a single line, that line is the token.
set "FIRST="
set "SECOND="
if exist "%HERE%result.txt" (
  for /f "usebackq delims=" %%L in ("%HERE%result.txt") do (
    if defined FIRST (if not defined SECOND set "SECOND=%%L") else set "FIRST=%%L"
  )
)
if defined SECOND (
  set "ANSWER=%FIRST%"
  set "RETURNED=%SECOND%"
) else (
  set "ANSWER="
  set "RETURNED=%FIRST%"
)
if not "%RETURNED%"=="%TOKEN%" (
  echo no print was taken
  exit /b 1
)
echo answer: %ANSWER%
exit /b 0
