// The main window against a real nginx, driven with real clicks on the
// offscreen platform.
//
// Each case runs the window in a child process of this same program
// ("--scenario NAME"), in a working folder of its own with a config.ini, a
// home folder and a report log: the installer launch and the confirmed close
// end the process, as they do for the user, and every run starts from a fresh
// session. The child checks what it sees on the window and prints one line
// per finding; the parent checks what the run left behind (report log, files,
// remembered folder).
#include <cstdio>
#include <functional>
#include <map>
#include <memory>

#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMessageBox>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebEngineView>

#include "layeredui/LoadPngImage.h"
#include "mainwindow/DemoTranslucentDlg.h"
#include "mainwindow/StartFaces.h"
#include "mainwindow/TQ7DownloadApp.h"
#include "run/DownloadSession.h"
#include "run/RunReport.h"
#include "platform/Drives.h"
#include "platform/InstanceLock.h"
#include "support/NginxServer.h"
#include "webpanel/ChildDlg.h"
#include "webpanel/WebEngineSetup.h"

namespace {

constexpr int kBigFileSize = 6 * 1024 * 1024;
const char* const kRegKey = "folder";
const char* const kDirName = "ZorvathGame";

// ---------------------------------------------------------------- child side

int g_failures = 0;

void Say(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

#define CHECK(cond)                                                                                \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            Say(QStringLiteral("FAIL line %1: %2").arg(__LINE__).arg(QStringLiteral(#cond)));      \
            ++g_failures;                                                                          \
        }                                                                                          \
    } while (false)

