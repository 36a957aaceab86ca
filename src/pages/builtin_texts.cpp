#include "pages/builtin_texts.h"

#include <QFile>

#include <mutex>

// Resources of a static library are registered by hand: nothing else would
// pull their object file into the program.
static void registerPageTemplates() {
    Q_INIT_RESOURCE(page_templates);
}

namespace pages {

namespace {

const char* resourceName(BuiltinText which) {
    switch (which) {
    case BuiltinText::View:
        return "view.xsl";
    case BuiltinText::Edit:
        return "edit.xsl";
    case BuiltinText::Folders:
        return "folders.xsl";
    case BuiltinText::ViewFrame:
        return "viewer.xsl";
    case BuiltinText::ViewHead:
        return "view_header.xsl";
    case BuiltinText::EditFrame:
        return "editor.xsl";
    case BuiltinText::EditHead:
        return "edit_header.xsl";
    case BuiltinText::EditFooter:
        return "edit_footer.xsl";
    case BuiltinText::Reloader:
        return "reloader.xsl";
    case BuiltinText::History:
        return "history.xsl";
    case BuiltinText::Overview:
        return "overview.xsl";
    case BuiltinText::NotRunPage:
        return "notrun.htm";
    case BuiltinText::NotRunHistory:
        return "notrun_history.htm";
    case BuiltinText::StartPage:
        return "start.htm";
    case BuiltinText::StandbyCatalogue:
        return "standby.xml";
    }
    return "";
}

} // namespace

QByteArray builtinText(BuiltinText which) {
    static std::once_flag registered;
    std::call_once(registered, registerPageTemplates);
    QFile file(QStringLiteral(":/pages/templates/") + QLatin1String(resourceName(which)));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("built-in page text %s is missing", resourceName(which));
    return file.readAll();
}

QByteArray withCrLfLines(const QByteArray& text) {
    QByteArray out;
    out.reserve(text.size() + text.size() / 16 + 2);
    qsizetype lineStart = 0;
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char c = text[i];
        if (c != '\n' && c != '\r')
            continue;
        out.append(text.constData() + lineStart, i - lineStart);
        out.append("\r\n", 2);
        if (c == '\r' && i + 1 < size && text[i + 1] == '\n')
            ++i;
        lineStart = i + 1;
    }
    if (lineStart < size) {
        out.append(text.constData() + lineStart, size - lineStart);
        out.append("\r\n", 2);
    }
    return out;
}

} // namespace pages
