#include "catalogue/organiser_edits.h"

#include "catalogue/favourite_order.h"
#include "platform/registry.h"

namespace catalogue {

namespace {

const QString OrderValueName = QStringLiteral("Order");

} // namespace

OrganiserEdits::Folder& OrganiserEdits::folder(const QString& location) {
    auto found = folders_.find(location);
    if (found != folders_.end())
        return found.value();
    Folder& folder = folders_[location];
    platform::RegistryKey key;
    if (key.open(platform::RegistryHive::CurrentUser, MenuOrderKeyPath(location), false) ==
            platform::regerror::Success &&
        key.valueSize(OrderValueName) >= 0)
        folder.value = key.readBinary(OrderValueName).value_or(QByteArray());
    index(folder);
    for (auto it = folder.exact.cbegin(); it != folder.exact.cend(); ++it)
        folder.exactBefore.insert(it.key(), RecordPosition(folder.value, it->first()));
    for (auto it = folder.lower.cbegin(); it != folder.lower.cend(); ++it)
        folder.lowerBefore.insert(it.key(), RecordPosition(folder.value, it->first()));
    return folder;
}

void OrganiserEdits::index(Folder& folder) {
    folder.exact.clear();
    folder.lower.clear();
    for (const OrderRecordPlace& place : MenuOrderRecordPlaces(folder.value, &folder.walkEnd)) {
        folder.exact[place.name].append(place.offset);
        folder.lower[place.name.toLower()].append(place.offset);
    }
}

void OrganiserEdits::setRecords(Folder& folder, const QList<qsizetype>& offsets, int position) {
    for (const qsizetype offset : offsets)
        SetRecordPosition(folder.value, offset, position);
    folder.changed = true;
}

int OrganiserEdits::PositionOf(const QString& location, const QString& fileName) {
    const Folder& found = folder(location);
    const auto exact = found.exact.constFind(fileName);
    if (exact != found.exact.constEnd())
        return RecordPosition(found.value, exact->first());
    const auto lower = found.lower.constFind(fileName.toLower());
    if (lower != found.lower.constEnd())
        return RecordPosition(found.value, lower->first());
    return -1;
}

int OrganiserEdits::PositionBefore(const QString& location, const QString& fileName) {
    const Folder& found = folder(location);
    return found.exactBefore.value(fileName, found.lowerBefore.value(fileName.toLower(), -1));
}

bool OrganiserEdits::SetPosition(const QString& location, const QString& fileName, int position,
                                 const std::function<QStringList()>& folderFavourites,
                                 bool hasCaseTwin) {
    const QByteArray record = MenuOrderRecord(fileName, position);
    if (record.isEmpty())
        return false;
    Folder& edited = folder(location);
    if (edited.value.size() < MenuOrderHeaderSize) {
        // No organiser data yet: the folder's favourites in their present
        // order, so setting one position keeps the order of the others.
        QStringList names = folderFavourites();
        if (!names.contains(fileName))
            names.append(fileName);
        edited.value = NewMenuOrderValue(names);
        index(edited);
    }
    if (const auto exact = edited.exact.constFind(fileName); exact != edited.exact.constEnd()) {
        setRecords(edited, *exact, position);
        return true;
    }
    if (!hasCaseTwin) {
        const auto lower = edited.lower.constFind(fileName.toLower());
        if (lower != edited.lower.constEnd()) {
            setRecords(edited, *lower, position);
            return true;
        }
    }
    // The new record goes where the walk of the value ends, so that it is
    // read: after the last readable record (a length byte that points beyond
    // the value's end is met by padding).
    edited.value.resize(edited.walkEnd, '\0');
    edited.exact[fileName].append(edited.walkEnd);
    edited.lower[fileName.toLower()].append(edited.walkEnd);
    edited.value += record;
    edited.walkEnd = edited.value.size();
    edited.changed = true;
    return true;
}

bool OrganiserEdits::Save(QStringList* failedLocations) {
    QList<platform::RegistryBinaryValue> values;
    QStringList locations;
    for (auto it = folders_.cbegin(); it != folders_.cend(); ++it) {
        if (it->changed) {
            values.append({MenuOrderKeyPath(it.key()), OrderValueName, it->value});
            locations.append(it.key());
        }
    }
    if (values.isEmpty())
        return true;
    // One save of the registry for every folder the form changed.
    if (platform::writeRegistryBinaries(platform::RegistryHive::CurrentUser, values) !=
        platform::regerror::Success) {
        if (failedLocations)
            *failedLocations = locations;
        return false;
    }
    for (const QString& location : locations)
        folders_[location].changed = false;
    return true;
}

} // namespace catalogue