#define CHECK_EQ(actual, expected)                                                                 \
    do {                                                                                           \
        auto a_ = (actual);                                                                        \
        auto e_ = (expected);                                                                      \
        if (!(a_ == e_)) {                                                                         \
            Say(QStringLiteral("FAIL line %1: %2").arg(__LINE__).arg(QStringLiteral(#actual)));    \
            ++g_failures;                                                                          \
        }                                                                                          \
    } while (false)

bool WaitUntil(const std::function<bool()>& pred, int timeoutMs = 60000)
{
    QElapsedTimer timer;
    timer.start();
    while (!pred()) {
        if (timer.elapsed() > timeoutMs) {
            return false;
        }
        QTest::qWait(20);
    }
    return true;
}

#define WAIT_FOR(cond)                                                                             \
    do {                                                                                           \
        if (!WaitUntil([&] { return static_cast<bool>(cond); })) {                                 \
            Say(QStringLiteral("FAIL line %1: timed out waiting for %2")                           \
                    .arg(__LINE__)                                                                 \
                    .arg(QStringLiteral(#cond)));                                                  \
            ++g_failures;                                                                          \
            return;                                                                                \
        }                                                                                          \
    } while (false)

// Answers every message box that shows with the next answer of its script
// (OK once the script is used up) and records caption and text.
class MessageAnswerer : public QObject {
public:
    struct Seen {
        QString caption;
        QString text;
    };

    MessageAnswerer()
    {
        connect(&m_timer, &QTimer::timeout, this, [this] { Poll(); });
        m_timer.start(30);
    }

    void Script(QMessageBox::StandardButton answer) { m_script.append(answer); }
    const QList<Seen>& SeenMessages() const { return m_seen; }
    // The folder the next folder choices pick (an empty text cancels them).
    void ChooseFolder(const QString& folder) { m_folder = folder; }
    QStringList FolderDialogTitles() const { return m_folderTitles; }

private:
    void Poll()
    {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            if (dialog == m_lastDialog || !dialog->isVisible()) {
                return;
            }
            if (m_folder.isEmpty()) {
                m_folderTitles << dialog->windowTitle();
                m_lastDialog = dialog;
                dialog->reject();
                return;
            }
            // The dialog fills its file model on a thread of its own after it
            // shows, and settles on its own start folder: a folder set or
            // selected through the model may not have taken yet, and
            // accept() would then read another path (or warn of a missing
            // folder and stay open). The name field is what the dialog
            // reads first, so the chosen folder is typed there, and the
            // dialog is accepted once it says that folder is selected.
            if (dialog != m_seenDialog) {
                m_seenDialog = dialog;
                m_folderTitles << dialog->windowTitle();
            }
            if (auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")))
                name->setText(m_folder);
            else
                dialog->selectFile(m_folder);
            if (dialog->selectedFiles() == QStringList{m_folder}) {
                m_lastDialog = dialog;
                QMetaObject::invokeMethod(dialog, "accept");
            }
            return;
        }
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box == m_last || !box->isVisible()) {
            return;
        }
        m_last = box;
        m_seen.append({box->windowTitle(), box->text()});
        Say(QStringLiteral("MESSAGE %1|%2").arg(box->windowTitle(), QString(box->text()).replace('\n', "\\n")));
        QMessageBox::StandardButton answer = m_script.isEmpty() ? QMessageBox::Ok : m_script.takeFirst();
        if (QAbstractButton* button = box->button(answer)) {
            button->click();
        }
    }

    QTimer m_timer;
    QList<QMessageBox::StandardButton> m_script;
    QList<Seen> m_seen;
    QPointer<QMessageBox> m_last;
    QPointer<QFileDialog> m_lastDialog;
    QPointer<QFileDialog> m_seenDialog;
    QString m_folder;
    QStringList m_folderTitles;
};

// Records the addresses handed to the desktop instead of opening them.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    UrlRecorder()
    {
        for (const char* scheme : {"http", "https", "file"}) {
            QDesktopServices::setUrlHandler(scheme, this, "Open");
        }
    }
    QList<QUrl> opened;

public slots:
    void Open(const QUrl& url) { opened << url; }
};

// Whether the button holds exactly the pictures of that face (normal, hover
// and pressed slots; the face leaves the others empty).
bool ShowsFace(const CTranslucentButton& button, const StateImageIds& face)
{
    auto same = [&](int slot, unsigned id) {
        const QImage* held = button.ImageAt(slot);
        if (id == 0) {
            return held == nullptr || held->isNull();
        }
        return held != nullptr && *held == *LoadPngImage(id);
    };
    return same(CTranslucentButton::ImageNormal, face.normal) && same(CTranslucentButton::ImageHover, face.hover) &&
           same(CTranslucentButton::ImagePressed, face.pressed) &&
           same(CTranslucentButton::ImageDisabled, face.disabled);
}

// The window as a person sees it: the composed frame with the page panel's
// browser over it at its offset.
void SaveScreenshot(CDemoTranslucentDlg& window, const QString& name)
{
    QImage shot = window.ComposeFrame();
    if (auto* panel = qobject_cast<CChildDlg*>(window.Companion())) {
        QPainter painter(&shot);
        painter.drawPixmap(window.CompanionOffset(), panel->Browser().grab());
    }
    QString folder = qEnvironmentVariable("ZORVATH_ARTIFACTS");
    QDir().mkpath(folder);
    QString path = folder + "/" + name + ".png";
    CHECK(shot.save(path));
    Say("SCREENSHOT " + path);
}

void WaitForPage(CDemoTranslucentDlg& window)
{
    auto* panel = qobject_cast<CChildDlg*>(window.Companion());
    if (panel == nullptr) {
        return;
    }
    WaitUntil([&] { return !panel->Browser().title().isEmpty() && panel->Browser().title() != "about:blank"; }, 20000);
    QTest::qWait(300);
}

QString Text(CTranslucentWnd& widget)
{
    return widget.Text();
}

void Click(CTranslucentWnd& widget)
{
    QTest::mouseClick(&widget, Qt::LeftButton, {}, widget.rect().center());
}

QString DefaultFolder()
{
    return QDir::homePath() + "/" + kDirName + "/";
}

void WaitCheckDone(CDemoTranslucentDlg& w)
{
    WAIT_FOR(ShowsFace(w.m_btnStart, kStartFace) && w.m_btnStart.isEnabled());
}

// Widgets of the layout table, in drawing order, with their places.
struct LayoutRow {
    int control;
    QRect rect;
    unsigned normal;
    unsigned hover;
    bool enabled;
};
const LayoutRow kLayout[] = {
    {IDC_MINIMIZE, {676, 100, 17, 16}, 152, 152, true},  {IDC_CLOSE, {703, 100, 16, 16}, 131, 131, true},
    {IDC_PROGRESS, {163, 461, 371, 20}, 138, 0, true},   {IDC_STATUS, {404, 495, 228, 16}, 144, 144, false},
    {IDC_FOLDER, {255, 412, 243, 28}, 155, 155, true},   {IDC_BROWSE, {501, 416, 45, 20}, 145, 210, false},
    {IDC_START, {558, 432, 145, 53}, 216, 216, false},   {IDC_HOMEPAGE, {368, 327, 145, 53}, 202, 203, true},
    {IDC_REGISTER, {554, 327, 145, 53}, 214, 215, true}, {IDC_VERSION, {153, 495, 191, 16}, 171, 171, false},
};

void ScenarioInit(CDemoTranslucentDlg& w, MessageAnswerer& answers)
{
    // Straight after initialisation, before the first check run's effects
    // (queued to this thread) have been delivered.
    w.InitDialog();

    CHECK_EQ(w.windowTitle(), QStringLiteral("Zorvath下载器"));
    CHECK(!w.windowIcon().isNull());
    CHECK_EQ(w.size(), QSize(740, 525));
    CHECK_EQ(int(w.Widgets().size()), 10);
    for (int i = 0; i < 10 && i < int(w.Widgets().size()); ++i) {
        const LayoutRow& row = kLayout[i];
        CTranslucentWnd* widget = w.Widgets()[i];
        if (widget->ControlId() != row.control) {
            Say(QStringLiteral("FAIL drawing order: %1 at %2").arg(widget->ControlId()).arg(i));
            ++g_failures;
            continue;
        }
        if (widget->geometry() != row.rect) {
            Say(QStringLiteral("FAIL place of %1").arg(row.control));
            ++g_failures;
        }
        CHECK_EQ(widget->isEnabled(), row.enabled);
        const QImage* normal = widget->ImageAt(0);
        if (normal == nullptr || *normal != *LoadPngImage(row.normal)) {
            Say(QStringLiteral("FAIL picture of %1").arg(row.control));
            ++g_failures;
        }
        if (row.hover != 0 && (widget->ImageAt(2) == nullptr || *widget->ImageAt(2) != *LoadPngImage(row.hover))) {
            Say(QStringLiteral("FAIL hover picture of %1").arg(row.control));
            ++g_failures;
        }
        for (int j = 0; j < i; ++j) {
            if (w.Widgets()[j]->geometry().intersects(widget->geometry())) {
                Say(QStringLiteral("FAIL %1 overlaps %2").arg(row.control).arg(w.Widgets()[j]->ControlId()));
                ++g_failures;
            }
        }
    }
    CHECK(*w.m_progress.ImageAt(1) == *LoadPngImage(139));
    CHECK(*w.m_progress.ImageAt(2) == *LoadPngImage(213));
    CHECK_EQ(w.m_progress.Pos(), 0);
    CHECK(w.m_progress.IsWidgetVisible());

    // The state the first check starts from.
    CHECK(ShowsFace(w.m_btnStart, kCheckingFace));
    CHECK(!w.m_btnStart.isEnabled());
    CHECK(!w.m_btnBrowse.IsWidgetVisible());
    CHECK_EQ(Text(w.m_btnFolder), " " + DefaultFolder());
    CHECK_EQ(Text(w.m_btnVersion), QStringLiteral("版本信息:"));
    CHECK_EQ(Text(w.m_btnStatus), QString());
    for (CTranslucentButton* label : {&w.m_btnStatus, &w.m_btnVersion, &w.m_btnFolder}) {
        CHECK_EQ(label->TextFont().pixelSize(), 12);
    }
    CHECK_EQ(w.m_btnStatus.TextColor(), QColor(255, 255, 255));
    CHECK_EQ(w.m_btnVersion.TextColor(), QColor(255, 255, 255));
    CHECK_EQ(w.m_btnFolder.TextColor(), QColor(0, 0, 0));
    CHECK_EQ(w.m_btnFolder.TextAlignment(), Qt::AlignLeft | Qt::AlignVCenter);
    CHECK(g_downloadSession.mainWindow.load() == &w);
    // The run's bar reaches the window's progress bar.
    g_downloadSession.progressBar.load()->SetPos(3);
    CHECK_EQ(w.m_progress.Pos(), 3);
    g_downloadSession.progressBar.load()->SetPos(0);
    CHECK_EQ(g_downloadSession.folderDefaulted.load(), 1);
    SaveScreenshot(w, "window-checking");

    // The page panel stands at its offset and follows the window.
    w.show();
    auto* panel = qobject_cast<CChildDlg*>(w.Companion());
    CHECK(panel != nullptr);
    if (panel != nullptr) {
        CHECK(panel->isVisible());
        CHECK_EQ(panel->pos(), w.pos() + QPoint(381, 136));
        QPoint before = panel->pos();
        w.move(w.pos() + QPoint(10, 0));
        WAIT_FOR(panel->pos() == before + QPoint(10, 0));
        CHECK_EQ(panel->pos(), w.pos() + QPoint(381, 136));
    }

    WaitCheckDone(w);
    CHECK(w.m_btnBrowse.IsWidgetVisible());
    CHECK(w.m_btnBrowse.isEnabled());
    CHECK_EQ(Text(w.m_btnVersion), QStringLiteral("版本信息:1.0.7"));

    // Enter and Escape do nothing, wherever they land.
    for (QWidget* target : {static_cast<QWidget*>(&w), static_cast<QWidget*>(&w.m_btnStart)}) {
        QTest::keyClick(target, Qt::Key_Return);
        QTest::keyClick(target, Qt::Key_Escape);
        QTest::keyClick(target, Qt::Key_Enter);
    }
    QTest::qWait(200);
    CHECK(w.isVisible());
    CHECK_EQ(w.result(), 0);
    CHECK(answers.SeenMessages().isEmpty());
    CHECK(g_downloadSession.DownloadThread() == nullptr);

    // Alt+F4 asks the close question; Cancel keeps the window.
    answers.Script(QMessageBox::Cancel);
    QTest::keyClick(&w, Qt::Key_F4, Qt::AltModifier);
    WAIT_FOR(answers.SeenMessages().size() == 1);
    CHECK_EQ(answers.SeenMessages()[0].caption, QStringLiteral("关闭"));
    CHECK_EQ(answers.SeenMessages()[0].text, QStringLiteral("下载未完成,是否仍要关闭?"));
    QTest::qWait(200);
    CHECK(w.isVisible());

    // The folder, home page and register buttons hand their address to the
    // desktop; minimise minimises.
    UrlRecorder urls;
    Click(w.m_btnFolder);
    Click(w.m_btnHomepage);
    Click(w.m_btnRegister);
    WAIT_FOR(urls.opened.size() == 3);
    CHECK_EQ(urls.opened[0], QUrl::fromLocalFile(DefaultFolder()));
    QString ad = QString::fromStdString(w.Config().m_strGuanwang);
    CHECK(ad.endsWith("/ad.html"));
    CHECK_EQ(urls.opened[1].toString(), ad);
    CHECK_EQ(urls.opened[2].toString(), QString::fromStdString(w.Config().m_strZhuce));

    // The change-folder button: the directory dialog with its title, then a
    // new check run for the chosen folder.
    QString chosen = QDir::homePath() + "/chosen";
    QDir().mkpath(chosen);
    answers.ChooseFolder(chosen);
    Click(w.m_btnBrowse);
    WAIT_FOR(answers.FolderDialogTitles().size() == 1);
    CHECK_EQ(answers.FolderDialogTitles()[0], QStringLiteral("请选择下载路径:"));
    WAIT_FOR(Text(w.m_btnFolder) == " " + chosen + "/");
    CHECK(g_downloadSession.CheckThread() != nullptr);
    WaitCheckDone(w);
    CHECK_EQ(QString::fromStdString(g_downloadSession.DownloadFolder()), chosen + "/");

    Click(w.m_btnMinimize);
    WAIT_FOR(w.isMinimized());
}

// An empty drive list, nothing remembered, and no browser engine.
class NoDrives : public IDrives {
public:
    std::vector<DriveRoot> List() const override { return {}; }
    std::optional<std::uint64_t> FreeBytes(const std::string&) const override { return std::nullopt; }
};

void ScenarioNoFolderNoPanel(CDemoTranslucentDlg& w, MessageAnswerer& answers)
{
    w.InitDialog();
    CHECK(w.Companion() == nullptr);
    CHECK_EQ(Text(w.m_btnFolder), QStringLiteral("请设置下载路径"));
    CHECK(ShowsFace(w.m_btnStart, kCheckingFace));
    w.show();
    WaitCheckDone(w);

    // The start button with no folder asks for one; Cancel changes nothing.
    answers.Script(QMessageBox::Cancel);
    Click(w.m_btnStart);
    WAIT_FOR(answers.SeenMessages().size() == 1);
    CHECK_EQ(answers.SeenMessages()[0].text, QStringLiteral("请先选择下载路径"));
    CHECK_EQ(answers.SeenMessages()[0].caption, QStringLiteral("Zorvath下载器"));
    CHECK(w.isVisible());
    CHECK(g_downloadSession.DownloadThread() == nullptr);
}

void ScenarioWholeRun(CDemoTranslucentDlg& w, MessageAnswerer&)
{
    w.show();
    WaitCheckDone(w);
    WaitForPage(w);
    Click(w.m_btnStart);
    WAIT_FOR(ShowsFace(w.m_btnStart, kPauseFace) && w.m_progress.Pos() >= 10);
    CHECK(!w.m_btnBrowse.IsWidgetVisible());
    // Speed and sizes, e.g. "速度:1.0MB/s,  1MB/6MB".
    WAIT_FOR(Text(w.m_btnStatus).startsWith(QStringLiteral("速度:")) && Text(w.m_btnStatus).contains("MB/6MB"));
    SaveScreenshot(w, "window-downloading");

    WAIT_FOR(ShowsFace(w.m_btnStart, kInstallFace));
    WAIT_FOR(Text(w.m_btnStatus) == QStringLiteral("下载完成!"));
    // No check on the bar here: the last blocks of a fast transfer may not
    // move it (the speed rule skips blocks that took no measurable time).
    SaveScreenshot(w, "window-install");
    Say("CLICK install");
    Click(w.m_btnStart);
    // The installer launch ends the process; getting here is a failure.
    QTest::qWait(10000);
    CHECK(!"the program did not end after the installer launch");
}

void StartAndWaitDownloading(CDemoTranslucentDlg& w)
{
    w.show();
    WaitCheckDone(w);
    Click(w.m_btnStart);
    WAIT_FOR(ShowsFace(w.m_btnStart, kPauseFace) && w.m_progress.Pos() >= 5);
}

void ScenarioCloseOk(CDemoTranslucentDlg& w, MessageAnswerer& answers)
{
    StartAndWaitDownloading(w);
    answers.Script(QMessageBox::Ok);
    Say("CLICK close");
    Click(w.m_btnClose);
    QTest::qWait(10000);
    CHECK(!"the program did not end after the confirmed close");
}

void ScenarioCloseCancel(CDemoTranslucentDlg& w, MessageAnswerer& answers)
{
    StartAndWaitDownloading(w);
    answers.Script(QMessageBox::Cancel);
    Click(w.m_btnClose);
    WAIT_FOR(answers.SeenMessages().size() == 1);
    CHECK_EQ(answers.SeenMessages()[0].caption, QStringLiteral("关闭"));
    int before = w.m_progress.Pos();
    WAIT_FOR(w.m_progress.Pos() > before);
    CHECK(w.isVisible());
    WAIT_FOR(ShowsFace(w.m_btnStart, kInstallFace));
    Say("TRACE " + QString::fromStdString(StepTraceText()));
}

// The speed on the status line in bytes per second, or -1 when it shows none.
double ShownSpeed(const QString& status)
{
    static const QRegularExpression speed(QStringLiteral("^速度:([0-9.]+)(KB|MB)/s,  "));
    const auto match = speed.match(status);
    if (!match.hasMatch())
        return -1;
    return match.captured(1).toDouble() * (match.captured(2) == "MB" ? 1048576.0 : 1024.0);
}

// The server sends 1 MiB/s; once the transfer has run for a while the status
// line reads that speed, within a generous margin, every time it is looked
// at. (Early on a loaded machine the reading may lawfully be higher: bytes
// the server sent while this process waited for the processor arrive at
// once.)
void ScenarioSteadySpeed(CDemoTranslucentDlg& w, MessageAnswerer&)
{
    StartAndWaitDownloading(w);
    QTest::qWait(6000);
    for (int look = 0; look < 6; ++look) {
        const QString status = Text(w.m_btnStatus);
        const double shown = ShownSpeed(status);
        Say("SPEED " + status);
        CHECK(shown > 0.75 * 1048576 && shown < 1.25 * 1048576);
        if (look == 0)
            SaveScreenshot(w, "window-downloading-steady-speed");
        QTest::qWait(250);
    }
}

void ScenarioPauseResume(CDemoTranslucentDlg& w, MessageAnswerer& answers)
{
    StartAndWaitDownloading(w);
    Click(w.m_btnStart);
    WAIT_FOR(ShowsFace(w.m_btnStart, kContinueFace));
    WAIT_FOR(Text(w.m_btnStatus) == QStringLiteral("下载暂停"));
    CHECK(g_downloadSession.pause.Requested());
    QString partial = DefaultFolder() + "data/big.pak.tmp";
    qint64 pausedSize = QFileInfo(partial).size();
    QTest::qWait(700);
    CHECK_EQ(QFileInfo(partial).size(), pausedSize);
    CHECK(pausedSize > 0 && pausedSize < kBigFileSize);

    Click(w.m_btnStart);
    WAIT_FOR(ShowsFace(w.m_btnStart, kPauseFace));
    CHECK_EQ(Text(w.m_btnStatus).contains(QStringLiteral("下载暂停")), false);
    CHECK(!g_downloadSession.pause.Requested());
    WAIT_FOR(ShowsFace(w.m_btnStart, kInstallFace));
    CHECK(answers.SeenMessages().isEmpty());
    Say("TRACE " + QString::fromStdString(StepTraceText()));
}

void ScenarioReturningUser(CDemoTranslucentDlg& w, MessageAnswerer&)
{
    w.show();
    // Nobody clicks: the check run starts the download by itself.
    WAIT_FOR(ShowsFace(w.m_btnStart, kPauseFace));
    CHECK_EQ(g_downloadSession.folderFromRegistry.load(), 1);
    WAIT_FOR(ShowsFace(w.m_btnStart, kInstallFace));
    Say("TRACE " + QString::fromStdString(StepTraceText()));
}

// Large files already present: the first check shows how far it is on the
// status line and the bar.
void ScenarioCheckingProgress(CDemoTranslucentDlg& w, MessageAnswerer&)
{
    w.show();
    WAIT_FOR(Text(w.m_btnStatus).startsWith(QStringLiteral("检测中... ")) && w.m_progress.Pos() > 0);
    Say("STATUS " + Text(w.m_btnStatus));
    CHECK(w.m_progress.IsWidgetVisible());
    SaveScreenshot(w, "window-checking-progress");
}

void ScenarioFolderVanished(CDemoTranslucentDlg& w, MessageAnswerer& answers)
{
    w.show();
    WaitCheckDone(w);
    CHECK(QDir(DefaultFolder()).removeRecursively());
    Click(w.m_btnStart);
    WAIT_FOR(answers.SeenMessages().size() == 1);
    CHECK_EQ(answers.SeenMessages()[0].text, QStringLiteral("下载路径不存在!\n请重新选择下载路径!"));
    WAIT_FOR(Text(w.m_btnFolder) == QStringLiteral("请设置下载路径"));
    WAIT_FOR(w.m_btnStart.isEnabled() && w.m_btnBrowse.isEnabled());
    CHECK(g_downloadSession.DownloadFolder().empty());
    CHECK(g_downloadSession.DownloadThread() == nullptr);
}

// The program's own start: closing the page panel closes its owner, which
// ends the modal loop the orderly way: the lock is released and the exit
// status is 0, with nothing reported.
int RunOrderlyEnd(int argc, char** argv)
{
    PrepareWebEngine();
    CTQ7_DownloadApp app(argc, argv);
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* window = qobject_cast<CDemoTranslucentDlg*>(widget);
            if (window == nullptr || !window->isVisible() || !window->m_btnStart.isEnabled()) {
                continue;
            }
            if (auto* panel = qobject_cast<CStandardDialog*>(window->Companion())) {
                poll.stop();
                Say("CLOSING the panel");
                panel->reject();
            }
        }
    });
    poll.start(50);
    CHECK(!app.InitInstance());
    CHECK(!app.FoundOtherCopy());
    Say("RETURNED");
    InstanceLock probe;
    CHECK(probe.Acquire("ZorvathOrderly"));
    int status = app.ExitInstance();
    Say(QStringLiteral("DONE failures=%1").arg(g_failures));
    std::fflush(nullptr);
    _exit(g_failures == 0 ? status : 1);
}

using Scenario = void (*)(CDemoTranslucentDlg&, MessageAnswerer&);

int RunScenario(int argc, char** argv, const QString& name)
{
    const std::map<QString, Scenario> scenarios = {
        {"init", ScenarioInit},
        {"no-folder-no-panel", ScenarioNoFolderNoPanel},
        {"whole-run", ScenarioWholeRun},
        {"close-ok", ScenarioCloseOk},
        {"close-cancel", ScenarioCloseCancel},
        {"pause-resume", ScenarioPauseResume},
        {"steady-speed", ScenarioSteadySpeed},
        {"checking-progress", ScenarioCheckingProgress},
        {"returning-user", ScenarioReturningUser},
        {"folder-vanished", ScenarioFolderVanished},
    };
    if (name == "orderly-end") {
        return RunOrderlyEnd(argc, argv);
    }
    auto found = scenarios.find(name);
    if (found == scenarios.end()) {
        Say("FAIL unknown scenario " + name);
        return 2;
    }
    PrepareWebEngine();
    QApplication app(argc, argv);
    NoDrives noDrives;
    if (name == "no-folder-no-panel") {
        g_downloadSession.environment.drives = &noDrives;
    }
    MessageAnswerer answers;
    auto* window = new CDemoTranslucentDlg; // never destroyed: runs may still hold it
    found->second(*window, answers);
    Say(QStringLiteral("DONE failures=%1").arg(g_failures));
    std::fflush(nullptr);
    _exit(g_failures == 0 ? 0 : 1);
}

// --------------------------------------------------------------- parent side

QByteArray RandomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 0x2545F491u;
    for (int i = 0; i < size; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        bytes[i] = char(state & 0xFF);
    }
    return bytes;
}

