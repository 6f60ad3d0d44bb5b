#pragma once

#include "reportobserver.h"
#include "runwriter.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QPushButton;
class QTcpThread;
class ReportRates;
class RunPlayer;

// The Received Log tab's run controls: Record (every report of the connection into a run file
// while the log shows what it can) and Replay (a run file into the log and the Rates tab,
// without a module). The status bar shows the file, the time, the reports and the bytes.
class RecordControl : public QWidget
{
    Q_OBJECT
public:
    struct Hooks
    {
        std::function<QTcpThread *()> thread;       // the command thread, or null
        std::function<RunHeader()> header;          // what the window knows of the run
        std::function<void(QString *)> appendLog;   // into the Received Log
        ReportRates *rates = nullptr;
        int logThreshold = 131072;
        // Hands the command thread the run's writer (null: the run ended), beside whatever else
        // the window feeds from it; without it the writer is handed to the thread alone.
        std::function<void(ReportRecorder *)> attach;
        // What else a replay feeds with every report (the window's histograms), if anything.
        std::function<std::unique_ptr<ReportObserver>()> observer;
    };
    RecordControl(Hooks hooks, QLabel *status, QWidget *parent = nullptr);
    ~RecordControl() override;

    // Without a dialog (the buttons ask for the file first).
    bool startRecording(const QString &path);
    void stopRecording(const QString &reason = QStringLiteral("stopped"));
    bool startReplay(const QString &path, bool recordedPace);
    bool isRecording() const { return writer != nullptr; }
    bool isReplaying() const;
    const RunWriter *recorder() const { return writer.get(); }

signals:
    void recordingFinished(bool ok, const QString &message);
    void replayFinished(bool ok, const QString &message);

private:
    void onRecordClicked();
    void onReplayClicked();
    void tick();
    void showStatus();

    Hooks hooks;
    QLabel *status;
    QPushButton *record;
    QPushButton *replay;
    QCheckBox *pace;
    QTimer ticker;
    std::unique_ptr<RunWriter> writer;
    QPointer<QTcpThread> recordingThread;
    QElapsedTimer since;
    RunPlayer *player = nullptr;
};
