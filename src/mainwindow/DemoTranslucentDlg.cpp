#include "mainwindow/DemoTranslucentDlg.h"

#include <exception>
#include <memory>

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QKeyEvent>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <QUrl>

#include "layeredui/LoadPngImage.h"
#include "mainwindow/StartFaces.h"
#include "run/Commands.h"
#include "run/DownloadFolderChoice.h"
#include "run/DownloadSession.h"
#include "run/Messages.h"
#include "webpanel/ChildDlg.h"
#include "webpanel/WebEngineSetup.h"

const char* const CDemoTranslucentDlg::DefaultCaption = "Zorvath下载器";
const char* const CDemoTranslucentDlg::WindowTitle = "Zorvath下载器";

namespace {

const QColor White = QColor::fromRgba(0xFFFFFFFF);
const QColor Black = QColor::fromRgba(0xFF000000);

// One row of the window's layout: pictures, place and size.
struct ButtonLayout {
    StateImageIds images;
    QRect rect;
};

void PlaceButton(CTranslucentButton& button, const ButtonLayout& layout)
{
    button.LoadStateImages(layout.images);
    button.setGeometry(layout.rect);
}

void SetTextLook(CTranslucentButton& button, QColor color)
{
    button.SetTextFont(12);
    button.SetTextColor(color);
}

} // namespace

CDemoTranslucentDlg::CDemoTranslucentDlg()
    : CTranslucentDialog(151)
{
    qApp->installEventFilter(&m_filter);
}

CDemoTranslucentDlg::~CDemoTranslucentDlg()
{
    qApp->removeEventFilter(&m_filter);
    IDownloadWindow* self = this;
    g_downloadSession.mainWindow.compare_exchange_strong(self, nullptr);
    IProgressBar* bar = &m_progressLink;
    g_downloadSession.progressBar.compare_exchange_strong(bar, nullptr);
}

QWidget* CDemoTranslucentDlg::CreateCompanionDialog()
{
    m_config = ReadLocalConfig();
    if (!WebPanelAvailable()) {
        return nullptr;
    }
    try {
        return new CChildDlg(this, m_config.m_strAd);
    } catch (const std::exception&) {
        return nullptr;
    }
}

void CDemoTranslucentDlg::InitWidgets()
{
    // 1. The widgets, in drawing order.
    PlaceButton(m_btnMinimize, {{152, 0, 152, 152, 0}, {676, 100, 17, 16}});
    AddWidget(&m_btnMinimize);

    PlaceButton(m_btnClose, {{131, 0, 131, 131, 0}, {703, 100, 16, 16}});
    AddWidget(&m_btnClose);

    const unsigned progressImages[] = {138, 139, 213};
    for (int slot = 0; slot < 3; ++slot) {
        m_progress.FreeImage(slot);
        m_progress.SetImage(slot, LoadPngImage(progressImages[slot]));
    }
    m_progress.setGeometry(163, 461, 371, 20);
    AddWidget(&m_progress);

    PlaceButton(m_btnStatus, {{144, 0, 144, 144, 0}, {404, 495, 228, 16}});
    SetTextLook(m_btnStatus, White);
    m_btnStatus.SetText(QString());
    m_btnStatus.EnableWidget(false);
    AddWidget(&m_btnStatus);

    PlaceButton(m_btnFolder, {{155, 0, 155, 155, 0}, {255, 412, 243, 28}});
    SetTextLook(m_btnFolder, Black);
    m_btnFolder.SetTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_btnFolder.SetPathShortening(true);
    m_btnFolder.SetText(QString::fromUtf8(kNoFolderPrompt));
    AddWidget(&m_btnFolder);

    PlaceButton(m_btnBrowse, {{145, 0, 210, 210, 0}, {501, 416, 45, 20}});
    m_btnBrowse.EnableWidget(false);
    AddWidget(&m_btnBrowse);

    PlaceButton(m_btnStart, {kStartFace, {558, 432, 145, 53}});
    m_btnStart.EnableWidget(false);
    AddWidget(&m_btnStart);

    PlaceButton(m_btnHomepage, {{202, 0, 203, 203, 0}, {368, 327, 145, 53}});
    AddWidget(&m_btnHomepage);

    PlaceButton(m_btnRegister, {{214, 0, 215, 215, 0}, {554, 327, 145, 53}});
    AddWidget(&m_btnRegister);

    PlaceButton(m_btnVersion, {{171, 0, 171, 171, 0}, {153, 495, 191, 16}});
    SetTextLook(m_btnVersion, White);
    m_btnVersion.SetText(QString::fromUtf8(kVersionLabel));
    m_btnVersion.EnableWidget(false);
    AddWidget(&m_btnVersion);

    // 2., 3. Icon and title: they show in the task bar only.
    setWindowIcon(LoadIconResource(194));
    setWindowTitle(QString::fromUtf8(WindowTitle));

    // 4. From here on the runs can reach the window.
    g_downloadSession.progressBar = &m_progressLink;
    g_downloadSession.mainWindow = this;

    // 5. The download folder: remembered, or the default rule.
    const RunEnvironment& environment = g_downloadSession.environment;
    InitDownloadFolder(environment.FolderStore(), environment.Drives(), m_config, this);

    // 6., 7. Checking look until the first run is done.
    m_btnStart.EnableWidget(false);
    m_btnStart.LoadStateImages(kCheckingFace);
    m_btnBrowse.ShowWidget(false);

    // 8. The first check run; its handle is not kept.
    StartCheckRun(false);
}

