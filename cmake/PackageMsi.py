#!/usr/bin/env python3
"""Builds the Windows Installer package of one architecture from a staged package folder (the
zip's contents): the files an administrator needs, installed into the Program Files folder of
the package's architecture, and the COM registration written through the package's Registry
table into that architecture's registry view, with the same keys and values that
DllRegisterServer writes. No self-registration runs.

The registration has one source: the class keys come from the registry scripts that the DLL
embeds (the REGISTRY resources of src/frame/VeladcomClient.rc), run through the component's
own script engine (src/frame/regscript/RegScriptRows.cpp), the type library's keys from
the staged type library, laid out as the system's RegisterTypeLib lays them out. The release
checks compare an installed package with a regsvr32 registration under Wine.

Two public properties set the panel's settings when they are given: INSTALLPATH and
COMMANDTIMEOUTSECONDS. Their components are permanent: removing the package leaves the
values, which belong to the panel. Without the property nothing is written, and a repair
does not write them again (their components are transitive).

wixl (msitools) builds the package. What wixl 0.101 cannot express, msibuild adds afterwards:
the settings components' conditions and attributes, the empty keys the scripts create, the
secure properties and the DLL's file version. wixl stamps the summary information with the
time it ran and a random package code; this script then writes SOURCE_DATE_EPOCH into the
two times, and a package code derived from the package's contents, in place. The product
code is derived from the architecture and the version's first three fields, the ones Windows
Installer compares: each such version is a product of its own that upgrades the ones before,
and two versions that differ in the fourth field alone are the same product, so that the
second is refused rather than installed beside the first.

usage: SOURCE_DATE_EPOCH=<seconds> PackageMsi.py win32|win64 <version> <staged folder> <output.msi>
"""
import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import uuid
from xml.sax.saxutils import quoteattr

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "frame"))
import TypeLibFlags  # noqa: E402  (the MSFT layout of a type library)

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
# Every code below is a name-based UUID in this namespace, so that a build never invents one.
NAMESPACE = uuid.UUID("6f1d2c3e-8a47-4b5e-9d60-2c7e4a1b9f35")
MANUFACTURER = "The VeladcomClient authors"
DLL = "VeladcomClient.dll"
# What an administrator needs; the client headers and the IDL stay in the zip.
FILES = [DLL, "VeladcomClient.tlb", "verify.vbs", "verify.asp", "INSTALL.md", "CHANGELOG.md", "LICENSE"]
LOGS_CONFIG = "Logs/web.config"  # for the panel's log folder, into a folder of its own
SETTINGS_KEY = r"SOFTWARE\Corvane\Nt Vela Console\General"
ARCHES = {  # wixl's architecture, the Program Files folder, the type library's syskind
    "win64": ("x64", "ProgramFiles64Folder", 3, "win64"),
    "win32": ("x86", "ProgramFilesFolder", 1, "win32"),
}
# Component attributes (Component table): 64-bit, permanent, transitive.
COMPONENT_64BIT, COMPONENT_PERMANENT, COMPONENT_TRANSITIVE, COMPONENT_REGISTRY_KEY_PATH = 256, 16, 64, 4
ROOTS = {"HKCR": ("HKCR", 0), "HKLM": ("HKLM", 2)}  # as regscript_rows names them, and their Registry table codes
PROXY_OLEAUTOMATION = "{00020424-0000-0000-C000-000000000046}"  # the universal marshaler
PROXY_DISPATCH = "{00020420-0000-0000-C000-000000000046}"
TKIND_INTERFACE, TKIND_DISPATCH = 3, 4
TYPEFLAG_FDUAL, TYPEFLAG_FOLEAUTOMATION = 0x40, 0x100
LIBFLAG_FHASDISKIMAGE = 8  # the loader adds it to the flags of a library read from a file


def code(*parts):
    return "{%s}" % str(uuid.uuid5(NAMESPACE, "/".join(parts))).upper()


def formatted(text):
    """A literal for a column of the Formatted type: brackets would name properties."""
    return re.sub(r"([\[\]])", r"[\\\1]", text)


# --- The registry scripts ----------------------------------------------------------------
MODULE_MARK = "@MODULE@"  # stands for %MODULE% until the texts are escaped


