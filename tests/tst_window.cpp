// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "controlplaces.h"
#include "fixtures.h"
#include "keptsettings.h"
#include "lockablecombobox.h"
#include "soundpath.h"

#include <QAbstractItemView>
#include <QFontDatabase>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScopeGuard>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

QString captionOf(QWidget *widget)
{
    if (auto *label = qobject_cast<QLabel *>(widget))
        return label->text();
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        return edit->text();
    if (auto *button = qobject_cast<QPushButton *>(widget))
        return button->text();
    if (auto *frame = qobject_cast<QGroupBox *>(widget))
        return frame->title();
    if (auto *combo = qobject_cast<QComboBox *>(widget))
        return combo->currentText();
    return {};
}

// Echoes heard at 93 to 120 ms: a sound path of about 92 ms before a 0 to 40 ms picture.
const QList<double> EchoesPast40 = {93,  93,  93,  96,  98,  100, 102, 104, 106, 108,
                                    110, 112, 114, 116, 118, 119, 119, 120, 120, 120};

// A step heard at dialHz with one echo at delayMs.
Listen::StepReading heardAt(qint64 sweepStartMs, qint32 dialHz, double delayMs, float snrDb = 30)
{
    Listen::StepReading reading;
    reading.step = {sweepStartMs, dialHz, double(sweepStartMs) + 1000};
    reading.echoes = {{delayMs, snrDb}};
    reading.snrDb = snrDb;
    reading.profileDb = {snrDb};
    return reading;
}

QDateTime at(int h, int m, int s)
{
    return QDateTime(QDate(2026, 12, 7), QTime(h, m, s, 0));
}

// Every status line caption Zarvotel writes of its own, as the link and the tick cycle make
// them, with the widest numbers they can hold and the settings a user types.
QStringList ownStatusCaptions()
{
    using namespace Rig;
    QStringList captions;
    for (const RigProgram &program : rigPrograms()) {
        // HamRadioDeluxe's is the text the window was designed around, kept as it is.
        if (program.name != QLatin1StringView("HamRadioDeluxe"))
            captions << sendFailedText(program.protocol);
        // Waiting to try again, at the longest wait.
        FakeLinkControls controls;
        controls.port = QString::number(closedPort());
        RigClient client;
        RigLink link(controls, client, program.protocol, ReconnectPolicy(3600));
        link.onConnectClicked();
        if (!QTest::qWaitFor([&] { return link.state() == RigLink::State::WaitingRetry; }))
            return {};
        captions << controls.status;
    }
    const auto problem = [](const char *host, const char *port) {
        const QString portText = QString::fromLatin1(port);
        return ConnectProblem(QString::fromLatin1(host), portText, PortFromText(portText))
            .value_or(StatusText{})
            .caption;
    };
    captions << problem("", "1") << problem("a b", "1") << problem("localhost", "99999999999")
             << problem("localhost", "-2147483648");

    // The programs' answers: every rigctld code, flrig without a radio, HamRadioDeluxe 5
    // without one.
    const auto answer = [](Protocol protocol, QByteArray opening, QByteArray reply) {
        auto conversation = newConversation(protocol, QStringLiteral("localhost"), 12345);
        conversation->opening();
        conversation->takeAnswer(opening);
        const Answer taken = conversation->takeAnswer(reply);
        if (const auto *unusable = std::get_if<Unusable>(&taken))
            return unusable->caption;
        return std::get<Reply>(taken).text;
    };
    for (const int code :
         {-22, -21, -20, -19, -18, -17, -16, -15, -14, -13, -12, -11,
          -10, -9,  -8,  -7,  -6,  -5,  -4,  -3,  -2,  -1,  23,  -2147483647 - 1}) {
        captions << answer(Protocol::Rigctld, "0\n", "RPRT " + QByteArray::number(code) + '\n');
    }
    const QByteArray zero = "HTTP/1.1 200 OK\r\nContent-Length: 77\r\n\r\n<?xml version=\"1.0\"?>"
                            "<methodResponse><params><param><value><i4>0</i4></value></param>"
                            "</params></methodResponse>";
    captions << answer(Protocol::Flrig, {}, zero.left(zero.indexOf("\r\n\r\n") + 4 + 77));
    return captions;
}

} // namespace

class TestWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        setUpTestEnvironment();
        QStandardPaths::setTestModeEnabled(true);
    }

    void controls_data();
    void controls();
    void fonts_data();
    void fonts();
    void windowAtDesignSize();
    void lowerRowsShowWhenEnlarged();
    void buttonsLieInFrontOfTheFrame();
    void tabOrder();
    void periodListAfterLoad();
    void slider();
    void timers();
    void indicatorColour();
    void clockText_data();
    void clockText();
    void clockRunsWhileStopped();
    void lockedComboBoxChangesNothing();
    void lockedChirptimeChangesNothing();
    void typedPeriodStaysAsTyped();
    void fieldsAreNamedAfterTheirLabels();
    void ownTextsFitTheStatusLine();
    void unfitClockTurnsTheTimeRed_data();
    void unfitClockTurnsTheTimeRed();
    void foundSounderIsFollowedWhileStopped();
    void soundersListedAreFollowedOnTheirWholeSecond_data();
    void soundersListedAreFollowedOnTheirWholeSecond();
    void soundPathAdvice_data();
    void soundPathAdvice();
    void soundPathDelayIsUsedAndKept();
    void echoesBeyondThePictureAreMarked_data();
    void echoesBeyondThePictureAreMarked();
    void mofIsMarkedInTheSavedPicture_data();
    void mofIsMarkedInTheSavedPicture();
    void distanceScale_data();
    void distanceScale();
    void ionogramWindowPlace_data();
    void ionogramWindowPlace();
    void ionogramWindowFitsA1280By800Screen();
};

