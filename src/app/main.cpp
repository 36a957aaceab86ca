#include "app/exception_log.h"
#include "app/program.h"
#include "app/throw_hook.h"

// Every throw of the process passes through the exception log first.
PAGORAMA_DEFINE_THROW_HOOK()

int main(int argc, char** argv) {
    app::ExceptionLogger ExceptionLogger1;
    ExceptionLogger1.start();
    return app::runPagorama(argc, argv);
}
