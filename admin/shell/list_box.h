// A list box as the forms use it: sorted or in the order items are added, single or extended
// selection, filled in one go from the texts a view produces.
#pragma once

#include <string>
#include <vector>

#include <QListWidget>

namespace brask {

class ListBox : public QListWidget {
    Q_OBJECT
public:
    enum class Order { Unsorted, Sorted };

    ListBox(const QString& name, Order order, QAbstractItemView::SelectionMode selection,
            QWidget* parent);

    bool sorted() const { return order_ == Order::Sorted; }

    // Adds one entry; a sorted list puts it in its place.
    void addEntry(const QString& text);

    // Replaces the whole content. Entries come in the order the farm gave them; a sorted list
    // orders them itself.
    void setEntries(std::vector<std::u16string> entries);

    // Selects every entry from the first to the last. A single-selection list keeps only the
    // last one selected; an empty list stays as it is.
    void selectEveryEntry();

    // The texts of the selected entries, from the last to the first.
    QStringList selectedEntriesFromEnd() const;

private:
    Order order_;
};

} // namespace brask
