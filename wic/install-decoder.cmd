@echo off
rem Registers the ZOLT decoder for the Windows Imaging Component, beside this
rem file in bin\: for the current user, or with /all for every user (run as
rem an administrator). Explorer then shows thumbnails of .zolt files, and
rem Windows Photo Viewer and other WIC programs open them.
setlocal
set "dll=%~dp0bin\zoltwic.dll"
if /i "%~1"=="/all" (
  regsvr32 /s "%dll%"
) else (
  regsvr32 /s /n /i:user "%dll%"
)
if errorlevel 1 (
  echo The ZOLT decoder was not registered.
  exit /b 1
)
echo The ZOLT decoder is registered.
