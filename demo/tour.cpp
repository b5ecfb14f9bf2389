#include "demo/tour.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QPainter>
#include <QToolTip>
#include <QMouseEvent>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>

namespace {
QString g_dir;
int g_saved = 0;
}  // namespace

void tour_set_dir(const QString& dir) { g_dir = dir; }
int tour_saved_count() { return g_saved; }

QString tour_file(const char* name) { return QDir(g_dir).filePath(QString::fromUtf8(name)); }

void tour_save(QWidget* w, const char* name) {
    if (!w) return;
    const QString path = QDir(g_dir).filePath(QString::fromUtf8(name) + QStringLiteral(".png"));
    if (w->grab().save(path)) {
        std::printf("%s\n", path.toUtf8().constData());
        std::fflush(stdout);
        ++g_saved;
    } else {
        std::fprintf(stderr, "could not save %s\n", path.toUtf8().constData());
    }
}

void tour_save_with_tooltip(QWidget* w, QWidget* field, const char* name) {
    if (!w || !field) return;
    QLabel tip(field->toolTip());
    tip.setPalette(QToolTip::palette());
    tip.setFont(QToolTip::font());
    tip.setFrameStyle(QFrame::Box | QFrame::Plain);
    tip.setMargin(4);
    tip.setAutoFillBackground(true);
    tip.adjustSize();
    const QPixmap window = w->grab();
    const QPixmap note = tip.grab();
    const QPoint at = field->mapTo(w, QPoint(field->width() / 4, field->height() + 4));
    QPixmap both(std::max(window.width(), at.x() + note.width()), std::max(window.height(), at.y() + note.height()));
    both.fill(Qt::white);
    QPainter p(&both);
    p.drawPixmap(0, 0, window);
    p.drawPixmap(at, note);
    p.end();
    const QString path = QDir(g_dir).filePath(QString::fromUtf8(name) + QStringLiteral(".png"));
    if (both.save(path)) {
        std::printf("%s\n", path.toUtf8().constData());
        std::fflush(stdout);
        ++g_saved;
    } else {
        std::fprintf(stderr, "could not save %s\n", path.toUtf8().constData());
    }
}

void tour_save_next_modal(const char* name) {
    QTimer::singleShot(400, [name] {
        QWidget* modal = QApplication::activeModalWidget();
        tour_save(modal, name);
        if (modal) modal->close();
    });
}

void tour_save_modal_when(std::function<bool()> ready, const char* name) {
    QTimer::singleShot(100, [ready, name] {
        if (!ready()) return tour_save_modal_when(ready, name);
        QWidget* modal = QApplication::activeModalWidget();
        tour_save(modal, name);
        modal->close();
    });
}

void tour_click_row(QTreeWidget* list, int row, bool twice) {
    if (!list || !list->topLevelItem(row)) return;
    const QPoint at = list->visualItemRect(list->topLevelItem(row)).center();
    list->setCurrentItem(list->topLevelItem(row));
    QMouseEvent release(QEvent::MouseButtonRelease, at, list->viewport()->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(list->viewport(), &release);
    if (twice) {
        QMouseEvent dbl(QEvent::MouseButtonDblClick, at, list->viewport()->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                        Qt::NoModifier);
        QApplication::sendEvent(list->viewport(), &dbl);
    }
}

void tour_wait_ms(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QApplication::processEvents(QEventLoop::AllEvents, 20);
}
