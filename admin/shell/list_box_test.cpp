#include "shell/list_box.h"

#include <gtest/gtest.h>

#include "shell/qt_test_app.h"

namespace brask {
namespace {

QStringList entries(const ListBox& list) {
    QStringList texts;
    for (int row = 0; row < list.count(); ++row) {
        texts << list.item(row)->text();
    }
    return texts;
}

QStringList selected(const ListBox& list) {
    QStringList texts;
    for (int row = 0; row < list.count(); ++row) {
        if (list.item(row)->isSelected()) {
            texts << list.item(row)->text();
        }
    }
    return texts;
}

class ListBoxTest : public ::testing::Test {
protected:
    ListBoxTest() { testing::qtTestApp(); }
};

TEST_F(ListBoxTest, SortedListOrdersWhateverTheWayEntriesArrive) {
    ListBox bulk("bulk", ListBox::Order::Sorted, QAbstractItemView::SingleSelection, nullptr);
    bulk.setEntries({u"srv-b", u"SRV-A", u"srv-c", u"srv-a"});
    EXPECT_EQ(entries(bulk), (QStringList{"SRV-A", "srv-a", "srv-b", "srv-c"}));

    ListBox single("single", ListBox::Order::Sorted, QAbstractItemView::SingleSelection, nullptr);
    for (const char* name : {"srv-b", "SRV-A", "srv-c", "srv-a"}) {
        single.addEntry(name);
    }
    EXPECT_EQ(entries(single), entries(bulk));
}

TEST_F(ListBoxTest, SortedListPutsPunctuationDigitsAndLettersInTheWindowsOrder) {
    const std::vector<std::u16string> names{u"Zeta",   u"OfficeXP", u"co-op", u"alpha",
                                            u"~Tilde", u"$Dollar",  u"#Hash", u"Office\\Word",
                                            u"coop",   u"_Setup",   u"2nd"};
    const QStringList expected{"#Hash", "$Dollar", "_Setup",       "~Tilde",   "2nd", "alpha",
                               "coop",  "co-op",   "Office\\Word", "OfficeXP", "Zeta"};
    ListBox bulk("bulk", ListBox::Order::Sorted, QAbstractItemView::ExtendedSelection, nullptr);
    bulk.setEntries(names);
    EXPECT_EQ(entries(bulk), expected);

    ListBox single("single", ListBox::Order::Sorted, QAbstractItemView::SingleSelection, nullptr);
    for (const std::u16string& name : names) {
        single.addEntry(QString::fromStdU16String(name));
    }
    EXPECT_EQ(entries(single), expected);
}

TEST_F(ListBoxTest, UnsortedListKeepsTheOrderGiven) {
    ListBox list("list", ListBox::Order::Unsorted, QAbstractItemView::SingleSelection, nullptr);
    list.setEntries({u"b", u"a", u"c"});
    list.addEntry("0");
    EXPECT_EQ(entries(list), (QStringList{"b", "a", "c", "0"}));
    list.setEntries({u"x"});
    EXPECT_EQ(entries(list), QStringList{"x"});
}

TEST_F(ListBoxTest, SelectingEveryEntry) {
    ListBox single("single", ListBox::Order::Sorted, QAbstractItemView::SingleSelection, nullptr);
    single.selectEveryEntry();
    EXPECT_TRUE(selected(single).isEmpty());
    single.setEntries({u"a", u"b", u"c"});
    single.selectEveryEntry();
    EXPECT_EQ(selected(single), QStringList{"c"});
    EXPECT_EQ(single.currentRow(), 2);

    ListBox extended("extended", ListBox::Order::Sorted, QAbstractItemView::ExtendedSelection,
                     nullptr);
    extended.setEntries({u"b", u"a", u"c"});
    extended.selectEveryEntry();
    EXPECT_EQ(selected(extended), (QStringList{"a", "b", "c"}));
    EXPECT_EQ(extended.selectedEntriesFromEnd(), (QStringList{"c", "b", "a"}));
}

} // namespace
} // namespace brask
