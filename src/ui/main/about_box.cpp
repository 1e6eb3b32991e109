#include "ui/main/about_box.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "ui/main/icons.h"
#include "ui/main/version.h"

// A title and a close box only: a modal box cannot be minimised out of sight.
TAboutBox::TAboutBox(QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("TAboutBox"));
    setWindowTitle(QStringLiteral("О программе ..."));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    setModal(true);

    auto* outer = new QVBoxLayout(this);
    // A raised panel with a lowered one inside, as bevelled frames.
    auto* raised = new QFrame(this);
    raised->setObjectName(QStringLiteral("Panel1"));
    raised->setFrameShape(QFrame::Panel);
    raised->setFrameShadow(QFrame::Raised);
    auto* raisedLayout = new QVBoxLayout(raised);
    auto* lowered = new QFrame(raised);
    lowered->setFrameShape(QFrame::Panel);
    lowered->setFrameShadow(QFrame::Sunken);
    raisedLayout->addWidget(lowered);
    auto* lines = new QVBoxLayout(lowered);
    lines->setContentsMargins(24, 16, 24, 16);
    lines->setSpacing(8);

    auto* icon = new QLabel(lowered);
    icon->setPixmap(MakeIcon(AppIcon::App).pixmap(48, 48));
    icon->setAlignment(Qt::AlignCenter);
    lines->addWidget(icon);

    ProductName = new QLabel(QStringLiteral("Vardex 2"), lowered);
    ProductName->setObjectName(QStringLiteral("ProductName"));
    QFont big = ProductName->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.3);
    ProductName->setFont(big);
    Version = new QLabel(QStringLiteral("Версия ") + FileVersion(), lowered);
    Version->setObjectName(QStringLiteral("Version"));
    Comments = new QLabel(QStringLiteral("Программа управления ключами"), lowered);
    Comments->setObjectName(QStringLiteral("Comments"));
    Comments->setWordWrap(true);
    Comments->setMinimumWidth(240);
    for (QLabel* l : {ProductName, Version, Comments}) {
        l->setAlignment(Qt::AlignCenter);
        lines->addWidget(l);
    }
    outer->addWidget(raised);

    bbClose = new QPushButton(QStringLiteral("Закрыть"), this);
    bbClose->setObjectName(QStringLiteral("bbClose"));
    bbClose->setDefault(true);
    connect(bbClose, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttons->addWidget(bbClose);
    buttons->addStretch(1);
    outer->addLayout(buttons);
    outer->setSizeConstraint(QLayout::SetFixedSize);
}
