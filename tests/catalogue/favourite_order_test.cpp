#include "catalogue/favourite_order.h"
#include "platform/registry.h"
#include "support/order_value.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

using namespace catalogue;
using testsupport::OrderItem;
using testsupport::orderValue;

namespace {

QStringList textsOf(const QList<KeyedLink>& links) {
    QStringList texts;
    for (const KeyedLink& link : links)
        texts << QString::fromUtf8(link.text);
    return texts;
}

QList<KeyedLink> keyed(int mode, const QList<std::pair<QString, QDateTime>>& files,
                       const MenuOrder& order = {}) {
    QList<KeyedLink> links;
    for (const auto& [name, time] : files)
        links.append({SortKeyOf(mode, name, order.MenuOrderOf(name), time), name.toUtf8()});
    return links;
}

} // namespace

TEST(SortKeys, FormatsOfEachMode) {
    const QDateTime noon(QDate(2003, 6, 1), QTime(12, 0, 1, 500));
    EXPECT_EQ(SortKeyOf(SortByOrganiser, "a.url", 0, noon), "0000");
    EXPECT_EQ(SortKeyOf(SortByOrganiser, "a.url", 12, noon), "0012");
    EXPECT_EQ(SortKeyOf(SortByOrganiser, "a.url", -1, noon), "-0001");
    // Seconds count in two-second steps, as a directory entry's time does.
    EXPECT_EQ(SortKeyOf(SortByDateAscending, "a.url", 0, noon), "000003777350000");
    EXPECT_EQ(SortKeyOf(SortByDateDescending, "a.url", 0, noon), "000003777350000");
    EXPECT_EQ(SortKeyOf(SortAlphabetically, "Caf\u00e9.URL", 0, noon), "Caf\u00e9.URL");
    EXPECT_EQ(SortKeyOf(SortUnselected, "x.url", 0, noon), "x.url");
    QRandomGenerator random(7);
    QSet<QString> seen;
    for (int i = 0; i < 50; ++i) {
        const QString key = SortKeyOf(SortRandomly, "x.url", 0, noon, random);
        ASSERT_EQ(key.size(), 4);
        ASSERT_GE(key.toInt(), 0);
        seen << key;
    }
    EXPECT_GT(seen.size(), 40);
}

TEST(SortFolderLinks, NamesAndDatesInEachDirection) {
    const QDateTime early(QDate(2020, 1, 1), QTime(10, 0));
    const QDateTime later = early.addSecs(60);
    const QList<std::pair<QString, QDateTime>> files = {
        {"beta.url", early}, {"Alpha.url", later}, {"gamma.url", early.addSecs(-60)}};

    auto byName = keyed(SortAlphabetically, files);
    SortFolderLinks(byName, SortAlphabetically);
    EXPECT_EQ(textsOf(byName), QStringList({"Alpha.url", "beta.url", "gamma.url"}));

    auto unselected = keyed(SortUnselected, files);
    SortFolderLinks(unselected, SortUnselected);
    EXPECT_EQ(textsOf(unselected), textsOf(byName));

    auto oldestFirst = keyed(SortByDateAscending, files);
    SortFolderLinks(oldestFirst, SortByDateAscending);
    EXPECT_EQ(textsOf(oldestFirst), QStringList({"gamma.url", "beta.url", "Alpha.url"}));

    auto newestFirst = keyed(SortByDateDescending, files);
    SortFolderLinks(newestFirst, SortByDateDescending);
    EXPECT_EQ(textsOf(newestFirst), QStringList({"Alpha.url", "beta.url", "gamma.url"}));
}

TEST(MenuOrderValue, WalksRecordsSkippingIgnoredKinds) {
    const QByteArray value =
        orderValue({{"b.url", 0}, {"A.url", 1}, {"Sub", 2, 16}, {"Weather.URL", 255}});
    const QList<MenuOrderEntry> entries = ParseMenuOrder(value);
    ASSERT_EQ(entries.size(), 3);
    EXPECT_EQ(entries[0].lowerName, "b.url");
    EXPECT_EQ(entries[1].lowerName, "a.url");
    EXPECT_EQ(entries[1].position, 1);
    EXPECT_EQ(entries[2].lowerName, "weather.url");
    EXPECT_EQ(entries[2].position, 255);
    EXPECT_TRUE(ParseMenuOrder({}).isEmpty());
    EXPECT_TRUE(ParseMenuOrder(QByteArray(20, 'x')).isEmpty());
}

TEST(MenuOrderValue, DamagedValuesEndTheWalkWithoutReadingBeyondIt) {
    const QByteArray whole = orderValue({{"first.url", 3}, {"second.url", 4}, {"third.url", 5}});
    // Cut at every possible length: never more entries than fit, never a crash.
    for (qsizetype size = 0; size <= whole.size(); ++size) {
        const QByteArray cut = whole.left(size);
        const QList<MenuOrderEntry> entries = ParseMenuOrder(cut);
        ASSERT_LE(entries.size(), 3);
        for (const MenuOrderEntry& entry : entries)
            ASSERT_TRUE(entry.lowerName == "first.url" || entry.lowerName == "second.url" ||
                        entry.lowerName == "third.url")
                << size << " " << entry.lowerName.toStdString();
    }
    const qsizetype firstRecordEnd = 20 + 22 + 10 + 4;
    EXPECT_EQ(ParseMenuOrder(whole.left(firstRecordEnd + 25)).size(), 1); // second name cut short

    QByteArray zeroLength = whole;
    zeroLength[firstRecordEnd] = 0; // the second record would never advance
    const QList<MenuOrderEntry> entries = ParseMenuOrder(zeroLength);
    ASSERT_EQ(entries.size(), 1);
    EXPECT_EQ(entries[0].position, 3);

    QByteArray overlong = whole;
    overlong[20] = char(250); // jumps beyond the end after the first record
    EXPECT_EQ(ParseMenuOrder(overlong).size(), 1);
}

