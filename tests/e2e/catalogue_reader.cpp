#include "catalogue_reader.h"

#include <QRegularExpression>
#include <QXmlStreamReader>

namespace e2e {

QString CatalogueLink::value(const QString& name) const {
    for (const auto& attribute : attributes)
        if (attribute.first == name)
            return attribute.second;
    return {};
}

bool CatalogueLink::has(const QString& name) const {
    return names().contains(name);
}

QStringList CatalogueLink::names() const {
    QStringList list;
    for (const auto& attribute : attributes)
        list << attribute.first;
    return list;
}

QStringList CatalogueFolder::descriptions() const {
    QStringList list;
    for (const CatalogueLink& link : links)
        list << link.value("DESCRIPTION");
    return list;
}

QList<CatalogueFolder> readCatalogue(const QByteArray& xml, QString* error) {
    QList<CatalogueFolder> folders;
    QXmlStreamReader reader(xml);
    while (!reader.atEnd()) {
        reader.readNext();
        if (!reader.isStartElement())
            continue;
        if (reader.name() == u"Folder") {
            folders.append({reader.attributes().value("Location").toString(), {}});
        } else if (reader.name() == u"Link" && !folders.isEmpty()) {
            CatalogueLink link;
            for (const QXmlStreamAttribute& attribute : reader.attributes())
                link.attributes.append({attribute.name().toString(), attribute.value().toString()});
            folders.last().links.append(link);
        }
    }
    if (reader.hasError())
        *error = reader.errorString();
    return folders;
}

CatalogueLink findLink(const QList<CatalogueFolder>& folders, const QString& description) {
    for (const CatalogueFolder& folder : folders)
        for (const CatalogueLink& link : folder.links)
            if (link.value("DESCRIPTION") == description)
                return link;
    return {};
}

QByteArray withoutRunMarks(QByteArray catalogue) {
    QString text = QString::fromUtf8(catalogue);
    text.replace(QRegularExpression("Time=\"\\d+\""), "Time=\"\"");
    text.replace(QRegularExpression("images\\\\[0-9A-F]{8}"), "images\\RUN");
    return text.toUtf8();
}

} // namespace e2e