QString Md5(const QByteArray& bytes)
{
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
}

QByteArray ReadAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One child run: a served game, a working folder with config.ini, a home.
struct ChildRun {
    std::unique_ptr<NginxServer> server;
    QTemporaryDir work;
    QString home;
    QString reportLog;
    QByteArray bigFile;
    QStringList lines;
    int exitCode = -1;

    // bigSize: the large file's size; at the server's 1 MiB/s, about as
    // many seconds of transfer.
    explicit ChildRun(int bigSize = kBigFileSize) : bigFile(RandomBytes(bigSize))
    {
        NginxServer::Options options;
        // Slow enough that a download is still running when the test clicks.
        options.extraServerConfig = "limit_rate 1m;";
        server = std::make_unique<NginxServer>(options);
        std::string base = server->BaseUrl();
        server->Put("game/readme.txt", "hello\n");
        server->Put("game/data/big.pak", bigFile.toStdString());
        server->Put("game/setup.sh", "#!/bin/sh\necho installed > \"$(dirname \"$0\")/installed.txt\"\n");
        QString update = QStringLiteral("1\n1.0.7\n%1game/\n").arg(QString::fromStdString(base));
        update += "readme.txt," + Md5("hello\n") + "\n";
        update += "data\\big.pak," + Md5(bigFile) + "\n";
        update += "setup.sh," + Md5(ReadAll(QString::fromStdString((server->DocumentRoot() / "game/setup.sh").string()))) + "\n";
        server->Put("game/update.txt", update.toStdString());
        server->Put("game/setup.txt", "setup.sh");
        server->Put("ad.html", "<html><head><title>ad</title></head>"
                               "<body style='margin:0;background:#2b5876;color:#fff;font:20px sans-serif'>"
                               "<p style='padding:40px 16px'>Zorvath news</p></body></html>");

        home = work.filePath("home");
        QDir().mkpath(home);
        reportLog = work.filePath("sysrep.log");
        QFile config(work.filePath("config.ini"));
        config.open(QIODevice::WriteOnly);
        config.write(QStringLiteral("[settings]\nmutex=\nupdate=%1game/update.txt\nsetup=%1game/setup.txt\n"
                                    "guanwang=%1ad.html\nzhuce=%1ad.html\nad=%1ad.html\nreg_key=%2\ndir=%3\n")
                         .arg(QString::fromStdString(base), kRegKey, kDirName)
                         .toUtf8());
    }