def script_rows(scripts, module, work):
    """The values and empty keys that the scripts write when they register, as
    (root, key, name, value): a text for REG_SZ, a number for REG_DWORD, None for a key without
    values. They come from the component's own registry script engine, the one that
    DllRegisterServer runs, built here for this machine (regscript_rows)."""
    engine = os.path.join(SOURCE, "src", "frame", "regscript")
    tool = os.path.join(work, "regscript_rows")
    subprocess.run([os.environ.get("CXX", "clang++"), "-std=c++17", "-O1", "-I", os.path.join(SOURCE, "src"),
                    os.path.join(engine, "RegScript.cpp"), os.path.join(engine, "RegScriptRows.cpp"), "-o", tool],
                   check=True)
    lines = subprocess.run([tool, MODULE_MARK] + scripts, check=True, stdout=subprocess.PIPE,
                           encoding="latin-1").stdout.splitlines()
    rows = []
    for line in lines:
        root, key, *value = line.split("\t")
        if not value:
            rows.append((root, key, None, None))
            continue
        name, kind, data = value
        rows.append((root, key, name, int(data) if kind == "d" else formatted(data).replace(MODULE_MARK, module)))
    return rows


def embedded_scripts():
    """The registry scripts the DLL embeds, as its resource script names them."""
    folder = os.path.join(SOURCE, "src", "frame")
    with open(os.path.join(folder, "VeladcomClient.rc")) as rc:
        names = re.findall(r'^\w+\s+REGISTRY\s+"([^"]+)"', rc.read(), re.MULTILINE)
    if not names:
        raise ValueError("no REGISTRY resources in VeladcomClient.rc")
    return [os.path.join(folder, name) for name in names]


# --- The type library --------------------------------------------------------------------
def type_library(path):
    """The library's attributes and its types, read from the MSFT file as LoadTypeLib reports
    them: (libid, major, minor, lcid, syskind, flags, title), [(kind, flags, name, iid)]."""
    with open(path, "rb") as f:
        data = f.read()
    offsets, segments = TypeLibFlags.layout(data)
    guids, names, strings = segments[5][0], segments[7][0], segments[8][0]

    def guid(offset):
        return "{%s}" % str(uuid.UUID(bytes_le=data[guids + offset:guids + offset + 16])).upper()

    def name(offset):
        length = data[names + offset + 8]
        return data[names + offset + 12:names + offset + 12 + length].decode("latin-1")

    def string(offset):
        length, = struct.unpack_from("<H", data, strings + offset)
        return data[strings + offset + 2:strings + offset + 2 + length].decode("latin-1")

    posguid, _, lcid, varflags, version, flags = struct.unpack_from("<iiiiIi", data, 0x08)
    helpstring, = struct.unpack_from("<i", data, 0x24)
    name_offset, = struct.unpack_from("<i", data, 0x38)
    title = string(helpstring) if helpstring >= 0 else name(name_offset)
    library = (guid(posguid), version & 0xFFFF, version >> 16, lcid, varflags & 0xF,
               (flags & 0xFFFF) | LIBFLAG_FHASDISKIMAGE, title)
    types = []
    for entry in offsets:
        at = segments[0][0] + entry
        kind, = struct.unpack_from("<i", data, at)
        tguid, tflags, tname = struct.unpack_from("<iii", data, at + 0x2C)
        types.append((kind & 0xF, tflags, name(tname), guid(tguid)))
    return library, types


def type_library_rows(library, types, module, folder, syskind):
    """What RegisterTypeLib writes for the library: its key, and one key per automation
    interface, which it writes into both registry views (returned apart)."""
    libid, major, minor, lcid, kind, flags, title = library
    if kind != syskind:
        raise ValueError("the type library's syskind %d is not the package's %d" % (kind, syskind))
    version = "%x.%x" % (major, minor)
    key = "TypeLib\\%s\\%s" % (libid, version)
    rows = [("HKCR", key, "", formatted(title)),
            ("HKCR", "%s\\%x\\%s" % (key, lcid, {1: "win32", 3: "win64"}[syskind]), "", module),
            ("HKCR", key + "\\FLAGS", "", "%u" % flags),
            ("HKCR", key + "\\HELPDIR", "", folder)]
    interfaces = []
    for tkind, tflags, name, iid in types:
        if not (tkind == TKIND_INTERFACE and tflags & TYPEFLAG_FOLEAUTOMATION or tkind == TKIND_DISPATCH):
            continue
        proxy = PROXY_OLEAUTOMATION if tkind == TKIND_INTERFACE or tflags & TYPEFLAG_FDUAL else PROXY_DISPATCH
        interface = "Interface\\" + iid
        interfaces += [("HKCR", interface, "", formatted(name)),
                       ("HKCR", interface + "\\ProxyStubClsid", "", proxy),
                       ("HKCR", interface + "\\ProxyStubClsid32", "", proxy),
                       ("HKCR", interface + "\\TypeLib", "", libid),
                       ("HKCR", interface + "\\TypeLib", "Version", version)]
    return rows, interfaces


