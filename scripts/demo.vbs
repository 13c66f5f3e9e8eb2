' A control panel's session against VeladcomClient, as the hosting panel's scripts run it:
' set up a zone, add records, set up a mail domain, test the agent, and meet a host whose
' agent cannot be activated. Each command prints its out-value (with the type a script
' receives it in) and strError.
'
' Every host name reaches the test agent registered on this machine (Wine activates
' remote classes locally). The test agent is told what to answer through
' "VelaTestAgent.Control"; to make a host unreachable, the agent is unregistered for a
' moment, so that activation really fails.
'
' Usage: cscript //nologo demo.vbs <path of VelaTestAgent.dll>
' The end-to-end test e2e.demo compares what this session prints, and the action log it
' leaves, with tests/e2e/demo.expected: change the two together.

Option Explicit

Dim agentDll, agent, vsa, shell, r
agentDll = WScript.Arguments(0)
Set shell = CreateObject("WScript.Shell")
Set agent = CreateObject("VelaTestAgent.Control")
Set vsa = CreateObject("VeladcomClient.VelaServerAccess")

' Prints a command's out-value with its type, and strError after it.
Sub Show(command, value)
    WScript.Echo Left(command & Space(38), 38) & " -> " & value & " (" & TypeName(value) & ")   strError: """ & _
        vsa.strError & """"
End Sub

' The agent's record of the calls it received, one per line.
Sub ShowJournal(host)
    Dim j
    j = agent.Journal
    If Right(j, 1) = vbLf Then j = Left(j, Len(j) - 1)
    WScript.Echo "What the agent on " & host & " received:"
    WScript.Echo j
End Sub

Sub Title(text)
    WScript.Echo ""
    WScript.Echo "--- " & text
End Sub

' The agent's answers for this session: result 1 for the record commands.
agent.Reset
agent.SetOutcome "DnsAdmin", "CreateAEntry", 0, 1
agent.SetOutcome "DnsAdmin", "AddMXRecord", 0, 1
agent.SetOutcome "DnsAdmin", "CreateCNAMEEntry", 0, 0, "CNAME ftp already exists"
agent.SetOutcome "ServerAdmin", "MailSetup", 0, 1

Title "Zone example.org on dns1.example.net"
vsa.resellerns1 = "ns1.reseller.example"
vsa.resellerns2 = "ns2.reseller.example"
vsa.resellersoamail = "hostmaster.reseller.example"
vsa.resellersoaEnabled = 1
vsa.NamedBasedDomain = 1
r = vsa.AlterCompleteDNSEntries("dns1.example.net", "example.org", "admin@example.org", "ns1.example.net", "192.0.2.10")
Show "AlterCompleteDNSEntries example.org", r
r = vsa.CreateAEntry("dns1.example.net", "example.org", "www", "192.0.2.10")
Show "CreateAEntry www 192.0.2.10", r
r = vsa.AddMXRecord("dns1.example.net", "ns1.example.net", "example.org", "mail", "10")
Show "AddMXRecord mail 10", r
r = vsa.CreateCNAMEEntry("dns1.example.net", "example.org", "ftp")
Show "CreateCNAMEEntry ftp", r
ShowJournal "dns1.example.net"

Title "Mail domain example.org on mail1.example.net"
agent.Reset
agent.SetOutcome "ServerAdmin", "MailSetup", 0, 1
vsa.lMaxMailusers = 25
vsa.imail_domainAlias = "example.com"
r = vsa.MailSetup("mail1.example.net", "IMail Server", "example.org", "postmaster", "s3cret", "192.0.2.25")
Show "MailSetup IMail Server", r
agent.SetNumber "ServerAdmin", "GetMailFolderSize", 1536
r = vsa.GetMailFolderSize("mail1.example.net", "IMail Server", "example.org")
Show "GetMailFolderSize", r
agent.SetNumber "ServerAdmin", "GetMailBoxCount", 40000
r = vsa.GetMailBoxCount("mail1.example.net", "IMail Server", "example.org")
Show "GetMailBoxCount", r
agent.SetText "ServerAdmin", "GetMEUsersList", "postmaster;info"
r = vsa.GetMEUsersList("mail1.example.net", "example.org")
Show "GetMEUsersList", r
ShowJournal "mail1.example.net"

Title "Agent maintenance"
r = vsa.TestDComCommunication("mail1.example.net")
Show "TestDComCommunication mail1", r

Title "An unreachable host: mail9.example.net (its agent cannot be activated)"
shell.Run "regsvr32 /s /u """ & agentDll & """", 0, True
r = vsa.TestDComCommunication("mail9.example.net")
Show "TestDComCommunication mail9", r
r = vsa.CreateAEntry("mail9.example.net", "example.org", "www", "192.0.2.10")
Show "CreateAEntry on mail9", r
shell.Run "regsvr32 /s """ & agentDll & """", 0, True
WScript.Echo "(Both calls returned S_OK with out-value 0. TestDComCommunication keeps its error text for"
WScript.Echo " the log only; CreateAEntry puts ""<message>[<HRESULT>]"" into strError.)"

Set vsa = Nothing
