// The body of an edit form post: split into fields, each name and value
// decoded, and the values put through the checks and cleaning that keep a
// posted name from becoming a path.
#include "fuzz_input.h"
#include "webserver/edit_form.h"

using namespace webserver;

namespace {

void checkName(const QString& text) {
    const QString cleaned = CleanFileName(text);
    FUZZ_CHECK(cleaned.isEmpty() || (IsSafeName(cleaned) && !cleaned.startsWith('.') &&
                                     cleaned.toUtf8().size() <= MaxNameBytes));
    FUZZ_CHECK(IsSafeName(SafeNameFromTitle(text, text)));
    const QString cut = CutToUtf8Bytes(text, 7);
    FUZZ_CHECK(text.startsWith(cut) && cut.toUtf8().size() <= 7);
    if (const std::optional<qint64> order = ParseSortOrder(text))
        FUZZ_CHECK(*order >= -0xFFFFFFFFLL && *order <= 0xFFFFFFFFLL);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body = fuzz::bytesOf(data, size);
    QList<QByteArray> fields;
    FUZZ_CHECK(SplitFields(body, '&', fields) == fields.size());
    FUZZ_CHECK(fields.join('&') == body);
    for (const QByteArray& field : fields) {
        const qsizetype equals = field.indexOf('=');
        for (const QByteArray& part : {field.left(equals), field.mid(equals + 1)}) {
            const QByteArray decoded = DecodeFormValue(part);
            FUZZ_CHECK(decoded.size() <= part.size());
            checkName(QString::fromUtf8(decoded));
        }
    }
    return 0;
}