CTranslucentWnd* CDemoTranslucentDlg::Widget(int control)
{
    switch (control) {
    case IDC_START: return &m_btnStart;
    case IDC_MINIMIZE: return &m_btnMinimize;
    case IDC_CLOSE: return &m_btnClose;
    case IDC_BROWSE: return &m_btnBrowse;
    case IDC_FOLDER: return &m_btnFolder;
    case IDC_PROGRESS: return &m_progress;
    case IDC_STATUS: return &m_btnStatus;
    case IDC_HOMEPAGE: return &m_btnHomepage;
    case IDC_VERSION: return &m_btnVersion;
    case IDC_REGISTER: return &m_btnRegister;
    default: return nullptr;
    }
}

template <class Fn>
auto CDemoTranslucentDlg::OnUiThread(Fn&& fn) -> decltype(fn())
{
    if (QThread::currentThread() == thread()) {
        return fn();
    }
    using Result = decltype(fn());
    if constexpr (std::is_void_v<Result>) {
        QMetaObject::invokeMethod(this, std::forward<Fn>(fn), Qt::BlockingQueuedConnection);
    } else {
        Result result{};
        QMetaObject::invokeMethod(
            this, [&] { result = fn(); }, Qt::BlockingQueuedConnection);
        return result;
    }
}

const LocalConfig& CDemoTranslucentDlg::Config() const
{
    return m_config;
}

void CDemoTranslucentDlg::SetText(int control, const std::string& utf8Text)
{
    if (CTranslucentWnd* widget = Widget(control)) {
        widget->SetText(QString::fromStdString(utf8Text));
    }
}

void CDemoTranslucentDlg::Enable(int control, bool enabled)
{
    if (CTranslucentWnd* widget = Widget(control)) {
        widget->EnableWidget(enabled);
    }
}

void CDemoTranslucentDlg::Show(int control, bool shown)
{
    if (CTranslucentWnd* widget = Widget(control)) {
        widget->ShowWidget(shown);
    }
}

void CDemoTranslucentDlg::SetFace(StartFace face)
{
    m_btnStart.LoadStateImages(FaceImages(face));
}

void CDemoTranslucentDlg::HideMainWindow()
{
    OnUiThread([this] {
        if (QWidget* panel = Companion()) {
            panel->hide();
        }
        hide();
    });
}

