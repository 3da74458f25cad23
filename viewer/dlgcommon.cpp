#include "dlgcommon.h"

#include <locale.h>

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QCompleter>
#include <QEvent>
#include <QGroupBox>
#include <QHideEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSet>
#include <QShowEvent>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <utility>

#include "list_records.h"

namespace {

// The C locale for the number conversions: QApplication sets the user's locale, whose decimal
// separator may not be a point.
locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    return c;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Hands the double clicks on a list box's viewport to a handler.
class TDoubleClickFilter : public QObject {
  public:
    TDoubleClickFilter(QObject *parent, std::function<void()> handler)
        : QObject(parent), handler(std::move(handler)) {}

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() != QEvent::MouseButtonDblClick)
            return QObject::eventFilter(watched, event);
        handler();
        return true;
    }

  private:
    const std::function<void()> handler;
};

// ---- Fitting texts ------------------------------------------------------------------------------

bool IsTextControl(const QWidget *w) {
    return qobject_cast<const QLabel *>(w) || qobject_cast<const QAbstractButton *>(w);
}

// Edits, lists, frames, and labels of several lines: what may widen to keep a form's columns.
bool IsField(const QWidget *w) {
    if (const auto *label = qobject_cast<const QLabel *>(w))
        return label->wordWrap() && label->height() >= 2 * label->fontMetrics().lineSpacing();
    return !qobject_cast<const QAbstractButton *>(w);
}

// The size at which a label or button shows its whole text.
QSize TextSize(QWidget *w) {
    auto *label = qobject_cast<QLabel *>(w);
    if (!label || !label->wordWrap()) return w->sizeHint();
    if (label->height() < 2 * label->fontMetrics().lineSpacing()) {  // a line that may wrap
        label->setWordWrap(false);
        const QSize line = label->sizeHint();
        label->setWordWrap(true);
        return line;
    }
    const int width = std::max(label->width(), label->minimumSizeHint().width());
    return {width, label->heightForWidth(width)};
}

QList<QWidget *> ChildWidgets(const QWidget *container) {
    QList<QWidget *> children;
    for (QObject *object : container->children())
        if (auto *w = qobject_cast<QWidget *>(object); w && !w->isWindow()) children.append(w);
    return children;
}

int Right(const QWidget *w) { return w->x() + w->width(); }
int Bottom(const QWidget *w) { return w->y() + w->height(); }

// Room for controls that have grown by d beyond their right edge at: the controls right of it in
// their rows move, with the rows of the moved ones and the controls aligned under them; the
// fields and lists across the edge in those rows widen.
void MakeRoomRight(const QList<QWidget *> &siblings, const QSet<QWidget *> &grown, int at, int d) {
    int top = INT32_MAX, bottom = INT32_MIN;
    for (const QWidget *w : grown)
        top = std::min(top, w->y()), bottom = std::max(bottom, Bottom(w));
    QSet<QWidget *> moved;
    for (bool more = true; more;) {
        more = false;
        for (QWidget *s : siblings) {
            if (grown.contains(s) || moved.contains(s) || s->x() < at) continue;
            const bool inRows = s->y() < bottom && Bottom(s) > top;
            const bool underMoved = std::any_of(moved.begin(), moved.end(),
                                                [s](const QWidget *m) { return m->x() == s->x(); });
            if (!inRows && !underMoved) continue;
            moved.insert(s);
            top = std::min(top, s->y()), bottom = std::max(bottom, Bottom(s));
            more = true;
        }
    }
    QSet<int> rights;  // the right edges that moved
    for (QWidget *s : moved) {
        rights.insert(Right(s));
        s->move(s->x() + d, s->y());
    }
    QSet<QWidget *> widened;
    for (QWidget *s : siblings)
        if (!grown.contains(s) && !moved.contains(s) && IsField(s) && s->x() < at &&
            Right(s) > at && s->y() < bottom && Bottom(s) > top)
            widened.insert(s);
    // Fields that ended where a moved or widened one ended keep ending with it.
    for (const QWidget *s : widened) rights.insert(Right(s));
    for (QWidget *s : siblings)
        if (!grown.contains(s) && !moved.contains(s) && IsField(s) && s->x() < at &&
            rights.contains(Right(s)))
            widened.insert(s);
    for (QWidget *s : widened) s->resize(s->width() + d, s->height());
}

