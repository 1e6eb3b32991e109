// The about box: the program's name, its version and what it is for.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class TAboutBox : public QDialog {
    Q_OBJECT
  public:
    explicit TAboutBox(QWidget* owner);

    QLabel* ProductName;
    QLabel* Version;
    QLabel* Comments;
    QPushButton* bbClose;
};
