#pragma once
// The program's icons and pages are compiled into the app library; a static
// library's resources must be registered before first use.
namespace app {
void initResources();
}
