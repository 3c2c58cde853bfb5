// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "ionogramwindow.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QTimeZone>
#include <QVBoxLayout>

#include <algorithm>

namespace Window {

namespace {

// Shows the picture at its own size.
class IonogramView : public QWidget
{
public:
    IonogramView(const IonogramPicture &picture, QWidget *parent)
        : QWidget(parent)
        , m_picture(picture)
    {
        setFixedSize(picture.image().size());
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.drawImage(0, 0, m_picture.image());
    }

private:
    const IonogramPicture &m_picture;
};

} // namespace

IonogramWindow::IonogramWindow(Listen::Listener &listener,
                               std::function<QString()> scheduleText,
                               QWidget *parent)
    : QWidget(parent)
    , m_listener(listener)
    , m_scheduleText(std::move(scheduleText))
    , m_picture(listener.options().delayFromMs,
                listener.options().delayToMs,
                Listen::delayRows(listener.options()))
{
    setObjectName(QStringLiteral("Ionogram"));
    setWindowTitle(QStringLiteral("Zarvotel ionogram"));
    m_view = new IonogramView(m_picture, this);
    m_view->setObjectName(QStringLiteral("ionogramView"));
    m_status = new QLabel(listener.status(), this);
    m_status->setObjectName(QStringLiteral("ionogramStatus"));
    m_fileProblem = new QLabel(this);
    m_fileProblem->setObjectName(QStringLiteral("ionogramFileProblem"));
    m_fileProblem->setStyleSheet(QStringLiteral("color: #b00000"));
    m_fileProblem->setWordWrap(true);
    m_fileProblem->hide();
    // Finding: the sounders heard, and the way to follow one.
    m_sounderList = new QListWidget(this);
    m_sounderList->setObjectName(QStringLiteral("sounderList"));
    m_followButton = new QPushButton(QStringLiteral("Follow this sounder"), this);
    m_followButton->setObjectName(QStringLiteral("followButton"));
    m_followButton->setEnabled(false);
    connect(m_followButton, &QPushButton::clicked, this, &IonogramWindow::onFollowClicked);
    connect(m_sounderList, &QListWidget::itemDoubleClicked, this, &IonogramWindow::onFollowClicked);
    connect(m_sounderList, &QListWidget::currentRowChanged, this, [this](int row) {
        m_followButton->setEnabled(row >= 0);
    });
    const bool finding = listener.finding() != nullptr;
    m_view->setVisible(!finding);
    m_sounderList->setVisible(finding);
    m_followButton->setVisible(finding);
    m_sounderList->setMinimumSize(640, 200);

    // The day at a glance on a second page, so that the window keeps its size.
    m_day = new QLabel(QStringLiteral("No sweep has ended yet. The day's MOFs are drawn here "
                                      "when one has."));
    m_day->setObjectName(QStringLiteral("dayPlot"));
    m_day->setAlignment(Qt::AlignCenter);
    m_day->setWordWrap(true);

    // Help with the sound path's delay, while it is not known.
    m_soundPathHelp = new QLabel(this);
    m_soundPathHelp->setObjectName(QStringLiteral("soundPathHelp"));
    m_soundPathHelp->setWordWrap(true);
    m_useDelay = new QPushButton(this);
    m_useDelay->setObjectName(QStringLiteral("useAudioDelay"));
    connect(m_useDelay, &QPushButton::clicked, this, &IonogramWindow::onUseDelayClicked);
    m_soundPathHelp->hide();
    m_useDelay->hide();

    auto *ionogramPage = new QWidget;
    auto *ionogramLayout = new QVBoxLayout(ionogramPage);
    ionogramLayout->addWidget(m_view);
    ionogramLayout->addWidget(m_sounderList);
    ionogramLayout->addWidget(m_followButton, 0, Qt::AlignLeft);
    ionogramLayout->addStretch();
    m_pages = new QTabWidget(this);
    m_pages->setObjectName(QStringLiteral("ionogramPages"));
    m_pages->addTab(ionogramPage, QStringLiteral("Ionogram"));
    m_pages->addTab(m_day, QStringLiteral("Day"));

    auto *help = new QHBoxLayout;
    help->addWidget(m_soundPathHelp, 1);
    help->addWidget(m_useDelay, 0, Qt::AlignTop);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    layout->addLayout(help);
    layout->addWidget(m_status);
    layout->addWidget(m_fileProblem);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(&listener, &Listen::Listener::sweepBegun, this, &IonogramWindow::onSweepBegun);
    connect(&listener, &Listen::Listener::stepHeard, this, &IonogramWindow::onStepHeard);
    connect(&listener, &Listen::Listener::pictureLoaded, this, &IonogramWindow::onPictureLoaded);
    connect(&listener, &Listen::Listener::sweepScaled, this, &IonogramWindow::onSweepScaled);
    connect(&listener, &Listen::Listener::dayPlotChanged, this, &IonogramWindow::onDayPlotChanged);
    if (Listen::SounderSearch *search = listener.finding()) {
        connect(search,
                &Listen::SounderSearch::soundersChanged,
                this,
                &IonogramWindow::onSoundersChanged);
    }
    connect(&listener, &Listen::Listener::statusChanged, m_status, &QLabel::setText);
    connect(&listener, &Listen::Listener::fileProblem, this, [this](const QString &text) {
        m_fileProblem->setText(text);
        m_fileProblem->setVisible(!text.isEmpty());
    });
}

IonogramWindow::~IonogramWindow()
{
    saveSweep();
}

QString IonogramWindow::statusText() const
{
    return m_status->text();
}

QString IonogramWindow::fileProblemText() const
{
    return m_fileProblem->text();
}

void IonogramWindow::onSweepBegun(qint64 sweepStartMs)
{
    saveSweep();
    showPicture();
    m_sweepStartMs = sweepStartMs;
    const QString when = QDateTime::fromMSecsSinceEpoch(sweepStartMs, QTimeZone::utc())
                             .toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    m_picture.beginSweep(QStringLiteral("%1   %2 UTC").arg(m_scheduleText(), when));
    m_view->update();
    // A sweep drawn in part before the window was closed goes on in the same picture.
    m_listener.loadPicture(sweepStartMs);
}

QString IonogramWindow::dayText() const
{
    return m_day->text();
}

QString IonogramWindow::soundPathHelpText() const
{
    return m_soundPathHelp->isHidden() ? QString() : m_soundPathHelp->text();
}

void IonogramWindow::onPictureLoaded(qint64 sweepStartMs, const QImage &saved)
{
    // A sweep scaled after the next began: its saved picture gets its MOF.
    if (m_mofToMark && m_mofToMark->sweepStartMs == sweepStartMs) {
        QImage marked = saved.convertToFormat(m_picture.image().format());
        if (m_picture.markMof(marked, m_mofToMark->mof))
            m_listener.savePicture(sweepStartMs, marked);
        m_mofToMark.reset();
        return;
    }
    if (sweepStartMs == m_sweepStartMs && m_picture.continueFrom(saved))
        m_view->update();
}

void IonogramWindow::onSweepScaled(const Listen::SweepSummary &summary)
{
    if (!summary.scale.oneHop)
        return;
    if (summary.sweepStartMs == m_sweepStartMs) {
        m_picture.markMof(*summary.scale.oneHop);
        m_view->update();
        m_unsaved = true;
        saveSweep();
        return;
    }
    // The picture on the screen is the next sweep's: the scaled one is marked in its file
    // (one at a time: a sweep whose picture was never saved leaves nothing waiting long).
    m_mofToMark = MofToMark{summary.sweepStartMs, *summary.scale.oneHop};
    m_listener.loadPicture(summary.sweepStartMs);
}

void IonogramWindow::onDayPlotChanged(const QImage &plot)
{
    m_day->setPixmap(QPixmap::fromImage(plot));
}

void IonogramWindow::updateSoundPathHelp()
{
    const Listen::ListenOptions &options = m_listener.options();
    m_advice.reset();
    if (!options.audioDelayMs)
        m_advice
            = Listen::soundPathAdvice(m_recentEchoesMs, options.delayFromMs, options.delayToMs);
    m_soundPathHelp->setVisible(m_advice.has_value());
    m_useDelay->setVisible(m_advice && m_advice->addedMs);
    if (!m_advice)
        return;
    m_soundPathHelp->setText(
        Listen::soundPathText(*m_advice, options.delayFromMs, options.delayToMs));
    if (m_advice->addedMs)
        m_useDelay->setText(QStringLiteral("Use %1 ms").arg(*m_advice->addedMs));
    keepOnScreen();
}

void IonogramWindow::keepOnScreen()
{
    // The help makes the window higher: it stays whole on the screen.
    adjustSize();
    const QScreen *shown = isVisible() ? screen() : nullptr;
    if (!shown)
        return;
    const QRect available = shown->availableGeometry();
    const QRect frame = frameGeometry();
    if (frame.bottom() > available.bottom())
        move(frame.left(), std::max(available.top(), available.bottom() + 1 - frame.height()));
}

void IonogramWindow::onUseDelayClicked()
{
    if (!m_advice || !m_advice->addedMs)
        return;
    m_listener.setAudioDelay(*m_advice->addedMs);
    m_recentEchoesMs.clear();
    updateSoundPathHelp();
    if (m_keep)
        m_keep(m_listener.options());
}

void IonogramWindow::onStepHeard(const Listen::StepReading &reading)
{
    if (reading.step.sweepStartMs != m_sweepStartMs)
        return;
    m_picture.setColumn(reading);
    m_unsaved = true;
    if (!m_listener.options().audioDelayMs && !reading.echoes.isEmpty()) {
        m_recentEchoesMs.append(reading.echoes.front().delayMs);
        if (m_recentEchoesMs.size() > Listen::SoundPathEchoesKept)
            m_recentEchoesMs.removeFirst();
        updateSoundPathHelp();
    }
    m_view->update();
    // The last step a sweep tunes to is 29.9 MHz: past it the radio waits for the next.
    if (reading.step.dialHz >= Tracking::SweepCeilingHz - Tracking::SweepStepHz)
        saveSweep();
}

void IonogramWindow::onSoundersChanged()
{
    const Listen::SounderSearch *search = m_listener.finding();
    if (!search)
        return;
    // Rows keep their place as long as no two sounders are found to be one.
    m_sounders = search->sounders();
    while (m_sounderList->count() > m_sounders.size())
        delete m_sounderList->takeItem(m_sounderList->count() - 1);
    for (qsizetype row = 0; row < m_sounders.size(); ++row) {
        const QString line = search->lineOf(m_sounders[row]);
        if (row < m_sounderList->count())
            m_sounderList->item(int(row))->setText(line);
        else
            m_sounderList->addItem(line);
    }
}

void IonogramWindow::onFollowClicked()
{
    const int row = m_sounderList->currentRow();
    if (row < 0 || row >= m_sounders.size() || !m_follow)
        return;
    if (!m_follow(m_sounders[row])) {
        m_status->setText(QStringLiteral("Stop the sweep to follow another sounder."));
        return;
    }
    showPicture();
}

void IonogramWindow::showPicture()
{
    m_sounderList->hide();
    m_followButton->hide();
    m_view->show();
}

void IonogramWindow::closeEvent(QCloseEvent *event)
{
    saveSweep();
    event->accept();
    Q_EMIT closed();
}

void IonogramWindow::saveSweep()
{
    if (!m_unsaved)
        return;
    m_unsaved = false;
    m_listener.savePicture(m_sweepStartMs, m_picture.image());
}

ListenSession::ListenSession(const Listen::ListenOptions &options,
                             std::function<QString()> scheduleText,
                             QObject *parent)
    : QObject(parent)
    , m_listener(new Listen::Listener(options, {}, this))
    , m_window(std::make_unique<IonogramWindow>(*m_listener, std::move(scheduleText)))
{
    connect(m_window.get(), &IonogramWindow::closed, this, &QObject::deleteLater);
}

ListenSession::~ListenSession()
{
    // The picture is saved while the listener can still take it.
    m_window.reset();
}

} // namespace Window
