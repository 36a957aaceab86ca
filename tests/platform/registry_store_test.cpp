// The registry store with many keys and values: names found without regard
// to case through the index, the written order and bytes unchanged by
// replacing and removing, and the same answers through the file store.
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/registry_text.h"
#include "support/temp_home.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace platform;
using testsupport::TempHome;

namespace {

const QString favouritesOrder =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Favorites";

// A store in the exact form the writer gives: `keys` sibling keys below one
// parent, each with a binary and a text value.
QByteArray manyKeysText(int keys) {
    QByteArray text = "REGEDIT4\r\n\r\n";
    // Every key along the way has a section of its own, even without values.
    QByteArray parent = "HKEY_CURRENT_USER";
    for (const QString& segment : favouritesOrder.split('\\')) {
        parent += "\\" + segment.toUtf8();
        text += "[" + parent + "]\r\n\r\n";
    }
    for (int i = 0; i < keys; ++i) {
        text += "[HKEY_CURRENT_USER\\" + favouritesOrder.toUtf8() + "\\Folder " +
                QByteArray::number(i) + "]\r\n";
        text += "\"Order\"=hex:" + QByteArray::number(i % 256, 16).rightJustified(2, '0') +
                ",00,ff\r\n";
        text += "\"Note\"=\"folder " + QByteArray::number(i) + "\"\r\n\r\n";
    }
    return text;
}

regtext::Store parsed(const QByteArray& text) {
    regtext::Store store;
    int line = 0;
    QString reason;
    EXPECT_TRUE(regtext::parse(text, &store, &line, &reason))
        << line << " " << reason.toStdString();
    return store;
}

} // namespace

TEST(RegistryStore, ManySiblingKeysReadBackWrittenAndFoundInAnyCase) {
    const int keys = 20000;
    const QByteArray text = manyKeysText(keys);
    regtext::Store store = parsed(text);
    // Written back byte for byte, in the order read.
    EXPECT_EQ(regtext::serialize(store), text);

    const regtext::Key* parent =
        store.hives[0].find(regtext::splitKeyPath(favouritesOrder.toUpper()));
    ASSERT_NE(parent, nullptr);
    ASSERT_EQ(parent->children().size(), size_t(keys));
    for (int i = 0; i < keys; i += 997) {
        const regtext::Key* key = parent->child(QStringLiteral("fOLDER %1").arg(i));
        ASSERT_NE(key, nullptr) << i;
        EXPECT_EQ(key->name, QStringLiteral("Folder %1").arg(i));
        ASSERT_NE(key->value("NOTE"), nullptr);
        EXPECT_EQ(key->value("note")->text, QStringLiteral("folder %1").arg(i));
    }
    EXPECT_EQ(parent->child("Folder 20000"), nullptr);
    EXPECT_EQ(parent->child("Folder"), nullptr);
}

TEST(RegistryStore, RepeatedSectionsAndValuesMergeWithoutRegardToCase) {
    regtext::Store store = parsed("REGEDIT4\r\n"
                                  "[HKEY_CURRENT_USER\\Software\\Mixed]\r\n"
                                  "\"First\"=\"1\"\r\n"
                                  "\"Second\"=\"2\"\r\n"
                                  "[hkey_current_user\\SOFTWARE\\mixed]\r\n"
                                  "\"FIRST\"=dword:00000007\r\n"
                                  "\"Third\"=\"3\"\r\n");
    const regtext::Key* software = store.hives[0].child("software");
    ASSERT_NE(software, nullptr);
    ASSERT_EQ(software->children().size(), 1u);
    const regtext::Key* key = software->child("MIXED");
    ASSERT_NE(key, nullptr);
    // The key keeps the name it was first written with; a value read again
    // replaces the earlier one whole, in its place.
    EXPECT_EQ(key->name, "Mixed");
    ASSERT_EQ(key->values().size(), 3);
    EXPECT_EQ(key->values()[0].name, "FIRST");
    EXPECT_EQ(key->values()[0].kind, regtext::Kind::Dword);
    EXPECT_EQ(key->values()[1].name, "Second");
    EXPECT_EQ(key->values()[2].name, "Third");
}

