#pragma once
// The Internet shortcut (.url) file: an INI text whose [InternetShortcut]
// section holds the address and a few shell keys, and whose two property
// sections ({000214A0-...} and {000214A1-...}) hold typed values as
// "PropN=type,value" lines. Sections and keys are matched without regard to
// letter case.
#include "catalogue/property_text.h"
#include "platform/own_changes.h"

#include <QMap>
#include <QString>

#include <array>
#include <functional>

#include "platform/file_create.h"

namespace catalogue {

enum class PropertySet {
    Shortcut, // {000214A0-0000-0000-C000-000000000046}
    Site,     // {000214A1-0000-0000-C000-000000000046}
};

struct PropertyName {
    const char* name; // the catalogue attribute name
    int id;
};

// The properties read from each set, in the order they are read and written.
extern const std::array<PropertyName, 11> ShortcutProperties;
extern const std::array<PropertyName, 17> SiteProperties;

class ShortcutFile {
public:
    // False when the file cannot be read; the shortcut then holds nothing.
    bool load(const QString& path);
    // Reads the same text a file would hold (tests, and load itself).
    void parse(const QByteArray& text);

    // The value of one property; the empty value when the set lacks it.
    PropertyValue value(PropertySet set, int id) const;

private:
    QMap<int, PropertyValue> shortcut_, site_;
};

// The text of a shortcut file of the two lines "[InternetShortcut]" and
// "URL=" + url, with CR LF line ends.
QByteArray UrlFileText(const QString& url);

// Creates a new shortcut file of that text, never replacing a file: NameTaken
// when the name is in use. Nothing is flushed; see platform::syncFileSystem.
platform::CreateResult CreateUrlFile(const QString& fileName, const QString& url,
                                     QString* error = nullptr);

// One property of an opened shortcut, by set and identifier.
PropertyValue ReadShortcutProperty(const ShortcutFile& file, PropertySet set, int id);

// Writes a shortcut file of the two lines "[InternetShortcut]" and
// "URL=" + url (CR LF line ends), replacing any file of that name. Tells
// noteOwnChange the path first, so the Favorites monitor ignores the
// change, and lets pending events run once when called on the main thread.
bool WriteUrlFile(const QString& fileName, const QString& url,
                  const platform::NoteOwnChange& noteOwnChange);

} // namespace catalogue