void TestWindow::controls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parentName");
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QString>("caption");

    const auto row = [](const char *name, const char *parent, QRect twips, const char *caption) {
        QTest::newRow(name) << name << parent << twips << caption;
    };
    row("Label4", "Main", {120, 120, 1215, 375}, "Frequency");
    row("text2", "Main", {1440, 120, 1815, 405}, "Stopped");
    row("Label2", "Main", {120, 720, 855, 255}, "Period");
    row("Combo_period", "Main", {1440, 720, 855, 315}, "300");
    row("Label3", "Main", {120, 1080, 975, 255}, "Chirptime");
    row("chirptime", "Main", {1440, 1080, 495, 285}, "78");
    row("Label6", "Main", {120, 1440, 735, 255}, "Offset");
    row("Label10", "Main", {120, 1680, 1215, 255}, "100ms/div");
    row("Slider1", "Main", {1440, 1560, 1815, 255}, "");
    row("Label7", "Main", {120, 2040, 1095, 255}, "Time");
    row("Text1", "Main", {1440, 2040, 855, 285}, "");
    row("Command1", "Main", {120, 2520, 1215, 375}, "Start");
    row("status", "Main", {1440, 2520, 4215, 375}, "Status");
    row("Frame1", "Main", {3360, 120, 2295, 2295}, "HRD IP Connection Status");
    row("connect", "Main", {3600, 600, 1335, 255}, "Connect");
    row("disconnect", "Main", {3600, 840, 1335, 255}, "Disconnect");
    row("hrdstatus", "Main", {5040, 600, 375, 495}, "");
    row("Label8", "Frame1", {240, 1320, 495, 255}, "Host");
    row("host", "Frame1", {720, 1320, 1335, 285}, "127.0.0.1");
    row("Label9", "Frame1", {240, 1680, 495, 255}, "Port");
    row("port", "Frame1", {720, 1680, 1335, 285}, "7809");
    row("Label5", "Main", {120, 3360, 3375, 255}, "ctime (current sounder position in period)");
    row("Text3", "Main", {3600, 3360, 855, 345}, "Text3");
    row("Label1", "Main", {120, 3840, 3375, 255}, "ctime1 (Current position for Period");
    row("Text5", "Main", {3600, 3840, 855, 285}, "Text5");
}

void TestWindow::controls()
{
    QFETCH(QString, name);
    QFETCH(QString, parentName);
    QFETCH(QRect, twips);
    QFETCH(QString, caption);

    WindowUnderTest window([] { return at(12, 0, 0); });
    auto *widget = window.findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->parentWidget()->objectName(), parentName);
    const QRect pixels(twips.x() / 15, twips.y() / 15, twips.width() / 15, twips.height() / 15);
    QCOMPARE(widget->geometry(), pixels);
    QCOMPARE(captionOf(widget), caption);
    QVERIFY(widget->isEnabled());
    if (auto *edit = qobject_cast<QLineEdit *>(widget))
        QVERIFY(!edit->isReadOnly());
}

void TestWindow::fonts_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<qreal>("points");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<QString>("face");

    QTest::newRow("Label4") << "Label4" << 9.75 << true << "Verdana";
    QTest::newRow("text2") << "text2" << 14.25 << false << "Verdana";
    QTest::newRow("Label2") << "Label2" << 9.75 << true << "MS Sans Serif";
    QTest::newRow("Label3") << "Label3" << 9.75 << true << "MS Sans Serif";
    QTest::newRow("Label6") << "Label6" << 9.75 << true << "Verdana";
    QTest::newRow("Label7") << "Label7" << 9.75 << true << "MS Sans Serif";
    QTest::newRow("Command1") << "Command1" << 9.75 << true << "MS Sans Serif";
}

void TestWindow::fonts()
{
    QFETCH(QString, name);
    QFETCH(qreal, points);
    QFETCH(bool, bold);
    QFETCH(QString, face);

    WindowUnderTest window;
    auto *widget = window.findChild<QWidget *>(name);
    QVERIFY(widget);
    QCOMPARE(widget->font().pointSizeF(), points);
    QCOMPARE(widget->font().bold(), bold);
    // The named face where the system has it. Elsewhere, with the faces that make installs:
    // DejaVu Sans, drawn after Verdana's wide letters, and Liberation Sans, whose widths
    // match Arial's, the nearest of the free faces to MS Sans Serif.
    const QString standIn
        = face == u"Verdana" ? QStringLiteral("DejaVu Sans") : QStringLiteral("Liberation Sans");
    QVERIFY2(QFontDatabase::hasFamily(face) || QFontDatabase::hasFamily(standIn),
             "install fonts-dejavu-core and fonts-liberation");
    QCOMPARE(QFontInfo(widget->font()).family(), QFontDatabase::hasFamily(face) ? face : standIn);
    QCOMPARE(widget->font().styleHint(), QFont::SansSerif);
}

