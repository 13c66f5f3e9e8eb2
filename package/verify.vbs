' verify.vbs: checks the VeladcomClient installation from a command prompt. Run it with the
' cscript.exe of the DLL's bitness, naming one agent host (none: this machine):
'   %windir%\System32\cscript.exe //nologo verify.vbs dns1.example.net
' It runs as you. verify.asp checks the same inside the panel's site, as the page's identity,
' which is what the panel's pages get (INSTALL.md, section 8).
Option Explicit

Const LogKey = "HKLM\SOFTWARE\Corvane\Nt Vela Console\General\InstallPath"
Const LogName = "\web\admin\Logs\VelaDComClient.csv"

Dim shell, vsa, host, installPath, result
Set shell = CreateObject("WScript.Shell")
host = ""
If WScript.Arguments.Count > 0 Then host = WScript.Arguments(0)

' A 32-bit process reports x86 even on 64-bit Windows: that is the bitness that counts.
If shell.Environment("Process")("PROCESSOR_ARCHITECTURE") = "x86" Then
    WScript.Echo "Process: 32-bit"
Else
    WScript.Echo "Process: 64-bit"
End If
WScript.Echo "Account: " & Account()

On Error Resume Next
Set vsa = CreateObject("VeladcomClient.VelaServerAccess")
If Err.Number <> 0 Then
    WScript.Echo "Object: not created, error " & Hex(Err.Number) & " (INSTALL.md, section 13)"
    WScript.Quit 1
End If
installPath = shell.RegRead(LogKey)
If Err.Number <> 0 Then installPath = ""
On Error GoTo 0
WScript.Echo "Object: created"
WScript.Echo "Reporting: " & vsa.Reporting("verify", 0)

result = vsa.TestDComCommunication(host)
Set vsa = Nothing ' closes the object's log
WScript.Echo "TestDComCommunication: " & result
If installPath = "" Then
    WScript.Echo "Log: InstallPath is not set in this process's registry view"
Else
    WScript.Echo "Log: " & LastRecord(installPath & LogName)
End If

'' The account this script runs as, with its domain where the scripting host reports one.
Function Account()
    Dim network
    Set network = CreateObject("WScript.Network")
    Account = network.UserName
    On Error Resume Next
    Account = network.UserDomain & "\" & Account
End Function

' The log's last record: the one just written, with the reason when the test failed.
Function LastRecord(path)
    Dim file, lines
    LastRecord = "cannot read " & path
    On Error Resume Next
    Set file = CreateObject("Scripting.FileSystemObject").OpenTextFile(path, 1)
    If Err.Number <> 0 Then Exit Function
    lines = Split(file.ReadAll, vbCrLf)
    file.Close
    LastRecord = "no record in " & path
    If UBound(lines) > 0 Then LastRecord = lines(UBound(lines) - 1)
End Function
