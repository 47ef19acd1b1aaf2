// Custom exits and user services: the registrations, the platform's side that runs exits and
// calls services, and the argument queue of a running service.
#include <ict/ict_userservice.h>
#include <tccore/custom.h>

#include <cstdarg>

#include "state.h"

using namespace standin;
using namespace standin::detail;

namespace {

int call_exit(CUSTOM_EXIT_ftn_t f, int* decision, ...) {
    va_list args;
    va_start(args, decision);
    const int status = f(decision, args);
    va_end(args);
    return status;
}

ServiceCall* current_call() {
    auto& stack = state().service_stack;
    return stack.empty() ? nullptr : stack.back().get();
}

// The next queued argument if it is of the wanted kind; pushes the failure otherwise.
const UserArg* next_argument(Op op, UserArg::Kind kind, int* status) {
    static const char* const names[] = {"a tag", "a double", "an array of doubles", "an array of tags"};
    ServiceCall* call = current_call();
    if (call == nullptr || call->next >= call->args.size()) {
        *status = fail(op, kErrUserArg, "no argument left");
        return nullptr;
    }
    const UserArg& arg = call->args[call->next];
    if (arg.kind != kind) {
        *status = fail(
            op, kErrUserArg,
            "argument " + std::to_string(call->next + 1) + " is " + names[arg.kind] + ", not " + names[kind]);
        return nullptr;
    }
    ++call->next;
    *status = ITK_ok;
    return &arg;
}

}  // namespace

extern "C" {

int CUSTOM_register_exit(const char* context, const char* base_ftn_name, CUSTOM_EXIT_ftn_t custom_ftn) {
    const Op op = Op::CUSTOM_register_exit;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (context == nullptr || base_ftn_name == nullptr || custom_ftn == nullptr) {
            return fail(op, kErrNullArgument, "a required argument is null");
        }
        for (const ExitRecord& e : state().exits) {
            if (e.context == context && e.name == base_ftn_name) {
                return fail(op, kErrDuplicate,
                            "exit \"" + std::string(base_ftn_name) + "\" is already registered for \"" +
                                context + "\"");
            }
        }
        state().exits.push_back({context, base_ftn_name, custom_ftn});
        return ITK_ok;
    });
}

int USERSERVICE_register_method(char* functionName, USER_function_t functionPtr, int numberOfArguments,
                                int* argumentList, int returnValueType) {
    const Op op = Op::USERSERVICE_register_method;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (functionName == nullptr || functionPtr == nullptr ||
            (argumentList == nullptr && numberOfArguments > 0)) {
            return fail(op, kErrNullArgument, "a required argument is null");
        }
        if (numberOfArguments < 0) {
            return fail(op, kErrBadArgument, "negative argument count");
        }
        for (const ServiceRecord& s : state().services) {
            if (s.name == functionName) {
                return fail(op, kErrDuplicate,
                            "service \"" + std::string(functionName) + "\" is already registered");
            }
        }
        // The caller's table is a temporary: keep a copy.
        ServiceRecord record{functionName, functionPtr, numberOfArguments,
                             std::vector<int>(argumentList, argumentList + numberOfArguments),
                             returnValueType};
        state().services.push_back(std::move(record));
        return ITK_ok;
    });
}

int USERARG_get_tag_argument(tag_t* arg) {
    const Op op = Op::USERARG_get_tag_argument;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (arg == nullptr) {
            return fail(op, kErrNullArgument, "the argument pointer is null");
        }
        int status = ITK_ok;
        if (const UserArg* a = next_argument(op, UserArg::Tag, &status)) {
            *arg = a->tag;
        }
        return status;
    });
}

int USERARG_get_double_argument(double* arg) {
    const Op op = Op::USERARG_get_double_argument;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (arg == nullptr) {
            return fail(op, kErrNullArgument, "the argument pointer is null");
        }
        int status = ITK_ok;
        if (const UserArg* a = next_argument(op, UserArg::Double, &status)) {
            *arg = a->value;
        }
        return status;
    });
}

// The arrays handed out are the queue's own storage: valid until the service returns, never
// MEM_alloc blocks (freeing one counts as misuse).
int USERARG_get_double_array_argument(int* length, double** args) {
    const Op op = Op::USERARG_get_double_array_argument;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (length == nullptr || args == nullptr) {
            return fail(op, kErrNullArgument, "an output pointer is null");
        }
        int status = ITK_ok;
        if (const UserArg* a = next_argument(op, UserArg::DoubleArray, &status)) {
            *length = static_cast<int>(a->doubles.size());
            *args = a->doubles.empty() ? nullptr : const_cast<double*>(a->doubles.data());
        }
        return status;
    });
}

