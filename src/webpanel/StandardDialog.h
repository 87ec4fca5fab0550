#pragma once

#include <QBrush>
#include <QColor>
#include <QDialog>

// A frameless panel owned by another window, whose background colour is
// keyed out: every part of it painted in m_keyColor is neither seen nor
// clicked, so only its children show over the owner. The key is realised as
// the window's shape (the union of its visible children), which X11 applies
// to both drawing and input without a compositor.
//
// It stays with its owner: it is shown above the owner whenever the owner is
// shown, and hidden while the owner is hidden or minimised. Placement is the
// owner's business. User-interface thread only.
class CStandardDialog : public QDialog {
    Q_OBJECT
public:
    explicit CStandardDialog(QWidget* parent);
    ~CStandardDialog() override;

    // Runs OnInitDialog once; the first show does it otherwise.
    void Create();
    bool Initialised() const { return m_bInitialised; }

    // The colour that becomes fully transparent; also the background.
    QColor m_keyColor;
    QBrush m_keyBrush;

    // Recomputes the shape from the children; call after moving them.
    void ApplyColorKey();

    // Closing the panel closes its owner first (as the owner's own close
    // request would), then ends the panel.
    void accept() override; // OnOK
    void reject() override; // OnCancel

protected:
    // Key colour and brush. Derived panels place their children here.
    virtual bool OnInitDialog();

    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void CloseOwner();

    bool m_bInitialised = false;
    bool m_bHiddenWithOwner = false;
};
