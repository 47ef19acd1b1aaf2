// Loading customization libraries (standin/library.h).
#include <standin/library.h>

#if defined(_WIN32)
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <vector>

namespace standin {

#if defined(_WIN32)

namespace {

std::string last_error_text() {
    const DWORD code = GetLastError();
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason = n != 0 && text != nullptr ? std::string(text, n) : "error " + std::to_string(code);
    if (text != nullptr) {
        LocalFree(text);
    }
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' ')) {
        reason.pop_back();
    }
    std::replace(reason.begin(), reason.end(), '\n', ' ');
    std::replace(reason.begin(), reason.end(), '\r', ' ');
    return reason + " (error " + std::to_string(code) + ")";
}

}  // namespace

std::string library_file_name(const std::string& name) { return name + ".dll"; }

void* load_library(const std::string& path, std::string* error) {
    // No error dialog box for a missing or broken library: the caller reports it.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr && error != nullptr) {
        *error = last_error_text();
    }
    SetErrorMode(previous);
    return reinterpret_cast<void*>(module);
}

void* library_function(void* library, const std::string& name) {
    FARPROC function = GetProcAddress(reinterpret_cast<HMODULE>(library), name.c_str());
    return reinterpret_cast<void*>(function);
}

std::string executable_path() {
    std::vector<char> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) {
            return "";
        }
        if (n < buffer.size()) {
            return std::string(buffer.data(), n);
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string in_folder(const std::string& folder, const std::string& file) { return folder + "\\" + file; }

std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool same_file(const std::string& a, const std::string& b) {
    BY_HANDLE_FILE_INFORMATION info[2];
    const std::string* paths[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        HANDLE file =
            CreateFileA(paths[i]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            return false;
        }
        const BOOL ok = GetFileInformationByHandle(file, &info[i]);
        CloseHandle(file);
        if (!ok) {
            return false;
        }
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

#else

std::string library_file_name(const std::string& name) { return "lib" + name + ".so"; }

void* load_library(const std::string& path, std::string* error) {
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr && error != nullptr) {
        const char* why = dlerror();
        *error = why != nullptr ? why : "unknown reason";
        std::replace(error->begin(), error->end(), '\n', ' ');
    }
    return handle;
}

void* library_function(void* library, const std::string& name) {
    dlerror();
    return dlsym(library, name.c_str());
}

std::string executable_path() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0) {
            return "";
        }
        if (static_cast<size_t>(n) < buffer.size()) {
            return std::string(buffer.data(), static_cast<size_t>(n));
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string in_folder(const std::string& folder, const std::string& file) { return folder + "/" + file; }

std::string folder_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool same_file(const std::string& a, const std::string& b) {
    struct stat sa, sb;
    return !a.empty() && !b.empty() && stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 &&
           sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

#endif

}  // namespace standin
