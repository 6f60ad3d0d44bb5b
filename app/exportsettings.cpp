#include "exportsettings.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

ExportSettings::ExportSettings(ReportRates *rates, QWidget *parent)
    : QWidget(parent), metrics(rates), server([this] { return metrics.page(); }),
      metricsOn(new QCheckBox(QStringLiteral("Serve metrics on"), this)),
      metricsAddress(new QLineEdit(QStringLiteral("127.0.0.1"), this)), metricsPortBox(new QSpinBox(this)),
      metricsState(new QLabel(this)), publishOn(new QCheckBox(QStringLiteral("Publish reports on"), this)),
      endpoint(new QLineEdit(QStringLiteral("tcp://127.0.0.1:5556"), this)), publishState(new QLabel(this))
{
    metricsOn->setObjectName(QStringLiteral("serveMetrics"));
    metricsAddress->setObjectName(QStringLiteral("metricsAddress"));
    metricsPortBox->setObjectName(QStringLiteral("metricsPort"));
    metricsState->setObjectName(QStringLiteral("metricsState"));
    publishOn->setObjectName(QStringLiteral("publishReports"));
    endpoint->setObjectName(QStringLiteral("publishEndpoint"));
    publishState->setObjectName(QStringLiteral("publishState"));
    metricsPortBox->setRange(0, 65535);
    metricsPortBox->setValue(DefaultMetricsPort);
    metricsPortBox->setToolTip(QStringLiteral("0: any free port"));
    endpoint->setToolTip(QStringLiteral("A ZeroMQ endpoint: tcp://HOST:PORT, tcp://HOST:* for a free port, ipc://PATH"));
    metricsPortBox->setKeyboardTracking(false);

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->addWidget(metricsOn, 0, 0);
    grid->addWidget(metricsAddress, 0, 1);
    grid->addWidget(metricsPortBox, 0, 2);
    grid->addWidget(metricsState, 0, 3);
    grid->addWidget(publishOn, 1, 0);
    grid->addWidget(endpoint, 1, 1, 1, 2);
    grid->addWidget(publishState, 1, 3);
    grid->setColumnStretch(3, 1);

    connect(metricsOn, &QCheckBox::toggled, this, &ExportSettings::serve);
    connect(publishOn, &QCheckBox::toggled, this, &ExportSettings::publish);
}

ExportSettings::~ExportSettings()
{
    // The scrape thread reads the metrics: it ends before they go.
    server.stop();
}

void ExportSettings::setModule(const QString &address, quint16 port)
{
    metrics.setModule(address, port);
    publisher.setTopic((address + QLatin1Char(':') + QString::number(port)).toUtf8());
}

void ExportSettings::serve(bool on)
{
    metricsAddress->setEnabled(!on);
    metricsPortBox->setEnabled(!on);
    if (!on) {
        server.stop();
        metricsState->clear();
        return;
    }
    QHostAddress address;
    if (!address.setAddress(metricsAddress->text().trimmed())) {
        metricsState->setText(QStringLiteral("\"%1\" is not an IP address").arg(metricsAddress->text()));
    } else if (!server.start(address, quint16(metricsPortBox->value()))) {
        metricsState->setText(server.errorString());
    } else {
        metricsState->setText(server.url());
        return;
    }
    const QSignalBlocker quiet(metricsOn);
    metricsOn->setChecked(false);
    metricsAddress->setEnabled(true);
    metricsPortBox->setEnabled(true);
}

void ExportSettings::publish(bool on)
{
    endpoint->setEnabled(!on);
    if (!on) {
        emit tapChanged(nullptr);
        metrics.setPublisher(nullptr);
        publisher.close();
        publishState->clear();
        return;
    }
    if (publisher.bind(endpoint->text().trimmed())) {
        metrics.setPublisher(&publisher);
        publishState->setText(publisher.endpoint());
        emit tapChanged(&streamTap);
        return;
    }
    publishState->setText(publisher.errorString());
    const QSignalBlocker quiet(publishOn);
    publishOn->setChecked(false);
    endpoint->setEnabled(true);
}
