#include "app/window/filename_edit.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QToolButton>

namespace ringolan::window {

QStringList qt_name_filters(const QString& pairs) {
    const QStringList parts = pairs.split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& description = parts[i];
        QString pattern = parts[i + 1];
        pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
        const QString suffix = QLatin1Char('(') + pattern + QLatin1Char(')');
        out << (description.endsWith(suffix) ? description : description + QLatin1Char(' ') + suffix);
    }
    return out;
}

FileNameEdit::FileNameEdit(const QString& filter, const QStringList& history, QWidget* parent)
    : QWidget(parent), filters_(qt_name_filters(filter)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    if (!history.isEmpty()) {
        combo_ = new QComboBox(this);
        combo_->setEditable(true);
        combo_->setInsertPolicy(QComboBox::NoInsert);
        combo_->addItems(history);
        combo_->setCurrentIndex(-1);
        line_ = combo_->lineEdit();
        layout->addWidget(combo_, 1);
        // A history entry picked from the list is a complete name.
        connect(combo_, &QComboBox::activated, this, [this](int) { emit committed(text()); });
    } else {
        line_ = new QLineEdit(this);
        layout->addWidget(line_, 1);
    }
    button_ = new QToolButton(this);
    button_->setText(QStringLiteral("…"));
    button_->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(button_);
    setFocusProxy(line_);

    connect(line_, &QLineEdit::textChanged, this, [this](const QString& t) { emit textChanged(t); });
    // Enter, or leaving the field after a change.
    connect(line_, &QLineEdit::editingFinished, this, [this] { emit committed(text()); });
    connect(button_, &QToolButton::clicked, this, &FileNameEdit::browse);

    chooser = [](FileNameEdit& edit) {
        QString folder = edit.dialogFolder();
        if (folder.isEmpty() && !edit.text().isEmpty()) folder = QFileInfo(edit.text()).absolutePath();
        return QFileDialog::getOpenFileName(&edit, QString(), folder, edit.nameFilters().join(QStringLiteral(";;")),
                                            nullptr, edit.options_);
    };
}

QString FileNameEdit::text() const { return line_->text(); }

void FileNameEdit::setText(const QString& text) {
    if (line_->text() == text) return;
    if (signalsBlocked()) {
        const QSignalBlocker block(line_);
        line_->setText(text);
    } else {
        line_->setText(text);
    }
}

void FileNameEdit::browse() {
    const QString chosen = chooser ? chooser(*this) : QString();
    if (chosen.isEmpty()) return;
    setText(chosen);
    emit committed(text());
}

}  // namespace ringolan::window