    QString GameFolder() const { return home + "/" + kDirName + "/"; }

    void SetLockName(const QString& name)
    {
        QFile config(work.filePath("config.ini"));
        config.open(QIODevice::ReadWrite);
        QByteArray text = config.readAll().replace("mutex=\n", "mutex=" + name.toUtf8() + "\n");
        config.resize(0);
        config.seek(0);
        config.write(text);
    }

    void Remember(const QString& folder)
    {
        QDir().mkpath(home + "/.config/Vonmark");
        QFile store(home + "/.config/Vonmark/Halvane.conf");
        store.open(QIODevice::WriteOnly);
        store.write(QStringLiteral("[Download]\n%1=%2\n").arg(kRegKey, folder).toUtf8());
    }

    QString Remembered() const { return QString::fromUtf8(ReadAll(home + "/.config/Vonmark/Halvane.conf")); }

    void Run(const QString& scenario, const QStringList& extraEnv = {})
    {
        QProcess child;
        child.setWorkingDirectory(work.path());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("XDG_CONFIG_HOME", home + "/.config");
        env.insert("SYSREP_LOG", reportLog);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("ZORVATH_ARTIFACTS", QStringLiteral(ZORVATH_ARTIFACTS_DIR));
        for (const QString& pair : extraEnv) {
            env.insert(pair.section('=', 0, 0), pair.section('=', 1));
        }
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {"--scenario", scenario});
        child.waitForFinished(180000);
        exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
        lines = QString::fromUtf8(child.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        for (const QString& line : lines) {
            if (line.startsWith("FAIL")) {
                qWarning("child: %s", qPrintable(line));
            }
        }
    }

