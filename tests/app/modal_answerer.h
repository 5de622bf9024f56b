// Answers the modal boxes and dialogs a window opens while a test drives it, so no
// test can hang on one: message boxes are recorded and confirmed, file dialogs are
// handed to the test's action (or cancelled), anything else modal is closed.
#pragma once

#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <vector>

namespace tarnwick::test {

struct TAnsweredBox {
    QString Title;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons Buttons;
    QStringList ButtonTexts;    // as shown, in the box's order
    QString DefaultButtonText;  // the button Enter presses
    int FontPixelSize = 0;
    bool ButtonIcons = false;  // any button shows an icon
};

class TModalAnswerer : public QObject {
    Q_OBJECT
  public:
    using TFileDialogAction = std::function<void(QFileDialog& Dialog)>;

    explicit TModalAnswerer(TFileDialogAction FileDialogAction = {});

    // Answers of Yes/No boxes, in order (true: Yes); a box asked beyond them gets No.
    std::vector<bool> YesNoAnswers;

    const std::vector<TAnsweredBox>& Boxes() const { return Answered; }
    int FileDialogs() const { return FileDialogCount; }
    // Texts of the answered boxes, in order.
    std::vector<QString> Texts() const;

  private:
    void Poll();

    TFileDialogAction FileAction;
    QTimer PollTimer;
    std::vector<TAnsweredBox> Answered;
    int FileDialogCount = 0;
    std::size_t YesNoAsked = 0;
};

}  // namespace tarnwick::test
