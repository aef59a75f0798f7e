# Starts qvlcapture.exe (beside this script, or one folder up as the package ships it) to verify
# a finger against verify1.bin, waits for it, and prints its answer. Exit status: 0 with an
# answer, 1 when no print was taken (or another capture runs), 2 when qvlcapture stopped with an
# error or was not found.
$here = Split-Path -Parent $MyInvocation.MyCommand.Path
if (-not (Test-Path (Join-Path $here 'qvlcapture.exe'))) {
  $beside = $here
  $here = Split-Path -Parent $here
  if (-not (Test-Path (Join-Path $here 'qvlcapture.exe'))) {
    Write-Output "qvlcapture.exe is neither in $beside nor in ${here}: copy this script beside it"
    exit 2
  }
}
# A fresh token: the second line of result.txt proves the answer is this run's.
$token = [guid]::NewGuid().ToString('N')
$program = Start-Process -FilePath (Join-Path $here 'qvlcapture.exe') -WorkingDirectory $here `
    -ArgumentList '-CVERIFY', '-TIMEOUT:60', "-CONTROL:$token" -Wait -PassThru
# Its exit status says how the run ended; only 0 and 7 carry an answer (7: scan.bmp is not this
# run's picture).
switch ($program.ExitCode) {
  { $_ -in 0, 7 } { break }
  2 { Write-Output 'no finger came before the timeout'; exit 1 }
  3 { Write-Output 'the window was closed'; exit 1 }
  4 { Write-Output 'the scanner saw no print: try again'; exit 1 }
  5 { Write-Output 'another capture is running: try again later'; exit 1 }
  6 { Write-Output 'the scanner library crashed: see error.txt'; exit 2 }
  default { Write-Output 'qvlcapture stopped with an error'; exit 2 }
}
# Single-byte text in the system's ANSI code page: -Encoding Default in Windows PowerShell 5.1.
$lines = @(Get-Content -Path (Join-Path $here 'result.txt') -Encoding Default)
if ($lines.Count -lt 2 -or $lines[1] -ne $token) { Write-Output 'no print was taken'; exit 1 }
Write-Output "answer: $($lines[0])"
exit 0
