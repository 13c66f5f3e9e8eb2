' A control panel's session in VBScript: create the object by ProgID, put settings, call
' one command of each family, read strError after each, then release the object and read
' the action log back line by line. The test agent answers every host (Wine activates
' all host names locally) and is programmed through "VelaTestAgent.Control".
'
' Usage: cscript //nologo panel.vbs <agent dll> <log file> <scratch folder>
' Prints one line per failed check and ends with "N passed, M failed".
' Written for Wine's VBScript: no Join, ReDim, Eval, classes with Public lists, or
' indexing a function result directly.

Option Explicit

Dim passed, failed, logPath, agent, vsa, r, expected(40), recordCount
passed = 0
failed = 0
recordCount = 0
logPath = WScript.Arguments(1)

Sub Check(ok, what)
    If ok Then
        passed = passed + 1
    Else
        failed = failed + 1
        WScript.Echo "FAIL: " & what
    End If
End Sub

Sub Eq(actual, wanted, what)
    Check actual = wanted, what & ": expected <" & wanted & ">, got <" & actual & ">"
End Sub

Function Act(host, rest)
    Act = "Command for Remote Server '" & host & "' : " & rest
End Function

Sub Expect(action, result)
    expected(recordCount) = action & "," & result & ","
    recordCount = recordCount + 1
End Sub

Set agent = CreateObject("VelaTestAgent.Control")
Set vsa = CreateObject("VeladcomClient.VelaServerAccess")
Eq vsa.strError, "", "strError of a new object"
Eq vsa.Reporting("panel", 1), 1, "Reporting"

' Settings: the reseller texts append, so a panel that sets them twice sends both.
vsa.resellerns1 = "ns1.example.net"
vsa.resellerns2 = "ns2."
vsa.resellerns2 = "example.net"
vsa.resellersoamail = "hostmaster@example.net"
vsa.resellersoaEnabled = 1
vsa.NamedBasedDomain = 0

' DNS zone records.
agent.Reset
agent.SetOutcome "DnsAdmin", "CreateAEntry", 0, 1
r = vsa.CreateAEntry("web1", "example.org", "www", "192.0.2.10")
Eq r, 1, "CreateAEntry"
Eq vsa.strError, "", "strError after CreateAEntry"
Expect Act("web1", "Create A Record for Domain 'example.org'"), "Operation Successful"

agent.SetOutcome "DnsAdmin", "AddMXRecord", 0, 0, "MX host unknown"
r = vsa.AddMXRecord("web1", "ns1.example.org", "example.org", "mail", "10")
Eq r, 0, "AddMXRecord with a remote error"
Eq vsa.strError, "MX host unknown", "strError after AddMXRecord"
Expect Act("web1", "Add MX Record for Domain 'example.org'"), "Operation Failed : Error is 'MX host unknown'"

agent.SetText "DnsAdmin", "GetDNSFile", "$ORIGIN example.org."
r = vsa.GetDNSFile("web1", "example.org.dns")
Eq TypeName(r), "String", "GetDNSFile type"
Eq r, "$ORIGIN example.org.", "GetDNSFile text"
Eq vsa.strError, "Success", "strError after GetDNSFile"
Expect Act("web1", "Get DNS File 'example.org.dns'"), "Operation Successful"

' BIND, with the reseller settings.
agent.Reset
agent.SetOutcome "BindDnsAdmin", "CBindDNSDomain", 0, 1
r = vsa.CBindDNSDomain("bind1", "example.org", "192.0.2.10")
Eq r, 1, "CBindDNSDomain"
Eq vsa.strError, "Success", "strError after CBindDNSDomain"
Check InStr(agent.Journal, "1, ""ns1.example.net"", ""ns2.example.net"", ""hostmaster@example.net""") > 0, _
    "CBindDNSDomain hands on the reseller settings: " & agent.Journal
Expect Act("bind1", "Alter Bind DNS Entries for Domain 'example.org'"), "Operation Successful"

agent.SetOutcome "BindDnsAdmin", "ControlService", 0, 1
r = vsa.ControlService("bind1", "Restart", "named")
Eq r, 1, "ControlService"
Expect Act("bind1", "Control Service : Restart Service 'named'"), "Operation Successful"

