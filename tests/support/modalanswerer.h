#pragma once

#include <QDialogButtonBox>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

// Answers the next modal message box: armed before the action that opens it, it records the
// box's title, text and buttons, then clicks the wanted button. If no box appears within the
// bound, seen() stays false so the test fails instead of hanging.
class ModalAnswerer : public QObject
{
    Q_OBJECT
public:
    explicit ModalAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok, int timeoutMs = 10000,
                           QObject *parent = nullptr);

    bool seen() const { return m_seen; }
    QString title() const { return m_title; }
    QString text() const { return m_text; }
    QMessageBox::Icon icon() const { return m_icon; }
    QMessageBox::StandardButtons buttons() const { return m_buttons; }
    QMessageBox::StandardButton defaultButton() const { return m_default; }
    int count() const { return m_count; }

    // Waits (processing events) until a box was answered or the bound ran out.
    bool wait(int timeoutMs = 10000);

private:
    void poll();

    QMessageBox::StandardButton m_answer;
    QTimer m_timer;
    int m_remainingTicks;
    bool m_seen = false;
    int m_count = 0;
    QString m_title;
    QString m_text;
    QMessageBox::Icon m_icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons m_buttons;
    QMessageBox::StandardButton m_default = QMessageBox::NoButton;
};
