#include "recordcontrol.h"

#include "runplayer.h"
#include "tcpthread.h"

#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace {
const QString RecordText = QStringLiteral("&Record...");
const QString StopText = QStringLiteral("Stop &Recording");
const QString ReplayText = QStringLiteral("Re&play Run...");
const QString StopReplayText = QStringLiteral("Stop Re&play");
const QString Filter = QStringLiteral("Run files (*.pcapng);;All Files(*)");
} // namespace

RecordControl::RecordControl(Hooks h, QLabel *status, QWidget *parent)
    : QWidget(parent), hooks(std::move(h)), status(status)
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    record = new QPushButton(RecordText, this);
    record->setObjectName(QStringLiteral("record"));
    record->setAutoDefault(false);
    record->setToolTip(QStringLiteral("Record every report of the connection into a run file"));
    replay = new QPushButton(ReplayText, this);
    replay->setObjectName(QStringLiteral("replay"));
    replay->setAutoDefault(false);
    replay->setToolTip(QStringLiteral("Play a run file into the log and the Rates tab"));
    pace = new QCheckBox(QStringLiteral("at recorded pace"), this);
    pace->setObjectName(QStringLiteral("replayPace"));
    layout->addWidget(record);
    layout->addWidget(replay);
    layout->addWidget(pace);
    connect(record, &QPushButton::clicked, this, &RecordControl::onRecordClicked);
    connect(replay, &QPushButton::clicked, this, &RecordControl::onReplayClicked);
    connect(&ticker, &QTimer::timeout, this, &RecordControl::tick);
    ticker.start(250);
    tick();
}

RecordControl::~RecordControl()
{
    if (writer)
        stopRecording(QStringLiteral("window closed"));
}

bool RecordControl::isReplaying() const
{
    return player && player->isPlaying();
}

void RecordControl::onRecordClicked()
{
    if (writer) {
        stopRecording();
        return;
    }
    const QString name = QFileDialog::getSaveFileName(this, QStringLiteral("Record Run"), QDir::currentPath(), Filter);
    if (name.isEmpty())
        return;
    if (!startRecording(name))
        QMessageBox::warning(this, QStringLiteral("Record Run"),
                             QStringLiteral("\"%1\": Can't record the run\n%2.").arg(name, writer ? QString() : status->text()),
                             QMessageBox::Ok);
}

bool RecordControl::startRecording(const QString &path)
{
    QTcpThread *thread = hooks.thread ? hooks.thread() : nullptr;
    if (writer || !thread || !thread->isConnected()) {
        status->setText(QStringLiteral("not connected"));
        return false;
    }
    RunHeader header = hooks.header ? hooks.header() : RunHeader();
    header.startNs = RunWriter::nowNs();
    auto w = std::make_unique<RunWriter>();
    if (!w->open(path, header)) {
        status->setText(w->errorString());
        return false;
    }
    writer = std::move(w);
    recordingThread = thread;
    if (hooks.attach)
        hooks.attach(writer.get());
    else
        thread->startRecording(writer.get());
    since.start();
    record->setText(StopText);
    replay->setEnabled(false);
    showStatus();
    return true;
}

void RecordControl::stopRecording(const QString &reason)
{
    if (!writer)
        return;
    // Once stopRecording returns, the command thread no longer touches the writer; a thread that
    // has ended (or is gone) touches nothing.
    if (hooks.attach)
        hooks.attach(nullptr);
    else if (recordingThread)
        recordingThread->stopRecording();
    const quint64 notShown = recordingThread ? recordingThread->reportsNotShown() : 0;
    const bool ok = writer->finish(reason, RunWriter::nowNs());
    const RunCounters &c = writer->counters();
    const QString message = ok ? QStringLiteral("Recorded %1 reports (%2 bytes) to %3")
                                     .arg(c.reports.load()).arg(c.bytes.load()).arg(writer->fileName())
                               : QStringLiteral("Recording to %1 failed: %2").arg(writer->fileName(), writer->errorString());
    writer.reset();
    recordingThread = nullptr;
    record->setText(RecordText);
    replay->setEnabled(true);
    status->setText(message);
    if (notShown && hooks.appendLog) {
        QString note = QStringLiteral("(%1 reports received while recording were not shown here; all are in the run file)")
                           .arg(notShown);
        hooks.appendLog(&note);
    }
    emit recordingFinished(ok, message);
}

void RecordControl::onReplayClicked()
{
    if (isReplaying()) {
        player->stop();
        return;
    }
    const QString name = QFileDialog::getOpenFileName(this, QStringLiteral("Replay Run"), QDir::currentPath(), Filter);
    if (name.isEmpty())
        return;
    if (!startReplay(name, pace->isChecked()))
        QMessageBox::warning(this, QStringLiteral("Replay Run"),
                             QStringLiteral("\"%1\": Can't replay the run\n%2.").arg(name, status->text()), QMessageBox::Ok);
}

bool RecordControl::startReplay(const QString &path, bool recordedPace)
{
    if (writer || isReplaying())
        return false;
    delete player;
    player = new RunPlayer(hooks.rates, hooks.logThreshold, this);
    if (hooks.observer)
        player->setObserver(hooks.observer());
    if (!player->open(path)) {
        status->setText(player->errorString());
        return false;
    }
    connect(player, &RunPlayer::logText, this, [this](QString *text) {
        if (hooks.appendLog)
            hooks.appendLog(text);
    });
    connect(player, &RunPlayer::finished, this, [this, path](bool ok, const QString &how) {
        const QString message = QStringLiteral("Replayed %1 reports of %2: %3").arg(player->reports()).arg(path, how);
        status->setText(message);
        replay->setText(ReplayText);
        record->setEnabled(true);
        tick();
        emit replayFinished(ok, message);
    });
    replay->setText(StopReplayText);
    record->setEnabled(false);
    since.start();
    player->start(recordedPace);
    return true;
}

void RecordControl::tick()
{
    if (writer) {
        // The connection ended under the recording: the run ends with it.
        if (!recordingThread || !recordingThread->isRunning()) {
            stopRecording(QStringLiteral("closed"));
            return;
        }
        if (writer->failed()) {
            stopRecording(QStringLiteral("write-error"));
            return;
        }
        showStatus();
        return;
    }
    if (isReplaying()) {
        status->setText(QStringLiteral("Replaying: %1 reports, %2 s").arg(player->reports()).arg(since.elapsed() / 1000.0, 0, 'f', 1));
        return;
    }
    QTcpThread *thread = hooks.thread ? hooks.thread() : nullptr;
    record->setEnabled(thread && thread->isConnected());
}

void RecordControl::showStatus()
{
    const RunCounters &c = writer->counters();
    status->setText(QStringLiteral("Recording %1: %2 s, %3 reports, %4 bytes")
                        .arg(writer->fileName())
                        .arg(since.elapsed() / 1000.0, 0, 'f', 1)
                        .arg(c.reports.load())
                        .arg(c.fileBytes.load()));
}
