#include "ui/seams/prompter.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLabel>
#include <QMessageBox>

void Prompter::Error(QWidget* owner, const QString& caption, const QString& text) {
    Message(owner, caption, text, PromptIcon::Error, PromptButtons::Ok);
}

void Prompter::Error(QWidget* owner, const QString& caption, const std::string& utf8Text) {
    Error(owner, caption, QString::fromStdString(utf8Text));
}

void Prompter::Info(QWidget* owner, const QString& caption, const QString& text) {
    Message(owner, caption, text, PromptIcon::Information, PromptButtons::Ok);
}

void Prompter::Warning(QWidget* owner, const QString& caption, const QString& text) {
    Message(owner, caption, text, PromptIcon::Warning, PromptButtons::Ok);
}

bool Prompter::AskYesNo(QWidget* owner, const QString& caption, const QString& text,
                        PromptIcon icon) {
    return Message(owner, caption, text, icon, PromptButtons::YesNo) == PromptAnswer::Yes;
}

bool Prompter::AskYesNo(QWidget* owner, const QString& caption, const QString& text,
                        const QString& informative, PromptIcon icon) {
    return Message(owner, caption, text, icon, PromptButtons::YesNo, informative) ==
           PromptAnswer::Yes;
}

bool Prompter::ConfirmTwice(QWidget* owner, const QString& caption, const QString& question,
                            const QString& warning, const QString& informative) {
    return AskYesNo(owner, caption, question, informative, PromptIcon::Question) &&
           Message(owner, caption, warning, PromptIcon::Warning, PromptButtons::YesNoDefaultNo,
                   informative) == PromptAnswer::Yes;
}

QString ScreenText(const QString& text) {
    QString s = text;
    s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    s.replace(QLatin1String("\n\r"), QLatin1String("\n"));
    s.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return s;
}

QString QtNameFilter(const QString& filter) {
    // The description may already carry its pattern in brackets, which is what
    // QFileDialog reads; otherwise the pattern is appended that way.
    const qsizetype bar = filter.indexOf(QLatin1Char('|'));
    if (bar < 0) {
        return filter;
    }
    const QString description = filter.left(bar);
    const QString pattern = filter.mid(bar + 1);
    if (description.endsWith(QLatin1Char(')')) &&
        description.contains(QLatin1Char('(') + pattern + QLatin1Char(')'))) {
        return description;
    }
    return description + QLatin1String(" (") + QString(pattern).replace(';', ' ') +
           QLatin1Char(')');
}

