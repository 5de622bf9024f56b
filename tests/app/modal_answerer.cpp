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
            Answered.push_back(
                {box->windowTitle(), box->text(), box->icon(), box->standardButtons()});
            QAbstractButton* ok = box->button(QMessageBox::Ok);
            if (ok != nullptr) {
                ok->click();
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