void TestWindow::windowAtDesignSize()
{
    WindowUnderTest window;
    QCOMPARE(window.objectName(), QStringLiteral("Main"));
    QCOMPARE(window.size(), QSize(384, 202));
    QVERIFY(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    QVERIFY(window.windowFlags() & Qt::WindowMinimizeButtonHint);

    const auto *ui = &window.controls();
    QCOMPARE(ui->text2->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    QCOMPARE(ui->Text1->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    QCOMPARE(ui->status->alignment() & Qt::AlignHCenter, Qt::AlignHCenter);
    QCOMPARE(ui->status->frameShape(), QFrame::Box);
    QCOMPARE(ui->hrdstatus->frameShape(), QFrame::Box);
    QVERIFY(ui->hrdstatus->autoFillBackground());
}

void TestWindow::lowerRowsShowWhenEnlarged()
{
    WindowUnderTest window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const auto *ui = &window.controls();
    for (QWidget *lower : {static_cast<QWidget *>(ui->Label5),
                           static_cast<QWidget *>(ui->Text3),
                           static_cast<QWidget *>(ui->Label1),
                           static_cast<QWidget *>(ui->Text5)}) {
        QVERIFY(!window.rect().intersects(lower->geometry()));
    }

    window.resize(384, 275);
    for (QWidget *lower : {static_cast<QWidget *>(ui->Label5),
                           static_cast<QWidget *>(ui->Text3),
                           static_cast<QWidget *>(ui->Label1),
                           static_cast<QWidget *>(ui->Text5)}) {
        QVERIFY(window.rect().contains(lower->geometry()));
        QCOMPARE(window.childAt(lower->geometry().center()), lower);
    }
    // Resizing lays nothing out again.
    QCOMPARE(ui->Text5->geometry(), QRect(240, 256, 57, 19));
    QCOMPARE(ui->status->geometry(), QRect(96, 168, 281, 25));
}

void TestWindow::buttonsLieInFrontOfTheFrame()
{
    WindowUnderTest window;
    const auto *ui = &window.controls();
    for (QWidget *front : {static_cast<QWidget *>(ui->connect),
                           static_cast<QWidget *>(ui->disconnect),
                           static_cast<QWidget *>(ui->hrdstatus)}) {
        QCOMPARE(front->parentWidget(), &window);
        QVERIFY(ui->Frame1->geometry().contains(front->geometry()));
        QCOMPARE(window.childAt(front->geometry().center()), front);
    }
}

void TestWindow::tabOrder()
{
    WindowUnderTest window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    const auto *ui = &window.controls();
    ui->Text5->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), ui->Text5);

    const QStringList expected{"Text5",
                               "Text3",
                               "text2",
                               "chirptime",
                               "connect",
                               "disconnect",
                               "hrdstatus",
                               "host",
                               "port",
                               "Slider1",
                               "Text1",
                               "Combo_period",
                               "Command1",
                               "Text5"};
    QStringList visited{QApplication::focusWidget()->objectName()};
    for (int i = 1; i < expected.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget *focus = QApplication::focusWidget();
        // An editable combo box hands the focus to its own line edit.
        if (focus && qobject_cast<QComboBox *>(focus->parentWidget()))
            focus = focus->parentWidget();
        visited << (focus ? focus->objectName() : QString());
    }
    QCOMPARE(visited, expected);
}

void TestWindow::periodListAfterLoad()
{
    WindowUnderTest window;
    auto *combo = window.controls().Combo_period;
    const QStringList expected{"300", "600", "900", "1200", "1800"};
    const auto entries = [combo] {
        QStringList list;
        for (int i = 0; i < combo->count(); ++i)
            list << combo->itemText(i);
        return list;
    };
    QCOMPARE(entries(), expected);
    QCOMPARE(combo->currentText(), QStringLiteral("300"));

    // A typed period stays as typed and never joins the list.
    combo->lineEdit()->clear();
    QTest::keyClicks(combo, QStringLiteral("450"));
    QTest::keyClick(combo, Qt::Key_Return);
    QCOMPARE(window.periodText(), QStringLiteral("450"));
    QCOMPARE(entries(), expected);

    combo->setCurrentIndex(3);
    QCOMPARE(window.periodText(), QStringLiteral("1200"));
}

void TestWindow::slider()
{
    WindowUnderTest window;
    QSlider *slider = window.controls().Slider1;
    QCOMPARE(slider->orientation(), Qt::Horizontal);
    QCOMPARE(slider->value(), 0);
    QCOMPARE(slider->minimum(), -10);
    QCOMPARE(slider->maximum(), 10);
    QCOMPARE(slider->singleStep(), 1);
    QCOMPARE(slider->pageStep(), 2);
    QCOMPARE(slider->tickInterval(), 1);
    QVERIFY(slider->tickPosition() != QSlider::NoTicks);

    QTest::keyClick(slider, Qt::Key_Right);
    QCOMPARE(window.slider1Value(), 1);
    QTest::keyClick(slider, Qt::Key_PageUp);
    QCOMPARE(window.slider1Value(), 3);
    for (int i = 0; i < 10; ++i)
        QTest::keyClick(slider, Qt::Key_PageUp);
    QCOMPARE(window.slider1Value(), 10);
    for (int i = 0; i < 30; ++i)
        QTest::keyClick(slider, Qt::Key_Left);
    QCOMPARE(window.slider1Value(), -10);
}

void TestWindow::timers()
{
    WindowUnderTest window;
    const auto *ui = &window.controls();
    QCOMPARE(ui->Timer1->interval(), 100);
    QVERIFY(!ui->Timer1->isActive());
    QCOMPARE(ui->Timer1->timerType(), Qt::PreciseTimer);
    QCOMPARE(ui->Timer2->interval(), 100);
    QVERIFY(ui->Timer2->isActive());
    QCOMPARE(window.Winsock().remoteHost(), QString());
    QCOMPARE(window.Winsock().remotePort(), 0);
    QVERIFY(!window.Winsock().isConnected());

    window.setTimer1Enabled(true);
    QVERIFY(window.isTimer1Enabled());
    window.setTimer1Enabled(false);
    QVERIFY(!window.isTimer1Enabled());
}

void TestWindow::indicatorColour()
{
    WindowUnderTest window;
    const QFrame *indicator = window.controls().hrdstatus;
    QCOMPARE(window.indicatorColour(), 255);
    QCOMPARE(indicator->palette().color(QPalette::Window), QColor(255, 0, 0));

    window.setIndicatorColour(65280);
    QCOMPARE(indicator->palette().color(QPalette::Window), QColor(0, 255, 0));
    QCOMPARE(window.indicatorColour(), 65280);

    // Red in the low byte, blue in the high byte.
    QCOMPARE(Window::colourFromRgbInt(0x123456), QColor(0x56, 0x34, 0x12));
    QCOMPARE(Window::rgbIntFromColour(QColor(0x56, 0x34, 0x12)), 0x123456);
}

void TestWindow::clockText_data()
{
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("text");

    QTest::newRow("no leading zeros") << at(9, 5, 3) << "9:5:3";
    QTest::newRow("last second of the day") << at(23, 59, 59) << "23:59:59";
    QTest::newRow("midnight") << at(0, 0, 0) << "0:0:0";
}

void TestWindow::clockText()
{
    QFETCH(QDateTime, now);
    QFETCH(QString, text);

    WindowUnderTest window([&] { return now; });
    QCOMPARE(window.controls().Text1->text(), QString()); // empty until the first tick
    window.onTimer2Tick();
    QCOMPARE(window.controls().Text1->text(), text);

    // What the user types there is overwritten at the next tick.
    window.controls().Text1->setText(QStringLiteral("typed"));
    window.onTimer2Tick();
    QCOMPARE(window.controls().Text1->text(), text);
}

void TestWindow::clockRunsWhileStopped()
{
    int readings = 0;
    WindowUnderTest window([&] {
        ++readings;
        return at(9, 5, 3);
    });
    QTRY_COMPARE_WITH_TIMEOUT(window.controls().Text1->text(), QStringLiteral("9:5:3"), 1000);
    QVERIFY(!window.isTimer1Enabled());
    QTRY_VERIFY(readings >= 3); // written at every tick, not once
}

void TestWindow::lockedComboBoxChangesNothing()
{
    WindowUnderTest window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto *combo = window.controls().Combo_period;
    combo->setFocus();

    window.setSettingsLocked(true);
    QVERIFY(combo->isEnabled());
    QVERIFY(combo->isLocked());
    QTest::keyClicks(combo, QStringLiteral("9"));
    QTest::keyClick(combo, Qt::Key_Backspace);
    QTest::keyClick(combo, Qt::Key_Down);
    QTest::keyClick(combo, Qt::Key_PageDown);
    QTest::keyClick(combo, Qt::Key_Down, Qt::AltModifier);
    QTest::keyClick(combo, Qt::Key_F4);
    QWheelEvent wheel(QPointF(5, 5),
                      combo->mapToGlobal(QPointF(5, 5)),
                      QPoint(),
                      QPoint(0, -120),
                      Qt::NoButton,
                      Qt::NoModifier,
                      Qt::NoScrollPhase,
                      false);
    QApplication::sendEvent(combo, &wheel);
    combo->showPopup();
    QVERIFY(!combo->view()->isVisible());
    QCOMPARE(window.periodText(), QStringLiteral("300"));
    QCOMPARE(combo->currentIndex(), 0);
    QCOMPARE(combo->hasFocus(), true);

    window.setSettingsLocked(false);
    QTest::keyClick(combo, Qt::Key_Down);
    QCOMPARE(window.periodText(), QStringLiteral("600"));
    QTest::keyClick(combo, Qt::Key_End);
    QTest::keyClicks(combo, QStringLiteral("0"));
    QCOMPARE(window.periodText(), QStringLiteral("6000"));
    combo->showPopup();
    QTRY_VERIFY(combo->view()->isVisible());
    combo->hidePopup();
}

void TestWindow::lockedChirptimeChangesNothing()
{
    WindowUnderTest window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    QLineEdit *chirptime = window.controls().chirptime;
    chirptime->setFocus();
    const QPalette look = chirptime->palette();

    window.setSettingsLocked(true);
    QVERIFY(chirptime->isEnabled());
    QCOMPARE(chirptime->palette(), look);
    QTest::keyClick(chirptime, Qt::Key_End);
    QTest::keyClicks(chirptime, QStringLiteral("5"));
    QTest::keyClick(chirptime, Qt::Key_Backspace);
    QCOMPARE(window.chirptimeText(), QStringLiteral("78"));

    window.setSettingsLocked(false);
    QTest::keyClick(chirptime, Qt::Key_End);
    QTest::keyClicks(chirptime, QStringLiteral(".5"));
    QCOMPARE(window.chirptimeText(), QStringLiteral("78.5"));
}

void TestWindow::typedPeriodStaysAsTyped()
{
    WindowUnderTest window;
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    auto *combo = window.controls().Combo_period;
    combo->setFocus();
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo, QStringLiteral("60")); // "600" is in the list
    QCOMPARE(window.periodText(), QStringLiteral("60"));
    QTest::keyClick(combo, Qt::Key_Return);
    QCOMPARE(window.periodText(), QStringLiteral("60"));
    combo->setCurrentIndex(1); // picking still works
    QCOMPARE(window.periodText(), QStringLiteral("600"));
}

