@echo off
rem Prepares the stage of a build: build\stage emptied of its files (its sub-directories stay),
rem the shared assets linked in as build\stage\shared, and where that link leads shown. Run it
rem in the folder that holds build\ and assets\, with prepFolder, mountDir and finalName on the
rem PATH. It stops at the first failure with that command's exit code and message.
setlocal

prepFolder .\build\stage -D
if errorlevel 1 exit /b %errorlevel%

mountDir build\stage\shared assets -L
if errorlevel 1 exit /b %errorlevel%

finalName build\stage\shared -A > build\shared.txt
if errorlevel 1 exit /b %errorlevel%
for /f "delims=" %%p in (build\shared.txt) do set SHARED=%%p
echo shared assets are in %SHARED%
