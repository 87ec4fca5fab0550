// The web page panel on the offscreen platform: a page served from a local
// file, the keys and presses the panel swallows, and its owner relations.
#include <memory>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEnginePage>

#include "webpanel/ChildDlg.h"
#include "webpanel/WebEngineSetup.h"

namespace {

// An owner window that remembers the close requests it received.
class Owner : public QWidget {
public:
    int closeRequests = 0;

protected:
    void closeEvent(QCloseEvent* event) override
    {
        ++closeRequests;
        QWidget::closeEvent(event);
    }
};

// An owner the size of the main window and a panel on it, both shown, the
// owner first as the main window does.
struct ShownPanel {
    explicit ShownPanel(const QString& address)
    {
        owner.resize(740, 525);
        owner.show();
        panel = std::make_unique<CChildDlg>(&owner, address.toStdString());
        panel->resize(740, 525);
        panel->show();
    }

    Owner owner;
    std::unique_ptr<CChildDlg> panel;
};

// The page reports every mouse event it receives in its title, so the test
// sees what reached the page and what was swallowed before.
const char* const kRecordingPage = R"(<!doctype html>
<html><head><title>none</title>
<style>html,body{margin:0;height:100%;background:#3366cc}</style>
<script>
var seen = [];
function note(e) { seen.push(e.type + e.button); document.title = seen.join(','); }
['mousedown','mouseup','dblclick','contextmenu'].forEach(function(t){ document.addEventListener(t, note); });
document.addEventListener('keydown', function(e){ seen.push('key' + e.key); document.title = seen.join(','); });
</script></head><body></body></html>)";

QString PageTitle(QWebEnginePage* page)
{
    return page->title();
}

bool WaitLoaded(CExplorer& browser)
{
    QSignalSpy spy(&browser, &QWebEngineView::loadFinished);
    return spy.wait(30000);
}

QWidget* InputWidget(CExplorer& browser)
{
    return browser.focusProxy() != nullptr ? browser.focusProxy() : &browser;
}

} // namespace

class WebPanelTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_pageUrl;

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QFile page(m_dir.filePath("ad.html"));
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.write(kRecordingPage);
        page.close();
        m_pageUrl = QUrl::fromLocalFile(page.fileName()).toString();
    }

    void addressesBecomeUrls_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("url");
        QTest::newRow("empty") << "" << "about:blank";
        QTest::newRow("blanks") << "   " << "about:blank";
        QTest::newRow("full address") << "http://127.0.0.1:8080/ad.html" << "http://127.0.0.1:8080/ad.html";
        QTest::newRow("bare host") << "www.example.com" << "http://www.example.com";
    }

    void addressesBecomeUrls()
    {
        QFETCH(QString, address);
        QFETCH(QString, url);
        QCOMPARE(CExplorer::AddressToUrl(address).toString(), url);
    }

    void decidesSandboxAndRendering_data()
    {
        QTest::addColumn<bool>("root");
        QTest::addColumn<bool>("gpu");
        QTest::addColumn<QString>("platform");
        QTest::addColumn<bool>("sandboxOff");
        QTest::addColumn<bool>("software");
        QTest::newRow("user with gpu on xcb") << false << true << "xcb" << false << false;
        QTest::newRow("root with gpu on xcb") << true << true << "xcb" << true << false;
        QTest::newRow("user without gpu") << false << false << "xcb" << false << true;
        QTest::newRow("offscreen with gpu") << false << true << "offscreen" << false << true;
    }

    void decidesSandboxAndRendering()
    {
        QFETCH(bool, root);
        QFETCH(bool, gpu);
        QFETCH(QString, platform);
        QFETCH(bool, sandboxOff);
        QFETCH(bool, software);
        WebEngineChoice choice = DecideWebEngineSetup(root, gpu, platform.toStdString());
        QCOMPARE(choice.sandboxDisabled, sandboxOff);
        QCOMPARE(choice.softwareRendering, software);
    }

    void showsThePageInItsAreaAndKeysOutTheRest()
    {
        ShownPanel shown(m_pageUrl);
        CChildDlg& panel = *shown.panel;
        QVERIFY(WaitLoaded(panel.Browser()));

        QCOMPARE(panel.Browser().geometry(), QRect(0, 0, 311, 162));
        QCOMPARE(panel.mask(), QRegion(0, 0, 311, 162));
        QCOMPARE(panel.m_keyColor, QColor(0, 255, 0));
        QCOMPARE(panel.palette().color(QPalette::Window), QColor(0, 255, 0));

        // The page's own colour fills the browser once it has painted.
        QTRY_VERIFY_WITH_TIMEOUT(panel.Browser().grab().toImage().pixelColor(150, 80) == QColor(0x33, 0x66, 0xcc),
                                 20000);
    }

    void swallowsEscapeAltF4RightPressesAndEnter()
    {
        ShownPanel shown(m_pageUrl);
        CChildDlg& panel = *shown.panel;
        QVERIFY(WaitLoaded(panel.Browser()));
        QWidget* input = InputWidget(panel.Browser());
        QPoint inside(100, 80);
        auto title = [&] { return PageTitle(panel.Browser().page()); };

        // A left click reaches the page: the events below are known to arrive.
        QTest::mouseClick(input, Qt::LeftButton, {}, inside);
        QTRY_VERIFY_WITH_TIMEOUT(title().contains("mouseup0"), 10000);
        QVERIFY(title().contains("mousedown0"));

        // A right click: the press never arrives, the release does.
        QTest::mousePress(input, Qt::RightButton, {}, inside);
        QTest::mouseRelease(input, Qt::RightButton, {}, inside);
        QTRY_VERIFY_WITH_TIMEOUT(title().contains("mouseup2"), 10000);
        QVERIFY2(!title().contains("mousedown2"), qPrintable(title()));
        QVERIFY2(!title().contains("contextmenu"), qPrintable(title()));

        // A right double-click is swallowed too.
        QTest::mouseDClick(input, Qt::RightButton, {}, inside);
        QTest::qWait(300);
        QVERIFY2(!title().contains("mousedown2"), qPrintable(title()));
        QVERIFY2(!title().contains("dblclick2"), qPrintable(title()));

        // Escape and Alt+F4 neither reach the page nor close anything; Enter
        // reaches the page and leaves the panel open.
        QTest::keyClick(input, Qt::Key_Escape);
        QTest::keyClick(input, Qt::Key_F4, Qt::AltModifier);
        QTest::keyClick(input, Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(title().contains("keyEnter"), 10000);
        QVERIFY2(!title().contains("keyEscape"), qPrintable(title()));
        QVERIFY2(!title().contains("keyF4"), qPrintable(title()));
        QVERIFY(panel.isVisible());
        QCOMPARE(panel.result(), 0);
        QCOMPARE(shown.owner.closeRequests, 0);

        // The same keys sent to the panel itself do nothing either.
        QTest::keyClick(&panel, Qt::Key_Escape);
        QTest::keyClick(&panel, Qt::Key_Return);
        QVERIFY(panel.isVisible());
        QCOMPARE(shown.owner.closeRequests, 0);
    }

    void emptyOrUnreachableAddressShowsAnEmptyPageWithoutMessage_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("empty") << "";
        // Port 9 (discard) on loopback: nothing listens there.
        QTest::newRow("unreachable") << "http://127.0.0.1:9/ad.html";
    }

    void emptyOrUnreachableAddressShowsAnEmptyPageWithoutMessage()
    {
        QFETCH(QString, address);
        ShownPanel shown(address);
        CChildDlg& panel = *shown.panel;
        QVERIFY(WaitLoaded(panel.Browser()));
        QTest::qWait(500);

        QImage shot = panel.Browser().grab().toImage();
        for (QPoint p : {QPoint(5, 5), QPoint(155, 80), QPoint(300, 150)}) {
            QCOMPARE(shot.pixelColor(p), QColor(Qt::white));
        }
        for (QWidget* window : QApplication::topLevelWidgets()) {
            QVERIFY2(qobject_cast<QMessageBox*>(window) == nullptr || !window->isVisible(), "a message was shown");
        }
        QVERIFY(panel.isVisible());
    }

    void withoutOwnerNothingIsLoaded()
    {
        CChildDlg panel(nullptr, m_pageUrl.toStdString());
        panel.show();
        QTest::qWait(200);
        QVERIFY(panel.Browser().url().isEmpty());
    }

    void closingThePanelClosesItsOwner()
    {
        Owner owner;
        owner.show();
        CChildDlg panel(&owner, "");
        panel.show();
        panel.reject();
        QCOMPARE(owner.closeRequests, 1);
        QVERIFY(!owner.isVisible());
        QVERIFY(!panel.isVisible());
    }

    void staysWithItsOwner()
    {
        Owner owner;
        owner.show();
        CChildDlg panel(&owner, "");
        panel.show();
        QVERIFY(panel.isVisible());

        owner.hide();
        QVERIFY(!panel.isVisible());
        owner.show();
        QVERIFY(panel.isVisible());

        // A panel its owner's code hid stays hidden when the owner comes back.
        panel.hide();
        owner.hide();
        owner.show();
        QVERIFY(!panel.isVisible());
    }
};

int main(int argc, char** argv)
{
    PrepareWebEngine();
    QApplication app(argc, argv);
    WebPanelTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "web_panel_test.moc"
