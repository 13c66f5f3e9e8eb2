// End to end: VeladcomClient driven late-bound from JScript, as a control panel's scripts
// drive it, against the stand-in agent registered in the same Wine prefix (Wine activates
// every host name locally). What only a script can show: the VARIANTs the out-values
// arrive in, member names in another letter case, an appending put, a failing host's exact
// text, the second class, two objects on one log, a hung host under a command time-out, and
// the log's records read back.
// Usage: cscript //nologo suite.js <agent dll> <log file>; ends with "N passed, M failed".
var passed = 0, failed = 0;
var AGENT_DLL = WScript.Arguments.Item(0), LOG = WScript.Arguments.Item(1);
var agent = new ActiveXObject("VelaTestAgent.Control");
var shell = new ActiveXObject("WScript.Shell");
var records = []; // "action,result," of every record the suite causes, in order

function eq(actual, expected, what) {
    if (actual === expected) return passed++;
    failed++;
    WScript.Echo("FAIL: " + what + ": expected <" + expected + "> (" + typeof expected + "), got <" + actual +
                 "> (" + typeof actual + ")");
}
function act(host, rest) { return "Command for Remote Server '" + host + "' : " + rest; }
function record(action, error) {
    records.push(action + "," + (error === undefined ? "Operation Successful" : "Operation Failed : Error is '" +
                                 error + "'") + ",");
}
function pad2(n) { return (n < 10 ? "0" : "") + n; }
function now() { // [MM/DD/YY, HH:MM:SS] in local time
    var d = new Date();
    return [pad2(d.getMonth() + 1) + "/" + pad2(d.getDate()) + "/" + pad2(d.getFullYear() % 100),
            pad2(d.getHours()) + ":" + pad2(d.getMinutes()) + ":" + pad2(d.getSeconds())];
}
function setAgentRegistered(on) {
    eq(shell.Run('regsvr32 /s ' + (on ? '' : '/u ') + '"' + AGENT_DLL + '"', 0, true), 0, "regsvr32 of the agent");
}

function outValues(a) {
    agent.SetOutcome("DnsAdmin", "CreateAEntry", 0, -2, "zone busy"); // success with an error text
    agent.SetNumber("ServerAdmin", "GetMailBoxCount", 70000);
    agent.SetNumber("ServerAdmin", "GetMailFolderSize", 1234.5);
    agent.SetText("DnsAdmin", "GetDNSFile", "$ORIGIN zone1.\r\n@ IN NS ns1.\r\n");
    agent.SetText("ServerAdmin", "GetMEUsersList", "alice;bob");
    var rows = [ // call, out-value, action, error text in the record
        [function () { return a.CreateAEntry("h1", "zone1", "www", "10.0.0.1"); }, -2,
         "Create A Record for Domain 'zone1'", "zone busy"],
        [function () { return a.GetMailBoxCount("h1", "IMail Server", "zone1"); }, 70000,
         "GetMailboxCount for Domain 'zone1' : Mail Server is 'IMail Server'"],
        [function () { return a.GetMailFolderSize("h1", "IMail Server", "zone1"); }, 1234.5,
         "Get Mail Folder Size for Domain 'zone1' : Mail Server is 'IMail Server'"],
        [function () { return a.GetDNSFile("h1", "zone1.dns"); }, "$ORIGIN zone1.\r\n@ IN NS ns1.\r\n",
         "Get DNS File 'zone1.dns'"],
        [function () { return a.GetMEUsersList("h1", "zone1"); }, "alice;bob",
         "Get MailEnable Users List for Domain 'zone1'"],
        [function () { return a.createaentry("h1", "zone2", "www", "10.0.0.2"); }, -2,
         "Create A Record for Domain 'zone2'", "zone busy"]
    ];
    for (var i = 0; i < rows.length; ++i) {
        eq(rows[i][0](), rows[i][1], "out-value of " + rows[i][2]);
        record(act("h1", rows[i][2]), rows[i][3]);
    }
    eq(a.STRERROR, "zone busy", "strError in upper case, after a lower-case createaentry");
    eq(agent.LiveObjects, 0, "every agent object released");
}

function appendingPut(a) {
    a.resellerns1 = "ns1.";
    a.RESELLERNS1 = "example.net";
    agent.Reset();
    agent.SetOutcome("BindDnsAdmin", "CBindDNSDomain", 0, 1);
    eq(a.CBindDNSDomain("bind1", "zone3", "10.0.0.3"), 1, "CBindDNSDomain");
    eq(agent.Journal, 'BindDnsAdmin#1.CBindDNSDomain("zone3", "10.0.0.3", 0, "ns1.example.net", "", "", &out)\n',
       "the appended reseller name reaches the agent");
    record(act("bind1", "Alter Bind DNS Entries for Domain 'zone3'"));
}

