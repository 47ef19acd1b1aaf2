// Loading a customization library as the server does on each system: by file, then its entry
// point looked up by name (dlopen and dlsym; on Windows LoadLibrary and GetProcAddress). For
// kep-host, the batch login and the tests.
#ifndef STANDIN_LIBRARY_H
#define STANDIN_LIBRARY_H

#include <string>

namespace standin {

// The file name of library `name` on this system: "lib<name>.so", or "<name>.dll" on Windows.
std::string library_file_name(const std::string& name);

// Loads the library file at `path`. Null on failure, with *error (when given) saying why in one
// line.
void* load_library(const std::string& path, std::string* error);

// The address of the exported function `name` of a loaded library, null when it exports none.
void* library_function(void* library, const std::string& name);

// The full path of the running program, "" when it cannot be found.
std::string executable_path();

// `file` in `folder`, joined with the system's separator.
std::string in_folder(const std::string& folder, const std::string& file);

// The folder part of a path (before its last '/' or, on Windows, '\'); "." when there is none.
std::string folder_of(const std::string& path);

// Whether two paths name the same existing file (on Windows by volume and file index, elsewhere
// by device and inode).
bool same_file(const std::string& a, const std::string& b);

}  // namespace standin

#endif
