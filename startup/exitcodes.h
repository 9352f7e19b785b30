#pragma once

// How the programs end, for the shell and the service manager; named once here.
namespace ExitCode {

inline constexpr int Success = 0;
// A catalogue command the catalogue refused (there is no such item).
inline constexpr int Refused = 1;
// A mistake on the command line or in network.conf; nothing was done.
inline constexpr int UsageError = 2;
// The network turned the server away for good (a wrong password, a refused certificate).
inline constexpr int SignOnRefused = 3;
// A data file could not be read or written.
inline constexpr int FilesFailed = 4;

} // namespace ExitCode
