#include "ui/main/key_search_bar.h"

#include <QAbstractItemView>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

#include "ui/main/key_filter.h"
#include "ui/main/key_list_model.h"

TKeySearchBar::TKeySearchBar(KeyFilterModel* filter, KeyListModel* keys, QWidget* parent)
    : QWidget(parent), filter_(filter), keys_(keys) {
    edSearch = new QLineEdit(this);
    edSearch->setObjectName(QStringLiteral("edSearch"));
    edSearch->setPlaceholderText(QStringLiteral("Поиск"));
    edSearch->setAccessibleName(QStringLiteral("Поиск"));
    edSearch->setToolTip(
        QStringLiteral("Поиск (Ctrl+F): номер в любом виде, часть цифр номера или часть "
                       "описания. Esc — очистить"));
    edSearch->setClearButtonEnabled(true);
    edSearch->installEventFilter(this);
    lFound = new QLabel(this);
    lFound->setObjectName(QStringLiteral("lFound"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(edSearch, 1);
    row->addWidget(lFound);
    connect(edSearch, &QLineEdit::textChanged, filter_, &KeyFilterModel::SetText);
    connect(filter_, &KeyFilterModel::FoundChanged, this, &TKeySearchBar::UpdateCount);
    UpdateCount();
}

QString TKeySearchBar::CountText(bool filtering, int found, int total) {
    return filtering ? QStringLiteral("Найдено: %1 из %2").arg(found).arg(total)
                     : QStringLiteral("Всего: %1").arg(total);
}

void TKeySearchBar::Clear() {
    edSearch->clear();
}

void TKeySearchBar::UpdateCount() {
    lFound->setText(CountText(filter_->Filtering(), filter_->Found(), keys_->Count()));
}

bool TKeySearchBar::eventFilter(QObject* watched, QEvent* event) {
    if (watched != edSearch || event->type() != QEvent::KeyPress)
        return QWidget::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Escape && !edSearch->text().isEmpty()) {
        edSearch->clear();
        return true;  // Esc clears the search; it does not close anything
    }
    if ((key->key() == Qt::Key_Down || key->key() == Qt::Key_PageDown) && list &&
        list->isEnabled() && list->model() && list->model()->rowCount() > 0) {
        // Into the found rows, the first of them chosen: Enter and Delete act on it.
        const QModelIndex first = list->model()->index(0, 0);
        list->setFocus(Qt::TabFocusReason);
        list->setCurrentIndex(first);
        list->selectionModel()->select(
            first, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