# --- The package -------------------------------------------------------------------------
def file_version(path):
    """The fixed file version of a PE file's version resource, as "a.b.c.d"."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        raise ValueError("%s has no version resource" % path)
    high, low = struct.unpack_from("<II", data, at + 8)
    return "%d.%d.%d.%d" % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)


def registry_values(rows, component):
    """The rows' values as wixl elements; the empty keys as Registry table rows for msibuild."""
    elements, keys = [], []
    for root, key, name, value in rows:
        if value is None:
            keys.append((ROOTS[root][1], key, component))
            continue
        attributes = 'Root="%s" Key=%s' % (root, quoteattr(key))
        if name:
            attributes += " Name=%s" % quoteattr(name)
        kind = "integer" if isinstance(value, int) else "string"
        elements.append('<RegistryValue %s Value=%s Type="%s"/>' % (attributes, quoteattr(str(value)), kind))
    return elements, keys


def wxs(arch, version, files, rows, interfaces32):
    wixl_arch, program_files, _, _ = ARCHES[arch]
    win64 = "yes" if arch == "win64" else "no"
    bits = arch[3:]
    values, keys = registry_values(rows, "Program")
    file_elements = ['<File Id=%s Name=%s Source=%s%s/>' % (quoteattr(name), quoteattr(name), quoteattr(name),
                                                            ' KeyPath="yes"' if name == DLL else "")
                     for name in files]
    components = ['<Component Id="Program" Guid="%s" Win64="%s">' % (code(arch, "component", "Program"), win64)]
    components += ["  " + e for e in file_elements + values] + ["</Component>"]
    components += ['<Directory Id="LOGSCONFIGDIR" Name="Logs">',
                   '<Component Id="LogsConfig" Guid="%s" Win64="%s">' % (code(arch, "component", "LogsConfig"), win64),
                   '  <File Id="web.config" Name="web.config" Source="web.config" KeyPath="yes"/>',
                   "</Component>", "</Directory>"]
    refs = ["Program", "LogsConfig"]
    if interfaces32:
        # The 32-bit view's interface keys, which RegisterTypeLib writes from a 64-bit process too.
        values32, keys32 = registry_values(interfaces32, "Interfaces32")
        keys += keys32
        values32[0] = values32[0].replace("/>", ' KeyPath="yes"/>')
        components += ['<Component Id="Interfaces32" Guid="%s" Win64="no">' % code(arch, "component", "Interfaces32")]
        components += ["  " + e for e in values32] + ["</Component>"]
        refs.append("Interfaces32")
    for component, name, value in (("InstallPathSetting", "InstallPath", "[INSTALLPATH]"),
                                   ("CommandTimeoutSetting", "CommandTimeoutSeconds", "[COMMANDTIMEOUTSECONDS]")):
        kind = "integer" if component == "CommandTimeoutSetting" else "string"
        components += ['<Component Id="%s" Guid="%s" Win64="%s">' % (component, code(arch, "component", component), win64),
                       '  <RegistryValue Root="HKLM" Key=%s Name="%s" Value="%s" Type="%s" KeyPath="yes"/>'
                       % (quoteattr(SETTINGS_KEY), name, value, kind),
                       "</Component>"]
        refs.append(component)
    product = "VeladcomClient (%s-bit)" % bits
    lines = [
        '<?xml version="1.0" encoding="utf-8"?>',
        '<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">',
        '<Product Id="%s" Name="%s" Language="1033" Version="%s" Manufacturer="%s" UpgradeCode="%s">'
        % (code(arch, "product", ".".join(version.split(".")[:3])), product, version, MANUFACTURER, code(arch, "upgrade")),
        '<Package InstallerVersion="200" Compressed="yes" InstallScope="perMachine"'
        ' Description="%s %s" Comments="The VeladcomClient automation component for %s-bit processes"/>'
        % (product, version, bits),
        '<MajorUpgrade DowngradeErrorMessage="A newer version of %s is already installed. To install this'
        ' version, first remove the newer one." />' % product,
        '<Media Id="1" Cabinet="VeladcomClient.cab" EmbedCab="yes"/>',
        '<Property Id="ARPNOMODIFY" Value="1"/>',
        '<Directory Id="TARGETDIR" Name="SourceDir">',
        '<Directory Id="%s">' % program_files,
        '<Directory Id="INSTALLDIR" Name="VeladcomClient">',
    ] + components + [
        "</Directory>", "</Directory>", "</Directory>",
        '<Feature Id="VeladcomClient" Level="1">',
    ] + ['<ComponentRef Id="%s"/>' % r for r in refs] + ["</Feature>", "</Product>", "</Wix>", ""]
    return "\n".join(lines), keys


