<%@ Language="VBScript" %>
<%
' verify.asp: checks the VeladcomClient installation inside the control panel's site. Copy it
' into the folder of the panel's own pages, in the panel's IIS application, open
' https://<panel>/verify.asp?host=<agent host> in a browser on the panel machine itself and
' delete it again when the table is all right. It runs in the application pool's process, as
' the page's identity, like the panel's own pages (INSTALL.md, section 8); verify.vbs makes
' the same checks from a command prompt, as the administrator.
'
' The page answers only requests from the server itself (the client's address is the one the
' request came in on, as for localhost): to anyone else it would let the panel machine start a
' DCOM activation, with its own credentials, to any host they name, and it shows the page's
' identity, the install path and log records. Every other request gets 403 and nothing runs.
Option Explicit

Const LogKey = "HKLM\SOFTWARE\Corvane\Nt Vela Console\General\InstallPath"
Const LogName = "\web\admin\Logs\VelaDComClient.csv"
Const Action = ",Test DCom Communication,"

Dim shell, vsa, host, user, logPath, before, result, record
If Request.ServerVariables("REMOTE_ADDR") <> Request.ServerVariables("LOCAL_ADDR") Then
    Response.Status = "403 Forbidden"
    Response.Write "This page answers only requests from the server itself." & vbCrLf
Else
    Checks
End If

Sub Checks
host = Trim(Request.QueryString("host"))
Response.Write "<!DOCTYPE html>" & vbCrLf & "<html><head><title>VeladcomClient verification</title></head><body>" & vbCrLf
Response.Write "<form method=""get"">Agent host: <input name=""host"" value=""" & Server.HTMLEncode(host) & """> <input type=""submit"" value=""Check""></form>" & vbCrLf
Response.Write "<table border=""1"">" & vbCrLf

Set shell = Server.CreateObject("WScript.Shell")
' A 32-bit worker process reports x86 even on 64-bit Windows: that is the bitness that counts.
If shell.Environment("Process")("PROCESSOR_ARCHITECTURE") = "x86" Then
    Row "Process", "32-bit: needs the win32 package"
Else
    Row "Process", "64-bit: needs the win64 package"
End If
' The account this page's thread runs as: the one that opens the action log.
Row "Page identity", Account()
user = Request.ServerVariables("LOGON_USER")
If user = "" Then user = "(anonymous)"
Row "Authenticated user", user

On Error Resume Next
Set vsa = Server.CreateObject("VeladcomClient.VelaServerAccess")
If Err.Number <> 0 Then
    Row "Object", "not created, error " & Hex(Err.Number) & ": " & Err.Description & " (INSTALL.md, section 13)"
Else
    On Error GoTo 0
    Row "Object", "created"
    Row "Reporting", vsa.Reporting("verify", 0)
    logPath = LogFile()
    before = NextLine(logPath)
    result = vsa.TestDComCommunication(host)
    Set vsa = Nothing ' closes the object's log
    record = NewRecord(logPath, before)
    If host = "" Then host = "(this machine)"
    Row "TestDComCommunication " & host, result
    If logPath = "" Then
        Row "Action log", "InstallPath is not set in this process's registry view: nothing is logged"
    ElseIf record = "" Then
        Row "Action log", "no record appended to " & logPath & " (INSTALL.md, section 13)"
    Else
        Row "Action log", record
    End If
End If
Response.Write "</table></body></html>" & vbCrLf
End Sub

Sub Row(check, value)
    Response.Write "<tr><th>" & Server.HTMLEncode(check) & "</th><td>" & Server.HTMLEncode(value) & "</td></tr>" & vbCrLf
End Sub

'' The account, with its domain where the scripting host reports one.
Function Account()
    Dim network
    Set network = Server.CreateObject("WScript.Network")
    Account = network.UserName
    On Error Resume Next
    Account = network.UserDomain & "\" & Account
End Function

' The log's path as the component finds it, read in this process's registry view, or "".
Function LogFile()
    LogFile = ""
    On Error Resume Next
    LogFile = shell.RegRead(LogKey)
    If LogFile <> "" Then LogFile = LogFile & LogName
End Function

' The log's lines, as this page's identity may read them; none when it cannot.
Function LogLines(path)
    Dim file
    LogLines = Array()
    If path = "" Then Exit Function
    On Error Resume Next
    Set file = Server.CreateObject("Scripting.FileSystemObject").OpenTextFile(path, 1)
    If Err.Number = 0 Then
        If Not file.AtEndOfStream Then LogLines = Split(file.ReadAll, vbCrLf)
        file.Close
    End If
End Function

' The index at which the next record will stand: the log ends with a line break.
Function NextLine(path)
    NextLine = UBound(LogLines(path))
    If NextLine < 0 Then NextLine = 0
End Function

' The record that this page's command appended, or "". Other pages may log meanwhile, so it
' is found by its action among the lines from <before> on.
Function NewRecord(path, before)
    Dim lines, i
    NewRecord = ""
    lines = LogLines(path)
    For i = before To UBound(lines)
        If InStr(lines(i), Action) > 0 Then NewRecord = lines(i)
    Next
End Function
%>
