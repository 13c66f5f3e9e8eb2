// End-to-end suite: drives VeladcomClient late-bound, as a control panel's scripts do,
// against the test agent registered in the same Wine prefix (Wine activates every host
// name locally, so "h1" and "dns7" both reach it). The agent is programmed and read back
// through "VelaTestAgent.Control"; the action log is read back with the file system
// object and compared line by line with the records this script expects.
//
// Usage: cscript //nologo suite.js <agent dll> <log file> <scratch folder>
// Prints one line per failed check and ends with "N passed, M failed"; a run without
// that last line has failed (Wine's cscript may exit 0 after a script error).

var passed = 0, failed = 0;
var AGENT_DLL = WScript.Arguments.Item(0);
var LOG = WScript.Arguments.Item(1);
var SCRATCH = WScript.Arguments.Item(2);

var fso = new ActiveXObject("Scripting.FileSystemObject");
var shell = new ActiveXObject("WScript.Shell");
var agent, a;

function check(ok, what) {
    if (ok) passed++;
    else { failed++; WScript.Echo("FAIL: " + what); }
}
function eq(actual, expected, what) {
    check(actual === expected, what + ": expected <" + expected + "> (" + typeof expected + "), got <" +
                                   actual + "> (" + typeof actual + ")");
}
function hex(hr) { return (hr >>> 0).toString(16); }
function pad2(n) { return (n < 10 ? "0" : "") + n; }
function today() {
    var d = new Date();
    return pad2(d.getMonth() + 1) + "/" + pad2(d.getDate()) + "/" + pad2(d.getFullYear() % 100);
}
var startDate = today();

function action(host, rest) { return "Command for Remote Server '" + host + "' : " + rest; }
var OK = "Operation Successful";
function failedWith(text) { return "Operation Failed : Error is '" + text + "'"; }

// Calls a member by its name, late-bound, with the arguments of an array.
function invoke(obj, name, args) {
    switch (args.length) {
    case 1: return obj[name](args[0]);
    case 2: return obj[name](args[0], args[1]);
    case 3: return obj[name](args[0], args[1], args[2]);
    case 4: return obj[name](args[0], args[1], args[2], args[3]);
    case 5: return obj[name](args[0], args[1], args[2], args[3], args[4]);
    case 6: return obj[name](args[0], args[1], args[2], args[3], args[4], args[5]);
    }
    throw new Error("invoke: " + args.length + " arguments");
}

// --- The test agent ------------------------------------------------------------------

function journal() {
    var lines = String(agent.Journal).split("\n");
    if (lines[lines.length - 1] === "") lines.pop();
    return lines;
}
function expectJournal(expected, what) {
    eq(journal().join(" | "), expected.join(" | "), what + ": calls the agent received");
}
function setAgentRegistered(registered) {
    var rc = shell.Run('regsvr32 /s ' + (registered ? '' : '/u ') + '"' + AGENT_DLL + '"', 0, true);
    eq(rc, 0, "regsvr32 " + (registered ? "" : "/u ") + "of the test agent");
}

// --- The action log --------------------------------------------------------------------

var records = []; // [action, result] of every record this script causes, in order

// The component keeps the log open with shared read and write access; the file system
// object opens without write sharing, so the open log is read through a copy.
function logLines(direct) {
    var path = LOG;
    if (!direct) {
        path = SCRATCH + "\\log-copy.csv";
        fso.CopyFile(LOG, path, true);
    }
    var f = fso.OpenTextFile(path, 1);
    var text = f.AtEndOfStream ? "" : f.ReadAll();
    f.Close();
    var lines = text.split("\r\n");
    check(lines[lines.length - 1] === "", "the log ends with CR LF");
    lines.pop();
    return lines;
}

// Checks one record: MM/DD/YY,HH:MM:SS,action,result, with an empty fifth field.
function checkRecord(line, act, res, what) {
    var m = /^(\d\d)\/(\d\d)\/(\d\d),(\d\d):(\d\d):(\d\d),/.exec(line);
    check(m !== null, what + ": record starts with MM/DD/YY,HH:MM:SS, : " + line);
    if (!m) return;
    check(m[1] >= 1 && m[1] <= 12 && m[2] >= 1 && m[2] <= 31 && m[4] <= 23 && m[5] <= 59 && m[6] <= 59,
          what + ": date and time in range: " + line);
    var date = line.substr(0, 8);
    check(date === startDate || date === today(), what + ": record dated today: " + date);
    eq(line.substr(18), act + "," + res + ",", what + ": action, result and empty fifth field");
    eq(line.split(",").length, 5, what + ": five fields");
}