def quote_sql(text):
    return "'%s'" % text.replace("'", "''")


def post_process(msi, arch, keys, dll_version):
    """What wixl 0.101 cannot express, through msibuild's SQL."""
    bits = COMPONENT_64BIT if arch == "win64" else 0
    queries = []
    for component, condition in (("InstallPathSetting", "INSTALLPATH"), ("CommandTimeoutSetting", "COMMANDTIMEOUTSECONDS")):
        attributes = bits | COMPONENT_REGISTRY_KEY_PATH | COMPONENT_PERMANENT | COMPONENT_TRANSITIVE
        queries.append("UPDATE `Component` SET `Attributes` = %d, `Condition` = %s WHERE `Component` = %s"
                       % (attributes, quote_sql(condition), quote_sql(component)))
    for number, (root, key, component) in enumerate(keys, 1):
        # "*": the key is created with its component and removed with it.
        queries.append("INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES (%s, %d, %s, '*', %s)"
                       % (quote_sql("EmptyKey%d" % number), root, quote_sql(key), quote_sql(component)))
    queries.append("UPDATE `Property` SET `Value` = 'WIX_DOWNGRADE_DETECTED;WIX_UPGRADE_DETECTED;INSTALLPATH;COMMANDTIMEOUTSECONDS'"
                   " WHERE `Property` = 'SecureCustomProperties'")
    # A versioned file: replaced by version rules, and so without a hash.
    queries.append("UPDATE `File` SET `Version` = %s, `Language` = '1033' WHERE `File` = %s" % (quote_sql(dll_version), quote_sql(DLL)))
    queries.append("DELETE FROM `MsiFileHash` WHERE `File_` = %s" % quote_sql(DLL))
    command = ["msibuild", msi]
    for q in queries:
        command += ["-q", q]
    subprocess.run(command, check=True)


