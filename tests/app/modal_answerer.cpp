#include "modal_answerer.h"

#include <QApplication>
#include <QPushButton>
#include <utility>

namespace tarnwick::test {

TModalAnswerer::TModalAnswerer(TFileDialogAction FileDialogAction)
    : FileAction(std::move(FileDialogAction)) {
    // The timer also fires inside the nested event loop of a modal box.
    PollTimer.setInterval(5);
    connect(&PollTimer, &QTimer::timeout, this, &TModalAnswerer::Poll);
    PollTimer.start();
}

std::vector<QString> TModalAnswerer::Texts() const {
    std::vector<QString> texts;
    for (const TAnsweredBox& box : Answered) {
        texts.push_back(box.Text);
    }
    return texts;
}

void TModalAnswerer::Poll() {
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!widget->isVisible() || !widget->isModal()) {
            continue;
        }
        if (auto* box = qobject_cast<QMessageBox*>(widget)) {
            TAnsweredBox answered;
            answered.Title = box->windowTitle();
            answered.Text = box->text();
            answered.Icon = box->icon();
            answered.Buttons = box->standardButtons();
            for (QAbstractButton* button : box->buttons()) {
                answered.ButtonTexts.append(button->text());
                answered.ButtonIcons = answered.ButtonIcons || !button->icon().isNull();
            }
            if (box->defaultButton() != nullptr) {
                answered.DefaultButtonText = box->defaultButton()->text();
            }
            answered.FontPixelSize = box->font().pixelSize();
            Answered.push_back(answered);
            QAbstractButton* answer = box->button(QMessageBox::Ok);
            if (box->button(QMessageBox::Yes) != nullptr) {
                const bool yes = YesNoAsked < YesNoAnswers.size() && YesNoAnswers[YesNoAsked];
                ++YesNoAsked;
                answer = box->button(yes ? QMessageBox::Yes : QMessageBox::No);
            }
            if (answer != nullptr) {
                answer->click();
            } else {
                box->reject();
            }
            return;
        }
        if (auto* dialog = qobject_cast<QFileDialog*>(widget)) {
            ++FileDialogCount;
            if (FileAction) {
                FileAction(*dialog);
            }
            if (dialog->isVisible()) {
                dialog->reject();
            }
            return;
        }
        widget->close();
        return;
    }
}

}  // namespace tarnwick::test
