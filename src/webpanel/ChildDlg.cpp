#include "webpanel/ChildDlg.h"

#include <algorithm>

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMouseEvent>

CChildDlg::CChildDlg(QWidget* parent, const std::string& pageAddress)
    : CStandardDialog(parent)
    , m_pageAddress(QString::fromStdString(pageAddress))
    , m_browser(this)
{
    m_keyColor = QColor(0, 255, 0);
    qApp->installEventFilter(&m_filter);
}

CChildDlg::~CChildDlg()
{
    qApp->removeEventFilter(&m_filter);
}

bool CChildDlg::OnInitDialog()
{
    m_browser.setGeometry(0, 0, BrowserWidth, BrowserHeight);
    // The owner may give the panel its own size; it never hides the page.
    resize(std::max(width(), BrowserWidth), std::max(height(), BrowserHeight));
    CStandardDialog::OnInitDialog();
    if (parentWidget() != nullptr) {
        m_browser.Navigate(m_pageAddress);
    }
    return true;
}

void CChildDlg::accept()
{
}

void CChildDlg::closeEvent(QCloseEvent* event)
{
    if (event->spontaneous()) {
        event->ignore();
        return;
    }
    CStandardDialog::closeEvent(event);
}

bool CChildDlg::IsMine(QObject* receiver) const
{
    for (QObject* object = receiver; object != nullptr; object = object->parent()) {
        if (object == this) {
            return true;
        }
        // Another window's widgets (the owner's) are never ours, even though
        // the owner is our parent.
        auto* widget = qobject_cast<QWidget*>(object);
        if (widget != nullptr && widget->isWindow()) {
            return false;
        }
    }
    return false;
}

bool CChildDlg::PreTranslateMessage(QObject* receiver, QEvent* event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::ShortcutOverride: {
        if (!IsMine(receiver)) {
            return false;
        }
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Escape) {
            return true;
        }
        if (key->key() == Qt::Key_F4 && (key->modifiers() & Qt::AltModifier)) {
            return true;
        }
        return false;
    }
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        if (!IsMine(receiver)) {
            return false;
        }
        auto* mouse = static_cast<QMouseEvent*>(event);
        return mouse->button() == Qt::RightButton;
    }
    case QEvent::ContextMenu:
        // The menu a right press would open is part of that press.
        return IsMine(receiver) && static_cast<QContextMenuEvent*>(event)->reason() == QContextMenuEvent::Mouse;
    default:
        return false;
    }
}
