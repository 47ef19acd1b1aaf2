// `kep_check -version` (kep_check_version.h).
#include "kep_check_version.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "kep_version.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

namespace kep_check {

namespace {

struct LibraryVersion {
    std::string path;
    std::string version;
    std::string build;
    std::string date;
};

#if defined(_WIN32)

std::string narrow(const wchar_t* text) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) {
        return std::string();
    }
    std::string result(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &result[0], size, nullptr, nullptr);
    result.resize(static_cast<size_t>(size - 1));
    return result;
}

// kep.dll as the process loaded it, and the strings of its version resource.
bool read_library(LibraryVersion* library, std::string* error) {
    HMODULE module = GetModuleHandleW(L"kep.dll");
    if (module == nullptr) {
        *error = "kep.dll is not loaded";
        return false;
    }
    wchar_t path[32768];
    const DWORD length = GetModuleFileNameW(module, path, static_cast<DWORD>(sizeof path / sizeof path[0]));
    if (length == 0 || length >= sizeof path / sizeof path[0]) {
        *error = "the path of kep.dll cannot be asked";
        return false;
    }
    library->path = narrow(path);
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
    std::string data(size, '\0');
    if (size == 0 || !GetFileVersionInfoW(path, 0, size, &data[0])) {
        *error = library->path + " has no version resource";
        return false;
    }
    auto value = [&](const wchar_t* name) {
        std::wstring key = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
        void* text = nullptr;
        UINT chars = 0;
        if (!VerQueryValueW(&data[0], key.c_str(), &text, &chars) || text == nullptr || chars == 0) {
            return std::string();
        }
        return narrow(static_cast<const wchar_t*>(text));
    };
    library->version = value(L"FileVersion");
    library->build = value(L"KEPBuild");
    library->date = value(L"KEPDate");
    return true;
}

#else

#define KEP_CHECK_TEXT(x) #x
#define KEP_CHECK_NUMBER(x) KEP_CHECK_TEXT(x)

// The text after `marker` up to the next zero byte, or "".
std::string ident(const std::string& image, const char* marker) {
    const size_t at = image.find(marker);
    if (at == std::string::npos) {
        return std::string();
    }
    const size_t begin = at + std::strlen(marker);
    return image.substr(begin, image.find('\0', begin) - begin);
}

// libkep as the process loaded it (by its soname), and the ident lines of its file.
bool read_library(LibraryVersion* library, std::string* error) {
    const char* soname = "libkep.so." KEP_CHECK_NUMBER(KEP_VERSION_MAJOR);
    void* handle = dlopen(soname, RTLD_LAZY | RTLD_NOLOAD);
    void* entry = handle != nullptr ? dlsym(handle, "kep_register_callbacks") : nullptr;
    Dl_info info;
    if (entry == nullptr || dladdr(entry, &info) == 0 || info.dli_fname == nullptr) {
        if (handle != nullptr) {
            dlclose(handle);
        }
        *error = std::string(soname) + " is not loaded";
        return false;
    }
    library->path = info.dli_fname;
    dlclose(handle);
    std::ifstream in(library->path, std::ios::binary);
    const std::string image((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    library->version = ident(image, "@(#) KEPVersion: ");
    library->build = ident(image, "@(#) KEPBuild: ");
    library->date = ident(image, "@(#) KEPDate: ");
    if (library->version.empty()) {
        *error = library->path + " has no ident lines";
        return false;
    }
    return true;
}

#endif

}  // namespace

bool version_requested(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i) {
        if (argv[i] != nullptr && std::strcmp(argv[i], "-version") == 0) {
            return true;
        }
    }
    return false;
}

int write_versions(std::ostream& out, std::ostream& err) {
    out << "kep_check " << KEP_VERSION << '\n';
    LibraryVersion library;
    std::string error;
    if (!read_library(&library, &error)) {
        out.flush();
        err << "kep_check: " << error << '\n';
        return 2;
    }
    out << "extension library: " << library.path << '\n'
        << "  version: " << library.version << '\n'
        << "  build: " << library.build << '\n'
        << "  date: " << library.date << '\n';
    return 0;
}

}  // namespace kep_check