PromptAnswer QtPrompter::Message(QWidget* owner, const QString& caption, const QString& text,
                                 PromptIcon icon, PromptButtons buttons,
                                 const QString& informative) {
    QMessageBox box(owner ? owner : QApplication::activeWindow());
    // A title and a close box only, as a message box has: it cannot be minimised.
    box.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                       Qt::WindowCloseButtonHint);
    box.setWindowTitle(caption);
    // Texts are shown as written, never read as markup (a path may hold "<").
    box.setTextFormat(Qt::PlainText);
    box.setText(ScreenText(text));
    if (!informative.isEmpty()) {
        box.setInformativeText(ScreenText(informative));
    }
    switch (icon) {
        case PromptIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case PromptIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case PromptIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case PromptIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
    }
    const bool yesNo = buttons != PromptButtons::Ok;
    if (yesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.setDefaultButton(buttons == PromptButtons::YesNo ? QMessageBox::Yes : QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    const int r = box.exec();
    if (yesNo) {
        return r == QMessageBox::Yes ? PromptAnswer::Yes : PromptAnswer::No;
    }
    return PromptAnswer::Ok;
}

namespace {

void Prepare(QFileDialog& dialog, const FileDialogOptions& dialogOptions) {
    // Qt's own dialog, so that it speaks the program's language on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setWindowTitle(dialogOptions.title);
    dialog.setNameFilter(QtNameFilter(dialogOptions.filter));
    QString ext = dialogOptions.defaultExt;
    if (ext.startsWith(QLatin1String("*."))) {
        ext = ext.mid(2);
    }
    dialog.setDefaultSuffix(ext);
    if (!dialogOptions.directory.isEmpty()) {
        dialog.setDirectory(dialogOptions.directory);
    }
    if (!dialogOptions.fileName.isEmpty()) {
        dialog.selectFile(dialogOptions.fileName);
    }
    if (dialogOptions.helpContext > 0) {
        dialog.setProperty("HelpContext", dialogOptions.helpContext);
    }
}

}  // namespace

QString QtPrompter::SaveFile(QWidget* owner, const FileDialogOptions& dialogOptions) {
    QFileDialog dialog(owner);
    Prepare(dialog, dialogOptions);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !dialogOptions.overwritePrompt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

QString QtPrompter::OpenFile(QWidget* owner, const FileDialogOptions& dialogOptions) {
    QFileDialog dialog(owner);
    Prepare(dialog, dialogOptions);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(dialogOptions.fileMustExist ? QFileDialog::ExistingFile
                                                   : QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return {};
    }
    return dialog.selectedFiles().constFirst();
}

bool QtPrompter::AskText(QWidget* owner, const QString& caption, const QString& label,
                         QString& text) {
    QInputDialog dialog(owner ? owner : QApplication::activeWindow());
    dialog.setWindowTitle(caption);
    dialog.setLabelText(ScreenText(label));
    for (QLabel* l : dialog.findChildren<QLabel*>())
        l->setTextFormat(Qt::PlainText);
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.setTextValue(text);
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(QStringLiteral("Отмена"));
    if (dialog.exec() != QDialog::Accepted)
        return false;
    text = dialog.textValue();
    return true;
}

PromptAnswer ScriptedPrompter::Message(QWidget*, const QString& caption, const QString& text,
                                       PromptIcon icon, PromptButtons buttons,
                                       const QString& informative) {
    Record r;
    r.kind = Record::Box;
    r.caption = caption;
    r.text = text;
    r.informative = informative;
    r.icon = icon;
    r.buttons = buttons;
    records.push_back(r);
    if (onPrompt) {
        onPrompt(r);
    }
    if (buttons == PromptButtons::Ok) {
        return PromptAnswer::Ok;
    }
    if (answers_.empty()) {
        return PromptAnswer::No;
    }
    const PromptAnswer a = answers_.front();
    answers_.pop_front();
    return a;
}

QString ScriptedPrompter::RecordFileDialog(Record::Kind kind,
                                           const FileDialogOptions& dialogOptions) {
    Record r;
    r.kind = kind;
    r.caption = dialogOptions.title;
    r.dialogOptions = dialogOptions;
    records.push_back(r);
    if (onPrompt) {
        onPrompt(r);
    }
    if (files_.empty()) {
        return {};
    }
    QString f = files_.front();
    files_.pop_front();
    return f;
}

QString ScriptedPrompter::SaveFile(QWidget*, const FileDialogOptions& dialogOptions) {
    return RecordFileDialog(Record::Save, dialogOptions);
}

QString ScriptedPrompter::OpenFile(QWidget*, const FileDialogOptions& dialogOptions) {
    return RecordFileDialog(Record::Open, dialogOptions);
}

bool ScriptedPrompter::AskText(QWidget*, const QString& caption, const QString& label,
                               QString& text) {
    Record r;
    r.kind = Record::Text;
    r.caption = caption;
    r.text = label + QLatin1Char('\n') + text;
    records.push_back(r);
    if (onPrompt)
        onPrompt(r);
    if (texts_.empty() || !texts_.front()) {
        if (!texts_.empty())
            texts_.pop_front();
        return false;
    }
    text = *texts_.front();
    texts_.pop_front();
    return true;
}

namespace {
Prompter* g_prompter = nullptr;
}

Prompter& AppPrompter() {
    static QtPrompter real;
    return g_prompter ? *g_prompter : real;
}

void SetAppPrompter(Prompter* prompter) {
    g_prompter = prompter;
}
