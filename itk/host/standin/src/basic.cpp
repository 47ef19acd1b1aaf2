// Memory, the error stack, preferences, version, environment and the system log.
#include <base_utils/Mem.h>
#include <tc/emh.h>
#include <tc/preferences.h>
#include <tc/tc_startup.h>
#include <tc/tc_util.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "state.h"

using namespace standin;
using namespace standin::detail;

namespace {

const std::vector<std::string>* preference(const char* name) {
    const auto& prefs = site().preferences;
    auto it = prefs.find(name);
    return it == prefs.end() ? nullptr : &it->second;
}

}  // namespace

extern "C" {

void* MEM_alloc(int n_bytes) {
    try {
        // An injected failure answers null and leaves nothing on the error stack.
        if (begin_op(Op::MEM_alloc) != 0 || n_bytes < 0) {
            return nullptr;
        }
        return alloc_block(static_cast<size_t>(n_bytes));
    } catch (...) {
        return nullptr;
    }
}

void MEM_free(void* ptr) {
    try {
        begin_op(Op::MEM_free);
        free_block(ptr);
    } catch (...) {
    }
}

int EMH_ask_errors(int* n_ifails, const int** severities, const int** ifails, const char*** texts) {
    const Op op = Op::EMH_ask_errors;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (n_ifails == nullptr || severities == nullptr || ifails == nullptr || texts == nullptr) {
            return fail(op, kErrNullArgument, "an output pointer is null");
        }
        // The arrays stay the platform's: valid until the stack changes.
        State& s = state();
        s.ask_severities.clear();
        s.ask_codes.clear();
        s.ask_texts.clear();
        for (const ErrorEntry& e : s.errors) {
            s.ask_severities.push_back(e.severity);
            s.ask_codes.push_back(e.code);
            s.ask_texts.push_back(e.text.c_str());
        }
        *n_ifails = static_cast<int>(s.errors.size());
        *severities = s.ask_severities.empty() ? nullptr : s.ask_severities.data();
        *ifails = s.ask_codes.empty() ? nullptr : s.ask_codes.data();
        *texts = s.ask_texts.empty() ? nullptr : s.ask_texts.data();
        return ITK_ok;
    });
}

int EMH_clear_errors(void) {
    return run_op(Op::EMH_clear_errors, NULLTAG, NULLTAG, [] {
        state().errors.clear();
        return ITK_ok;
    });
}

int PREF_ask_search_scope(TC_preference_search_scope_t* scope) {
    const Op op = Op::PREF_ask_search_scope;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (scope == nullptr) {
            return fail(op, kErrNullArgument, "the scope pointer is null");
        }
        *scope = static_cast<TC_preference_search_scope_t>(site().search_scope);
        return ITK_ok;
    });
}

int PREF_set_search_scope(TC_preference_search_scope_t scope) {
    const Op op = Op::PREF_set_search_scope;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        const int value = static_cast<int>(scope);
        if (value < TC_preference_all || value > TC_preference_site) {
            return fail(op, kErrBadArgument, "search scope " + std::to_string(value) + " is out of range");
        }
        site().search_scope = value;
        return ITK_ok;
    });
}

int PREF_ask_value_count(const char* preference_name, int* value_count) {
    const Op op = Op::PREF_ask_value_count;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (preference_name == nullptr || value_count == nullptr) {
            return fail(op, kErrNullArgument, "a required argument is null");
        }
        const auto* values = preference(preference_name);
        *value_count = values == nullptr ? 0 : static_cast<int>(values->size());
        return ITK_ok;
    });
}

int PREF_ask_char_value(const char* preference_name, int index, char** value) {
    const Op op = Op::PREF_ask_char_value;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (preference_name == nullptr || value == nullptr) {
            return fail(op, kErrNullArgument, "a required argument is null");
        }
        const auto* values = preference(preference_name);
        const size_t n = values == nullptr ? 0 : values->size();
        if (index < 0 || static_cast<size_t>(index) >= n) {
            return fail(op, kErrIndexRange,
                        "index " + std::to_string(index) + " is beyond the " + std::to_string(n) +
                            " value(s) of \"" + preference_name + "\"");
        }
        *value = copy_text((*values)[static_cast<size_t>(index)]);
        return ITK_ok;
    });
}

int PREF_ask_char_values(const char* preference_name, int* count, char*** value) {
    const Op op = Op::PREF_ask_char_values;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (preference_name == nullptr || count == nullptr || value == nullptr) {
            return fail(op, kErrNullArgument, "a required argument is null");
        }
        *count = 0;
        *value = nullptr;
        const auto* values = preference(preference_name);
        if (values == nullptr || values->empty()) {
            return ITK_ok;
        }
        // One block: the pointer array, then the texts.
        size_t size = values->size() * sizeof(char*);
        for (const std::string& v : *values) {
            size += v.size() + 1;
        }
        char** block = static_cast<char**>(alloc_block(size));
        char* text = reinterpret_cast<char*>(block + values->size());
        for (size_t i = 0; i < values->size(); ++i) {
            std::memcpy(text, (*values)[i].c_str(), (*values)[i].size() + 1);
            block[i] = text;
            text += (*values)[i].size() + 1;
        }
        *count = static_cast<int>(values->size());
        *value = block;
        return ITK_ok;
    });
}

int ITK_ask_version(int* version) {
    const Op op = Op::ITK_ask_version;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (version == nullptr) {
            return fail(op, kErrNullArgument, "the version pointer is null");
        }
        *version = site().version;
        return ITK_ok;
    });
}

const char* TC_getenv(const char* name) {
    try {
        begin_op(Op::TC_getenv);
        if (name == nullptr) {
            return nullptr;
        }
        const char* value = env_value(site(), name);
        if (value == nullptr) {
            return nullptr;
        }
        // Handed-out texts stay valid for the life of the process, whatever changes later.
        return state().env_values.insert(value).first->c_str();
    } catch (...) {
        return nullptr;
    }
}

void TC_write_syslog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    try {
        begin_op(Op::TC_write_syslog);
        if (format != nullptr) {
            va_list copy;
            va_copy(copy, args);
            const int n = std::vsnprintf(nullptr, 0, format, copy);
            va_end(copy);
            if (n > 0) {
                std::string text(static_cast<size_t>(n) + 1, '\0');
                std::vsnprintf(&text[0], text.size(), format, args);
                text.resize(static_cast<size_t>(n));
                state().syslog += text;
            }
        }
    } catch (...) {
    }
    va_end(args);
}

}  // extern "C"
