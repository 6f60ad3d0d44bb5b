#include "filedialoganswerer.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <memory>

void answerFileDialog(const QString &path)
{
    auto *timer = new QTimer(qApp); // a box may outlive the test: the application cleans up
    timer->setInterval(10);
    auto answered = std::make_shared<bool>(false);
    QElapsedTimer t;
    t.start();
    QObject::connect(timer, &QTimer::timeout, [timer, path, t, answered] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *d = qobject_cast<QFileDialog *>(modal); d && !*answered) {
            *answered = true;
            if (auto *edit = d->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
                edit->setText(path);
            QMetaObject::invokeMethod(d, "accept", Qt::QueuedConnection);
        } else if (auto *box = qobject_cast<QMessageBox *>(modal);
                   box && *answered && qobject_cast<QFileDialog *>(box->parentWidget())) {
            box->button(QMessageBox::Yes)->click();
        }
        if (t.elapsed() > 10000 || (*answered && !modal)) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}
