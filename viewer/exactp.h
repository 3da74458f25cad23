// The exact position dialog and its saved positions ("hotspots.dat", their digits in
// "hotspots.digits").
#ifndef SPIRALIS_EXACTP_H
#define SPIRALIS_EXACTP_H

#include <memory>

#include "dlgcommon.h"
#include "exact_view.h"
#include "ui_exactp.h"

class TViewerState;

// The zoom factor shown for a scale: the home scale divided by it, 1 for a scale that is not
// positive.
long double ScaleToFactor(long double scale);
// The scale for a typed factor: the home scale divided by it, 1.0 (not the home scale) for a
// factor that is not positive or not a number.
long double FactorToScale(long double factor);
// The zoom factor shown for a scale given as text: as for a scale that extended reals hold
// (two decimals) up to 1e36, beyond with the digits that the scale's magnitude needs, so that
// a deep view's factor reads back as its scale.
QString FactorText(const std::string &scale);

// "Exact view spot position": shows the current view's centre and zoom factor, jumps to a typed
// view, and keeps the saved positions. A position added with centre texts that hold more digits
// than their extended values give back keeps the texts as its digits, which loading shows.
class TExactPosition : public TDialogForm {
    Q_OBJECT
  public:
    explicit TExactPosition(TViewerState &state, QWidget *parent = nullptr);
    ~TExactPosition() override;  // a list still open is saved

    // The list while the dialog is shown, null while it is hidden.
    const THotList *List() const { return list.get(); }

  public slots:
    void LoadClick();
    void AddClick();
    void DeleteClick();
    void ImportClick();
    void OKClick();
    void CancelClick();
    void NameListClick();

  protected:
    void FormShow() override;
    void FormHide() override;

  private:
    void ShowView(long double re, long double im, long double factor);
    // The view's texts with every digit, the factor as the home scale divided by the scale.
    void ShowView(const quob::common::ExactView &view);
    // Reads X, Y and Mul; the factor becomes a scale. An edit that does not hold a number
    // throws EConvertError naming its field: OK and Add then show it and change nothing.
    void ReadView(long double &re, long double &im, long double &scale) const;
    // Also the texts as typed, the scale's computed from the factor's; true when they hold
    // digits beyond the extended reals or make a deep view, which then goes by its texts.
    bool ReadView(long double &re, long double &im, long double &scale,
                  quob::common::ExactView &texts) const;

    // Shows a view given as decimal texts: the centre's texts as they are, the factor of the
    // scale's text.
    void ShowTexts(const QString &re, const QString &im, const QString &scale);

    TViewerState &state;
    Ui::TExactPosition ui;
    QFileDialog *const importDialog;
    std::unique_ptr<THotList> list;
    int32_t unattachedTold = 0;  // the list's unattached lines at the last showing, told once
};

#endif  // SPIRALIS_EXACTP_H
