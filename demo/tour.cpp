#include "demo/tour.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
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

namespace {

// Every text a picture shows, one per line, so that two tours can be compared word for word
// (a recorded tour and its replay, say). The note of a recording is not what the tool shows.
void save_texts(QWidget* w, const QString& path) {
    QStringList lines{QStringLiteral("title: ") + w->windowTitle()};
    for (QWidget* c : w->findChildren<QWidget*>()) {
        if (!c->isVisibleTo(w) || c->objectName() == QStringLiteral("record_note")) continue;
        const QString name = c->objectName().isEmpty() ? QString::fromUtf8(c->metaObject()->className()) : c->objectName();
        if (auto* l = qobject_cast<QLabel*>(c)) lines << name + QStringLiteral(": ") + l->text();
        else if (auto* e = qobject_cast<QLineEdit*>(c)) lines << name + QStringLiteral(": ") + e->text();
        else if (auto* b = qobject_cast<QAbstractButton*>(c))
            lines << name + QStringLiteral(": ") + b->text() + (b->isCheckable() && b->isChecked() ? QStringLiteral(" [x]") : QString()) +
                         (b->isEnabled() ? QString() : QStringLiteral(" (greyed)"));
        else if (auto* box = qobject_cast<QComboBox*>(c)) lines << name + QStringLiteral(": ") + box->currentText();
        else if (auto* list = qobject_cast<QTreeWidget*>(c)) {
            for (int r = 0; r < list->topLevelItemCount(); ++r) {
                QStringList cells;
                for (int col = 0; col < list->columnCount(); ++col) cells << list->topLevelItem(r)->text(col);
                lines << name + QStringLiteral(" row: ") + cells.join(QStringLiteral(" | "));
            }
        }
    }
    QFile f(path);
    if (f.open(QIODevice::WriteOnly)) f.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
}

// A picture of w under name, and the texts w shows beside it (name.txt).
void save_picture(QWidget* w, const QPixmap& picture, const char* name) {
    save_texts(w, QDir(g_dir).filePath(QString::fromUtf8(name) + QStringLiteral(".txt")));
    const QString path = QDir(g_dir).filePath(QString::fromUtf8(name) + QStringLiteral(".png"));
    if (picture.save(path)) {
        std::printf("%s\n", path.toUtf8().constData());
        std::fflush(stdout);
        ++g_saved;
    } else {
        std::fprintf(stderr, "could not save %s\n", path.toUtf8().constData());
    }
}

}  // namespace

void tour_save(QWidget* w, const char* name) {
    if (!w) return;
    save_picture(w, w->grab(), name);
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
    save_picture(w, both, name);
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