TEST(RegistryStore, SectionsSharingLeadingNamesInAnyCaseMeetInOneKey) {
    // Each section after the first starts with names of the one before it,
    // written the same or in other letter case, deeper or shallower.
    regtext::Store store = parsed("REGEDIT4\r\n"
                                  "[HKEY_CURRENT_USER\\A\\B\\C]\r\n\"v\"=\"1\"\r\n"
                                  "[HKEY_CURRENT_USER\\a\\B\\D]\r\n"
                                  "[hkey_current_user\\A\\b\\c]\r\n\"V\"=\"2\"\r\n"
                                  "[HKEY_CURRENT_USER\\A\\B2]\r\n"
                                  "[HKEY_CURRENT_USER\\A]\r\n\"w\"=\"3\"\r\n"
                                  "[HKEY_CURRENT_USER\\\\A\\B\\\\C\\E\\]\r\n"
                                  "[HKEY_LOCAL_MACHINE\\A\\B]\r\n");
    const regtext::Key* a = store.hives[0].child("a");
    ASSERT_NE(a, nullptr);
    ASSERT_EQ(a->children().size(), 2u);
    ASSERT_EQ(a->values().size(), 1);
    const regtext::Key* b = a->child("b");
    ASSERT_NE(b, nullptr);
    ASSERT_EQ(b->children().size(), 2u);
    const regtext::Key* c = b->child("C");
    ASSERT_NE(c, nullptr);
    ASSERT_EQ(c->values().size(), 1);
    EXPECT_EQ(c->values()[0].name, "V");
    EXPECT_EQ(c->values()[0].text, "2");
    EXPECT_NE(c->child("e"), nullptr);
    EXPECT_NE(store.hives[1].find({"A", "B"}), nullptr);
    EXPECT_EQ(store.hives[1].find({"A", "B", "C"}), nullptr);

    // Names stay matched in any case while a key grows from a few names
    // (compared one by one) to many (kept in an index), and after removals.
    regtext::Key key;
    for (int i = 0; i < 12; ++i) {
        regtext::Value v;
        v.name = QStringLiteral("Name%1").arg(i % 10);
        if (i >= 10)
            v.name = v.name.toUpper();
        v.text = QString::number(i);
        key.putValue(v);
        key.childOrNew(i >= 10 ? v.name.toLower() : v.name);
        if (i == 4) {
            EXPECT_TRUE(key.removeValue("NAME2"));
            EXPECT_TRUE(key.removeChild("name2"));
        }
    }
    ASSERT_EQ(key.values().size(), 9);
    EXPECT_EQ(key.children().size(), 9u);
    EXPECT_EQ(key.value("name0")->text, "10");
    EXPECT_EQ(key.value("name0")->name, "NAME0");
    EXPECT_EQ(key.value("Name2"), nullptr);
    EXPECT_EQ(key.child("NAME1")->name, "Name1");
    EXPECT_EQ(key.values().last().name, "Name9");
}

TEST(RegistryStore, NamesEqualWithoutRegardToCaseBeyondAscii) {
    // Each pair is equal for QString::compare without case; the folded
    // names must say the same, or a lookup would miss the stored name.
    const QList<std::pair<QString, QString>> same = {
        {QString::fromUtf8("ÄPFEL"), QString::fromUtf8("äpfel")},
        {QString::fromUtf8("ΣΊΣΥΦΟΣ"), QString::fromUtf8("σίσυφος")},
        {QString::fromUtf8("σ"), QString::fromUtf8("ς")},
        {QString::fromUtf8("𐐀𐐁"), QString::fromUtf8("𐐨𐐩")}, // outside the 16-bit range
        {QString::fromUtf8("Straße"), QString::fromUtf8("STRAßE")},
    };
    const QList<std::pair<QString, QString>> different = {
        {QString::fromUtf8("Straße"), QString::fromUtf8("STRASSE")},
        {QString::fromUtf8("a"), QString::fromUtf8("ä")},
        {QString::fromUtf8("𐐀"), QString::fromUtf8("𐐁")},
    };
    regtext::Key key;
    for (const auto& [a, b] : same) {
        ASSERT_EQ(QString::compare(a, b, Qt::CaseInsensitive), 0) << a.toStdString();
        EXPECT_EQ(regtext::foldedName(a), regtext::foldedName(b)) << a.toStdString();
        key.childOrNew(a);
        EXPECT_EQ(key.child(b), key.child(a)) << b.toStdString();
    }
    EXPECT_EQ(key.children().size(), size_t(same.size()));
    for (const auto& [a, b] : different) {
        ASSERT_NE(QString::compare(a, b, Qt::CaseInsensitive), 0) << a.toStdString();
        EXPECT_NE(regtext::foldedName(a), regtext::foldedName(b)) << a.toStdString();
    }
}

