// Writes <count> records through a VelaServerAccess of this cscript's architecture, each a
// CreateAEntry for domain <tag>. Prints "<tag>: <count> records", or "<tag>: no object" when
// none can be created (no class registered in this process's registry view).
// Usage: cscript //nologo views.js <tag> <count>
var tag = WScript.Arguments.Item(0), count = +WScript.Arguments.Item(1), a = null;
try {
    a = new ActiveXObject("VeladcomClient.VelaServerAccess");
} catch (e) {
}
if (a) {
    for (var i = 0; i < count; ++i) a.CreateAEntry("h", tag, "www", "10.0.0.1");
    WScript.Echo(tag + ": " + count + " records");
} else {
    WScript.Echo(tag + ": no object");
}