function expectRecord(act, res, what) {
    records.push([act, res]);
    var lines = logLines(false);
    eq(lines.length, records.length + 1, what + ": exactly one new record");
    if (lines.length > 1) checkRecord(lines[lines.length - 1], act, res, what);
}
// A failure record whose system message this script cannot know: "<message>[<hex>]".
function expectFailureRecord(act, hexCode, what) {
    var lines = logLines(false);
    eq(lines.length, records.length + 2, what + ": exactly one new record");
    var last = lines[lines.length - 1];
    var prefix = last.substr(0, 18) + act + ",Operation Failed : Error is '";
    var text = last.substr(prefix.length, last.length - prefix.length - 2);
    check(last.substr(0, prefix.length) === prefix && last.substr(last.length - 2) === "',",
          what + ": failure record: " + last);
    check(new RegExp("^.+\\[" + hexCode + "\\]$").test(text), what + ": error text <message>[" + hexCode + "]: " + text);
    records.push([act, failedWith(text)]);
}
function expectNoRecord(what) {
    eq(logLines(false).length, records.length + 1, what + ": no record");
}

// --- The suite ----------------------------------------------------------------------------

function fresh() {
    agent.Reset();
}

function testFreshObject() {
    eq(a.strError, "", "strError of a fresh object");
    var lines = logLines(false);
    eq(lines.length, 1, "a new log holds only its header");
    eq(lines[0], "Date,Time,Action,Comments,", "header line");
    fresh();
    eq(a.Reporting("any", 12345), 1, "Reporting");
    eq(a.Reporting("", -1), 1, "Reporting with other arguments");
    eq(agent.Activations, 0, "Reporting activates no agent");
    expectNoRecord("Reporting");
}

function testSetupSecDNS() {
    fresh();
    agent.SetOutcome("ServerAdmin", "SetupSecDNS", 0, 7);
    eq(a.SetupSecDNS("h1", "zone1", "10.0.0.53", "zone1.dns", 2), 1, "SetupSecDNS out-value");
    eq(a.strError, "", "SetupSecDNS strError on success");
    expectJournal(['ServerAdmin#1.put_DomainName("zone1")', 'ServerAdmin#1.put_MasterServers("10.0.0.53")',
                   'ServerAdmin#1.put_ZoneName("zone1")', 'ServerAdmin#1.put_Type(2)',
                   'ServerAdmin#1.SetupSecDNS(&out)', 'ServerAdmin#1.get_strError(&out)'],
                  "SetupSecDNS");
    eq(agent.LiveObjects, 0, "SetupSecDNS releases the agent object");
    expectRecord(action("h1", "Set Secondary DNS for Domain 'zone1'"), OK, "SetupSecDNS");

    fresh();
    agent.SetOutcome("ServerAdmin", "SetupSecDNS", 0, 0, "zone busy");
    eq(a.SetupSecDNS("h1", "zone1", "10.0.0.53", "", 2), 1, "SetupSecDNS with an error text: out-value");
    eq(a.strError, "zone busy", "SetupSecDNS with an error text: strError");
    expectRecord(action("h1", "Set Secondary DNS for Domain 'zone1'"), failedWith("zone busy"),
                 "SetupSecDNS with an error text");

    fresh();
    agent.SetOutcome("ServerAdmin", "SetupSecDNS", 0x80070005, 1);
    eq(a.SetupSecDNS("h1", "zone1", "10.0.0.53", "x", 2), 0, "SetupSecDNS remote failure: out-value");
    var err = a.strError;
    check(/^.+\[80070005\]$/.test(err), "SetupSecDNS remote failure: strError is <message>[80070005]: " + err);
    check(!/[\r\n]/.test(err), "SetupSecDNS remote failure: system text trimmed of CR LF: " + err);
    expectRecord(action("h1", "Set Secondary DNS for Domain 'zone1'"), failedWith(err),
                 "SetupSecDNS remote failure");
}

// DnsAdmin members that keep the remote error text in strError and hand back the
// agent's result value.
var dnsRecordMembers = [
    // member, arguments after the host, action after the host part, agent call arguments
    ["CreateAEntry", ["zone1", "www", "10.0.0.1"], "Create A Record for Domain 'zone1'",
     '"zone1", "www", "10.0.0.1", &out'],
    ["DeleteAEntry", ["zone1", "www"], "Delete A Record for Domain 'zone1'", '"zone1", "www", &out'],
    ["AddMXRecord", ["s1", "zone1", "mail", "10"], "Add MX Record for Domain 'zone1'",
     '"s1", "zone1", "mail", "10", &out'],
    ["DeleteMXRecord", ["zone1", "mail"], "Delete MX Record for Domain 'zone1'", '"zone1", "mail", &out'],
    ["CreateCNAMEEntry", ["zone1", "ftp"], "Create CNAME Record for Domain 'zone1'", '"zone1", "ftp", &out'],
    ["CreateCNAMEEntryEx", ["zone1", "ftp", "www"], "Create CNAME Record for Domain 'zone1'",
     '"zone1", "ftp", "www", &out'],
    ["DeleteCNAMEEntryEx", ["zone1", "ftp"], "Delete CNAME Record for Domain 'zone1'", '"zone1", "ftp", &out'],
    ["CreateSPFEntry", ["zone1", "v=spf1 mx -all"], "Create SPF Record for Domain 'zone1'",
     '"zone1", "v=spf1 mx -all", &out']
];

