@echo off
rem Installs Nelko's voice for you (no administrator needed): registers the
rem voice-command service beside this file for the current user.
"%~dp0nelkovoice.exe" /regserver
if errorlevel 1 goto failed
echo Nelko's voice is installed for you. Start nelko.exe and say "Go Left".
echo To remove it, run uninstall.cmd.
pause
exit /b 0
:failed
echo Nelko's voice could not be installed.
pause
exit /b 1
