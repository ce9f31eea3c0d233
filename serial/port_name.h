// Maps the port names the program uses ("COM1" ... "COM255") to device paths.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace serial_port {

// Tells whether a device path exists; injected so the mapping can be checked without devices.
using PathExists = std::function<bool(const std::string& path)>;

// "COMn" (n = 1, 2, ... without leading zeros; "com" in any case) becomes /dev/COMn when that
// exists (a udev SYMLINK+="COMn" rule gives an adapter its fixed number), else /dev/ttyS(n-1).
// A name that starts with '/' is used as is; any other name is taken relative to /dev.
std::string resolvePortName(std::string_view name, const PathExists& exists);

// The same with the real file system.
std::string resolvePortName(std::string_view name);

}  // namespace serial_port
