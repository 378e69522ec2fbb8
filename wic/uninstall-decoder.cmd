@echo off
rem Removes every key install-decoder.cmd added: for the current user, or
rem with /all for every user (run as an administrator).
setlocal
set "dll=%~dp0bin\zoltwic.dll"
if /i "%~1"=="/all" (
  regsvr32 /s /u "%dll%"
) else (
  regsvr32 /s /u /n /i:user "%dll%"
)
if errorlevel 1 (
  echo The ZOLT decoder was not unregistered.
  exit /b 1
)
echo The ZOLT decoder is unregistered.
