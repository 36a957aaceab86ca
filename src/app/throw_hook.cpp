#include "app/throw_hook.h"

#include "app/exception_log.h"

#include <QFileInfo>

#include <atomic>
#include <cstdlib>
#include <cxxabi.h>
#include <dlfcn.h>
#include <exception>
#include <execinfo.h>
#include <memory>

namespace app {

namespace {

using CxaThrow = void (*)(void*, std::type_info*, void (*)(void*));

std::atomic<bool> interposed{false};

CxaThrow runtimeThrow() {
    // The next definition after the executable's own is the runtime's.
    static const CxaThrow next = reinterpret_cast<CxaThrow>(dlsym(RTLD_NEXT, "__cxa_throw"));
    return next;
}

struct Raise {
    const void* object;
    const std::type_info* type;
    const void* address;
};

ExceptionRecord describeRaise(const void* context) {
    const auto& raise = *static_cast<const Raise*>(context);
    const ThrownDescription thrown = describeThrown(raise.object, raise.type);
    return {thrown.className, thrown.message, raise.address, {}};
}

QString hexAddress(const void* address) {
    return QStringLiteral("0x") + QString::number(reinterpret_cast<quintptr>(address), 16)
                                      .rightJustified(int(sizeof(void*) * 2), QLatin1Char('0'));
}

QString describeFrame(const void* address) {
    QString line = hexAddress(address);
    Dl_info info{};
    // A return address may lie just past the end of its caller: look up the
    // byte before it, which is inside the call instruction.
    const auto* inside = static_cast<const char*>(address) - 1;
    if (!dladdr(inside, &info))
        return line;
    if (info.dli_fname && *info.dli_fname)
        line += QLatin1Char(' ') + QFileInfo(QString::fromLocal8Bit(info.dli_fname)).fileName();
    if (info.dli_sname && info.dli_saddr) {
        const auto offset =
            static_cast<const char*>(address) - static_cast<const char*>(info.dli_saddr);
        line += QStringLiteral(" (%1+0x%2)")
                    .arg(demangledName(info.dli_sname), QString::number(offset, 16));
    }
    return line;
}

} // namespace

void forwardThrow(void* object, std::type_info* type, void (*destroy)(void*),
                  const void* raiseAddress) {
    interposed.store(true, std::memory_order_relaxed);
    if (ExceptionLogger::anyStarted()) {
        const Raise raise{object, type, raiseAddress};
        ExceptionLogger::notify(ReportSource::Raise, &describeRaise, &raise);
    }
    const CxaThrow next = runtimeThrow();
    if (!next)
        std::abort(); // no runtime to hand the exception to
    next(object, type, destroy);
    std::abort(); // the runtime's throw does not return
}

bool throwsInterposed() {
    return interposed.load(std::memory_order_relaxed);
}

QString demangledName(const char* name) {
    if (!name)
        return {};
    int status = 0;
    std::unique_ptr<char, decltype(&std::free)> readable(
        abi::__cxa_demangle(name, nullptr, nullptr, &status), &std::free);
    return QString::fromUtf8(status == 0 && readable ? readable.get() : name);
}

ThrownDescription describeThrown(const void* object, const std::type_info* type) {
    ThrownDescription thrown;
    if (!type)
        return thrown;
    thrown.className = demangledName(type->name());
    // Ask the runtime whether "catch (std::exception&)" would take this
    // object, and where its std::exception part lies (multiple inheritance
    // moves it). Private or ambiguous bases are refused, as in a catch.
    // Pointers are never std::exception objects.
    if (!object || type->__is_pointer_p())
        return thrown;
    void* adjusted = const_cast<void*>(object);
    if (typeid(std::exception).__do_catch(type, &adjusted, 1) && adjusted)
        thrown.message = QString::fromUtf8(static_cast<const std::exception*>(adjusted)->what());
    return thrown;
}

QStringList captureStack(const void* from) {
    void* frames[128];
    const int count = backtrace(frames, int(std::size(frames)));
    int first = 0;
    for (int i = 0; i < count; ++i)
        if (frames[i] == from) {
            first = i;
            break;
        }
    QStringList lines;
    for (int i = first; i < count; ++i)
        lines << describeFrame(frames[i]);
    return lines;
}

} // namespace app
