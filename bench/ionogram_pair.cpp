// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later
// One simulated sky heard two ways: through a 2.4 kHz SSB passband at 48 kHz and as 192 kHz
// I/Q. Each step of a sweep is rendered by rigsim's SkyAudio (its default sky: 1,500 km,
// E and F2, two hops, the X trace, 10 dB), heard by the detector as the capture would, and
// drawn as the ionogram window draws it; the two pictures are saved side by side.
// usage: ionogram_pair FOLDER [FROM_MS TO_MS]

#include "chirpschedule.h"
#include "ionogrampicture.h"
#include "listener.h"
#include "skyaudio.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>

#include <cmath>
#include <cstdio>

namespace {

constexpr double SkySnrDb = 10;
// A sweep of rigsim's sounder (300 s, chirptime 78 s, 100 kHz/s) on a day in 2026.
constexpr qint64 SweepStartNs = 1'796'688'000'000'000'000 + 78'000'000'000;

QImage heard(bool iq, double fromMs, double toMs)
{
    const int rate = iq ? 192000 : Sky::SampleRate;
    Listen::ListenOptions options;
    options.audioDelayMs = 0;
    options.iq = iq;
    options.delayFromMs = fromMs;
    options.delayToMs = toMs;
    // Both drawn on I/Q's rows, so that the two pictures compare row for row.
    Listen::ListenOptions rowsOf = options;
    rowsOf.iq = true;
    const int rows = Listen::delayRows(rowsOf);
    Listen::DetectorSettings settings = Listen::detectorSettingsFor(options);
    settings.profileBins = rows;
    settings.sampleRate = rate;
    // The dial holds a step from 600 ms before the chirp reaches it to 400 ms after.
    settings.dialFromMs = -600;
    settings.dialToMs = 400;
    const Listen::ChirpDetector detector(settings);

    Sky::Receiver receiver;
    receiver.rateHz = rate;
    receiver.iq = iq;
    Sky::SkyAudio audio({Sky::Sounder{}}, Sky::Ionosphere{}, SkySnrDb, 7, receiver);
    std::vector<qint16> samples(size_t(detector.blockSamples() * audio.channels()));
    std::vector<float> block(samples.size());
    Window::IonogramPicture picture(fromMs, toMs, rows);
    picture.beginSweep(iq ? QStringLiteral("192 kHz I/Q, the simulated sky at 10 dB")
                          : QStringLiteral("2.4 kHz audio, the simulated sky at 10 dB"));
    const double arrival = detector.blockLeadMs() * rate / 1000;
    for (qint32 dialHz = Tracking::SweepFloorHz; dialHz <= Tracking::SweepCeilingHz;
         dialHz += Tracking::SweepStepHz) {
        // 100 kHz/s: the chirp reaches the dial 10 us after the sweep's start for each Hz.
        const qint64 arrivalNs = SweepStartNs + qint64(dialHz) * 10'000;
        audio.render(arrivalNs - std::llround(detector.blockLeadMs() * 1e6), dialHz, samples);
        for (size_t i = 0; i < samples.size(); ++i)
            block[i] = float(samples[i]) / 32768.0F;
        const Listen::Detection detection
            = detector.detect(block, arrival, arrival - 0.55 * rate, arrival + 0.4 * rate);
        Listen::StepReading reading;
        reading.step.dialHz = dialHz;
        reading.echoes = detection.echoes;
        reading.snrDb
            = detection.echoes.isEmpty() ? detection.peakDb : detection.echoes.front().snrDb;
        reading.profileDb = detection.profileDb;
        picture.setColumn(reading);
    }
    return picture.image();
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication application(argc, argv);
    Listen::keepLargeBuffers();
    if (argc != 2 && argc != 4) {
        std::fprintf(stderr, "usage: ionogram_pair FOLDER [FROM_MS TO_MS]\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const double fromMs = argc == 4 ? std::atof(argv[2]) : 0;
    const double toMs = argc == 4 ? std::atof(argv[3]) : 40;
    const QImage audio = heard(false, fromMs, toMs);
    const QImage iq = heard(true, fromMs, toMs);
    QImage pair(audio.width() + iq.width(), std::max(audio.height(), iq.height()), iq.format());
    pair.fill(Qt::white);
    QPainter painter(&pair);
    painter.drawImage(0, 0, audio);
    painter.drawImage(audio.width(), 0, iq);
    painter.end();
    QDir().mkpath(folder);
    const QString path
        = QDir(folder).filePath(QStringLiteral("ionograms-%1-%2-ms.png").arg(fromMs).arg(toMs));
    if (!pair.save(path)) {
        std::fprintf(stderr, "ionogram_pair: cannot write %s\n", qPrintable(path));
        return 1;
    }
    std::printf("%s: 2.4 kHz audio (left) and 192 kHz I/Q (right) of one sky\n", qPrintable(path));
    return 0;
}