# --- The summary information, in place ---------------------------------------------------
def cfb_stream(data, wanted):
    """(offsets of the stream's bytes in the file) of a stream in the root storage of a
    compound file; a stream under the mini-stream cut-off lives in the mini stream."""
    sector = 1 << struct.unpack_from("<H", data, 0x1E)[0]
    mini = 1 << struct.unpack_from("<H", data, 0x20)[0]
    directory_start, = struct.unpack_from("<I", data, 0x30)
    cutoff, mini_fat_start = struct.unpack_from("<II", data, 0x38)
    difat = list(struct.unpack_from("<109I", data, 0x4C))
    fat_sectors = [s for s in difat if s < 0xFFFFFFFA]
    if struct.unpack_from("<I", data, 0x44)[0] != 0xFFFFFFFE:
        raise ValueError("compound file too large for this reader")
    fat = []
    for s in fat_sectors:
        fat += struct.unpack_from("<%dI" % (sector // 4), data, (s + 1) * sector)

    def chain(start, table):
        while start < 0xFFFFFFFA:
            yield start
            start = table[start]

    def read(start):
        return b"".join(data[(s + 1) * sector:(s + 2) * sector] for s in chain(start, fat))

    entries = read(directory_start)
    root_start, = struct.unpack_from("<I", entries, 0x74)
    mini_fat = list(struct.unpack_from("<%dI" % (len(read(mini_fat_start)) // 4), read(mini_fat_start))) \
        if mini_fat_start < 0xFFFFFFFA else []
    root_sectors = list(chain(root_start, fat))
    for at in range(0, len(entries), 128):
        length, = struct.unpack_from("<H", entries, at + 0x40)
        name = entries[at:at + max(length - 2, 0)].decode("utf-16-le")
        if name != wanted:
            continue
        start, size = struct.unpack_from("<II", entries, at + 0x74)
        offsets = []
        if size < cutoff:
            for m in chain(start, mini_fat):
                base = m * mini
                host = root_sectors[base // sector]
                offsets += range((host + 1) * sector + base % sector, (host + 1) * sector + base % sector + mini)
        else:
            for s in chain(start, fat):
                offsets += range((s + 1) * sector, (s + 2) * sector)
        return offsets[:size]
    raise ValueError("no stream %r" % wanted)


def set_summary(data, package_code, seconds):
    """Writes the package code (PID_REVNUMBER, same length) and the creation and last-saved
    times (PID_CREATE_DTM, PID_LASTSAVED_DTM) into the summary information stream."""
    offsets = cfb_stream(data, "\x05SummaryInformation")
    stream = bytearray(data[o] for o in offsets)
    section, = struct.unpack_from("<I", stream, 0x2C)
    count, = struct.unpack_from("<I", stream, section + 4)
    filetime = (seconds + 11644473600) * 10000000
    found = set()
    for i in range(count):
        pid, offset = struct.unpack_from("<II", stream, section + 8 + 8 * i)
        at = section + offset
        vt, = struct.unpack_from("<I", stream, at)
        if pid in (12, 13) and vt == 64:  # VT_FILETIME
            struct.pack_into("<Q", stream, at + 4, filetime)
            found.add(pid)
        elif pid == 9 and vt == 30:  # VT_LPSTR
            length, = struct.unpack_from("<I", stream, at + 4)
            text = package_code.encode() + b"\0"
            if length != len(text):
                raise ValueError("package code of another length")
            stream[at + 8:at + 8 + length] = text
            found.add(pid)
    if found != {9, 12, 13}:
        raise ValueError("summary information without %s" % sorted({9, 12, 13} - found))
    for o, b in zip(offsets, stream):
        data[o] = b


def main(arch, version, staged, output):
    seconds = int(os.environ["SOURCE_DATE_EPOCH"])
    if arch not in ARCHES:
        sys.exit(__doc__)
    _, _, syskind, _ = ARCHES[arch]
    module, folder = "[#%s]" % DLL, "[INSTALLDIR]"
    with tempfile.TemporaryDirectory() as work:
        rows = script_rows(embedded_scripts(), module, work)
        library, types = type_library(os.path.join(staged, "VeladcomClient.tlb"))
        typelib, interfaces = type_library_rows(library, types, module, folder, syskind)
        rows += typelib + interfaces
        # Copies dated at the source date: the cabinet records each file's time.
        files = []
        for name in FILES + [LOGS_CONFIG]:
            path = os.path.join(work, os.path.basename(name))
            shutil.copyfile(os.path.join(staged, name), path)
            os.chmod(path, 0o644)
            os.utime(path, (seconds, seconds))
            if name in FILES:
                files.append(name)
        source, keys = wxs(arch, version, files, rows, interfaces if arch == "win64" else [])
        with open(os.path.join(work, "package.wxs"), "w") as f:
            f.write(source)
        msi = os.path.join(work, "package.msi")
        subprocess.run(["wixl", "-a", ARCHES[arch][0], "-o", msi, "package.wxs"], check=True, cwd=work)
        post_process(msi, arch, keys, file_version(os.path.join(staged, DLL)))
        with open(msi, "rb") as f:
            data = bytearray(f.read())
    # The package code names these bytes: derived from them with a fixed code in its place.
    set_summary(data, code("package", "placeholder"), seconds)
    set_summary(data, code("package", hashlib.sha256(data).hexdigest()), seconds)
    with open(output, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    main(*sys.argv[1:])