    QStringList Failures() const { return lines.filter(QRegularExpression("^FAIL")); }
    bool Said(const QString& prefix) const { return !lines.filter(QRegularExpression("^" + QRegularExpression::escape(prefix))).isEmpty(); }
    QString Trace() const
    {
        QStringList traces = lines.filter(QRegularExpression("^TRACE "));
        return traces.isEmpty() ? QString() : traces.last().mid(6);
    }
    // The step texts handed to the report library, in order.
    QStringList Reports() const
    {
        QStringList steps;
        for (const QString& line : QString::fromUtf8(ReadAll(reportLog)).split('\n', Qt::SkipEmptyParts)) {
            steps << line.split('\t').value(2);
        }
        return steps;
    }
    bool GameComplete() const
    {
        return ReadAll(GameFolder() + "data/big.pak") == bigFile && ReadAll(GameFolder() + "readme.txt") == "hello\n";
    }
};

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initialisesTheLayoutAndConsumesEnterAndEscape()
    {
        ChildRun run;
        run.Run("init");
        QVERIFY2(run.Failures().isEmpty(), qPrintable(run.Failures().join('\n')));
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.Said("DONE"));
        // The cancelled close question reported nothing.
        QVERIFY(!run.Reports().join("").contains('C'));
    }

    void worksWithoutFolderAndWithoutPagePanel()
    {
        ChildRun run;
        run.Run("no-folder-no-panel", {"QTWEBENGINE_PROCESS_PATH=/nonexistent/QtWebEngineProcess"});
        QVERIFY2(run.Failures().isEmpty(), qPrintable(run.Failures().join('\n')));
        QCOMPARE(run.exitCode, 0);
    }

    void wholeRunEndsWithTheInstallerLaunched()
    {
        ChildRun run;
        run.Run("whole-run");
        QVERIFY2(run.Failures().isEmpty(), qPrintable(run.Failures().join('\n')));
        QVERIFY(run.Said("CLICK install"));
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.GameComplete());
        QVERIFY(QFile::exists(run.GameFolder() + "installed.txt"));
        QCOMPARE(run.Reports(), QStringList({"S", "D", "SDI"}));
        // The launch forgets the folder: the next start applies the default rule.
        QCOMPARE(run.Remembered().trimmed(), QStringLiteral("[Download]\nfolder="));
    }

    void confirmedCloseEndsWithCAndKeepsThePartialFile()
    {
        ChildRun run;
        run.Run("close-ok");
        QVERIFY2(run.Failures().isEmpty(), qPrintable(run.Failures().join('\n')));
        QVERIFY(run.Said("CLICK close"));
        QVERIFY(run.Said(QStringLiteral("MESSAGE 关闭|下载未完成,是否仍要关闭?")));
        QCOMPARE(run.exitCode, 0);
        QStringList reports = run.Reports();
        QVERIFY(!reports.isEmpty());
        QCOMPARE(reports.last(), QStringLiteral("SC"));
        QVERIFY(QFile::exists(run.GameFolder() + "data/big.pak.tmp"));
        QCOMPARE(ReadAll(run.GameFolder() + "data/big.pak.des"), Md5(run.bigFile).toLatin1());
        QVERIFY(!QFile::exists(run.GameFolder() + "installed.txt"));
    }

    void cancelledCloseLeavesTheDownloadRunning()
    {
        ChildRun run;
        run.Run("close-cancel");
        QVERIFY2(run.Failures().isEmpty(), qPrintable(run.Failures().join('\n')));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.Trace(), QStringLiteral("SD"));
        QVERIFY(run.GameComplete());
    }

    void pauseAndContinueGiveAnExactFile()
    {
        ChildRun run;
        run.Run("pause-resume");
        QVERIFY2(run.Failures().isEmpty(), qPrintable(run.Failures().join('\n')));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.Trace(), QStringLiteral("SPRD"));
        QVERIFY(run.GameComplete());
        QVERIFY(!QFile::exists(run.GameFolder() + "data/big.pak.tmp"));
    }

    void statusLineShowsTheSpeedOfTheLine()
    {
        ChildRun run(14 * 1024 * 1024);
        run.Run("steady-speed");
        for (const QString& line : run.lines.filter(QRegularExpression("^SPEED "))) {
            qInfo("%s", qPrintable(line));
        }
        QVERIFY2(run.Failures().isEmpty(), qPrintable(run.Failures().join('\n')));
        QCOMPARE(run.exitCode, 0);
    }

    void returningUserDownloadStartsByItself()
    {
        ChildRun run;
        QDir().mkpath(run.GameFolder());
        run.Remember(run.GameFolder());
        run.Run("returning-user");
        QVERIFY2(run.Failures().isEmpty(), qPrintable(run.Failures().join('\n')));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.Trace(), QStringLiteral("BD"));
        QCOMPARE(run.Reports().value(0), QStringLiteral("B"));
        QVERIFY(run.GameComplete());
    }

    void checkShowsHowFarItIs()
    {
        ChildRun run;
        QDir().mkpath(run.GameFolder());
        run.Remember(run.GameFolder());
        // Three present files of 512 MiB each (sparse: they read as zeros),
        // listed with their digest.
        constexpr qint64 kPresent = qint64{512} << 20;
        QCryptographicHash zeros(QCryptographicHash::Md5);
        const QByteArray mebibyte(1 << 20, '\0');
        for (int i = 0; i < 512; ++i)
            zeros.addData(mebibyte);
        QByteArray update = ReadAll(QString::fromStdString((run.server->DocumentRoot() / "game/update.txt").string()));
        for (int i = 0; i < 3; ++i) {
            const QString name = QStringLiteral("present%1.bin").arg(i);
            QFile file(run.GameFolder() + name);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(kPresent));
            update += name.toUtf8() + "," + zeros.result().toHex() + "\n";
        }
        run.server->Put("game/update.txt", update.toStdString());
        run.Run("checking-progress");
        for (const QString& line : run.lines.filter(QRegularExpression("^STATUS "))) {
            qInfo("%s", qPrintable(line));
        }
        QVERIFY2(run.Failures().isEmpty(), qPrintable(run.Failures().join('\n')));
        QCOMPARE(run.exitCode, 0);
    }

    void modalLoopEndedOtherwiseTakesTheOrderlyEnd()
    {
        ChildRun run;
        run.SetLockName("ZorvathOrderly");
        run.Run("orderly-end", {"XDG_RUNTIME_DIR=" + run.work.path()});
        QVERIFY2(run.Failures().isEmpty(), qPrintable(run.Failures().join('\n')));
        QVERIFY(run.Said("CLOSING the panel"));
        QVERIFY(run.Said("RETURNED"));
        QCOMPARE(run.exitCode, 0);
        QVERIFY(run.Reports().isEmpty());
    }

    void secondCopyEndsQuietly()
    {
        ChildRun run;
        run.SetLockName("ZorvathTestLock");

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", run.home);
        env.insert("XDG_CONFIG_HOME", run.home + "/.config");
        env.insert("XDG_RUNTIME_DIR", run.work.path());
        env.insert("SYSREP_LOG", run.reportLog);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        const QString program = QStringLiteral(ZORVATH_BIN_DIR "/zorvath-downloader");
        QProcess first;
        first.setWorkingDirectory(run.work.path());
        first.setProcessEnvironment(env);
        first.start(program, {});
        QVERIFY(first.waitForStarted());
        // The first copy holds the lock once its window chose the folder.
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(run.GameFolder()), 30000);

        QProcess second;
        second.setWorkingDirectory(run.work.path());
        second.setProcessEnvironment(env);
        second.start(program, {});
        QVERIFY(second.waitForFinished(20000));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(second.readAllStandardOutput(), QByteArray());
        QCOMPARE(first.state(), QProcess::Running);
        QVERIFY(run.Reports().isEmpty());

        first.kill();
        first.waitForFinished();
    }

    void vanishedFolderAsksForANewOne()
    {
        ChildRun run;
        run.Run("folder-vanished");
        QVERIFY2(run.Failures().isEmpty(), qPrintable(run.Failures().join('\n')));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.Remembered().trimmed(), QStringLiteral("[Download]\nfolder="));
    }
};

int main(int argc, char** argv)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (QByteArray(argv[i]) == "--scenario") {
            return RunScenario(argc, argv, QString::fromLocal8Bit(argv[i + 1]));
        }
    }
    QCoreApplication app(argc, argv);
    MainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
