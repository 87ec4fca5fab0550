#include "webpanel/StandardDialog.h"

#include <QEvent>
#include <QPalette>
#include <QRegion>
#include <QShowEvent>
#include <QWindowStateChangeEvent>

CStandardDialog::CStandardDialog(QWidget* parent)
    // A tool window is transient for its owner: kept above it by the window
    // manager and left out of the task bar.
    : QDialog(parent, Qt::Tool | Qt::FramelessWindowHint)
{
    if (parent != nullptr) {
        parent->installEventFilter(this);
    }
}

CStandardDialog::~CStandardDialog() = default;

void CStandardDialog::Create()
{
    if (m_bInitialised) {
        return;
    }
    m_bInitialised = true;
    OnInitDialog();
}

bool CStandardDialog::OnInitDialog()
{
    m_keyBrush = QBrush(m_keyColor);
    QPalette palette = this->palette();
    palette.setBrush(QPalette::Window, m_keyBrush);
    setPalette(palette);
    setAutoFillBackground(true);
    ApplyColorKey();
    return true;
}

void CStandardDialog::ApplyColorKey()
{
    if (!m_bInitialised) {
        return;
    }
    QRegion shown;
    for (QObject* child : children()) {
        auto* widget = qobject_cast<QWidget*>(child);
        if (widget != nullptr && !widget->isWindow() && !widget->isHidden()) {
            shown += widget->geometry();
        }
    }
    // With no child every pixel is key-coloured; a one-pixel shape outside
    // the window keeps it fully transparent (an empty region would mean no
    // shape at all).
    if (shown.isEmpty()) {
        shown = QRegion(-1, -1, 1, 1);
    }
    setMask(shown);
}

void CStandardDialog::showEvent(QShowEvent* event)
{
    Create();
    QDialog::showEvent(event);
    raise();
}

void CStandardDialog::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    ApplyColorKey();
}

bool CStandardDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parent()) {
        switch (event->type()) {
        case QEvent::Show:
            // Without a window manager nothing keeps an owned window above
            // its owner: the owner mapped later would cover the panel.
            if (m_bHiddenWithOwner) {
                m_bHiddenWithOwner = false;
                show();
            }
            if (isVisible()) {
                raise();
            }
            break;
        case QEvent::Hide:
            if (isVisible()) {
                m_bHiddenWithOwner = true;
                hide();
            }
            break;
        case QEvent::WindowStateChange: {
            auto* owner = static_cast<QWidget*>(watched);
            if (owner->isMinimized() && isVisible()) {
                m_bHiddenWithOwner = true;
                hide();
            } else if (!owner->isMinimized() && m_bHiddenWithOwner && owner->isVisible()) {
                m_bHiddenWithOwner = false;
                show();
            }
            break;
        }
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CStandardDialog::CloseOwner()
{
    if (QWidget* owner = parentWidget()) {
        owner->close();
    }
}

void CStandardDialog::accept()
{
    CloseOwner();
    QDialog::accept();
}

void CStandardDialog::reject()
{
    CloseOwner();
    QDialog::reject();
}