function testDnsRecords() {
    for (var i = 0; i < dnsRecordMembers.length; ++i) {
        var m = dnsRecordMembers[i], name = m[0];
        fresh();
        agent.SetOutcome("DnsAdmin", name, 0, 3 + i);
        eq(invoke(a, name, ["dns7"].concat(m[1])), 3 + i, name + " out-value");
        eq(a.strError, "", name + " strError on success");
        expectJournal(["DnsAdmin#1." + name + "(" + m[3] + ")", "DnsAdmin#1.get_strError(&out)"], name);
        expectRecord(action("dns7", m[2]), OK, name);

        fresh();
        agent.SetOutcome("DnsAdmin", name, 0, 0, "zone missing");
        eq(invoke(a, name, ["dns7"].concat(m[1])), 0, name + " with an error text: out-value");
        eq(a.strError, "zone missing", name + " with an error text: strError");
        expectRecord(action("dns7", m[2]), failedWith("zone missing"), name + " with an error text");
    }

    fresh();
    agent.SetOutcome("DnsAdmin", "CreateAEntry", 0x8007000E, 1);
    eq(a.CreateAEntry("dns7", "zone1", "www", "10.0.0.1"), 0, "CreateAEntry remote failure: out-value");
    var err = a.strError;
    check(/^.+\[8007000e\]$/.test(err), "CreateAEntry remote failure: strError <message>[8007000e]: " + err);
    expectRecord(action("dns7", "Create A Record for Domain 'zone1'"), failedWith(err),
                 "CreateAEntry remote failure");
}