// A control that has grown downwards past the top of one below it pushes that one, and what lies
// below it, down.
void MakeRoomBelow(const QList<QWidget *> &siblings, QWidget *grown, int oldBottom) {
    int push = 0;
    for (const QWidget *s : siblings)
        if (s != grown && s->y() >= oldBottom && s->x() < Right(grown) && Right(s) > grown->x())
            push = std::max(push, Bottom(grown) - s->y());
    if (push <= 0) return;
    for (QWidget *s : siblings)
        if (s != grown && s->y() >= oldBottom) s->move(s->x(), s->y() + push);
}

// Fits the container's children, then grows the container to keep its margins.
void FitChildren(QWidget *container) {
    if (container->layout()) return;  // a layout gives its widgets their sizes
    const QList<QWidget *> children = ChildWidgets(container);
    if (children.isEmpty()) return;
    QRect content;
    for (const QWidget *c : children) content |= c->geometry();
    const int rightMargin = std::max(0, container->width() - content.right() - 1);
    const int bottomMargin = std::max(0, container->height() - content.bottom() - 1);
    // A narrow control centred in its container stays centred (the About box's OK).
    QSet<QWidget *> centred;
    for (QWidget *c : children)
        if (c->width() < container->width() / 2 &&
            std::abs(c->x() - (container->width() - Right(c))) <= 1)
            centred.insert(c);

    for (QWidget *c : children) {
        if (IsTextControl(c) || ChildWidgets(c).isEmpty()) continue;
        const QRect before = c->geometry();
        FitChildren(c);
        if (c->width() > before.width())
            MakeRoomRight(children, {c}, before.right() + 1, c->width() - before.width());
        if (c->height() > before.height()) MakeRoomBelow(children, c, before.bottom() + 1);
    }

    // Columns from left to right, each as wide as its widest text.
    std::map<std::pair<int, int>, QSet<QWidget *>> columns;  // by left edge and width
    for (QWidget *c : children)
        if (IsTextControl(c)) columns[{c->x(), c->width()}].insert(c);
    std::vector<QSet<QWidget *>> ordered;
    for (const auto &[place, members] : columns) ordered.push_back(members);
    for (const QSet<QWidget *> &members : ordered) {
        int width = 0;
        for (QWidget *m : members) width = std::max(width, TextSize(m).width());
        QWidget *first = *members.begin();
        const int d = width - first->width();
        if (d <= 0) continue;
        const int at = Right(first);
        for (QWidget *m : members) m->resize(width, m->height());
        MakeRoomRight(children, members, at, d);
    }
    for (QWidget *c : children) {
        if (!IsTextControl(c)) continue;
        const int height = TextSize(c).height();
        if (height <= c->height()) continue;
        const int oldBottom = Bottom(c);
        c->resize(c->width(), height);
        MakeRoomBelow(children, c, oldBottom);
    }

    QRect fitted;
    for (const QWidget *c : children) fitted |= c->geometry();
    const int width = std::max(container->width(), fitted.right() + 1 + rightMargin);
    for (QWidget *c : centred) c->move((width - c->width()) / 2, c->y());
    container->resize(width, std::max(container->height(), fitted.bottom() + 1 + bottomMargin));
}

}  // namespace

void FitTexts(QWidget *form) { FitChildren(form); }

TDialogForm::TDialogForm(QWidget *parent) : QDialog(parent) {}

void TDialogForm::FixInPlace() {
    FitTexts(this);
    setFixedSize(size());
    if (const QScreen *screen = this->screen()) {
        const QRect available = screen->availableGeometry();
        move(available.center() - QRect(QPoint(), frameGeometry().size()).center());
    }
}

void TDialogForm::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    if (!event->spontaneous()) FormShow();
}

void TDialogForm::hideEvent(QHideEvent *event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) FormHide();
}

void OnDoubleClick(QListWidget *listBox, std::function<void()> handler) {
    QWidget *viewport = listBox->viewport();
    viewport->installEventFilter(new TDoubleClickFilter(viewport, std::move(handler)));
}

namespace {

// Hides a completion list that shows while its file dialog does not (the listing arrived late).
class TCompletionGuard : public QObject {
  public:
    TCompletionGuard(QFileDialog *dialog) : QObject(dialog), dialog(dialog) {}

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Show && !dialog->isVisible())
            QMetaObject::invokeMethod(static_cast<QWidget *>(watched), "hide",
                                      Qt::QueuedConnection);
        return QObject::eventFilter(watched, event);
    }

  private:
    QFileDialog *const dialog;
};

}  // namespace

