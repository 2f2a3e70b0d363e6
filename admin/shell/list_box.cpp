#include "shell/list_box.h"

#include <algorithm>

#include "core/names.h"

namespace brask {

ListBox::ListBox(const QString& name, Order order, QAbstractItemView::SelectionMode selection,
                 QWidget* parent)
    : QListWidget(parent), order_(order) {
    setObjectName(name);
    setSelectionMode(selection);
    setUniformItemSizes(true);
}

void ListBox::addEntry(const QString& text) {
    if (!sorted()) {
        addItem(text);
        return;
    }
    const std::u16string key = text.toStdU16String();
    int low = 0;
    int high = count();
    while (low < high) {
        const int middle = (low + high) / 2;
        if (listBoxLess(key, item(middle)->text().toStdU16String())) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    insertItem(low, text);
}

void ListBox::setEntries(std::vector<std::u16string> entries) {
    if (sorted()) {
        sortLikeListBox(entries);
    }
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(entries.size()));
    for (const std::u16string& entry : entries) {
        texts.append(QString::fromStdU16String(entry));
    }
    clear();
    addItems(texts);
}

void ListBox::selectEveryEntry() {
    if (selectionMode() == QAbstractItemView::SingleSelection) {
        for (int row = 0; row < count(); ++row) {
            setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
        }
        return;
    }
    if (count() > 0) {
        selectAll();
    }
}

QStringList ListBox::selectedEntriesFromEnd() const {
    QStringList texts;
    for (int row = count() - 1; row >= 0; --row) {
        if (item(row)->isSelected()) {
            texts.append(item(row)->text());
        }
    }
    return texts;
}

} // namespace brask
