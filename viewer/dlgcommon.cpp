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

namespace {

// The C locale for the number conversions: QApplication sets the user's locale, whose decimal
// separator may not be a point.
locale_t CLocale() {
    static const locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
    return c;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexDigit(char c) {
    if (IsDigit(c)) return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

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

}  // namespace

TDialogForm::TDialogForm(QWidget *parent) : QDialog(parent) {}

void TDialogForm::FixInPlace() {
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
    for (int digit; (digit = HexDigit(*p)) >= 0 && digit < base; ++p, ++digits) {
        magnitude = magnitude * base + digit;
        if (magnitude > int64_t(INT32_MAX) + 1) throw fail();
    }
    if (digits == 0 || *p != '\0') throw fail();
    const int64_t value = negative ? -magnitude : magnitude;
    if (value > INT32_MAX) throw fail();
    return static_cast<int32_t>(value);
}
