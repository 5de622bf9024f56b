#include "group_box.h"

#include <QFontMetrics>
#include <QPainter>

namespace tarnwick {

void TGroupBox::paintEvent(QPaintEvent* /*Event*/) {
    QPainter painter(this);
    const QFontMetrics metrics(font());
    const int frameTop = metrics.height() / 2;
    const QRect frame(0, frameTop, width() - 2, height() - frameTop - 2);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawRect(frame);
    painter.setPen(palette().color(QPalette::Light));
    painter.drawRect(frame.translated(1, 1));
    const QString caption = title();
    if (caption.isEmpty()) {
        return;
    }
    // The caption's own background hides the frame line behind it.
    const QRect captionRect(8, 0, metrics.horizontalAdvance(caption), metrics.height());
    painter.fillRect(captionRect, palette().brush(QPalette::Window));
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(captionRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, caption);
}

}  // namespace tarnwick
