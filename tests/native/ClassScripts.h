// The registry scripts of the two automation classes, byte for byte as the module stores
// them (tab indentation, CR LF line ends, a final CR LF).
#pragma once

namespace vela::regscript::test {

inline constexpr char kSecDnsAdminScript[] =
    "HKCR\r\n"
    "{\r\n"
    "\tVeladcomClient.SecDNSAdmin.1 = s 'SecDNSAdmin Class'\r\n"
    "\t{\r\n"
    "\t\tCLSID = s '{7A3F1C20-5B0E-4D2A-9C11-3E5F00000003}'\r\n"
    "\t}\r\n"
    "\tVeladcomClient.SecDNSAdmin = s 'SecDNSAdmin Class'\r\n"
    "\t{\r\n"
    "\t\tCLSID = s '{7A3F1C20-5B0E-4D2A-9C11-3E5F00000003}'\r\n"
    "\t\tCurVer = s 'VeladcomClient.SecDNSAdmin.1'\r\n"
    "\t}\r\n"
    "\tNoRemove CLSID\r\n"
    "\t{\r\n"
    "\t\tForceRemove {7A3F1C20-5B0E-4D2A-9C11-3E5F00000003} = s 'SecDNSAdmin Class'\r\n"
    "\t\t{\r\n"
    "\t\t\tProgID = s 'VeladcomClient.SecDNSAdmin.1'\r\n"
    "\t\t\tVersionIndependentProgID = s 'VeladcomClient.SecDNSAdmin'\r\n"
    "\t\t\tForceRemove 'Programmable'\r\n"
    "\t\t\tInprocServer32 = s '%MODULE%'\r\n"
    "\t\t\t{\r\n"
    "\t\t\t\tval ThreadingModel = s 'Apartment'\r\n"
    "\t\t\t}\r\n"
    "\t\t\t'TypeLib' = s '{7A3F1C20-5B0E-4D2A-9C11-3E5F00000001}'\r\n"
    "\t\t}\r\n"
    "\t}\r\n"
    "}\r\n";

inline constexpr char kVelaServerAccessScript[] =
    "HKCR\r\n"
    "{\r\n"
    "\tVeladcomClient.VelaServerAccess.1 = s 'VelaServerAccess Class'\r\n"
    "\t{\r\n"
    "\t\tCLSID = s '{7A3F1C20-5B0E-4D2A-9C11-3E5F00000005}'\r\n"
    "\t}\r\n"
    "\tVeladcomClient.VelaServerAccess = s 'VelaServerAccess Class'\r\n"
    "\t{\r\n"
    "\t\tCLSID = s '{7A3F1C20-5B0E-4D2A-9C11-3E5F00000005}'\r\n"
    "\t\tCurVer = s 'VeladcomClient.VelaServerAccess.1'\r\n"
    "\t}\r\n"
    "\tNoRemove CLSID\r\n"
    "\t{\r\n"
    "\t\tForceRemove {7A3F1C20-5B0E-4D2A-9C11-3E5F00000005} = s 'VelaServerAccess Class'\r\n"
    "\t\t{\r\n"
    "\t\t\tProgID = s 'VeladcomClient.VelaServerAccess.1'\r\n"
    "\t\t\tVersionIndependentProgID = s 'VeladcomClient.VelaServerAccess'\r\n"
    "\t\t\tForceRemove 'Programmable'\r\n"
    "\t\t\tInprocServer32 = s '%MODULE%'\r\n"
    "\t\t\t{\r\n"
    "\t\t\t\tval ThreadingModel = s 'Apartment'\r\n"
    "\t\t\t}\r\n"
    "\t\t\t'TypeLib' = s '{7A3F1C20-5B0E-4D2A-9C11-3E5F00000001}'\r\n"
    "\t\t}\r\n"
    "\t}\r\n"
    "}\r\n";

} // namespace vela::regscript::test