void TestWindow::fieldsAreNamedAfterTheirLabels()
{
    WindowUnderTest window;
    const auto *ui = &window.controls();
    const std::pair<QWidget *, const char *> named[] = {{ui->text2, "Frequency"},
                                                        {ui->Combo_period, "Period"},
                                                        {ui->chirptime, "Chirptime"},
                                                        {ui->Slider1, "Offset"},
                                                        {ui->Text1, "Time"},
                                                        {ui->host, "Host"},
                                                        {ui->port, "Port"}};
    for (const auto &[field, name] : named)
        QCOMPARE(field->accessibleName(), QString::fromLatin1(name));
    QCOMPARE(ui->Label8->buddy(), ui->host);
}

void TestWindow::ownTextsFitTheStatusLine()
{
    WindowUnderTest window;
    const QLabel *status = window.controls().status;
    const QFontMetrics metrics(status->font());
    const int room = status->contentsRect().width();
    const QStringList captions = ownStatusCaptions();
    QCOMPARE(captions.size(), 2 + 4 + 4 + 24 + 1);
    for (const QString &caption : captions) {
        QVERIFY2(!caption.isEmpty(), "a caption is missing");
        QVERIFY2(metrics.horizontalAdvance(caption) <= room,
                 qPrintable(QStringLiteral("%1 of %2 px: %3")
                                .arg(metrics.horizontalAdvance(caption))
                                .arg(room)
                                .arg(caption)));
    }
    // A caption that quotes the user at length is cut to fit, and whole in the tooltip.
    const QString typed(40, u'W');
    window.showProblem(QStringLiteral("Period \"%1\" is not a number.").arg(typed));
    QVERIFY(metrics.horizontalAdvance(status->text()) <= room);
    QVERIFY(status->text().endsWith(QChar(0x2026)));
    QCOMPARE(status->toolTip(), QStringLiteral("Period \"%1\" is not a number.").arg(typed));
}