// A remote failure, and a failing host: the agent's classes unregistered, activation fails
// as for an unknown class on a real host.
function failures(a) {
    agent.SetOutcome("DnsAdmin", "DeleteAEntry", 0x80070005, 1); // JScript passes a double above 2^31
    eq(a.DeleteAEntry("h1", "zone4", "www"), 0, "DeleteAEntry on a remote failure");
    var text = a.strError;
    eq(/^[^\x00-\x1f]+\[80070005\]$/.test(text), true, "the system's text without its line break: " + text);
    record(act("h1", "Delete A Record for Domain 'zone4'"), text);

    setAgentRegistered(false);
    var error = "Unknown error 0x80040154[80040154]";
    eq(a.CreateAEntry("offline", "zone4", "www", "10.0.0.4"), 0, "CreateAEntry on a failing host");
    eq(a.strError, error, "strError after a failing host");
    record(act("offline", "Create A Record for Domain 'zone4'"), error);
    setAgentRegistered(true);
}

function secDNSAdmin() {
    var s = new ActiveXObject("VeladcomClient.SecDNSAdmin");
    agent.Reset();
    eq(s.SetupSecDNS("h1", "zone5", "10.0.0.53", "zone5.dns", 1), 0, "SecDNSAdmin.SetupSecDNS");
    eq(agent.Activations, 0, "SecDNSAdmin.SetupSecDNS contacts no host");
}

function twoObjects(a) {
    var b = new ActiveXObject("VeladcomClient.VelaServerAccess");
    eq(b.strError, "", "strError of a new object");
    var calls = [[b, "second"], [a, "first"], [b, "second again"]];
    for (var i = 0; i < calls.length; ++i) {
        calls[i][0].CheckDNSExistance("h1", calls[i][1]);
        record(act("h1", "Check DNS Existance of Domain '" + calls[i][1] + "'"));
    }
}

// With a command time-out set, a hung host costs a call the time-out and no more; the
// agent's late answer reaches neither the script nor the object, only the log.
function hungHost() {
    var general = "HKLM\\SOFTWARE\\Corvane\\Nt Vela Console\\General";
    shell.RegWrite(general + "\\CommandTimeoutSeconds", 1, "REG_DWORD");
    try {
        var t = new ActiveXObject("VeladcomClient.VelaServerAccess"); // reads the setting
        agent.Stall("DnsAdmin", "CreateAEntry", -1);
        var started = new Date().getTime();
        eq(t.CreateAEntry("hung", "zone6", "www", "10.0.0.6"), 0, "CreateAEntry on a hung host");
        var waited = new Date().getTime() - started, error = t.strError;
        eq(waited >= 900, true, "waited for the time-out: " + waited + " ms");
        eq(agent.Stalled, 1, "returned while the agent still works");
        eq(/\[8001011f\]$/.test(error), true, "strError names the time-out: " + error);
        record(act("hung", "Create A Record for Domain 'zone6'"), error);
        agent.ReleaseStalls();
        // Wine's WScript has no Sleep: poll the agent until its object is released.
        for (var until = new Date().getTime() + 30000; agent.LiveObjects > 0 && new Date().getTime() < until;) {}
        eq(agent.LiveObjects, 0, "the late exchange ended");
        eq(t.strError, error, "strError after the agent's late answer");
        records.push(act("hung", "Create A Record for Domain 'zone6'") + ",After the time-out : Operation Successful,");
    } finally {
        agent.Stall("DnsAdmin", "CreateAEntry", 0);
        // Wine's WScript.Shell has no RegDelete.
        shell.Run('reg delete "' + general + '" /v CommandTimeoutSeconds /f', 0, true);
    }
}

// Released, the objects close the log: read it back whole. A late exchange keeps it open
// until it has recorded how it ended, and the file opens for reading only then.
function wholeLog(start) {
    CollectGarbage();
    var end = now(), fso = new ActiveXObject("Scripting.FileSystemObject"), file = null;
    for (var until = new Date().getTime() + 30000; !file && new Date().getTime() < until;) {
        try {
            file = fso.OpenTextFile(LOG, 1);
        } catch (e) {}
    }
    var lines = file.ReadAll().split("\r\n");
    file.Close();
    eq(lines.pop(), "", "the log ends with CR LF");
    eq(lines.shift(), "Date,Time,Action,Comments,", "the log's header");
    eq(lines.length, records.length, "records in the log");
    for (var i = 0; i < lines.length; ++i) {
        var m = /^(\d\d\/\d\d\/\d\d),(\d\d:\d\d:\d\d),(.*)$/.exec(lines[i]) || ["", "", "", lines[i]];
        eq(m[1] === start[0] || m[1] === end[0], true, "record " + (i + 1) + " dated today: " + m[1]);
        eq(start[0] !== end[0] || (start[1] <= m[2] && m[2] <= end[1]), true, "record " + (i + 1) + " time: " + m[2]);
        eq(m[3], records[i], "record " + (i + 1));
    }
}

var steps = [outValues, appendingPut, failures, secDNSAdmin, twoObjects, hungHost];
var start = now(), a = new ActiveXObject("VeladcomClient.VelaServerAccess");
for (var i = 0; i < steps.length; ++i) {
    try {
        steps[i](a);
    } catch (e) {
        failed++;
        WScript.Echo("FAIL: script error in " + steps[i].toString().match(/function (\w+)/)[1] + ": " +
                     (e.number >>> 0).toString(16) + " " + e.description);
    }
}
a = null;
wholeLog(start);
WScript.Echo(passed + " passed, " + failed + " failed");