TEST(RegistryStore, RemovingKeepsTheOthersFoundAndInOrder) {
    regtext::Key key;
    for (int i = 0; i < 50; ++i) {
        regtext::Value v;
        v.name = QStringLiteral("Value%1").arg(i);
        v.text = QString::number(i);
        key.putValue(v);
        key.childOrNew(QStringLiteral("Sub%1").arg(i));
    }
    for (int i = 0; i < 50; i += 3) {
        EXPECT_TRUE(key.removeValue(QStringLiteral("VALUE%1").arg(i)));
        EXPECT_TRUE(key.removeChild(QStringLiteral("sub%1").arg(i)));
    }
    EXPECT_FALSE(key.removeValue("Value0"));
    EXPECT_FALSE(key.removeChild("Sub0"));
    for (int i = 0; i < 50; ++i) {
        const regtext::Value* v = key.value(QStringLiteral("value%1").arg(i));
        const regtext::Key* sub = key.child(QStringLiteral("SUB%1").arg(i));
        if (i % 3 == 0) {
            EXPECT_EQ(v, nullptr) << i;
            EXPECT_EQ(sub, nullptr) << i;
        } else {
            ASSERT_NE(v, nullptr) << i;
            EXPECT_EQ(v->text, QString::number(i));
            ASSERT_NE(sub, nullptr) << i;
            EXPECT_EQ(sub->name, QStringLiteral("Sub%1").arg(i));
        }
    }
    // Replacing after removals changes the value in its place.
    regtext::Value replaced;
    replaced.name = "value49";
    replaced.text = "new";
    key.putValue(replaced);
    EXPECT_EQ(key.values().last().text, "new");
    EXPECT_EQ(key.values().size(), 33);
    // A removed name may come back, at the end.
    key.childOrNew("SUB0");
    EXPECT_EQ(key.children().back()->name, "SUB0");
    EXPECT_EQ(key.child("sub0"), key.children().back().get());
}

TEST(RegistryStore, LargeStoreFileAnswersAndChangesInPlace) {
    TempHome home;
    const int keys = 5000;
    const QByteArray text = manyKeysText(keys);
    {
        QFile f(registryFilePath());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    RegistryKey key;
    ASSERT_EQ(
        key.open(RegistryHive::CurrentUser, favouritesOrder.toLower() + "\\FOLDER 4321", false),
        regerror::Success);
    EXPECT_EQ(key.readString("NOTE"), "folder 4321");
    EXPECT_EQ(key.readBinary("order"), QByteArray("\xe1\x00\xff", 3));

    // A change rewrites the whole store with only that value different.
    ASSERT_EQ(key.writeString("note", "changed"), regerror::Success);
    QByteArray expected = text;
    expected.replace("\"Note\"=\"folder 4321\"", "\"Note\"=\"changed\"");
    QFile f(registryFilePath());
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), expected);
    f.close();

    ASSERT_EQ(key.deleteValue("ORDER"), regerror::Success);
    EXPECT_EQ(key.valueNames(), QStringList{"Note"});
    EXPECT_EQ(deleteRegistryKey(RegistryHive::CurrentUser, favouritesOrder + "\\folder 0"),
              regerror::Success);
    RegistryKey parent;
    ASSERT_EQ(parent.open(RegistryHive::CurrentUser, favouritesOrder, false), regerror::Success);
    const QStringList names = parent.subKeyNames();
    ASSERT_EQ(names.size(), keys - 1);
    EXPECT_EQ(names.first(), "Folder 1");
    EXPECT_EQ(names.last(), QStringLiteral("Folder %1").arg(keys - 1));
}