void TestWindow::unfitClockTurnsTheTimeRed_data()
{
    QTest::addColumn<std::optional<Tracking::KernelClock>>("kernel");
    QTest::addColumn<QByteArray>("chronyc"); // what the stand-in chronyc prints; empty: none
    QTest::addColumn<QString>("toolTip");
    QTest::addColumn<bool>("red");

    using K = std::optional<Tracking::KernelClock>;
    const QByteArray synchronised = "A9FEA9FE,169.254.169.254,3,1765112345.1,0.000012,-0.00001,"
                                    "0.00002,-12.3,0.001,0.02,0.004,0.001,64.2,Normal\n";
    QTest::newRow("kernel unsynchronised")
        << K({true, 16'000'000}) << QByteArray()
        << "Clock not synchronised: the radio may miss the chirp" << true;
    QTest::newRow("kernel off by 80 ms")
        << K({false, 80'000}) << QByteArray() << "Clock synchronised, within 80 ms" << true;
    QTest::newRow("nothing known") << K() << QByteArray() << "Clock state unknown" << false;
    // chrony's figures win over the kernel's flag: 0.000012 + 0.004 / 2 + 0.001 s.
    QTest::newRow("chrony synchronised")
        << K({true, 16'000'000}) << synchronised << "Clock synchronised, within 4 ms" << false;
    QTest::newRow("chrony hangs: the kernel decides")
        << K({false, 2'000}) << QByteArray("hang") << "Clock synchronised, within 2 ms" << false;
}

void TestWindow::unfitClockTurnsTheTimeRed()
{
    QFETCH(std::optional<Tracking::KernelClock>, kernel);
    QFETCH(QByteArray, chronyc);
    QFETCH(QString, toolTip);
    QFETCH(bool, red);

    QTest::failOnWarning(QRegularExpression(QStringLiteral("Destroyed while process")));
    QTemporaryDir dir;
    auto sources = std::make_unique<FakeClockSources>();
    sources->kernelClock = kernel;
    if (!chronyc.isEmpty()) {
        QFile script(dir.filePath(QStringLiteral("chronyc")));
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(chronyc == "hang" ? "#!/bin/sh\nexec sleep 60\n"
                                       : "#!/bin/sh\nprintf '" + chronyc.trimmed() + "\\n'\n");
        script.close();
        script.setPermissions(QFile::ReadOwner | QFile::ExeOwner);
        sources->chronycProgram = script.fileName();
        // A window closed while its chronyc still runs leaves it to be reaped later.
        auto again = std::make_unique<FakeClockSources>(*sources);
        delete new WindowUnderTest({}, {}, std::move(again));
    }
    WindowUnderTest window({}, {}, std::move(sources));
    const QLineEdit *time = window.controls().Text1;
    QTRY_COMPARE_WITH_TIMEOUT(time->toolTip(), toolTip, 5000);
    const QColor plain = QLineEdit().palette().color(QPalette::Text);
    QCOMPARE(time->palette().color(QPalette::Text), red ? QColor(255, 0, 0) : plain);
    // The status line is left to the link, also when Start is pressed with a bad clock.
    window.controls().Command1->click();
    QCOMPARE(window.statusCaption(), QStringLiteral("Status"));
}

QTEST_MAIN(TestWindow)
// A sounder found by ear becomes the window's period and chirptime, and the tick's rate, in
// the user's notation; while running it is refused and nothing changes.
void TestWindow::foundSounderIsFollowedWhileStopped()
{
    const auto restore = qScopeGuard([] { setUpTestEnvironment(); });
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    WindowUnderTest window(fixedNoon);
    Listen::FoundSounder radar;
    radar.periodS = 450;
    radar.chirptimeS = 17.07;
    radar.rateKhzPerS = 125;
    QVERIFY(window.followSounder(radar));
    QCOMPARE(window.controls().Combo_period->currentText(), QStringLiteral("450"));
    QCOMPARE(window.controls().chirptime->text(), QStringLiteral("17"));
    QCOMPARE(window.tickCycle().rate(), 125.0);
    // 12:34:56.789 with lead is 45,297,389 ms: 297.389 s into a 450 s period, 280.389 s
    // after 17, where a 125 kHz/s sweep stands past 30 MHz.
    window.onCommand1Clicked();
    window.tickCycle().onTimer1Tick();
    QCOMPARE(window.controls().text2->text(), QStringLiteral("2,00 MHz"));

    Listen::FoundSounder inskip;
    inskip.periodS = 300;
    inskip.chirptimeS = 78.02;
    inskip.rateKhzPerS = 100;
    QVERIFY(!window.followSounder(inskip));
    QCOMPARE(window.controls().chirptime->text(), QStringLiteral("17"));
    QCOMPARE(window.tickCycle().rate(), 125.0);
}

void TestWindow::soundersListedAreFollowedOnTheirWholeSecond_data()
{
    QTest::addColumn<double>("arrivalS"); // since UTC midnight, and again 300 s later
    QTest::addColumn<QString>("chirptime");
    // 7 MHz is 70 s into a 100 kHz/s sweep: heard 78.31, 77.97 and 299.96 s into the period.
    QTest::newRow("the path's and the sound's delay") << 148.31 << QStringLiteral("78");
    QTest::newRow("heard a little early") << 147.97 << QStringLiteral("78");
    QTest::newRow("early, at the period's end") << 369.96 << QStringLiteral("0");
}

// A sounder on the finder's list is followed at the whole second it starts on, and the
// ionogram window then shows its ionogram instead of the list.
void TestWindow::soundersListedAreFollowedOnTheirWholeSecond()
{
    QFETCH(double, arrivalS);
    QFETCH(QString, chirptime);
    Window::LaunchOptions launch;
    launch.findHz = 7'000'000;
    launch.utc = true;
    WindowUnderTest window(launch, fixedNoon);
    window.startListening();
    Window::IonogramWindow &ionogram = window.listenSession()->window();
    Listen::SounderSearch *search = window.listenSession()->listener().finding();
    QVERIFY(search);
    const double midnightMs = 1'796'688'000'000; // 2026-12-08 00:00 UTC
    search->onHeard(midnightMs + arrivalS * 1000, 100, 20);
    search->onHeard(midnightMs + (arrivalS + 300) * 1000, 100, 20);
    search->end();
    QCOMPARE(ionogram.sounderList()->count(), 1);
    ionogram.sounderList()->setCurrentRow(0);
    ionogram.onFollowClicked();
    QCOMPARE(window.controls().Combo_period->currentText(), QStringLiteral("300"));
    QCOMPARE(window.controls().chirptime->text(), chirptime);
    QVERIFY(ionogram.sounderList()->isHidden());
    QVERIFY(!ionogram.findChild<QWidget *>(QStringLiteral("ionogramView"))->isHidden());
}

void TestWindow::soundPathAdvice_data()
{
    QTest::addColumn<QList<double>>("echoesMs");
    QTest::addColumn<double>("fromMs");
    QTest::addColumn<double>("toMs");
    QTest::addColumn<QString>("text"); // empty: no advice
    QTest::addColumn<int>("addedMs");  // 0: none

    const QString past40 = QStringLiteral(
        "The echoes stand at 93 to 120 ms, outside the picture (0 to 40 ms): the sound path "
        "seems to add about 92 ms. Use --audio-delay 92 next time.");
    QTest::newRow("past the picture") << EchoesPast40 << 0.0 << 40.0 << past40 << 92;
    QTest::newRow("a few spurious echoes move nothing")
        << EchoesPast40 + QList<double>{5, -40, 290} << 0.0 << 40.0 << past40 << 92;
    QTest::newRow("inside") << QList<double>{5,  6,  7,  8,  9,  10, 11, 12, 13, 14,
                                             15, 16, 17, 18, 19, 20, 25, 30, 35, 39}
                            << 0.0 << 40.0 << QString() << 0;
    QTest::newRow("too few") << EchoesPast40.mid(1) << 0.0 << 40.0 << QString() << 0;
    QList<double> early;
    for (int i = 0; i < 20; ++i)
        early.append(-45 + i);
    QTest::newRow("before the picture: no delay takes them back")
        << early << 0.0 << 40.0
        << QStringLiteral("The echoes stand at -44 to -28 ms, outside the picture (0 to 40 ms). "
                          "Draw their delays with --delay-range.")
        << 0;
}

void TestWindow::soundPathAdvice()
{
    QFETCH(QList<double>, echoesMs);
    QFETCH(double, fromMs);
    QFETCH(double, toMs);
    QFETCH(QString, text);
    QFETCH(int, addedMs);
    const auto advice = Listen::soundPathAdvice(echoesMs, fromMs, toMs);
    QCOMPARE(advice.has_value(), !text.isEmpty());
    if (!advice)
        return;
    QCOMPARE(Listen::soundPathText(*advice, fromMs, toMs), text);
    QCOMPARE(advice->addedMs.value_or(0), addedMs);
}

// Echoes past the picture: the window says what the sound path adds, "Use 92 ms" takes it
// now, and it is kept for the next runs and for listening again in this one.
void TestWindow::soundPathDelayIsUsedAndKept()
{
    QTemporaryDir dir;
    Window::LaunchOptions launch;
    launch.listening.folder = dir.path();
    launch.settingsPath = dir.filePath(QStringLiteral("zarvotel.ini"));
    WindowUnderTest window(launch, fixedNoon);
    window.startListening();
    Window::IonogramWindow &ionogram = window.listenSession()->window();
    const qint64 sweepStartMs = 1'796'700'000'000;
    ionogram.onSweepBegun(sweepStartMs);
    for (qsizetype i = 0; i < EchoesPast40.size(); ++i) {
        QCOMPARE(ionogram.useDelayButton()->isHidden(), true);
        ionogram.onStepHeard(
            heardAt(sweepStartMs, 2'000'000 + qint32(i) * 100'000, EchoesPast40[i]));
    }
    QCOMPARE(ionogram.soundPathHelpText(),
             QStringLiteral("The echoes stand at 93 to 120 ms, outside the picture (0 to 40 ms): "
                            "the sound path seems to add about 92 ms. Use --audio-delay 92 next "
                            "time."));
    QVERIFY(!ionogram.useDelayButton()->isHidden());
    QCOMPARE(ionogram.useDelayButton()->text(), QStringLiteral("Use 92 ms"));
    ionogram.useDelayButton()->click();
    QCOMPARE(window.listenSession()->listener().options().audioDelayMs, std::optional(92.0));
    // With the delay known, no echo past the picture brings the help back.
    ionogram.onStepHeard(heardAt(sweepStartMs, 5'000'000, 100));
    QCOMPARE(ionogram.soundPathHelpText(), QString());

    QSettings kept(launch.settingsPath, QSettings::IniFormat);
    QCOMPARE(kept.value(QStringLiteral("listening/audioDelayMs")).toDouble(), 92.0);
    // Listening again in this run starts with it.
    ionogram.close();
    QTRY_VERIFY(!window.listenSession());
    window.startListening();
    QCOMPARE(window.listenSession()->listener().options().audioDelayMs, std::optional(92.0));
}

void TestWindow::echoesBeyondThePictureAreMarked_data()
{
    QTest::addColumn<double>("delayMs");
    QTest::addColumn<int>("markedY"); // -1: none
    // A 0 to 40 ms picture: rows 30 to 429; the marks are 5 rows at either end.
    QTest::newRow("past the picture: at its foot") << 150.0 << 425;
    QTest::newRow("before it: at its top") << -10.0 << 30;
    QTest::newRow("inside: drawn, not marked") << 12.0 << -1;
}

void TestWindow::echoesBeyondThePictureAreMarked()
{
    QFETCH(double, delayMs);
    QFETCH(int, markedY);
    Window::IonogramPicture picture(0, 40);
    picture.setColumn(heardAt(0, 3'000'000, delayMs)); // column 10: x 86 to 88
    const QImage &image = picture.image();
    constexpr QRgb Mark = 0xff00d0ff;
    int marked = 0;
    for (int y = 30; y < 430; ++y)
        marked += image.pixel(87, y) == Mark ? 1 : 0;
    QCOMPARE(marked, markedY < 0 ? 0 : 5);
    if (markedY >= 0)
        QCOMPARE(image.pixel(88, markedY + 4), Mark);
}

void TestWindow::mofIsMarkedInTheSavedPicture_data()
{
    QTest::addColumn<bool>("afterTheNextBegan");
    QTest::newRow("scaled at the sweep's end") << false;
    QTest::newRow("scaled once the next sweep began") << true;
}

// The one-hop MOF (14.3 MHz at 12.1 ms) is marked at its column and delay, and the sweep's
// saved picture holds the mark.
void TestWindow::mofIsMarkedInTheSavedPicture()
{
    QFETCH(bool, afterTheNextBegan);
    QTemporaryDir dir;
    Listen::ListenOptions options;
    options.folder = dir.path();
    Listen::Listener listener(options);
    Window::IonogramWindow window(listener, [] { return QStringLiteral("15:00"); });
    const qint64 sweepStartMs = 1'796'700'000'000; // 2026-12-08 03:20:00 UTC
    window.onSweepBegun(sweepStartMs);
    window.onStepHeard(heardAt(sweepStartMs, 14'300'000, 12.1, 6)); // the scale's foot
    if (afterTheNextBegan)
        window.onSweepBegun(sweepStartMs + 300'000);
    Listen::SweepSummary summary;
    summary.sweepStartMs = sweepStartMs;
    summary.scale.oneHop = Listen::ModeReading{14'300'000, 12.1};
    window.onSweepScaled(summary);

    // Column 123 lies at x 425 to 427; 12.1 ms is row 121, y 151; the mark 15 rows high.
    constexpr QRgb Mof = 0xff00ff00;
    const QString file = dir.filePath(QStringLiteral("20261208-032000Z.png"));
    QImage saved;
    QTRY_VERIFY((saved = QImage(file), !saved.isNull() && saved.pixel(426, 151) == Mof));
    QCOMPARE(saved.pixel(426, 143), 0xff000428u); // the heard column, above the mark
    QCOMPARE(saved.pixel(424, 151), 0xff9a9a9au); // the column before, not measured
    // The picture shown is the next sweep's when it began before the scale came.
    QCOMPARE(window.picture().image().pixel(426, 151) == Mof, !afterTheNextBegan);
}

void TestWindow::distanceScale_data()
{
    QTest::addColumn<double>("fromMs");
    QTest::addColumn<double>("toMs");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("marks"); // row:km, km = delay × 299.792458 km/ms
    QTest::newRow("0 to 40 ms") << 0.0 << 40.0 << 400
                                << QStringLiteral("0:0 33:1000 67:2000 100:3000 133:4000 "
                                                  "167:5000 200:6000 233:7000 267:8000 "
                                                  "300:9000 334:10000 367:11000");
    QTest::newRow("-50 to 300 ms: from 0 km, every 10000")
        << -50.0 << 300.0 << 500
        << QStringLiteral("71:0 119:10000 167:20000 214:30000 262:40000 310:50000 357:60000 "
                          "405:70000 453:80000");
    QTest::newRow("0 to 5 ms") << 0.0 << 5.0 << 50 << QStringLiteral("0:0 33:1000");
}

void TestWindow::distanceScale()
{
    QFETCH(double, fromMs);
    QFETCH(double, toMs);
    QFETCH(int, rows);
    QFETCH(QString, marks);
    QStringList read;
    for (const auto &mark : Window::IonogramPicture::kmMarks(fromMs, toMs, rows))
        read << QStringLiteral("%1:%2").arg(mark.row).arg(mark.text);
    QCOMPARE(read.join(u' '), marks);
}

void TestWindow::ionogramWindowPlace_data()
{
    QTest::addColumn<QRect>("mainFrame");
    QTest::addColumn<QRect>("available");
    QTest::addColumn<QPoint>("place");
    const QRect wide(0, 0, 1920, 1080);
    const QRect small(0, 0, 1280, 800);
    // The ionogram window's frame is 990 x 650 here.
    QTest::newRow("beside, on a wide screen") << QRect(0, 0, 392, 232) << wide << QPoint(400, 0);
    QTest::newRow("left of it, at the wide screen's right")
        << QRect(1500, 0, 392, 232) << wide << QPoint(502, 0);
    QTest::newRow("below it, on a high screen")
        << QRect(0, 0, 392, 232) << QRect(0, 0, 1280, 1024) << QPoint(0, 240);
    QTest::newRow("1280 x 800: at the right edge, low, hiding least")
        << QRect(0, 0, 392, 232) << small << QPoint(290, 150);
    QTest::newRow("1280 x 800, the main window low: high")
        << QRect(0, 560, 392, 232) << small << QPoint(290, 0);
}

void TestWindow::ionogramWindowPlace()
{
    QFETCH(QRect, mainFrame);
    QFETCH(QRect, available);
    QFETCH(QPoint, place);
    QCOMPARE(Window::ionogramWindowPlace(mainFrame, QSize(990, 650), available), place);
}

// At its largest (the most rows, a day plot, the sound path's help), the ionogram window
// leaves room for a title bar on a 1280 x 800 screen.
void TestWindow::ionogramWindowFitsA1280By800Screen()
{
    Listen::ListenOptions options;
    options.delayToMs = 100; // 1000 rows of 0.1 ms, drawn in 500
    QTemporaryDir dir;
    options.folder = dir.path();
    Listen::Listener listener(options);
    Window::IonogramWindow window(listener, [] { return QStringLiteral("15:00"); });
    Q_EMIT listener.dayPlotChanged(QImage(700, 420, QImage::Format_RGB32));
    window.onSweepBegun(0);
    for (int i = 0; i < 20; ++i)
        window.onStepHeard(heardAt(0, 2'000'000 + i * 100'000, 150 + i));
    QVERIFY(!window.useDelayButton()->isHidden());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE_LE(window.frameGeometry().width(), 1280);
    QCOMPARE_LE(window.frameGeometry().height(), 800 - 40);
}

#include "tst_window.moc"
