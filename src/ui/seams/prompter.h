// Every message box and file dialog of the program goes through a Prompter, so the
// texts the operator reads exist in one place and tests can answer them.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class QWidget;

enum class PromptIcon { Information, Warning, Error, Question };
// YesNoDefaultNo: a question whose Yes destroys something; Enter answers No.
enum class PromptButtons { Ok, YesNo, YesNoDefaultNo };
enum class PromptAnswer { Ok, Yes, No, Cancel };

// A save or open dialog as the windows describe it. `filter` is written as
// "description|pattern" (e.g. "Файл базы ключей(*.vx2)|*.vx2").
struct FileDialogOptions {
    QString title;
    QString filter;
    QString defaultExt;  // "*.vx2" or "vx2"
    QString fileName;
    QString directory;
    bool overwritePrompt = false;
    bool pathMustExist = false;
    bool fileMustExist = false;
    int helpContext = 0;  // the topic F1 opens in the dialog (0: its owner's)
};

class Prompter {
  public:
    virtual ~Prompter() = default;

    // Texts may hold "\r" as line breaks; captions and texts are shown as given.
    // `informative`, when given, is the box's second, smaller text under the first.
    virtual PromptAnswer Message(QWidget* owner, const QString& caption, const QString& text,
                                 PromptIcon icon, PromptButtons buttons,
                                 const QString& informative = {}) = 0;
    // The chosen path, or an empty string when the operator cancelled.
    virtual QString SaveFile(QWidget* owner, const FileDialogOptions& dialogOptions) = 0;
    virtual QString OpenFile(QWidget* owner, const FileDialogOptions& dialogOptions) = 0;
    // One line of text asked for, offered with `text` already in it. False when the
    // operator cancelled; `text` then keeps what it held.
    virtual bool AskText(QWidget* owner, const QString& caption, const QString& label,
                         QString& text) = 0;

    // The kinds of box the program shows.
    void Error(QWidget* owner, const QString& caption, const QString& text);
    void Error(QWidget* owner, const QString& caption, const std::string& utf8Text);
    void Info(QWidget* owner, const QString& caption, const QString& text);
    void Warning(QWidget* owner, const QString& caption, const QString& text);
    bool AskYesNo(QWidget* owner, const QString& caption, const QString& text,
                  PromptIcon icon = PromptIcon::Question);
    bool AskYesNo(QWidget* owner, const QString& caption, const QString& text,
                  const QString& informative, PromptIcon icon = PromptIcon::Question);
    // Clearing or overwriting the controller asks twice: the question, then a warning
    // ("Внимание! …") whose default is No, so that two Enters never clear the controller.
    bool ConfirmTwice(QWidget* owner, const QString& caption, const QString& question,
                      const QString& warning, const QString& informative = {});
};

// "\r\n", "\n\r" and "\r" become "\n" for the screen.
QString ScreenText(const QString& text);
// "Файл базы ключей(*.vx2)|*.vx2" -> a QFileDialog name filter.
QString QtNameFilter(const QString& filter);

// The real one: QMessageBox and Qt's own (translated) file dialogs.
class QtPrompter : public Prompter {
  public:
    PromptAnswer Message(QWidget* owner, const QString& caption, const QString& text,
                         PromptIcon icon, PromptButtons buttons,
                         const QString& informative = {}) override;
    QString SaveFile(QWidget* owner, const FileDialogOptions& dialogOptions) override;
    QString OpenFile(QWidget* owner, const FileDialogOptions& dialogOptions) override;
    bool AskText(QWidget* owner, const QString& caption, const QString& label,
                 QString& text) override;
};

// For tests: records every prompt and answers from a queue. An unscripted question is
// answered No, an unscripted file dialog or line of text is cancelled.
class ScriptedPrompter : public Prompter {
  public:
    struct Record {
        enum Kind { Box, Save, Open, Text } kind = Box;
        QString caption;  // the box caption or the dialog title
        QString text;     // Text: the label, then the text offered
        PromptIcon icon = PromptIcon::Information;
        PromptButtons buttons = PromptButtons::Ok;
        QString informative;
        FileDialogOptions dialogOptions;
    };

    void AnswerBox(PromptAnswer a) { answers_.push_back(a); }
    void AnswerFile(const QString& path) { files_.push_back(path); }  // empty = cancel
    void AnswerText(const QString& text) { texts_.push_back(text); }
    void CancelText() { texts_.push_back(std::nullopt); }

    PromptAnswer Message(QWidget* owner, const QString& caption, const QString& text,
                         PromptIcon icon, PromptButtons buttons,
                         const QString& informative = {}) override;
    QString SaveFile(QWidget* owner, const FileDialogOptions& dialogOptions) override;
    QString OpenFile(QWidget* owner, const FileDialogOptions& dialogOptions) override;
    bool AskText(QWidget* owner, const QString& caption, const QString& label,
                 QString& text) override;

    std::vector<Record> records;
    // Runs inside each box before it is answered (e.g. to look at the window state).
    std::function<void(const Record&)> onPrompt;

  private:
    QString RecordFileDialog(Record::Kind kind, const FileDialogOptions& dialogOptions);

    std::deque<PromptAnswer> answers_;
    std::deque<QString> files_;
    std::deque<std::optional<QString>> texts_;
};

// The process-wide prompter (a QtPrompter unless a test sets another one).
Prompter& AppPrompter();
void SetAppPrompter(Prompter* prompter);  // nullptr restores the QtPrompter
