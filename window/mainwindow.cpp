// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "mainwindow.h"

#include "controlplaces.h"
#include "keptsettings.h"
#include "lockablecombobox.h"
#include "protocol.h"
#include "timebase.h"

#include <QAction>
#include <QFontDatabase>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QTimer>

namespace Window {
namespace {

constexpr int TimerIntervalMs = 100;

enum class Face { Verdana, MsSansSerif };

// The named face, or the nearest sans-serif face the system has, at the given size.
// Only a face that is there is named: looking up fallbacks for a missing one is slow.
QFont controlFont(Face face, qreal points, bool bold)
{
    static const auto firstPresent = [](std::initializer_list<const char *> names) {
        for (const char *name : names) {
            const QString family = QString::fromLatin1(name);
            if (QFontDatabase::hasFamily(family))
                return family;
        }
        return QString();
    };
    static const QString verdana = firstPresent({"Verdana", "DejaVu Sans"});
    static const QString msSansSerif = firstPresent(
        {"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arial", "DejaVu Sans"});

    QFont font;
    const QString &family = face == Face::Verdana ? verdana : msSansSerif;
    if (!family.isEmpty())
        font.setFamily(family);
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(points);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

template<typename W, typename Parent> W *make(Parent *parent, const char *name)
{
    auto *widget = new W(parent);
    widget->setObjectName(QLatin1StringView(name));
    return widget;
}

QLabel *makeLabel(QWidget *parent, const char *name, const QString &caption)
{
    auto *label = make<QLabel>(parent, name);
    label->setText(caption);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    return label;
}

QLineEdit *makeTextBox(QWidget *parent, const char *name, const QString &text)
{
    auto *box = make<QLineEdit>(parent, name);
    box->setText(text);
    box->setCursorPosition(0);
    return box;
}

} // namespace

QString ClockText(const QTime &time)
{
    return QStringLiteral("%1:%2:%3").arg(time.hour()).arg(time.minute()).arg(time.second());
}

QColor colourFromRgbInt(qint32 colour)
{
    return QColor(colour & 0xff, (colour >> 8) & 0xff, (colour >> 16) & 0xff);
}

qint32 rgbIntFromColour(const QColor &colour)
{
    return colour.red() | (colour.green() << 8) | (colour.blue() << 16);
}

Main::Main(Tracking::Clock clock,
           std::unique_ptr<ClockSources> clockSources,
           const LaunchOptions &options,
           QWidget *parent)
    : QWidget(parent)
    , m_clock([base = options.utc ? Tracking::TimeBase::Utc : Tracking::TimeBase::Local,
               reading = clock ? std::move(clock) : Tracking::Clock(&QDateTime::currentDateTime)] {
        return Tracking::inTimeBase(reading(), base);
    })
    , m_tickCycle(*this, m_clock, {})
    , m_rigLink(*this, m_winsock, options.protocol, Rig::ReconnectPolicy(options.reconnectSeconds))
    , m_launch(options.connect, options.start)
    , m_listenOptions(options.listening)
    , m_settingsPath(options.settingsPath)
    , m_findHz(options.findHz)
{
    m_listenOptions.utc = options.utc;
    if (options.rateKhzPerS)
        m_tickCycle.setRate(*options.rateKhzPerS);
    if (m_findHz) {
        m_listenOptions.findHz = m_findHz;
        if (options.period)
            m_listenOptions.findPeriodsS = {Tracking::periodSeconds(*options.period).value_or(0)};
        if (options.rateKhzPerS)
            m_listenOptions.findRatesKhzPerS = {*options.rateKhzPerS};
    }
    setObjectName(QStringLiteral("Main"));
    // "Zarvotel for HamRadioDeluxe" by default; another --rig names its program.
    setWindowTitle(QStringLiteral("Zarvotel for ") + Rig::programName(options.protocol));
    m_winsock.setObjectName(QStringLiteral("Winsock"));

    createControls();
    placeControls();
    orderTabs();
    labelFields();
    routeEvents();
    resize(MainClientSize);

    onLoad();

    if (options.period)
        m_ui.Combo_period->setEditText(*options.period);
    if (options.chirptime)
        m_ui.chirptime->setText(*options.chirptime);
    if (options.offsetUnits)
        m_ui.Slider1->setValue(*options.offsetUnits);
    if (options.host)
        m_ui.host->setText(*options.host);
    if (options.port)
        m_ui.port->setText(QString::number(*options.port));

    m_ui.Timer2->start();
    showClockHealth({});
    auto *clockWatcher = new ClockWatcher(std::move(clockSources), this);
    QObject::connect(clockWatcher, &ClockWatcher::healthChanged, this, &Main::showClockHealth);
    clockWatcher->start();
}

void Main::pressLaunchButtons()
{
    switch (m_launch.atShow()) {
    case LaunchIntent::Press::Connect:
        return m_rigLink.onConnectClicked();
    case LaunchIntent::Press::Start:
        return m_tickCycle.onCommand1Click();
    case LaunchIntent::Press::Nothing:
        break;
    }
}

void Main::showClockHealth(const Tracking::ClockHealth &health)
{
    m_ui.Text1->setToolTip(Tracking::clockHealthText(health));
    // Known to be unfit: the time shows in red. Otherwise the field keeps its own look.
    QPalette palette; // sets no colour: the field's own look
    if (Tracking::clockIsBad(health))
        palette.setColor(QPalette::Text, colourFromRgbInt(Rig::IndicatorRed));
    m_ui.Text1->setPalette(palette);
}

void Main::onCommand1Clicked()
{
    m_launch.userPressed();
    m_tickCycle.onCommand1Click();
}

void Main::onConnectClicked()
{
    m_launch.userPressed();
    m_rigLink.onConnectClicked();
}

void Main::onDisconnectClicked()
{
    m_launch.userPressed();
    m_rigLink.onDisconnectClicked();
}

void Main::labelFields()
{
    // Screen readers name each field after its label.
    const std::pair<QLabel *, QWidget *> pairs[] = {
        {m_ui.Label4, m_ui.text2},
        {m_ui.Label2, m_ui.Combo_period},
        {m_ui.Label3, m_ui.chirptime},
        {m_ui.Label6, m_ui.Slider1},
        {m_ui.Label7, m_ui.Text1},
        {m_ui.Label8, m_ui.host},
        {m_ui.Label9, m_ui.port},
        {m_ui.Label5, m_ui.Text3},
        {m_ui.Label1, m_ui.Text5},
    };
    for (const auto &[label, field] : pairs) {
        label->setBuddy(field);
        field->setAccessibleName(label->text());
    }
    m_ui.Slider1->setAccessibleDescription(m_ui.Label10->text());
}

Main::~Main()
{
    m_ui.Timer1->stop();
    m_ui.Timer2->stop();
    m_winsock.Close();
}

void Main::createControls()
{
    // Controls without a font of their own use the face and size the window was laid out for,
    // so that every caption fits its place whatever the desktop's own font.
    setFont(controlFont(Face::MsSansSerif, 8.25, false));
    const QFont verdanaBold = controlFont(Face::Verdana, 9.75, true);
    const QFont sansBold = controlFont(Face::MsSansSerif, 9.75, true);

    // Created in this order so that connect, disconnect and hrdstatus lie in front of Frame1.
    m_ui.Frame1 = make<QGroupBox>(this, "Frame1");
    m_ui.Frame1->setTitle(QStringLiteral("HRD IP Connection Status"));
    m_ui.Label8 = makeLabel(m_ui.Frame1, "Label8", QStringLiteral("Host"));
    m_ui.host = makeTextBox(m_ui.Frame1, "host", QStringLiteral("127.0.0.1"));
    m_ui.Label9 = makeLabel(m_ui.Frame1, "Label9", QStringLiteral("Port"));
    m_ui.port
        = makeTextBox(m_ui.Frame1, "port", QString::number(Rig::defaultPort(m_rigLink.protocol())));

    m_ui.Label4 = makeLabel(this, "Label4", QStringLiteral("Frequency"));
    m_ui.Label4->setFont(verdanaBold);
    m_ui.text2 = makeTextBox(this, "text2", QStringLiteral("Stopped"));
    m_ui.text2->setFont(controlFont(Face::Verdana, 14.25, false));
    m_ui.text2->setAlignment(Qt::AlignCenter);

    m_ui.Label2 = makeLabel(this, "Label2", QStringLiteral("Period"));
    m_ui.Label2->setFont(sansBold);
    m_ui.Combo_period = make<LockableComboBox>(this, "Combo_period");
    m_ui.Combo_period->setEditText(QStringLiteral("300"));

    m_ui.Label3 = makeLabel(this, "Label3", QStringLiteral("Chirptime"));
    m_ui.Label3->setFont(sansBold);
    m_ui.chirptime = makeTextBox(this, "chirptime", QStringLiteral("78"));

    m_ui.Label6 = makeLabel(this, "Label6", QStringLiteral("Offset"));
    m_ui.Label6->setFont(verdanaBold);
    m_ui.Label10 = makeLabel(this, "Label10", QStringLiteral("100ms/div"));
    m_ui.Slider1 = make<QSlider>(this, "Slider1");
    m_ui.Slider1->setOrientation(Qt::Horizontal);
    m_ui.Slider1->setRange(-10, 10);
    m_ui.Slider1->setSingleStep(1);
    m_ui.Slider1->setPageStep(2);
    m_ui.Slider1->setTickPosition(QSlider::TicksBelow);
    m_ui.Slider1->setTickInterval(1);
    m_ui.Slider1->setValue(0);

    m_ui.Label7 = makeLabel(this, "Label7", QStringLiteral("Time"));
    m_ui.Label7->setFont(sansBold);
    m_ui.Text1 = makeTextBox(this, "Text1", QString());
    m_ui.Text1->setAlignment(Qt::AlignCenter);

    m_ui.Command1 = make<QPushButton>(this, "Command1");
    m_ui.Command1->setText(Tracking::StartCaption);
    m_ui.Command1->setFont(sansBold);
    m_ui.Command1->setAutoDefault(false);

    m_ui.status = makeLabel(this, "status", QStringLiteral("Status"));
    m_ui.status->setAlignment(Qt::AlignCenter);
    m_ui.status->setFrameStyle(QFrame::Box | QFrame::Plain);

    m_ui.connect = make<QPushButton>(this, "connect");
    m_ui.connect->setText(QStringLiteral("Connect"));
    m_ui.connect->setAutoDefault(false);
    m_ui.disconnect = make<QPushButton>(this, "disconnect");
    m_ui.disconnect->setText(QStringLiteral("Disconnect"));
    m_ui.disconnect->setAutoDefault(false);

    m_ui.hrdstatus = make<QFrame>(this, "hrdstatus");
    m_ui.hrdstatus->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_ui.hrdstatus->setAutoFillBackground(true);
    m_ui.hrdstatus->setFocusPolicy(Qt::StrongFocus);
    setIndicatorColour(Rig::IndicatorRed);

    m_ui.Label5
        = makeLabel(this, "Label5", QStringLiteral("ctime (current sounder position in period)"));
    m_ui.Text3 = makeTextBox(this, "Text3", QStringLiteral("Text3"));
    m_ui.Label1 = makeLabel(this, "Label1", QStringLiteral("ctime1 (Current position for Period"));
    m_ui.Text5 = makeTextBox(this, "Text5", QStringLiteral("Text5"));

    m_ui.Timer1 = make<QTimer>(this, "Timer1");
    m_ui.Timer1->setInterval(TimerIntervalMs);
    m_ui.Timer1->setTimerType(Qt::PreciseTimer);
    m_ui.Timer2 = make<QTimer>(this, "Timer2");
    m_ui.Timer2->setInterval(TimerIntervalMs);
    m_ui.Timer2->setTimerType(Qt::PreciseTimer);
}

void Main::placeControls()
{
    for (const ControlPlace &place : controlPlaces(m_ui))
        place.control->setGeometry(place.pixels);
}

void Main::orderTabs()
{
    const QList<QWidget *> order{m_ui.Text5,
                                 m_ui.Text3,
                                 m_ui.text2,
                                 m_ui.chirptime,
                                 m_ui.connect,
                                 m_ui.disconnect,
                                 m_ui.hrdstatus,
                                 m_ui.host,
                                 m_ui.port,
                                 m_ui.Slider1,
                                 m_ui.Text1,
                                 m_ui.Combo_period,
                                 m_ui.Command1};
    for (qsizetype i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    for (QLabel *label : findChildren<QLabel *>())
        label->setFocusPolicy(Qt::NoFocus);
    m_ui.Frame1->setFocusPolicy(Qt::NoFocus);
}

void Main::routeEvents()
{
    QObject::connect(m_ui.Command1, &QPushButton::clicked, this, &Main::onCommand1Clicked);
    QObject::connect(&m_rigLink, &Rig::RigLink::linkEstablished, this, [this] {
        // Finding: the dial is parked once the link is up, and again after each outage.
        if (m_findHz && command1Caption() == Tracking::StartCaption)
            m_rigLink.SendStep(*m_findHz);
        if (m_launch.startNow() && command1Caption() == Tracking::StartCaption)
            m_tickCycle.onCommand1Click();
    });
    QObject::connect(m_ui.Timer1, &QTimer::timeout, this, [this] { m_tickCycle.onTimer1Tick(); });
    QObject::connect(m_ui.Timer2, &QTimer::timeout, this, &Main::onTimer2Tick);
    QObject::connect(m_ui.connect, &QPushButton::clicked, this, &Main::onConnectClicked);
    QObject::connect(m_ui.disconnect, &QPushButton::clicked, this, &Main::onDisconnectClicked);
    m_tickCycle.setSendStep([this](qint32 stepHz) { m_rigLink.SendStep(stepHz); });
    m_tickCycle.setStepWatchers(
        [this](const QDateTime &reading,
               const Tracking::StepResult &step,
               const Tracking::Sounder &sounder) {
            if (!m_listening)
                return;
            m_listening->listener().onStepTaken(
                reading.toMSecsSinceEpoch(), step, sounder, m_rigLink.reachesRadio());
        },
        [this] {
            if (m_listening)
                m_listening->listener().onStopped();
        });

    // Listening is offered where it does not change how the window looks: on the
    // background's context menu.
    auto *listen = new QAction(QStringLiteral("Listen to the receiver"), this);
    listen->setObjectName(QStringLiteral("listenAction"));
    QObject::connect(listen, &QAction::triggered, this, &Main::startListening);
    addAction(listen);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void Main::startListening()
{
    if (!m_listening) {
        m_listenOptions.rateKhzPerS = m_tickCycle.rate();
        m_listening = new ListenSession(
            m_listenOptions,
            [this] {
                return periodText().trimmed() + QLatin1Char(':') + chirptimeText().trimmed();
            },
            this);
        // The radio listens in upper sideband for as long as the session lasts.
        m_rigLink.setSidebandWanted(true);
        QObject::connect(m_listening, &QObject::destroyed, &m_rigLink, [link = &m_rigLink] {
            link->setSidebandWanted(false);
        });
        QObject::connect(&m_rigLink,
                         &Rig::RigLink::sidebandRefused,
                         &m_listening->listener(),
                         &Listen::Listener::setRadioNote);
        QObject::connect(&m_rigLink,
                         &Rig::RigLink::linkEstablished,
                         &m_listening->listener(),
                         [listener = &m_listening->listener()] { listener->setRadioNote({}); });
        IonogramWindow &ionogram = m_listening->window();
        ionogram.adjustSize();
        // Its frame will be as wide and high as the main window's around their contents.
        const QSize frame = ionogram.size() + frameGeometry().size() - size();
        if (const QScreen *shown = screen())
            ionogram.move(ionogramWindowPlace(frameGeometry(), frame, shown->availableGeometry()));
        ionogram.setKeep([this](const Listen::ListenOptions &options) {
            m_listenOptions.audioDelayMs = options.audioDelayMs;
            if (!m_settingsPath.isEmpty())
                keepListening(m_settingsPath, options);
        });
        ionogram.setFollow(
            [this](const Listen::FoundSounder &sounder) { return followSounder(sounder); });
    }
    QWidget &ionogram = m_listening->window();
    ionogram.show();
    ionogram.raise();
}

bool Main::followSounder(const Listen::FoundSounder &sounder)
{
    if (command1Caption() != Tracking::StartCaption)
        return false;
    // The sounder's own start, without the delays that its hearings add.
    const QLocale locale;
    m_ui.Combo_period->setEditText(locale.toString(sounder.periodS, 'g', 10));
    m_ui.chirptime->setText(locale.toString(Listen::wholeSecondChirptimeS(sounder), 'f', 0));
    m_tickCycle.setRate(sounder.rateKhzPerS);
    return true;
}

void Main::onLoad()
{
    for (const char *period : {"300", "600", "900", "1200", "1800"})
        m_ui.Combo_period->addItem(QString::fromLatin1(period));
}

void Main::onTimer2Tick()
{
    m_ui.Text1->setText(ClockText(m_clock().time()));
}

bool Main::isTimer1Enabled() const
{
    return m_ui.Timer1->isActive();
}

qint32 Main::indicatorColour() const
{
    return rgbIntFromColour(m_ui.hrdstatus->palette().color(QPalette::Window));
}

QString Main::statusCaption() const
{
    return m_ui.status->text();
}

QString Main::command1Caption() const
{
    return m_ui.Command1->text();
}

void Main::setCommand1Caption(const QString &caption)
{
    m_ui.Command1->setText(caption);
}

void Main::setTimer1Enabled(bool enabled)
{
    if (enabled == m_ui.Timer1->isActive())
        return;
    if (enabled)
        m_ui.Timer1->start();
    else
        m_ui.Timer1->stop();
}

void Main::setSettingsLocked(bool locked)
{
    m_ui.Combo_period->setLocked(locked);
    m_ui.chirptime->setReadOnly(locked);
}

int Main::slider1Value() const
{
    return m_ui.Slider1->value();
}

QString Main::periodText() const
{
    return m_ui.Combo_period->currentText();
}

QString Main::chirptimeText() const
{
    return m_ui.chirptime->text();
}

void Main::showStep(const Tracking::StepResult &step)
{
    m_ui.Text3->setText(step.chirpPositionText);
    m_ui.Text5->setText(step.periodPositionText);
    m_ui.text2->setText(step.frequencyText);
}

void Main::showProblem(const QString &text)
{
    setStatusText({text, {}});
}

QString Main::hostText() const
{
    return m_ui.host->text();
}

QString Main::portText() const
{
    return m_ui.port->text();
}

void Main::setStatusCaption(const QString &text)
{
    m_ui.status->setText(text);
    m_ui.status->setToolTip(text);
}

void Main::setStatusText(const Rig::StatusText &text)
{
    // The caption fits the line; where it quotes the user or the rig-control program at
    // length, it is cut, and the tooltip holds the whole.
    const QString whole = text.whole.isEmpty() ? text.caption : text.whole;
    m_ui.status->setText(m_ui.status->fontMetrics().elidedText(
        text.caption, Qt::ElideRight, m_ui.status->contentsRect().width()));
    m_ui.status->setToolTip(whole);
}

void Main::setIndicatorColour(qint32 colour)
{
    QPalette palette = m_ui.hrdstatus->palette();
    palette.setColor(QPalette::Window, colourFromRgbInt(colour));
    m_ui.hrdstatus->setPalette(palette);
}

void Main::setIndicatorToolTip(const QString &text)
{
    m_ui.hrdstatus->setToolTip(text);
}

} // namespace Window
