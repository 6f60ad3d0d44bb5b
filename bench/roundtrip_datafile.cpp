// A data file's round trip through the Interactive Mode tab (offscreen): load it with "Open",
// save it again with "Save", and compare. For each size it prints how long the window's event
// loop stood still while the file was laid out (the longest gap between ticks of a 5 ms timer)
// and while it was read back and written, and whether the saved file equals the loaded one.
//
//   bench_datafile [sizes in KiB ...]        (default: 64 256 1024, then a 1 GiB file that is refused)
#include "benchsupport.h"
#include "tarnixcmdform.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

// Answers the next file dialog with path, the overwrite question with Yes and any other box with
// OK (its text goes to *boxText), until the returned object is deleted.
std::unique_ptr<QTimer> answerDialogs(const QString &path, QString *boxText)
{
    auto timer = std::make_unique<QTimer>();
    timer->setInterval(2);
    auto answered = std::make_shared<bool>(false);
    QObject::connect(timer.get(), &QTimer::timeout, [=] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *d = qobject_cast<QFileDialog *>(modal); d && !*answered) {
            *answered = true;
            d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
            QMetaObject::invokeMethod(d, "accept", Qt::QueuedConnection);
        } else if (auto *box = qobject_cast<QMessageBox *>(modal); box && *answered) {
            if (qobject_cast<QFileDialog *>(box->parentWidget())) {
                box->button(QMessageBox::Yes)->click();
            } else {
                *boxText = box->text();
                box->button(QMessageBox::Ok)->click();
            }
        }
    });
    timer->start();
    return timer;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    QList<qint64> sizes;
    for (int i = 1; i < argc; ++i)
        sizes << QByteArray(argv[i]).toLongLong() * 1024;
    if (sizes.isEmpty())
        sizes = {64 * 1024, 256 * 1024, TarnixCmdForm::MaxFileBytes, qint64(1) << 30};

    QTemporaryDir dir;
    TarnixCmdForm form;
    form.resize(555, 463);
    form.show();
    auto *open = form.findChild<QPushButton *>(QStringLiteral("open"));
    auto *save = form.findChild<QPushButton *>(QStringLiteral("save"));
    StallMeter stall;
    bool allOk = true;
    for (qint64 size : sizes) {
        const QString in = dir.filePath(QStringLiteral("in.bin"));
        const QString out = dir.filePath(QStringLiteral("out.bin"));
        QByteArray data;
        {
            QFile f(in);
            if (!f.open(QIODevice::WriteOnly))
                return 1;
            if (size > TarnixCmdForm::MaxFileBytes) {
                f.resize(size); // sparse: refused before it is read
            } else {
                data.resize(size);
                QRandomGenerator random{quint32(size)};
                for (char &c : data)
                    c = char(random.bounded(256));
                f.write(data);
            }
        }
        QString box;
        auto answerer = answerDialogs(in, &box);
        stall.start();
        open->click();
        const qint64 loadStall = stall.stop();
        answerer.reset();
        if (!box.isEmpty()) {
            std::printf("%10lld bytes: refused (\"%s\"), window still for %lld ms\n", static_cast<long long>(size),
                        qPrintable(box), static_cast<long long>(loadStall));
            continue;
        }
        answerer = answerDialogs(out, &box);
        stall.start();
        save->click();
        const qint64 saveStall = stall.stop();
        answerer.reset();
        QFile f(out);
        const bool same = f.open(QIODevice::ReadOnly) && f.readAll() == data;
        allOk = allOk && same;
        std::printf("%10lld bytes: load holds the window %lld ms, save %lld ms, saved file %s\n",
                    static_cast<long long>(size), static_cast<long long>(loadStall),
                    static_cast<long long>(saveStall), same ? "equal to the loaded one" : "DIFFERENT");
        QFile::remove(out);
    }
    return allOk ? 0 : 2;
}
