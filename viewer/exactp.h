// The saved positions ("hotspots.dat") and the exact position dialog.
#ifndef SPIRALIS_EXACTP_H
#define SPIRALIS_EXACTP_H

#include <QByteArray>
#include <QDialog>
#include <cstdint>
#include <limits>
#include <memory>

#include "datafiles.h"
#include "ui_exactp.h"

class QListWidget;

static_assert(std::numeric_limits<long double>::digits == 64, "long double must be x87 extended");

// An 80-bit extended real as stored in files: 10 bytes, little-endian.
using TExtended = uint8_t[10];
long double LoadExtended(const TExtended &bytes);
void StoreExtended(TExtended &bytes, long double value);

// One saved position, also the 287-byte record of the file: the view's centre and its scale
// (not the zoom factor) as extended reals, and a NUL-terminated UTF-8 comment.
struct THotEntry {
    TExtended Re;
    TExtended Im;
    TExtended Scale;
    char Comment[257];
};
static_assert(sizeof(THotEntry) == 287);

// The saved positions, bound to a list box whose line i shows the comment of entry i. It lives
// while the dialog is shown: creating it reads the file, destroying it writes the file whole.
// Entries read from the file keep their ten bytes per value, so they go back bit for bit.
class THotList {
  public:
    static constexpr int32_t Capacity = 1025;
    static constexpr size_t CommentSize = sizeof(THotEntry::Comment);

    THotList(const char *fileName, QListWidget *listBox);
    virtual ~THotList();
    THotList(const THotList &) = delete;
    THotList &operator=(const THotList &) = delete;

    // Appends a position; the comment is cut to 256 bytes on a character boundary. A full list
    // refuses the entry.
    void AddEntry(const QByteArray &comment, long double re, long double im, long double scale);
    void DeleteSelected();
    // The selected entry's values; false when no line is selected.
    bool GetSelected(long double &re, long double &im, long double &scale) const;
    void ShowEntries();

    int32_t Count() const { return count; }

  private:
    bool Append(const THotEntry &entry);

    THotEntry entries[Capacity] = {};
    int32_t count = 0;
    QListWidget *const listBox;
    TListFile file;
};

// The zoom factor shown for a scale: the home scale divided by it, 1 for a scale that is not
// positive.
long double ScaleToFactor(long double scale);
// The scale for a typed factor: the home scale divided by it, 1.0 (not the home scale) for a
// factor that is not positive or not a number.
long double FactorToScale(long double factor);

// "Exact view spot position": shows the current view's centre and zoom factor, jumps to a typed
// view, and keeps the saved positions.
class TExactPosition : public QDialog, public Ui::TExactPosition {
    Q_OBJECT
  public:
    explicit TExactPosition(QWidget *parent = nullptr);
    ~TExactPosition() override;

    // The list while the dialog is shown, null while it is hidden.
    THotList *List() const { return list.get(); }

  public slots:
    void FormShow();
    void FormHide();
    void LoadClick();
    void AddClick();
    void DeleteClick();
    void OKClick();
    void CancelClick();
    void NameListClick();

  protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void reject() override;  // Esc and the close box

  private:
    void ShowView(long double re, long double im, long double factor);
    // Reads X, Y and Mul; the factor becomes a scale. An edit that does not hold a number
    // throws EConvertError naming its field: OK and Add then show it and change nothing.
    void ReadView(long double &re, long double &im, long double &scale) const;

    std::unique_ptr<THotList> list;
};

#endif  // SPIRALIS_EXACTP_H
