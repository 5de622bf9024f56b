// Answers the modal boxes and dialogs a window opens while a test drives it, so no
// test can hang on one: message boxes are recorded and confirmed, file dialogs are
// handed to the test's action (or cancelled), anything else modal is closed.
#pragma once

#include <QFileDialog>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <vector>

namespace tarnwick::test {

struct TAnsweredBox {
    QString Title;
    QString Text;
    QMessageBox::Icon Icon;
    QMessageBox::StandardButtons Buttons;
};

class TModalAnswerer : public QObject {
    Q_OBJECT
  public:
    using TFileDialogAction = std::function<void(QFileDialog& Dialog)>;

    explicit TModalAnswerer(TFileDialogAction FileDialogAction = {});

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
};

}  // namespace tarnwick::test
