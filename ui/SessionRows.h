// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The rows of the session list: the model that asks the browser for them, and the delegate that
// draws each one white on the dark popover with its delete control.
#include <QAbstractListModel>
#include <QStyledItemDelegate>

#include <utility>

#include "ui/LoadSessionPopoverController.h"
#include "ui/MainViewController.h"

// Where a row's delete control lies: a bin at the right edge, or the wider red button while it asks.
QRect deleteControlIn(const QRect& row, bool confirming);
// A row as far as it is visible: rows laid out before the scroll bar appeared reach under it.
QRect visibleRow(QRect row, const QWidget* viewport);

// The list as the view sees it: every answer comes from the controller, that is, from the store.
class SessionListModel : public QAbstractListModel {
public:
    // The row's second line.
    static constexpr int kDetailRole = Qt::UserRole + 1;

    explicit SessionListModel(LoadSessionPopoverController* controller)
        : QAbstractListModel(controller), controller_(controller)
    {}

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : controller_->numberOfRowsInSection(0);
    }

    QVariant data(const QModelIndex& index, int role) const override
    {
        if (!index.isValid()) return {};
        if (role == Qt::DisplayRole) return controller_->cellTextForRow(index.row());
        if (role == kDetailRole) return controller_->cellDetailForRow(index.row());
        if (role == Qt::AccessibleTextRole)
            return controller_->cellTextForRow(index.row()) + ", " + controller_->cellDetailForRow(index.row());
        return {};
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    template <typename Change>
    void reload(Change&& change)
    {
        beginResetModel();
        std::forward<Change>(change)();
        endResetModel();
    }

    // The view hears of the removal around the store change that makes it.
    template <typename Change>
    void removeRowBy(int row, Change&& change)
    {
        beginRemoveRows(QModelIndex(), row, row);
        std::forward<Change>(change)();
        endRemoveRows();
    }

private:
    LoadSessionPopoverController* controller_;
};

// White rows on the dark popover, tall enough for a finger, each with its delete control.
class SessionRowDelegate : public QStyledItemDelegate {
public:
    SessionRowDelegate(const LoadSessionPopoverController* controller, QObject* parent)
        : QStyledItemDelegate(parent), controller_(controller)
    {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    const LoadSessionPopoverController* controller_;
};
