// Batch programs: text services, login and logout, the command line (standin/batch.h).
#include <standin/batch.h>
#include <standin/control.h>
#include <standin/library.h>
#include <tc/tc_startup.h>
#include <tcinit/tcinit.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "state.h"

using namespace standin;
using namespace standin::detail;

namespace {

// Process-wide, as the platform's own command line and session are: a site load does not reset them.
struct Batch {
    int argc = 0;
    char** argv = nullptr;
    std::string library_folder;
    bool logged_in = false;
};

Batch& batch() {
    static Batch instance;
    return instance;
}

std::string executable_folder() { return folder_of(executable_path()); }

// Written to the system log and to standard error: the server notes a library it cannot load in
// its log and starts all the same.
void note(const std::string& text) {
    state().syslog += text + "\n";
    std::fprintf(stderr, "%s\n", text.c_str());
}

// Loads one customization library as the server does and calls its entry point.
void load_customization(const std::string& name) {
    const std::string folder = batch().library_folder.empty() ? executable_folder() : batch().library_folder;
    const std::string path = in_folder(folder, library_file_name(name));
    std::string why;
    void* handle = standin::load_library(path, &why);
    if (handle == nullptr) {
        note("customization library " + name + " (" + path + ") cannot be loaded: " + why);
        return;
    }
    const std::string entry = name + "_register_callbacks";
    void* symbol = library_function(handle, entry);
    if (symbol == nullptr) {
        note("customization library " + path + " has no entry point " + entry);
        return;
    }
    const int status = reinterpret_cast<int (*)()>(symbol)();
    if (status != ITK_ok) {
        note(entry + " returned status " + std::to_string(status));
    }
}

// A login: the customization libraries are loaded and their exits run, once per process.
int log_in() {
    Batch& b = batch();
    if (b.logged_in) {
        return ITK_ok;
    }
    b.logged_in = true;
    const auto& prefs = site().preferences;
    auto libraries = prefs.find("TC_customization_libraries");
    if (libraries != prefs.end()) {
        for (const std::string& name : libraries->second) {
            if (!name.empty()) {
                load_customization(name);
            }
        }
    }
    const int status = run_all_exits();
    if (status != ITK_ok) {
        note("the custom exits returned status " + std::to_string(status));
    }
    return ITK_ok;
}

const char* cli_argument(const char* keyword) {
    const Batch& b = batch();
    const size_t n = std::strlen(keyword);
    for (int i = 1; i < b.argc; ++i) {
        if (b.argv[i] != nullptr && std::strncmp(b.argv[i], keyword, n) == 0) {
            return b.argv[i] + n;
        }
    }
    return nullptr;
}

}  // namespace

namespace standin {

void set_command_line(int argc, char** argv) {
    batch().argc = argc;
    batch().argv = argv;
}

void set_library_folder(const std::string& folder) { batch().library_folder = folder; }

bool logged_in() { return batch().logged_in; }

}  // namespace standin

extern "C" {

int ITK_initialize_text_services(int options) {
    const Op op = Op::ITK_initialize_text_services;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (options != ITK_BATCH_TEXT_MODE) {
            return fail(op, kErrBadArgument,
                        "text services option " + std::to_string(options) + " is unknown");
        }
        return ITK_ok;
    });
}

int ITK_init_module(const char* user_id, const char* user_password, const char* user_group) {
    const Op op = Op::ITK_init_module;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (user_id == nullptr || user_password == nullptr || user_group == nullptr) {
            return fail(op, kErrNullArgument, "a required argument is null");
        }
        return log_in();
    });
}

int ITK_auto_login(void) {
    return run_op(Op::ITK_auto_login, NULLTAG, NULLTAG, [] { return log_in(); });
}

int ITK_exit_module(logical ignore_unsaved_stuff) {
    return run_op(Op::ITK_exit_module, NULLTAG, NULLTAG, [&] {
        (void)ignore_unsaved_stuff;
        batch().logged_in = false;
        return ITK_ok;
    });
}

char* ITK_ask_cli_argument(const char* keyword) {
    try {
        begin_op(Op::ITK_ask_cli_argument);
        return keyword == nullptr ? nullptr : const_cast<char*>(cli_argument(keyword));
    } catch (...) {
        return nullptr;
    }
}

}  // extern "C"
