// A file-name field: a text field (with a drop-down history when one is given) and a button
// that opens a file dialog. It reports every change of its text, and separately the moment a
// name is complete: chosen in the dialog or the history, Enter, or leaving the changed field.
#pragma once

#include <QFileDialog>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <functional>

class QComboBox;
class QLineEdit;
class QToolButton;

namespace ringolan::window {

// A filter of description and pattern pairs separated by "|" ("Access-Dateien|*.mdb") as
// the name filters of a Qt file dialog: each description keeps its text, and its pattern is
// appended in parentheses unless the description already ends with it. Patterns separated
// by ";" become blank-separated. A trailing description without pattern is dropped.
QStringList qt_name_filters(const QString& pairs);

class FileNameEdit : public QWidget {
    Q_OBJECT
public:
    // An empty history gives a plain text field.
    FileNameEdit(const QString& filter, const QStringList& history = {}, QWidget* parent = nullptr);

    QString text() const;
    // Replaces the text; textChanged follows unless signals are blocked.
    void setText(const QString& text);

    QLineEdit* lineEdit() const { return line_; }
    QToolButton* button() const { return button_; }
    QComboBox* comboBox() const { return combo_; }  // nullptr without history

    // The folder the dialog opens in; empty: the folder of the current name.
    void setDialogFolder(const QString& folder) { folder_ = folder; }
    QString dialogFolder() const { return folder_; }
    void setDialogOptions(QFileDialog::Options options) { options_ = options; }
    QStringList nameFilters() const { return filters_; }

    // Asks for a file; by default the file dialog. Returns the chosen file or an empty text.
    std::function<QString(FileNameEdit&)> chooser;

    // Opens the dialog (the button does this); a chosen file becomes the text and is committed.
    void browse();

signals:
    void textChanged(const QString& text);
    void committed(const QString& text);

private:
    QComboBox* combo_ = nullptr;
    QLineEdit* line_ = nullptr;
    QToolButton* button_ = nullptr;
    QStringList filters_;
    QString folder_;
    QFileDialog::Options options_;
};

}  // namespace ringolan::window
