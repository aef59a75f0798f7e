@echo off
rem Starts qvlcapture.exe from this folder to verify a finger against verify1.bin, waits for
rem it, and prints its answer. Exit status: 0 with an answer, 1 when no print was taken, 2 when
rem qvlcapture stopped with an error.
setlocal
set "HERE=%~dp0"
rem A fresh token: the second line of result.txt proves the answer is this run's.
set "TOKEN=T%RANDOM%%RANDOM%"
start "" /wait "%HERE%qvlcapture.exe" -CVERIFY -TIMEOUT:60 -CONTROL:%TOKEN%
if errorlevel 1 (
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
