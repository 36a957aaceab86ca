// A registry store file: read, and when it reads, written and read again,
// which must give the same text.
#include "fuzz_input.h"
#include "platform/registry_text.h"

using namespace platform::regtext;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Store store;
    int errorLine = 0;
    QString reason;
    if (!parse(fuzz::bytesOf(data, size), &store, &errorLine, &reason)) {
        FUZZ_CHECK(errorLine > 0 && !reason.isEmpty());
        return 0;
    }
    const QByteArray written = serialize(store);
    Store again;
    FUZZ_CHECK(parse(written, &again, &errorLine, &reason));
    FUZZ_CHECK(serialize(again) == written);
    return 0;
}
