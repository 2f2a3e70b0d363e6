#include "shell/list_box.h"

#include <algorithm>

#include <QApplication>
#include <QPainter>
#include <QStyledItemDelegate>

#include "core/names.h"

namespace brask {

namespace {

// Draws entries as a Windows list box does: a TAB moves on to the next tab stop, one every eight
// average characters of the list's font.
class TabStopDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyleOptionViewItem item(option);
        initStyleOption(&item, index);
        if (!item.text.contains('\t')) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        const QString text = item.text;
        item.text.clear();
        const QWidget* view = item.widget;
        QStyle* style = view ? view->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, view);

        const QRect place = style->subElementRect(QStyle::SE_ItemViewItemText, &item, view);
        QTextOption layout(Qt::AlignLeft | Qt::AlignVCenter);
        layout.setWrapMode(QTextOption::NoWrap);
        layout.setTabStopDistance(kTabStopCharacters * item.fontMetrics.averageCharWidth());
        painter->save();
        painter->setFont(item.font);
        painter->setPen(item.palette.color(
            item.state & QStyle::State_Selected ? QPalette::HighlightedText : QPalette::Text));
        painter->drawText(QRectF(place).adjusted(3, 0, 0, 0), text, layout);
        painter->restore();
    }

private:
    static constexpr int kTabStopCharacters = 8;
};

} // namespace

ListBox::ListBox(const QString& name, Order order, QAbstractItemView::SelectionMode selection,
                 QWidget* parent)
    : QListWidget(parent), order_(order) {
    setObjectName(name);
    setSelectionMode(selection);
    setUniformItemSizes(true);
    setItemDelegate(new TabStopDelegate(this));
}

void ListBox::addEntry(const QString& text) {
    if (!sorted()) {
        addItem(text);
        return;
    }
    const std::u16string key = text.toStdU16String();
    const ListBoxOrder order;
    int low = 0;
    int high = count();
    while (low < high) {
        const int middle = (low + high) / 2;
        if (order.less(key, item(middle)->text().toStdU16String())) {
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