function testZoneCommands() {
    // Stored settings: appending puts run together; the registry supplies the secondary
    // DNS server (SecondaryDNS = 1, SecDNSServerIP = 192.0.2.7, set by the runner).
    a.resellerns1 = "ns1.";
    a.resellerns1 = "example.net";
    a.resellerns2 = "ns2.example.net";
    a.resellersoamail = "hostmaster@";
    a.resellersoamail = "example.net";
    a.resellersoaEnabled = 1;
    a.NamedBasedDomain = 1;
    fresh();
    agent.SetOutcome("DnsAdmin", "AlterCompleteDNSEntries", 0, 0, "serial not raised");
    eq(a.AlterCompleteDNSEntries("dns7", "zone1", "admin@zone1", "ns.zone1", "10.0.0.1"), 1,
       "AlterCompleteDNSEntries out-value is 1 whatever the agent wrote");
    eq(a.strError, "serial not raised", "AlterCompleteDNSEntries strError");
    expectJournal(['DnsAdmin#1.put_NamedBasedDomain(1)', 'DnsAdmin#1.put_ReverseZoneIP("192.0.2.7")',
                   'DnsAdmin#1.AlterCompleteDNSEntries("zone1", "admin@zone1", "ns.zone1", "10.0.0.1", 1, ' +
                       '"ns1.example.net", "ns2.example.net", "hostmaster@example.net", &out)',
                   'DnsAdmin#1.get_strError(&out)'],
                  "AlterCompleteDNSEntries");
    expectRecord(action("dns7", "Alter Complete DNS Entries for Domain 'zone1'"),
                 failedWith("serial not raised"), "AlterCompleteDNSEntries");

    // The replacing put: only the last value travels.
    a.ReverseZoneIP = "10.9.9.in-addr.arpa";
    a.ReverseZoneIP = "0.0.10.in-addr.arpa";
    fresh();
    agent.SetOutcome("DnsAdmin", "DeletePrimaryDomain", 0x80004005, 4); // its HRESULT is not tested
    eq(a.DeletePrimaryDomain("dns7", "zone1"), 4, "DeletePrimaryDomain out-value");
    eq(a.strError, "", "DeletePrimaryDomain strError");
    expectJournal(['DnsAdmin#1.put_ReverseZoneIP("0.0.10.in-addr.arpa")', 'DnsAdmin#1.DeletePrimaryDomain("zone1", &out)',
                   'DnsAdmin#1.get_strError(&out)'],
                  "DeletePrimaryDomain");
    expectRecord(action("dns7", "Delete Primary Domain 'zone1'"), OK, "DeletePrimaryDomain");

    // The "Success" kind.
    fresh();
    agent.SetOutcome("DnsAdmin", "DeleteThirdLevelDomain", 0, 5, "ignored text");
    eq(a.DeleteThirdLevelDomain("dns7", "zone1", "shop"), 5, "DeleteThirdLevelDomain out-value");
    eq(a.strError, "Success", "DeleteThirdLevelDomain strError");
    expectJournal(['DnsAdmin#1.DeleteThirdLevelDomain("zone1", "shop", &out)'], "DeleteThirdLevelDomain");
    expectRecord(action("dns7", "Delete Third Level Domain 'zone1'"), OK, "DeleteThirdLevelDomain");

    var zoneFile = "$ORIGIN zone1.\r\n@ IN SOA ns.zone1. admin.zone1. 1 3600 600 86400 3600\r\n";
    fresh();
    agent.SetText("DnsAdmin", "GetDNSFile", zoneFile);
    eq(a.GetDNSFile("dns7", "zone1.dns"), zoneFile, "GetDNSFile returns the file text");
    eq(a.strError, "Success", "GetDNSFile strError");
    expectRecord(action("dns7", "Get DNS File 'zone1.dns'"), OK, "GetDNSFile");

    fresh();
    eq(a.GetDNSFile("dns7", "none.dns"), "", "GetDNSFile without a text gives an empty string");
    expectRecord(action("dns7", "Get DNS File 'none.dns'"), OK, "GetDNSFile without a text");

    fresh();
    agent.SetOutcome("DnsAdmin", "SetDNSFile", 0, 6);
    eq(a.SetDNSFile("dns7", "zone1.dns", "c:\\dns\\zone1.src"), 6, "SetDNSFile out-value");
    eq(a.strError, "Success", "SetDNSFile strError");
    expectJournal(['DnsAdmin#1.SetDNSFile("zone1.dns", "c:\\dns\\zone1.src", &out)'], "SetDNSFile");
    expectRecord(action("dns7", "Set DNS File 'zone1.dns'"), OK, "SetDNSFile");

    // Call-local error text: strError keeps what the last m_strError member left.
    fresh();
    agent.SetOutcome("DnsAdmin", "CreateAEntry", 0, 0, "zone missing");
    a.CreateAEntry("dns7", "zone2", "www", "10.0.0.2");
    expectRecord(action("dns7", "Create A Record for Domain 'zone2'"), failedWith("zone missing"), "CreateAEntry");
    agent.SetOutcome("DnsAdmin", "ChangeIP", 0, 8, "old address still in use");
    eq(a.ChangeIP("dns7", "zone2", "10.0.0.2", "10.0.0.3", 1), 8, "ChangeIP out-value written by the agent");
    eq(a.strError, "zone missing", "ChangeIP leaves strError");
    expectRecord(action("dns7", "Change IP of Domain 'zone2'"), failedWith("old address still in use"), "ChangeIP");
    agent.SetOutcome("DnsAdmin", "CheckDNSExistance", 0, 1);
    eq(a.CheckDNSExistance("dns7", "zone2"), 1, "CheckDNSExistance out-value");
    eq(a.strError, "zone missing", "CheckDNSExistance leaves strError");
    expectRecord(action("dns7", "Check DNS Existance of Domain 'zone2'"), OK, "CheckDNSExistance");
}

var bindMembers = [
    ["CreateBindARecord", ["zone1", "www", "10.0.0.1"], "Create Bind A Record for Domain 'zone1'"],
    ["CreateBindMXRecord", ["zone1", "mail"], "Create Bind MX Record for Domain 'zone1'"],
    ["DeleteBindSoa", ["zone1"], "Delete Bind SOA Record for Domain 'zone1'"],
    ["DeleteBindARec", ["zone1", "www"], "Delete Bind A Record for Domain 'zone1'"],
    ["DeleteBindMX", ["zone1", "mail"], "Delete Bind MX Record for Domain 'zone1'"],
    ["CreateBindSPFRecord", ["zone1", "v=spf1 a -all"], "Create Bind SPF Record for Domain 'zone1'"]
];

