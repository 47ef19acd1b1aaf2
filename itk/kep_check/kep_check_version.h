// `kep_check -version`: the utility's own version, and the path, version, build and date of the
// extension library it loaded, read from that library: on Unix from its ident lines (the
// "@(#) KEPVersion: " lines of its file), on Windows from its version resource (FileVersion,
// KEPBuild, KEPDate). The library is the one the dynamic loader gave the utility, found by its
// name (libkep.so.<major>, kep.dll) among the libraries the process has loaded.
#ifndef KEP_CHECK_VERSION_H
#define KEP_CHECK_VERSION_H

#include <ostream>

namespace kep_check {

// Whether the command line holds -version.
bool version_requested(int argc, char* argv[]);

// Writes the versions; returns 0, or 2 when the extension library or its version cannot be read
// (one line on `err`).
int write_versions(std::ostream& out, std::ostream& err);

}  // namespace kep_check

#endif
