// Large centred text: "Arial" 38 px, black, grey (150, 150, 150) when disabled.
#pragma once

#include <QWidget>

class QPainter;

void draw_large_text(QPainter& painter, const QRect& rect, const QString& text, bool enabled);

// A display whose text is drawn by draw_large_text; it reports double-clicks.
class large_text_display : public QWidget {
    Q_OBJECT
public:
    explicit large_text_display(QWidget* parent = nullptr) : QWidget(parent) {}
    void setText(const QString& text);
    QString text() const { return text_; }

signals:
    void doubleClicked();

protected:
    void paintEvent(QPaintEvent*) override;
    void mouseDoubleClickEvent(QMouseEvent* e) override;

private:
    QString text_;
};
