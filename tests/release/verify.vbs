' verify.vbs: run it with the cscript.exe of the DLL's bitness, naming one agent host
Set vsa = CreateObject("VeladcomClient.VelaServerAccess")
WScript.Echo "Reporting: " & vsa.Reporting("verify", 0)
WScript.Echo "TestDComCommunication: " & vsa.TestDComCommunication(WScript.Arguments(0))