void UseOwnFileDialog(QFileDialog *dialog) {
    dialog->setOptions(QFileDialog::DontUseNativeDialog);
    const auto *edit = dialog->findChild<QLineEdit *>("fileNameEdit");
    if (!edit || !edit->completer() || !edit->completer()->popup()) return;
    QWidget *list = edit->completer()->popup();
    list->installEventFilter(new TCompletionGuard(dialog));
    QObject::connect(dialog, &QDialog::finished, list, &QWidget::hide);
}

QFileDialog *MakeImportDialog(QWidget *parent, const QString &caption, const QString &filter) {
    auto *chooser = new QFileDialog(parent, caption);
    chooser->setObjectName("ImportDialog");
    UseOwnFileDialog(chooser);
    chooser->setAcceptMode(QFileDialog::AcceptOpen);
    chooser->setFileMode(QFileDialog::ExistingFile);
    chooser->setNameFilters({filter, "All files (*)"});
    return chooser;
}

int32_t SelectedIndex(const QListWidget *listBox) {
    const QList<QListWidgetItem *> selected = listBox->selectedItems();
    return selected.isEmpty() ? -1 : listBox->row(selected.constFirst());
}

QString FormatFixed(long double value, int decimals) {
    if (std::isnan(value)) return "NAN";
    if (std::isinf(value)) return value < 0 ? "-INF" : "INF";
    char text[128];
    const locale_t previous = uselocale(CLocale());
    std::snprintf(text, sizeof text, std::fabs(value) >= 1e36L ? "%.*LE" : "%.*Lf", decimals,
                  value);
    uselocale(previous);
    return QString::fromLatin1(text);
}

QString FormatGeneral(long double value, int digits) {
    char text[64];
    const locale_t previous = uselocale(CLocale());
    std::snprintf(text, sizeof text, "%.*Lg", digits, value);
    uselocale(previous);
    return QString::fromLatin1(text);
}

QString ShortestText(long double value) {
    for (int digits = 1; digits < 21; ++digits) {
        const QString text = FormatGeneral(value, digits);
        if (strtold_l(text.toLatin1().constData(), nullptr, CLocale()) == value) return text;
    }
    return FormatGeneral(value, 21);
}

EConvertError::EConvertError(const QString &message) : std::runtime_error(message.toStdString()) {}

long double ReadReal(const QString &text, const QString &field, long double largest) {
    const QByteArray bytes = text.toUtf8();
    const char *p = bytes.constData();
    const auto fail = [&] {
        return EConvertError(
            QString("%1: '%2' is not a valid floating point value").arg(field, text));
    };
    while (IsBlank(*p)) ++p;
    const char *const number = p;
    if (*p == '+' || *p == '-') ++p;
    int digits = 0;
    while (IsDigit(*p)) ++p, ++digits;
    if (*p == '.') {
        ++p;
        while (IsDigit(*p)) ++p, ++digits;
    }
    if (digits == 0) throw fail();  // also the empty text
    if (*p == 'E' || *p == 'e') {
        ++p;
        if (*p == '+' || *p == '-') ++p;
        if (!IsDigit(*p)) throw fail();
        while (IsDigit(*p)) ++p;
    }
    const char *const end = p;
    while (IsBlank(*p)) ++p;
    if (*p != '\0') throw fail();
    // The grammar above is a subset of strtold's, which then rounds correctly to extended.
    const std::string checked(number, end);
    const long double value = strtold_l(checked.c_str(), nullptr, CLocale());
    if (std::fabs(value) > largest) throw fail();  // also beyond the extended range: infinite
    return value;
}

int32_t ReadInteger(const QString &text) {
    const QByteArray bytes = text.toUtf8();
    const char *p = bytes.constData();
    const auto fail = [&text]() {
        return EConvertError(QString("'%1' is not a valid integer value").arg(text));
    };
    while (IsBlank(*p)) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    const bool hex = *p == '$';
    if (hex) ++p;
    const int base = hex ? 16 : 10;
    int64_t magnitude = 0;
    int digits = 0;
    for (int digit; (digit = quob::common::HexDigitValue(*p)) >= 0 && digit < base; ++p, ++digits) {
        magnitude = magnitude * base + digit;
        if (magnitude > int64_t(INT32_MAX) + 1) throw fail();
    }
    if (digits == 0 || *p != '\0') throw fail();
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX) throw fail();
    return static_cast<int32_t>(value);
}
