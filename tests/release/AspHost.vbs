' Stand-ins for the three ASP objects that verify.asp uses, so that cscript can run the page's
' script: Wine has no ASP host (no IIS). check.sh runs this file, then the script of the
' packaged page, then Response.Flush, which echoes the page. The query's host is this
' script's first argument.
Class AspResponse
    Private text

    Public Sub Write(s)
        text = text & s
    End Sub

    Public Sub Flush
        WScript.Echo text
        text = ""
    End Sub
End Class

Class AspRequest
    Public Function QueryString(name)
        QueryString = ""
        If name = "host" And WScript.Arguments.Count > 0 Then QueryString = WScript.Arguments(0)
    End Function

    ' An anonymous request: no authenticated user.
    Public Function ServerVariables(name)
        ServerVariables = ""
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