TEST(MenuOrderRegistry, PositionsOfAFolderMatchNamesWithoutCase) {
    testsupport::TempHome home;
    testsupport::storeOrderValue("News\\Tech",
                                 orderValue({{"b.url", 0}, {"a.url", 1}, {"weather.url", 9}}));
    MenuOrder order;
    order.ReadMenuOrder("News\\Tech");
    EXPECT_EQ(order.MenuOrderOf("b.url"), 0);
    EXPECT_EQ(order.MenuOrderOf("a.url"), 1);
    EXPECT_EQ(order.MenuOrderOf("Weather.url"), 9);
    EXPECT_EQ(order.MenuOrderOf("c.url"), -1);

    auto links = keyed(SortByOrganiser, {{"a.url", {}}, {"c.url", {}}, {"b.url", {}}}, order);
    SortFolderLinks(links, SortByOrganiser);
    EXPECT_EQ(textsOf(links).indexOf("b.url") + 1, textsOf(links).indexOf("a.url"));

    order.ReadMenuOrder(""); // no value for the Favorites folder itself
    EXPECT_TRUE(order.entries().isEmpty());
    EXPECT_EQ(order.MenuOrderOf("b.url"), -1);
}

TEST(MenuOrderRegistry, WriteChangesOnlyThePositionBytes) {
    testsupport::TempHome home;
    const QByteArray before = orderValue({{"b.url", 0}, {"A.url", 1}, {"a.url", 2, 16}});
    testsupport::storeOrderValue("", before);
    EXPECT_TRUE(WriteMenuOrder("", "a.URL", 256 + 7));

    platform::RegistryKey key;
    ASSERT_EQ(
        key.open(platform::RegistryHive::CurrentUser,
                 "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Favorites",
                 false),
        platform::regerror::Success);
    const QByteArray after = key.readBinary("Order").value_or(QByteArray());
    ASSERT_EQ(after.size(), before.size());
    QByteArray expected = before;
    // The second record only (the first is 22 + "b.url" + NUL + 4 bytes); the
    // record of ignored kind keeps its byte.
    expected[20 + 32 + 4] = 7;
    EXPECT_EQ(after, expected);

    EXPECT_TRUE(WriteMenuOrder("", "nothing.url", 3)); // written back unchanged
    EXPECT_EQ(key.readBinary("Order").value_or(QByteArray()), expected);

    EXPECT_FALSE(WriteMenuOrder("Missing", "b.url", 1));
    EXPECT_FALSE(platform::registryKeyExists(platform::RegistryHive::CurrentUser,
                                             MenuOrderKeyPath("Missing")));
}

namespace {

QByteArray storedOrder(const QString& location) {
    platform::RegistryKey key;
    if (key.open(platform::RegistryHive::CurrentUser, MenuOrderKeyPath(location), false) !=
        platform::regerror::Success)
        return {};
    return key.readBinary("Order").value_or(QByteArray());
}

// A record as the organiser data's only writer lays it out.
QByteArray record(const QByteArray& name, char position) {
    QByteArray bytes(22, '\0');
    bytes[0] = char(22 + name.size() + 1);
    bytes[4] = position;
    bytes[20] = 1;
    return bytes + name + '\0';
}

} // namespace

TEST(MenuOrderRegistry, SettingAPositionCreatesTheFolderValue) {
    testsupport::TempHome home;
    ASSERT_TRUE(
        SetOrganiserPosition("News\\Tech", "b.url", 9, {"a.url", "B.url", "b.url", "c.url"}));
    const QByteArray expected = QByteArray(20, '\0') + record("a.url", 0) + record("B.url", 1) +
                                record("b.url", 9) + record("c.url", 3);
    EXPECT_EQ(storedOrder("News\\Tech").toHex(), expected.toHex());
    // The refresh run reads it back: every favourite keeps its place.
    MenuOrder order;
    order.ReadMenuOrder("News\\Tech");
    EXPECT_EQ(order.MenuOrderOf("a.url"), 0);
    EXPECT_EQ(order.MenuOrderOf("B.url"), 1);
    EXPECT_EQ(order.MenuOrderOf("b.url"), 9);
    EXPECT_EQ(order.MenuOrderOf("c.url"), 3);

    // A favourite the value does not list yet is appended.
    ASSERT_TRUE(SetOrganiserPosition("News\\Tech", "d.url", 4, {"a.url", "d.url"}));
    EXPECT_EQ(storedOrder("News\\Tech"), expected + record("d.url", 4));
    // A name too long for a one-byte record length is refused.
    EXPECT_FALSE(SetOrganiserPosition("News\\Tech", QString(MaxOrderNameBytes + 1, 'x'), 1, {}));
}

TEST(MenuOrderRegistry, AppendedRecordIsReadAfterAValueThatEndsEarly) {
    testsupport::TempHome home;
    // A record whose length byte is 0 ends the walk: bytes after it are never
    // read, so a record appended after them would be lost.
    QByteArray value = orderValue({{"a.url", 2}});
    const qsizetype walkEnd = value.size();
    value += QByteArray(30, '\0');
    testsupport::storeOrderValue("", value);
    ASSERT_TRUE(SetOrganiserPosition("", "z.url", 5, {"a.url", "z.url"}));
    MenuOrder order;
    order.ReadMenuOrder("");
    EXPECT_EQ(order.MenuOrderOf("a.url"), 2);
    EXPECT_EQ(order.MenuOrderOf("z.url"), 5);
    EXPECT_EQ(storedOrder("").left(walkEnd), value.left(walkEnd));
}
