@echo off
rem Runs Quorvel's end-to-end suite against the quorvel.exe and quorvel-inspect.exe beside this
rem file, keeps the whole report in selftest.log and the results as JUnit XML in selftest.xml, and
rem exits with the suite's exit code (0 when every test passed). A test that fails leaves a picture
rem of the screen at its failure beside them, selftest-TEST.bmp. "selftest.cmd /nopause" does not
rem wait for a key at the end.
setlocal
cd /d "%~dp0"
echo Quorvel self-test
echo.
echo This kit has been run under Wine only so far: you are among the first to run it on
echo Windows. It starts quorvel.exe and demo_console.exe, a stand-in for a virtual machine's
echo console, works Quorvel's panel through window messages and counts the repaints it
echo causes. It takes about two minutes. Windows and error boxes come and go meanwhile:
echo please leave them alone.
echo.
echo Running...
rem An earlier run's results must not pass for this one's, should this one end early.
if exist selftest.xml del /q selftest.xml
if exist selftest-*.bmp del /q selftest-*.bmp
quorvel_e2e.exe --quorvel "%~dp0quorvel.exe" --demo "%~dp0demo_console.exe" --inspector "%~dp0quorvel-inspect.exe" --screenshots "%~dp0." --gtest_output=xml:selftest.xml >selftest.log 2>&1
set result=%errorlevel%
rem The log's first line names the Windows (and any Wine) the suite ran on. Read with for /f:
rem Wine's set /p takes the whole file for one line.
set "system="
for /f "usebackq delims=" %%L in ("selftest.log") do if not defined system set "system=%%L"
if not defined system set "system=System: not known, selftest.log is empty"
echo.
echo %system%
if "%result%"=="0" (
    echo PASSED: every test passed.
    find "PASSED  ]" selftest.log 2>nul
) else (
    echo FAILED: exit code %result%. The tests that failed:
    find "FAILED  ]" selftest.log 2>nul
    if exist selftest-*.bmp (
        echo The screen at each failure:
        dir /b selftest-*.bmp
    )
)
echo.
echo The whole report is in %~dp0selftest.log
echo When a test fails, please send us selftest.log, selftest.xml and the selftest-*.bmp pictures.
if /i not "%~1"=="/nopause" pause
rem exit /b: the exit code of "cmd /c selftest.cmd", as CI runs it, and the errorlevel of a command
rem prompt it was typed into, which stays open.
exit /b %result%
