#include "app/resources_init.h"

#include <QtCore/qglobal.h>

static void registerAppResources() {
    Q_INIT_RESOURCE(app);
}

namespace app {

void initResources() {
    static const bool done = (registerAppResources(), true);
    (void)done;
}

} // namespace app
