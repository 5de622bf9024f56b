// A group box drawn the classic way: an etched frame whose top edge runs through the
// middle of the caption. Controls are placed in it by absolute pixel positions.
#pragma once

#include <QGroupBox>

namespace tarnwick {

class TGroupBox : public QGroupBox {
    Q_OBJECT
  public:
    using QGroupBox::QGroupBox;

  protected:
    void paintEvent(QPaintEvent* Event) override;
};

}  // namespace tarnwick
