#pragma once
// Raise notices for the exception log. The executable defines the C++
// runtime's throw entry (__cxa_throw) itself, with PAGORAMA_DEFINE_THROW_HOOK,
// so every throw of the process, from our code or a library's, passes
// through forwardThrow first: it reports the exception to the started
// exception logger and then hands it, unchanged, to the runtime's own throw.
#include <QString>
#include <QStringList>

#include <optional>
#include <typeinfo>

namespace app {

[[noreturn]] void forwardThrow(void* object, std::type_info* type, void (*destroy)(void*),
                               const void* raiseAddress);

// True once a throw has passed through forwardThrow: raise notices work.
bool throwsInterposed();

struct ThrownDescription {
    QString className;
    std::optional<QString> message; // the what() of a std::exception
};

// The demangled class name of a thrown object and, when its type is derived
// from std::exception (decided the way a catch clause decides it), its message.
ThrownDescription describeThrown(const void* object, const std::type_info* type);

// A type name as written in the source; the raw name when it cannot be demangled.
QString demangledName(const char* name);

// The current call stack, one line per frame: address, module and, where
// the module exports it, the procedure. Starts at the frame whose return
// address is from (the raise point) when it is on the stack.
QStringList captureStack(const void* from);

} // namespace app

// Defines the process's __cxa_throw. Use it once, in the executable only,
// in a file that does not include <cxxabi.h> (the type is passed as void*,
// as the compiler itself declares the function for throw expressions).
#define PAGORAMA_DEFINE_THROW_HOOK()                                                               \
    extern "C" [[noreturn]] void __cxa_throw(void* object, void* type, void (*destroy)(void*)) {   \
        app::forwardThrow(object, static_cast<std::type_info*>(type), destroy,                     \
                          __builtin_return_address(0));                                            \
    }