int USERARG_get_tag_array_argument(int* length, tag_t** args) {
    const Op op = Op::USERARG_get_tag_array_argument;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (length == nullptr || args == nullptr) {
            return fail(op, kErrNullArgument, "an output pointer is null");
        }
        int status = ITK_ok;
        if (const UserArg* a = next_argument(op, UserArg::TagArray, &status)) {
            *length = static_cast<int>(a->tags.size());
            *args = a->tags.empty() ? nullptr : const_cast<tag_t*>(a->tags.data());
        }
        return status;
    });
}

int USERSERVICE_return_tag_array(const tag_t* array, int arrayLength, USERSERVICE_array_t* arrayStruct) {
    const Op op = Op::USERSERVICE_return_tag_array;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (arrayStruct == nullptr || (array == nullptr && arrayLength > 0)) {
            return fail(op, kErrNullArgument, "a required argument is null");
        }
        if (arrayLength < 0) {
            return fail(op, kErrBadArgument, "negative array length");
        }
        // A copy the platform owns; the caller keeps its array.
        ServiceCall* call = current_call();
        std::vector<tag_t>& store = call != nullptr ? call->returned : state().loose_return;
        store.assign(array, array + arrayLength);
        if (call != nullptr) {
            call->handed_back = true;
        }
        arrayStruct->length = arrayLength;
        arrayStruct->array = store.empty() ? nullptr : store.data();
        return ITK_ok;
    });
}

}  // extern "C"

namespace standin {

int run_exit(const std::string& exit_name, int* decision) {
    State& s = state();
    std::vector<CUSTOM_EXIT_ftn_t> fns;
    for (const ExitRecord& e : s.exits) {
        if (e.name == exit_name) {
            fns.push_back(e.fn);
        }
    }
    int local = NO_CUSTOMIZATION;
    int* d = decision != nullptr ? decision : &local;
    int status = ITK_ok;
    for (CUSTOM_EXIT_ftn_t fn : fns) {
        ++s.exit_depth;
        const int st = call_exit(fn, d);
        --s.exit_depth;
        status = status == ITK_ok ? st : status;
        // Type registration functions handed over by this exit run right after it.
        const int reg = run_pending_registrations();
        status = status == ITK_ok ? reg : status;
    }
    return status;
}

int run_all_exits() {
    int status = ITK_ok;
    for (const char* name :
         {"USER_init_module", "USER_register_properties", "USERSERVICE_register_methods"}) {
        int decision = NO_CUSTOMIZATION;
        const int st = run_exit(name, &decision);
        status = status == ITK_ok ? st : status;
    }
    return status;
}

int call_service(const std::string& name, const std::vector<UserArg>& args, std::vector<tag_t>* returned,
                 bool* handed_back) {
    State& s = state();
    USER_function_t fn = nullptr;
    for (const ServiceRecord& r : s.services) {
        if (r.name == name) {
            fn = r.fn;
        }
    }
    if (returned != nullptr) {
        returned->clear();
    }
    if (handed_back != nullptr) {
        *handed_back = false;
    }
    if (fn == nullptr) {
        push_error(3, kErrBadArgument, "call_service: no service \"" + name + "\"");
        return kErrBadArgument;
    }
    auto call = std::make_unique<ServiceCall>();
    call->args = args;
    s.service_stack.push_back(std::move(call));
    USERSERVICE_array_t holder{0, nullptr};
    const int status = fn(&holder);
    const std::unique_ptr<ServiceCall> done = std::move(s.service_stack.back());
    s.service_stack.pop_back();
    if (returned != nullptr) {
        *returned = done->returned;
    }
    if (handed_back != nullptr) {
        *handed_back = done->handed_back;
    }
    return status;
}

std::vector<std::pair<std::string, std::string>> registered_exits() {
    std::vector<std::pair<std::string, std::string>> out;
    for (const ExitRecord& e : state().exits) {
        out.emplace_back(e.context, e.name);
    }
    return out;
}

std::vector<std::string> registered_services() {
    std::vector<std::string> out;
    for (const ServiceRecord& r : state().services) {
        out.push_back(r.name);
    }
    return out;
}

std::vector<ServiceInfo> service_infos() {
    std::vector<ServiceInfo> out;
    for (const ServiceRecord& r : state().services) {
        out.push_back(ServiceInfo{r.name, r.argument_count, r.argument_types, r.return_type});
    }
    return out;
}

}  // namespace standin
