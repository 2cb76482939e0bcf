@echo off
rem Tessaline-tiles.cmd: converts every .las and .laz file under a folder with
rem the Tessaline.exe beside this script, one tile after another (a LAZ tile
rem decodes on every core), with the same options for every tile. Each tile's
rem outputs and its console text, NAME.log, land beside it; the summary names
rem every tile that was refused or failed, with the reason its log gives.
rem Runs in a stock cmd.exe.
setlocal EnableExtensions DisableDelayedExpansion
set "me=Tessaline-tiles"
set "exe=%~dp0Tessaline.exe"
if "%~1"=="" goto usage
if /i "%~1"=="--help" goto usage
if /i "%~1"=="-h" goto usage
if /i "%~1"=="/?" goto usage

rem The folder comes first; everything after it, taken from the command line
rem as typed (commas and "=" included), goes to every tile's run.
set "folder=%~1"
set "all=%*"
set "options="
call set "options=%%all:*%1=%%"
if not exist "%exe%" goto no_program
if not exist "%folder%\" goto not_folder
if not defined options goto count
rem The command line's words ("=" and "," part them too), for --output.
set "output="
for %%A in (%options%) do if /i "%%~A"=="--output" set "output=1"
if defined output goto no_output

rem The options' values are Tessaline's to judge, once for every tile: given no
rem file, it answers a sound selection with its argument-count refusal (its
rem first line that is not blank).
set "answer_file=%TEMP%\%me%-%RANDOM%%RANDOM%.txt"
"%exe%" %options% >"%answer_file%" 2>&1
set "answer="
for /f "usebackq delims=" %%L in ("%answer_file%") do if not defined answer set "answer=%%L"
del "%answer_file%" 2>nul
if "%answer%"=="Missing or excessive number of arguments" goto count
echo %me%: %answer%
goto refused

:count
set /a total=0, skipped=0, done=0, converted=0, failed=0
for /r "%folder%" %%F in (*.las *.laz) do call :consider "%%F" count
if %total% equ 0 goto no_tiles
set "failures=%TEMP%\%me%-%RANDOM%%RANDOM%.txt"
type nul >"%failures%"
for /r "%folder%" %%F in (*.las *.laz) do call :consider "%%F" convert

echo Converted %converted% of %total% tiles.
if %failed% equ 0 goto summary_end
echo Refused or failed: %failed%
type "%failures%"
:summary_end
del "%failures%" 2>nul
if %skipped% gtr 0 echo Left out: %skipped% .laz tiles with a .las of the same name beside them
if %converted% equ %total% exit /b 0
exit /b 1

rem One file found: a tile unless its name only starts with .las or .laz, or
rem it is a .laz beside a .las of the same name (both would write the same
rem outputs, which the .las gives).
:consider
if /i not "%~x1"==".las" if /i not "%~x1"==".laz" goto :eof
if /i not "%~x1"==".laz" goto tile
if not exist "%~dpn1.las" goto tile
if "%2"=="count" set /a skipped+=1
goto :eof
:tile
if not "%2"=="count" goto run
set /a total+=1
goto :eof
:run
set /a done+=1
"%exe%" %options% "%~1" >"%~dpn1.log" 2>&1
set "status=%errorlevel%"
if "%status%"=="0" goto converted
set /a failed+=1
set "reason="
for /f "usebackq delims=" %%L in ("%~dpn1.log") do (
  set "line=%%L"
  call :message_line
)
if not defined reason set "reason=ended with status %status%, no message"
echo [%done%/%total%] %~1: %reason%
>>"%failures%" echo   %~1: %reason%
goto :eof

rem The reason of a refused or failed tile: the first message line of its log.
rem The banner and the names come before "Output Shapefile:"; the progress and
rem the elapsed time are no messages.
:message_line
if "%line:~0,17%"=="Output Shapefile:" goto message_reset
if defined reason goto :eof
if "%line:~0,10%"=="Processing" goto :eof
if "%line:~0,12%"=="Elapsed time" goto :eof
set "reason=%line%"
goto :eof
:message_reset
set "reason="
goto :eof
:converted
set /a converted+=1
echo [%done%/%total%] %~1: converted
goto :eof

:usage
echo Usage: %me% FOLDER [SELECTION]...
echo        %me% --help
echo.
echo Converts every .las and .laz file under FOLDER and its subfolders with the
echo Tessaline.exe beside this script, one tile after another; a .laz beside a .las of
echo the same name is left out, since both would write the same outputs. Each tile's
echo outputs and its console text, NAME.log, land beside it. One line is printed per
echo tile; at the end a summary tells how many tiles converted and names each refused
echo or failed tile with the reason its log gives.
echo SELECTION is any of Tessaline's --class LIST, --returns LIST,
echo --extent XMIN,YMIN,XMAX,YMAX, --thin SIZE, --clip AREA, --clip-layer NAME and
echo --clip-crs CRS, and of the outputs' --crs CRS, --columns LIST and --max-size SIZE
echo (the value after a blank or "="): every tile keeps only the points that pass them,
echo written as those say. A WKT area goes in quotes: --clip "POLYGON ((...))".
echo --output is not taken: each tile's outputs land beside it.
echo.
echo Exit status (%%ERRORLEVEL%%):
echo   0  every tile converted
echo   1  one or more tiles were refused or failed
echo   2  nothing was started: a wrong argument, a FOLDER that is not a folder, no .las
echo      or .laz file under FOLDER, or no Tessaline.exe beside this script
exit /b 0

:no_program
echo %me%: Tessaline.exe is not beside %~f0
goto refused
:not_folder
echo %me%: %folder% is not a folder
goto refused
:no_output
echo %me%: --output is not taken: each tile's outputs land beside it
goto refused
:no_tiles
echo %me%: no .las or .laz file under %folder%
:refused
echo Try '%me% --help'.
exit /b 2
