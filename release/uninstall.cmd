@echo off
rem Removes what install.cmd added for you, and nothing else.
"%~dp0nelkovoice.exe" /unregserver
if errorlevel 1 goto failed
echo Nelko's voice is removed. Nelko itself still runs: delete its folder to remove it.
pause
exit /b 0
:failed
echo Nelko's voice could not be removed completely.
pause
exit /b 1
