#include "catalogue/picture_step.h"

#include "catalogue/run_trace.h"

namespace catalogue {

bool IsReachableCode(int code) {
    return code == 200 || code == 501 || code == 301 || code == 302 || code == -97;
}

QString FileTypePattern(const QString& url) {
    const qsizetype dot = url.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return QStringLiteral("*.exe");
    return QLatin1Char('*') + url.mid(dot);
}

void RunPictureStep(const PictureStepInput& in, PictureProbe& probe, PageRenderer* renderer,
                    RunTrace& trace, QByteArray& currentLink) {
    // Filled in by the following commits; for now only the status code piece.
    Q_UNUSED(renderer);
    Q_UNUSED(trace);
    const int code = probe.FetchStatus(in.finalUrl, false);
    currentLink += "CODE = \"" + QByteArray::number(code) + "\" \n\r";
}

} // namespace catalogue
