// A .url file's text: read, then every property the catalogue takes from it
// turned into its text as the catalogue writes it.
#include "catalogue/shortcut_file.h"
#include "fuzz_input.h"

using namespace catalogue;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ShortcutFile file;
    file.parse(fuzz::bytesOf(data, size));
    for (const PropertyName& property : ShortcutProperties)
        PropertyText(file.value(PropertySet::Shortcut, property.id));
    for (const PropertyName& property : SiteProperties)
        PropertyText(file.value(PropertySet::Site, property.id));
    return 0;
}
