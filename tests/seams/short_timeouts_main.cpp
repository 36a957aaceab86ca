// The program as built for users, except that the site probe's time-out is
// taken from PAGORAMA_TEST_PROBE_TIMEOUT_MS, so whole-program tests of
// servers that never answer take seconds. Built only with the tests and
// never installed: the program itself keeps its fixed time-out.
#include "app/exception_log.h"
#include "app/program.h"
#include "app/throw_hook.h"
#include "catalogue/site_http_client.h"

PAGORAMA_DEFINE_THROW_HOOK()

int main(int argc, char** argv) {
    const int timeoutMs = qEnvironmentVariableIntValue("PAGORAMA_TEST_PROBE_TIMEOUT_MS");
    if (timeoutMs > 0)
        catalogue::TSiteHttpClient::setDefaultTimeoutMs(timeoutMs);
    app::ExceptionLogger ExceptionLogger1;
    ExceptionLogger1.start();
    return app::runPagorama(argc, argv);
}
