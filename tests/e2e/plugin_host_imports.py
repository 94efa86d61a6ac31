#!/usr/bin/env python3
"""The plug-in imports from the host only what the host exports.

A real host keeps the operations its header defines inline to itself: a plug-in that imports one
of them fails to load. Every undefined dynamic symbol of the plug-in that names a host class, a
host type or get_ttime must be an operation the host implements out of line, or a constructor,
destructor, virtual table or type information of a host class.
Usage: plugin_host_imports.py <plug-in>
"""
import re
import subprocess
import sys

HOST_CLASSES = {"VDeviceInterface", "SMDVDevice", "SMDSPDevice", "SPModbus", "SMDController",
                "Provider", "SMDSPDeviceProvider", "SMDVDevice::BAOSetting", "rule_value", "EnumParity"}
HOST_NAME = re.compile(r"\b(VDeviceInterface|SMDVDevice|SMDSPDevice|SPModbus|SMDController|Provider|"
                       r"SMDSPDeviceProvider|rule_value|EnumParity|BAOSetting|get_ttime)\b")

# Operations the host implements out of line, as the plug-in may call or inherit them.
OUT_OF_LINE = {
    "SMDVDevice": {"Reset", "InitV", "InitSetting", "IsSupportDevice", "SendSP", "SendDelayData",
                   "SendDoData", "ReadDi", "ReadAi", "Get_SP_Value", "SaveDeviceHistory",
                   "CheckThreshold", "CheckThresholdBool", "CheckAOReport", "DoBatchCheckThreshold",
                   "DeviceIoControl"},
    "SMDSPDevice": {"Reset", "Init", "RefreshStatus", "IsProcessing", "IsStalled", "SendData",
                    "SendParityData", "OpenPort", "ClosePort"},
    "SPModbus": {"InitSetting", "process", "modbus_read_registers", "modbus_write_register",
                 "modbus_write_registers"},
}
# Operations the host defines inline in its header: it exports none of them.
INLINE = {"Get_Value", "DataId", "DeviceType", "UseControllerDb", "GetChildVDevice",
          "GetAllChildVDevices", "on_error"}


def split_scope(name):
    """'A::B::f' -> ('A::B', 'f'), ignoring '::' inside template arguments."""
    depth, cut = 0, -1
    for i, c in enumerate(name):
        depth += (c == "<") - (c == ">")
        if depth == 0 and name.startswith("::", i):
            cut = i
    return (name[:cut], name[cut + 2:]) if cut >= 0 else ("", name)


def verdict(symbol):
    """None when the host exports `symbol`, else why it does not."""
    for prefix in ("non-virtual thunk to ", "virtual thunk to "):
        symbol = symbol.removeprefix(prefix)
    for prefix in ("vtable for ", "typeinfo for ", "typeinfo name for "):
        if symbol.startswith(prefix) and symbol[len(prefix):] in HOST_CLASSES:
            return None
    if symbol.startswith("get_ttime("):
        return None
    name, _, params = symbol.partition("(")
    scope, op = split_scope(name)
    if op in INLINE or (op == "LoadFromCache" and params.startswith("std::")):
        return "defined inline by the host, which does not export it"
    if scope in HOST_CLASSES and op in (scope.split("::")[-1], "~" + scope.split("::")[-1]):
        return None
    if op in OUT_OF_LINE.get(scope, ()):
        return None
    return "not an operation the host implements out of line"


def main():
    listing = subprocess.run(["nm", "-D", "--undefined-only", "-C", sys.argv[1]], check=True,
                             capture_output=True, text=True).stdout
    symbols = [line.split(None, 1)[1].split("@")[0] for line in listing.splitlines() if line.strip()]
    host = [s for s in symbols if HOST_NAME.search(s)]
    faults = [(s, why) for s in host if (why := verdict(s)) is not None]
    for symbol, why in faults:
        print(f"imports {symbol}: {why}")
    if not host:
        print("imports nothing of the host: the listing is not the plug-in's")
    return 1 if faults or not host else 0


if __name__ == "__main__":
    sys.exit(main())
