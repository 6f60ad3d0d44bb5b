#include "modalanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDeadlineTimer>
#include <QPushButton>
#include <QTest>

ModalAnswerer::ModalAnswerer(QMessageBox::StandardButton answer, int timeoutMs, QObject *parent)
    : QObject(parent), m_answer(answer), m_remainingTicks(timeoutMs / 10)
{
    m_timer.setInterval(10);
    connect(&m_timer, &QTimer::timeout, this, &ModalAnswerer::poll);
    m_timer.start();
}

void ModalAnswerer::poll()
{
    if (--m_remainingTicks < 0) {
        m_timer.stop();
        return;
    }
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    m_timer.stop();
    m_seen = true;
    ++m_count;
    m_title = box->windowTitle();
    m_text = box->text();
    m_icon = box->icon();
    m_buttons = box->standardButtons();
    if (QPushButton *d = box->defaultButton())
        m_default = box->standardButton(d);
    QAbstractButton *b = box->button(m_answer);
    if (b)
        b->click();
    else
        box->reject();
}

bool ModalAnswerer::wait(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!m_seen && !deadline.hasExpired())
        QTest::qWait(10);
    return m_seen;
}
