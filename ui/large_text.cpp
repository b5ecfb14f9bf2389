#include "ui/large_text.h"

#include <QMouseEvent>
#include <QPainter>

void draw_large_text(QPainter& painter, const QRect& rect, const QString& text, bool enabled) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(38);
    font.setWeight(QFont::Normal);
    painter.save();
    painter.setFont(font);
    painter.setPen(enabled ? QColor(0, 0, 0) : QColor(150, 150, 150));
    painter.drawText(rect, Qt::AlignCenter | Qt::TextSingleLine, text.left(39));
    painter.restore();
}

void large_text_display::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    update();
}

void large_text_display::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().button());
    draw_large_text(p, rect(), text_, isEnabled());
}

void large_text_display::mouseDoubleClickEvent(QMouseEvent* e) {
    if (e->button() == Qt::LeftButton) emit doubleClicked();
    QWidget::mouseDoubleClickEvent(e);
}