function testBind() {
    for (var i = 0; i < bindMembers.length; ++i) {
        var m = bindMembers[i], name = m[0];
        fresh();
        agent.SetOutcome("BindDnsAdmin", name, 0, i, "never fetched");
        eq(invoke(a, name, ["bind1"].concat(m[1])), i, name + " out-value");
        eq(a.strError, "Success", name + " strError");
        eq(journal().length, 1, name + ": one agent call, no error text fetched");
        expectRecord(action("bind1", m[2]), OK, name);
    }

    // Stored reseller settings; resellersoaEnabled stores 1 only for exactly 1.
    a.resellersoaEnabled = 5;
    fresh();
    agent.SetOutcome("BindDnsAdmin", "CBindDNSDomain", 0, 1);
    eq(a.CBindDNSDomain("bind1", "zone1", "10.0.0.1"), 1, "CBindDNSDomain out-value");
    expectJournal(['BindDnsAdmin#1.CBindDNSDomain("zone1", "10.0.0.1", 0, "ns1.example.net", "ns2.example.net", ' +
                   '"hostmaster@example.net", &out)'],
                  "CBindDNSDomain after resellersoaEnabled = 5");
    expectRecord(action("bind1", "Alter Bind DNS Entries for Domain 'zone1'"), OK, "CBindDNSDomain");
    a.resellersoaEnabled = 1;
    fresh();
    a.CBindDNSDomain("bind1", "zone1", "10.0.0.1");
    check(/CBindDNSDomain\("zone1", "10\.0\.0\.1", 1, /.test(journal()[0]),
          "CBindDNSDomain after resellersoaEnabled = 1: " + journal()[0]);
    expectRecord(action("bind1", "Alter Bind DNS Entries for Domain 'zone1'"), OK, "CBindDNSDomain again");

    fresh();
    agent.SetOutcome("BindDnsAdmin", "ControlService", 0, 9);
    eq(a.ControlService("bind1", "Stop", "dns1"), 9, "ControlService out-value");
    eq(a.strError, "Success", "ControlService strError");
    expectJournal(['BindDnsAdmin#1.ControlService("Stop", "dns1", &out)'], "ControlService");
    expectRecord(action("bind1", "Control Service : Stop Service 'dns1'"), OK, "ControlService");

    fresh();
    agent.SetOutcome("BindDnsAdmin", "DeleteBindSoa", 0x80070005);
    eq(a.DeleteBindSoa("bind1", "zone1"), 0, "DeleteBindSoa remote failure: out-value");
    var err = a.strError;
    check(/^.+\[80070005\]$/.test(err), "DeleteBindSoa remote failure: strError: " + err);
    expectRecord(action("bind1", "Delete Bind SOA Record for Domain 'zone1'"), failedWith(err),
                 "DeleteBindSoa remote failure");
}

function testMail() {
    // strError before the family: what a "Success" member left.
    fresh();
    a.DeleteBindMX("bind1", "zone1", "mail");
    expectRecord(action("bind1", "Delete Bind MX Record for Domain 'zone1'"), OK, "DeleteBindMX");

    a.imail_domainAlias = "a";
    a.imail_domainAlias = "b";
    a.imail_databasetype = 7;
    a.mailmax_domainAlias = "not used";
    a.mailmax_dbPath = "d:\\not used";
    a.lMaxMailusers = 100;
    a.SmarterMailAccountLimit = 25;

    var servers = [
        ["imail server", ['ServerAdmin#1.put_imail_databasetype(1)', 'ServerAdmin#1.put_imail_domainAlias("ab")']],
        ["MailMax Server", ['ServerAdmin#1.put_mailmax_domainAlias("ab")',
                            'ServerAdmin#1.put_mailmax_dbPath("c:\\mailmax\\shop")']],
        ["SmarterMail Server", ['ServerAdmin#1.put_SmarterMailAccountLimit(25)']],
        ["IMail Server ", []]
    ];
    for (var i = 0; i < servers.length; ++i) {
        var type = servers[i][0];
        fresh();
        agent.SetOutcome("ServerAdmin", "MailSetup", 0, 0);
        eq(a.MailSetup("mx1", type, "shop", "postmaster", "secret", "10.0.0.25"), 1,
           "MailSetup '" + type + "' out-value");
        expectJournal(['ServerAdmin#1.put_lMaxMailusers(100)'].concat(servers[i][1]).concat(
                          ['ServerAdmin#1.MailSetup("' + type + '", "shop", "postmaster", "secret", "10.0.0.25", &out)',
                           'ServerAdmin#1.get_strError(&out)']),
                      "MailSetup '" + type + "'");
        eq(a.strError, "Success", "MailSetup leaves strError");
        expectRecord(action("mx1", "Mail Setup for Domain 'shop' : Mail Server is '" + type + "'"), OK,
                     "MailSetup '" + type + "'");
    }

    fresh();
    agent.SetOutcome("ServerAdmin", "MailSetup", 0x80070005, 1);
    eq(a.MailSetup("mx1", "IMail Server", "shop", "u", "p", "10.0.0.25"), 0, "MailSetup remote failure: out-value");
    eq(a.strError, "Success", "MailSetup remote failure leaves strError");
    expectFailureRecord(action("mx1", "Mail Setup for Domain 'shop' : Mail Server is 'IMail Server'"), "80070005",
                        "MailSetup remote failure");

    fresh();
    agent.SetOutcome("ServerAdmin", "AddUser", 0, 0, "mailbox exists");
    eq(a.AddUser("mx1", "IMail Server", "shop", "info", "pw"), 1, "AddUser out-value");
    expectJournal(['ServerAdmin#1.AddUser("IMail Server", "shop", "info", "pw", &out)', 'ServerAdmin#1.get_strError(&out)'],
                  "AddUser");
    eq(a.strError, "Success", "AddUser leaves strError");
    expectRecord(action("mx1", "Add User for Domain 'shop' : Mail Server is 'IMail Server'"),
                 failedWith("mailbox exists"), "AddUser");

    fresh();
    agent.SetOutcome("ServerAdmin", "DeleteMailDomain", 0, 11);
    eq(a.DeleteMailDomain("mx1", "IMail Server", "shop"), 11, "DeleteMailDomain out-value");
    expectRecord(action("mx1", "Delete Mail Domain 'shop' : Mail Server is 'IMail Server'"), OK, "DeleteMailDomain");

    fresh();
    agent.SetNumber("ServerAdmin", "GetMailFolderSize", 1234.5);
    var size = a.GetMailFolderSize("mx1", "IMail Server", "shop");
    eq(typeof size, "number", "GetMailFolderSize type");
    eq(size, 1234.5, "GetMailFolderSize value (a double)");
    expectRecord(action("mx1", "Get Mail Folder Size for Domain 'shop' : Mail Server is 'IMail Server'"), OK,
                 "GetMailFolderSize");

    fresh();
    agent.SetNumber("ServerAdmin", "GetMailBoxCount", 70000);
    eq(a.GetMailBoxCount("mx1", "SmarterMail Server", "shop"), 70000, "GetMailBoxCount (32-bit)");
    expectRecord(action("mx1", "GetMailboxCount for Domain 'shop' : Mail Server is 'SmarterMail Server'"), OK,
                 "GetMailBoxCount");

    fresh();
    agent.SetOutcome("ServerAdmin", "ResetMailBoxes", 0, 2);
    eq(a.ResetMailBoxes("mx1", "IMail Server", "shop", -5), 2, "ResetMailBoxes out-value");
    expectJournal(['ServerAdmin#1.ResetMailBoxes("IMail Server", "shop", -5, &out)', 'ServerAdmin#1.get_strError(&out)'],
                  "ResetMailBoxes");
    expectRecord(action("mx1", "Reset Mailboxes for Domain 'shop' : Mail Server is 'IMail Server' with MailboxCount is '-5'"),
                 OK, "ResetMailBoxes");

    fresh();
    agent.SetText("ServerAdmin", "BackupMailDomain", "info;sales;postmaster");
    eq(a.BackupMailDomain("mx1", "IMail Server", "shop"), "info;sales;postmaster", "BackupMailDomain list");
    expectRecord(action("mx1", "Backup Mail Domain 'shop' : Mail Server is 'IMail Server'"), OK, "BackupMailDomain");
    eq(a.strError, "Success", "strError after the mail family");
}

function testServerAdmin() {
    fresh();
    agent.SetText("ServerAdmin", "GetMEUsersList", "alice;bob");
    var list = a.GetMEUsersList("me1", "shop");
    eq(typeof list, "string", "GetMEUsersList VARIANT holds a string");
    eq(list, "alice;bob", "GetMEUsersList value");
    expectRecord(action("me1", "Get MailEnable Users List for Domain 'shop'"), OK, "GetMEUsersList");

    var flags = [[0, "Delete"], [1, "Add"], [2, "Update"]];
    for (var i = 0; i < flags.length; ++i) {
        fresh();
        agent.SetOutcome("ServerAdmin", "AddUpdateDeleteMEUser", 0, 20 + i);
        eq(a.AddUpdateDeleteMEUser("me1", "alice", "pw", "shop", flags[i][0]), 20 + i,
           "AddUpdateDeleteMEUser flag " + flags[i][0]);
        expectRecord(action("me1", flags[i][1] + " MailEnable User 'alice' : Domain is 'shop'"), OK,
                     "AddUpdateDeleteMEUser flag " + flags[i][0]);
    }
    fresh();
    a.AddUpdateDeleteMEUser("me1", "alice", "pw", "shop", 3);
    expectJournal(['ServerAdmin#1.AddUpdateDeleteMEUser("alice", "pw", "shop", 3, &out)',
                   'ServerAdmin#1.get_strError(&out)'],
                  "AddUpdateDeleteMEUser flag 3");
    expectRecord("", OK, "AddUpdateDeleteMEUser flag 3 (no action text)");
    eq(a.strError, "Success", "MailEnable members leave strError");

    fresh();
    agent.SetOutcome("ServerAdmin", "SetDefaultResources", 0, 1);
    eq(a.SetDefaultResources("me1", "shop"), 1, "SetDefaultResources");
    expectRecord(action("me1", "Set default resources enabled for Domain 'shop'"), OK, "SetDefaultResources");

    // Secondary DNS: strError carries their remote error text.
    fresh();
    agent.SetOutcome("ServerAdmin", "delslavedns", 0, 0, "no such slave zone");
    eq(a.delslavedns("sec1", "zone1", 1), 1, "delslavedns out-value");
    eq(a.strError, "no such slave zone", "delslavedns strError");
    expectJournal(['ServerAdmin#1.put_Type(1)', 'ServerAdmin#1.delslavedns("zone1", &out)',
                   'ServerAdmin#1.get_strError(&out)'],
                  "delslavedns");
    expectRecord(action("sec1", "Delete Slave DNS for Zone 'zone1'"), failedWith("no such slave zone"), "delslavedns");

    fresh();
    eq(a.ReloadSecDNS("sec1", "zone1", 2), 1, "ReloadSecDNS out-value");
    eq(a.strError, "", "ReloadSecDNS strError");
    expectJournal(['ServerAdmin#1.put_DomainName("zone1")', 'ServerAdmin#1.put_Type(2)', 'ServerAdmin#1.ReloadSecDNS(&out)',
                   'ServerAdmin#1.get_strError(&out)'],
                  "ReloadSecDNS");
    expectRecord(action("sec1", "Reload Secondary DNS for Domain 'zone1'"), OK, "ReloadSecDNS");

    // Maintenance.
    fresh();
    agent.SetOutcome("DnsAdmin", "CreateAEntry", 0, 0, "marker");
    a.CreateAEntry("dns7", "zone3", "www", "10.0.0.3");
    expectRecord(action("dns7", "Create A Record for Domain 'zone3'"), failedWith("marker"), "CreateAEntry marker");
    fresh();
    var result = a.Restart("sec1");
    eq(result, undefined, "Restart has no out-value");
    eq(journal().join("|"), "ServerAdmin#1.Restart()|ServerAdmin#1.get_strError(&out)", "Restart reaches the agent");
    eq(a.strError, "marker", "Restart leaves strError");
    expectNoRecord("Restart");

    fresh();
    agent.SetOutcome("ServerAdmin", "TestDComCommunication", 0, 0, "slow disk");
    eq(a.TestDComCommunication("sec1"), 1, "TestDComCommunication");
    expectRecord("Test DCom Communication", failedWith("slow disk"), "TestDComCommunication");
    eq(a.strError, "marker", "TestDComCommunication leaves strError");
}

function testLetterCase() {
    fresh();
    agent.SetOutcome("DnsAdmin", "CreateAEntry", 0, 1);
    eq(a.createaentry("dns7", "zone4", "www", "10.0.0.4"), 1, "createaentry in lower case");
    expectRecord(action("dns7", "Create A Record for Domain 'zone4'"), OK, "createaentry");
    eq(a.TESTDCOMCOMMUNICATION("sec1"), 1, "TESTDCOMCOMMUNICATION in upper case");
    expectRecord("Test DCom Communication", OK, "TESTDCOMCOMMUNICATION");
    eq(a.STRERROR, "", "STRERROR in upper case");
    a.RESELLERNS2 = ".x";
    fresh();
    a.cbinddnsdomain("bind1", "zone4", "10.0.0.4");
    check(/"ns2\.example\.net\.x"/.test(journal()[0]), "RESELLERNS2 put in upper case appends: " + journal()[0]);
    expectRecord(action("bind1", "Alter Bind DNS Entries for Domain 'zone4'"), OK, "cbinddnsdomain");
}

// A host on which the agent cannot be activated: the agent's classes are unregistered,
// so activation fails with REGDB_E_CLASSNOTREG like an unknown class on a real host.
function testFailingHost() {
    fresh();
    agent.SetOutcome("DnsAdmin", "CreateAEntry", 0, 1);
    a.CreateAEntry("dns7", "zone5", "www", "10.0.0.5"); // leaves 1 in the result slot
    expectRecord(action("dns7", "Create A Record for Domain 'zone5'"), OK, "CreateAEntry before the failing host");

    setAgentRegistered(false);
    fresh();
    eq(a.SetupSecDNS("offline", "zone5", "10.0.0.53", "", 1), 0, "failing host: SetupSecDNS out-value");
    var err = a.strError;
    var m = /^(.+)\[80040154\]$/.exec(err);
    check(m !== null, "failing host: strError is <message>[80040154]: " + err);
    expectRecord(action("offline", "Set Secondary DNS for Domain 'zone5'"), failedWith(err), "failing host: SetupSecDNS");
    eq(agent.Activations, 0, "failing host: no agent object was created");

    eq(a.GetDNSFile("offline", "zone5.dns"), err, "failing host: GetDNSFile returns the error text");
    eq(a.strError, err, "failing host: GetDNSFile strError");
    expectRecord(action("offline", "Get DNS File 'zone5.dns'"), failedWith(err), "failing host: GetDNSFile");

    eq(a.SetDNSFile("offline", "zone5.dns", "src"), 1, "failing host: SetDNSFile gives the last result value");
    expectRecord(action("offline", "Set DNS File 'zone5.dns'"), failedWith(err), "failing host: SetDNSFile");

    eq(a.CreateBindARecord("offline", "zone5", "www", "10.0.0.5"), 0, "failing host: CreateBindARecord out-value");
    eq(a.strError, err, "failing host: CreateBindARecord strError");
    expectRecord(action("offline", "Create Bind A Record for Domain 'zone5'"), failedWith(err),
                 "failing host: CreateBindARecord");

    // Each failed activation takes Wine seconds, so one member of each remaining kind.
    eq(a.MailSetup("offline", "IMail Server", "shop", "u", "p", "10.0.0.25"), 0, "failing host: MailSetup out-value");
    eq(a.TestDComCommunication("offline"), 0, "failing host: TestDComCommunication");
    a.GetMEUsersList("offline", "shop");
    eq(a.strError, err, "failing host: call-local members leave strError");
    var tail = [action("offline", "Mail Setup for Domain 'shop' : Mail Server is 'IMail Server'"),
                "Test DCom Communication",
                action("offline", "Get MailEnable Users List for Domain 'shop'")];
    for (var i = 0; i < tail.length; ++i) records.push([tail[i], failedWith(err)]);
    var lines = logLines(false);
    eq(lines.length, records.length + 1, "failing host: one failure record per call-local member");
    for (var i = 0; i < tail.length; ++i)
        checkRecord(lines[lines.length - tail.length + i], tail[i], failedWith(err), "failing host: " + tail[i]);

    a.Restart("offline");
    expectNoRecord("failing host: Restart");
    eq(a.strError, err, "failing host: Restart leaves strError");
    eq(a.Reporting("offline", 1), 1, "failing host: Reporting");

    setAgentRegistered(true);
    fresh();
    eq(a.TestDComCommunication("offline"), 1, "the host answers again once the agent is registered");
    expectRecord("Test DCom Communication", OK, "TestDComCommunication after re-registration");
}

function testSecDNSAdmin() {
    var s = new ActiveXObject("VeladcomClient.SecDNSAdmin");
    fresh();
    var result = s.SetupSecDNS("h1", "zone1", "10.0.0.53", "zone1.dns", 1);
    check(result === 0 || result === undefined, "SecDNSAdmin.SetupSecDNS sets no out-value: " + result);
    s.setupsecdns("h1", "zone1", "", "", 0);
    eq(agent.Activations, 0, "SecDNSAdmin.SetupSecDNS contacts no host");
    expectNoRecord("SecDNSAdmin.SetupSecDNS");
}

// Two objects append to the same log; each record lands after the other's.
function testTwoObjects() {
    var b = new ActiveXObject("VeladcomClient.VelaServerAccess");
    eq(b.strError, "", "a second object starts with an empty strError");
    fresh();
    agent.SetOutcome("DnsAdmin", "CheckDNSExistance", 0, 1);
    b.CheckDNSExistance("dns7", "second");
    expectRecord(action("dns7", "Check DNS Existance of Domain 'second'"), OK, "second object");
    a.CheckDNSExistance("dns7", "first");
    expectRecord(action("dns7", "Check DNS Existance of Domain 'first'"), OK, "first object after the second");
    b.CheckDNSExistance("dns7", "second again");
    expectRecord(action("dns7", "Check DNS Existance of Domain 'second again'"), OK, "second object again");
    b = null;
}

// With every object released the log is closed and can be read directly.
function testWholeLog() {
    a = null;
    CollectGarbage();
    var lines = logLines(true);
    eq(lines.length, records.length + 1, "whole log: header and one line per record");
    eq(lines[0], "Date,Time,Action,Comments,", "whole log: header");
    var n = Math.min(lines.length - 1, records.length);
    for (var i = 0; i < n; ++i)
        checkRecord(lines[i + 1], records[i][0], records[i][1], "whole log line " + (i + 2));
}

function main() {
    agent = new ActiveXObject("VelaTestAgent.Control");
    a = new ActiveXObject("VeladcomClient.VelaServerAccess");
    var steps = [testFreshObject, testSetupSecDNS, testDnsRecords, testZoneCommands, testBind, testMail,
                 testServerAdmin, testLetterCase, testFailingHost, testSecDNSAdmin, testTwoObjects, testWholeLog];
    for (var i = 0; i < steps.length; ++i) {
        try {
            steps[i]();
        } catch (e) {
            failed++;
            WScript.Echo("FAIL: script error in step " + (i + 1) + ": " + hex(e.number) + " " + e.description);
        }
    }
}

main();
WScript.Echo(passed + " passed, " + failed + " failed");
