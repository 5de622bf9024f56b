#include "message_boxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <memory>

#include "main_window.h"

namespace tarnwick {

namespace {

QMessageBox::StandardButton RunBox(QWidget* Parent, QMessageBox::Icon Icon, const QString& Title,
                                   const QString& Text, QMessageBox::StandardButtons Buttons,
                                   QMessageBox::StandardButton Default) {
    QMessageBox box(Icon, Title, Text, Buttons, Parent);
    box.setFont(ControlFont());
    for (QAbstractButton* button : box.buttons()) {
        button->setIcon(QIcon());
    }
    if (QAbstractButton* yes = box.button(QMessageBox::Yes)) {
        yes->setText(QStringLiteral("Ja"));
    }
    if (QAbstractButton* no = box.button(QMessageBox::No)) {
        no->setText(QStringLiteral("Nein"));
        box.setEscapeButton(no);
    }
    box.setDefaultButton(Default);
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    return clicked == nullptr ? QMessageBox::NoButton : box.standardButton(clicked);
}

}  // namespace

void ShowHintBox(QWidget* Parent, const QString& Text) {
    RunBox(Parent, QMessageBox::Warning, QStringLiteral("Tarnwick - Hinweis"), Text,
           QMessageBox::Ok, QMessageBox::Ok);
}

void ShowNoticeBox(QWidget* Parent, const QString& Text) {
    RunBox(Parent, QMessageBox::NoIcon, QStringLiteral("Tarnwick"), Text, QMessageBox::Ok,
           QMessageBox::Ok);
}

bool AskYesNoBox(QWidget* Parent, const QString& Text) {
    return RunBox(Parent, QMessageBox::Question, QStringLiteral("Tarnwick"), Text,
                  QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes) == QMessageBox::Yes;
}

bool InstallGermanTranslations() {
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(QStringLiteral("qtbase_de"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        return false;
    }
    // The application owns it from here on.
    translator->setParent(QCoreApplication::instance());
    QCoreApplication::installTranslator(translator.release());
    return true;
}

}  // namespace tarnwick