' Mail: the error text of these members stays out of strError.
vsa.lMaxMailusers = 50
vsa.imail_domainAlias = "mail.example.org"
agent.Reset
r = vsa.MailSetup("mail1", "IMail Server", "example.org", "postmaster", "secret", "192.0.2.25")
Eq r, 1, "MailSetup"
Eq vsa.strError, "Success", "strError after MailSetup"
Check InStr(agent.Journal, "put_imail_domainAlias(""mail.example.org"")") > 0, "MailSetup hands on the alias"
Expect Act("mail1", "Mail Setup for Domain 'example.org' : Mail Server is 'IMail Server'"), "Operation Successful"

agent.SetNumber "ServerAdmin", "GetMailFolderSize", 2048.25
r = vsa.GetMailFolderSize("mail1", "IMail Server", "example.org")
Eq TypeName(r), "Double", "GetMailFolderSize type"
Eq r, 2048.25, "GetMailFolderSize"
Expect Act("mail1", "Get Mail Folder Size for Domain 'example.org' : Mail Server is 'IMail Server'"), _
    "Operation Successful"

' MailEnable users, secondary DNS and maintenance.
agent.SetText "ServerAdmin", "GetMEUsersList", "alice,bob"
r = vsa.GetMEUsersList("mail1", "example.org")
Eq TypeName(r), "String", "GetMEUsersList VARIANT"
Eq r, "alice,bob", "GetMEUsersList"
Expect Act("mail1", "Get MailEnable Users List for Domain 'example.org'"), "Operation Successful"

agent.SetOutcome "ServerAdmin", "ReloadSecDNS", 0, 0, "zone transfer refused"
r = vsa.ReloadSecDNS("sec1", "example.org", 1)
Eq r, 1, "ReloadSecDNS"
Eq vsa.strError, "zone transfer refused", "strError after ReloadSecDNS"
Expect Act("sec1", "Reload Secondary DNS for Domain 'example.org'"), _
    "Operation Failed : Error is 'zone transfer refused'"

vsa.Restart "sec1"
Eq vsa.strError, "zone transfer refused", "strError after Restart"

r = vsa.testdcomcommunication("sec1")
Eq r, 1, "testdcomcommunication in lower case"
Expect "Test DCom Communication", "Operation Successful"

' The second class does nothing.
Dim sec, before
Set sec = CreateObject("VeladcomClient.SecDNSAdmin")
before = agent.Activations
r = sec.SetupSecDNS("sec1", "example.org", "192.0.2.53", "", 1)
Eq agent.Activations, before, "SecDNSAdmin.SetupSecDNS contacts no host"
Set sec = Nothing

' Released, the object closes its log; read it back line by line.
Set vsa = Nothing
Dim fso, f, text, lines, fields, i, line
Set fso = CreateObject("Scripting.FileSystemObject")
Set f = fso.OpenTextFile(logPath, 1)
text = f.ReadAll
f.Close
lines = Split(text, vbCrLf)
Eq UBound(lines), recordCount + 1, "log lines (header, records, empty rest after the last CR LF)"
Eq lines(0), "Date,Time,Action,Comments,", "log header"
Dim dateTime
Set dateTime = New RegExp
dateTime.Pattern = "^[01]\d/[0-3]\d/\d\d,[0-2]\d:[0-5]\d:[0-5]\d,"
For i = 1 To recordCount
    If i <= UBound(lines) Then
        line = lines(i)
        Check dateTime.Test(line), "record " & i & " starts with MM/DD/YY,HH:MM:SS,: " & line
        Eq Mid(line, 19), expected(i - 1), "record " & i & " action, result and empty fifth field"
        fields = Split(line, ",")
        Eq UBound(fields), 4, "record " & i & " has five fields"
        Eq fields(4), "", "record " & i & " fifth field"
    End If
Next
If UBound(lines) >= 0 Then Eq lines(UBound(lines)), "", "the log ends with CR LF"

WScript.Echo passed & " passed, " & failed & " failed"