MessageAnswer CDemoTranslucentDlg::Message(MessageOwner owner, const std::string& utf8Text,
                                           MessageButtons buttons, const std::string& caption)
{
    return OnUiThread([&] {
        QMessageBox box(owner == MessageOwner::MainWindow ? this : nullptr);
        box.setWindowTitle(QString::fromStdString(caption.empty() ? std::string(DefaultCaption) : caption));
        box.setText(QString::fromStdString(utf8Text));
        box.setIcon(QMessageBox::NoIcon);
        if (buttons == MessageButtons::OkCancel) {
            box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
            box.setDefaultButton(QMessageBox::Ok);
        } else {
            box.setStandardButtons(QMessageBox::Ok);
        }
        return box.exec() == QMessageBox::Ok ? MessageAnswer::Ok : MessageAnswer::Cancel;
    });
}

std::optional<std::string> CDemoTranslucentDlg::ChooseFolder(const std::string& utf8Title)
{
    return OnUiThread([&]() -> std::optional<std::string> {
        QString start = QString::fromStdString(g_downloadSession.DownloadFolder());
        QString chosen = QFileDialog::getExistingDirectory(this, QString::fromStdString(utf8Title), start,
                                                           QFileDialog::ShowDirsOnly);
        if (chosen.isEmpty()) {
            return std::nullopt;
        }
        return QDir(chosen).absolutePath().toStdString();
    });
}

void CDemoTranslucentDlg::RunStartCommand()
{
    // Queued even from this thread: the command runs after whatever the
    // user-interface thread is doing now, never beside another command.
    QMetaObject::invokeMethod(this, [this] { OnStartButton(); }, Qt::QueuedConnection);
}

void CDemoTranslucentDlg::OnCommand(int controlId)
{
    switch (controlId) {
    case IDC_START: OnStartButton(); break;
    case IDC_MINIMIZE: OnMinimizeButton(); break;
    case IDC_CLOSE: OnCloseButton(); break;
    case IDC_BROWSE: OnBrowseButton(); break;
    case IDC_FOLDER: OnFolderButton(); break;
    case IDC_HOMEPAGE: OnHomepageButton(); break;
    case IDC_REGISTER: OnRegisterButton(); break;
    default: break;
    }
}

void CDemoTranslucentDlg::OnStartButton()
{
    ::OnStartButton();
}

void CDemoTranslucentDlg::OnMinimizeButton()
{
    showMinimized();
}

void CDemoTranslucentDlg::OnCloseButton()
{
    ::OnCloseButton();
}

void CDemoTranslucentDlg::OnBrowseButton()
{
    ::OnBrowseButton();
}

void CDemoTranslucentDlg::OnFolderButton()
{
    std::string folder = g_downloadSession.DownloadFolder();
    if (!folder.empty()) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(folder)));
    }
}

void CDemoTranslucentDlg::OnHomepageButton()
{
    QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(m_config.m_strGuanwang)));
}

void CDemoTranslucentDlg::OnRegisterButton()
{
    QDesktopServices::openUrl(QUrl::fromUserInput(QString::fromStdString(m_config.m_strZhuce)));
}

bool CDemoTranslucentDlg::PreTranslateMessage(QObject* receiver, QEvent* event)
{
    if (event->type() != QEvent::KeyPress) {
        return false;
    }
    auto* widget = qobject_cast<QWidget*>(receiver);
    if (widget == nullptr || widget->window() != this) {
        return false;
    }
    auto* key = static_cast<QKeyEvent*>(event);
    switch (key->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        return true;
    case Qt::Key_F4:
        if (key->modifiers() & Qt::AltModifier) {
            OnCloseButton();
            return true;
        }
        return false;
    default:
        return false;
    }
}

void CDemoTranslucentDlg::closeEvent(QCloseEvent* event)
{
    if (event->spontaneous()) {
        event->ignore();
        OnCloseButton();
        return;
    }
    CTranslucentDialog::closeEvent(event);
}
