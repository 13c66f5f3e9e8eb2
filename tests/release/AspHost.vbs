' Stand-ins for the three ASP objects that verify.asp uses, so that cscript can run the page's
' script: Wine has no ASP host (no IIS). check.sh runs this file, then the script of the
' packaged page, then Response.Flush, which echoes the page, after its status when the page
' set one. The query's host is this script's first argument; the client's address its second,
' by default the server's own, 192.0.2.10.
Class AspResponse
    Private text
    Public Status

    Public Sub Write(s)
        text = text & s
    End Sub

    Public Sub Flush
        If Not IsEmpty(Status) Then WScript.Echo "Status: " & Status
        WScript.Echo text
        text = ""
    End Sub
End Class

Class AspRequest
    Public Function QueryString(name)
        QueryString = ""
        If name = "host" And WScript.Arguments.Count > 0 Then QueryString = WScript.Arguments(0)
    End Function

    ' An anonymous request, no authenticated user, to the server's address 192.0.2.10.
    Public Function ServerVariables(name)
        ServerVariables = ""
        If name = "LOCAL_ADDR" Then ServerVariables = "192.0.2.10"
        If name = "REMOTE_ADDR" Then
            ServerVariables = "192.0.2.10"
            If WScript.Arguments.Count > 1 Then ServerVariables = WScript.Arguments(1)
        End If
    End Function
End Class

Class AspServer
    Public Function CreateObject(progId)
        Set CreateObject = WScript.CreateObject(progId)
    End Function

    Public Function HTMLEncode(s)
        HTMLEncode = Replace(Replace(Replace(Replace(s, "&", "&amp;"), "<", "&lt;"), ">", "&gt;"), """", "&quot;")
    End Function
End Class

Dim Response, Request, Server
Set Response = New AspResponse
Set Request = New AspRequest
Set Server = New AspServer
