#include "ratestab.h"

#include <QDateTime>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>

namespace {
constexpr qint64 MinuteMs = 60000;

// A round top for the rate axis: 1, 2 or 5 times a power of ten, at least the highest rate.
double axisTop(double highest)
{
    double step = 1;
    while (step * 10 <= highest)
        step *= 10;
    for (double f : {1.0, 2.0, 5.0, 10.0})
        if (step * f >= highest)
            return step * f;
    return step * 10;
}

QString rateText(double perSecond)
{
    return QString::number(perSecond, 'f', perSecond < 10 ? 1 : 0);
}
} // namespace

RatePlot::RatePlot(QWidget *parent) : QWidget(parent)
{
    setMinimumHeight(110);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void RatePlot::setPoints(const QVector<QPair<qint64, double>> &p, qint64 time)
{
    points = p;
    now = time;
    update();
}

void RatePlot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    double highest = 1;
    for (const auto &p : points)
        highest = std::max(highest, p.second);
    const double top = axisTop(highest);
    const QString topText = rateText(top) + QStringLiteral("/s");
    const QFontMetrics fm = painter.fontMetrics();
    const QRect area = rect().adjusted(fm.horizontalAdvance(topText) + 8, fm.height() / 2 + 2, -8,
                                       -fm.height() - 4);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(area);
    painter.setPen(palette().color(QPalette::Text));
    painter.drawText(QRect(0, area.top() - fm.height() / 2, area.left() - 4, fm.height()),
                     Qt::AlignRight | Qt::AlignVCenter, topText);
    painter.drawText(QRect(0, area.bottom() - fm.height() / 2, area.left() - 4, fm.height()),
                     Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("0"));
    painter.drawText(QRect(area.left(), area.bottom() + 2, area.width(), fm.height()), Qt::AlignLeft,
                     QStringLiteral("-60 s"));
    painter.drawText(QRect(area.left(), area.bottom() + 2, area.width(), fm.height()), Qt::AlignRight,
                     QStringLiteral("now"));
    if (points.isEmpty())
        return;
    QPainterPath line;
    for (int i = 0; i < points.size(); ++i) {
        const double x = area.left() + area.width() * (1.0 - double(now - points[i].first) / MinuteMs);
        const double y = area.bottom() - area.height() * points[i].second / top;
        if (i == 0)
            line.moveTo(x, y);
        else
            line.lineTo(x, y);
    }
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.drawPath(line);
}

RatesTab::RatesTab(ReportRates *shared, QWidget *parent)
    : QWidget(parent), rates(shared), total(new QLabel(this)), perSecond(new QLabel(this)),
      crcErrors(new QLabel(this)), table(new QTableWidget(0, 5, this)), plot(new RatePlot(this))
{
    total->setObjectName(QStringLiteral("totalReports"));
    perSecond->setObjectName(QStringLiteral("reportRate"));
    crcErrors->setObjectName(QStringLiteral("crcErrors"));
    table->setObjectName(QStringLiteral("sources"));
    plot->setObjectName(QStringLiteral("ratePlot"));
    auto *resetButton = new QPushButton(QStringLiteral("Reset"), this);
    resetButton->setObjectName(QStringLiteral("resetRates"));
    resetButton->setAutoDefault(false);
    connect(resetButton, &QPushButton::clicked, this, &RatesTab::reset);

    table->setHorizontalHeaderLabels({QStringLiteral("Source"), QStringLiteral("Count"), QStringLiteral("Rate/s"),
                                      QStringLiteral("Last seen"), QStringLiteral("Last data")});
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->verticalHeader()->hide();
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6); // more sources in view
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (int c = 1; c < 5; ++c)
        table->horizontalHeader()->setSectionResizeMode(c, QHeaderView::ResizeToContents);

    auto *figures = new QHBoxLayout;
    for (QLabel *l : {total, perSecond, crcErrors}) {
        figures->addWidget(l);
        figures->addSpacing(12);
    }
    figures->addStretch();
    figures->addWidget(resetButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(figures);
    layout->addWidget(table, 1);
    layout->addWidget(new QLabel(QStringLiteral("Reports per second, last minute"), this));
    layout->addWidget(plot);

    connect(&timer, &QTimer::timeout, this, &RatesTab::refresh);
    timer.start(SampleMs);
    display(last);
}

void RatesTab::addSettingsRow(QWidget *row) { layout()->addWidget(row); }

void RatesTab::refresh()
{
    last = rates->sample(QDateTime::currentMSecsSinceEpoch());
    if (isVisible())
        display(last);
}

void RatesTab::reset()
{
    rates->reset(QDateTime::currentMSecsSinceEpoch());
    refresh();
}

void RatesTab::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    display(last);
}

void RatesTab::display(const ReportRates::Snapshot &s)
{
    total->setText(QStringLiteral("Reports: %1").arg(s.total));
    perSecond->setText(QStringLiteral("Reports/s: %1").arg(rateText(s.perSecond)));
    crcErrors->setText(QStringLiteral("CRC errors: %1").arg(s.crcErrors));
    table->setRowCount(int(s.sources.size()));
    for (int row = 0; row < s.sources.size(); ++row) {
        const ReportRates::Source &src = s.sources.at(row);
        const QString cells[5] = {ReportRates::sourceText(src), QString::number(src.count), rateText(src.perSecond),
                                  QDateTime::fromMSecsSinceEpoch(src.lastSeen).toString(QStringLiteral("hh:mm:ss.zzz")),
                                  src.lastItem.isEmpty() ? QString() : QString(QStringLiteral("0x") + src.lastItem)};
        for (int c = 0; c < 5; ++c) {
            QTableWidgetItem *item = table->item(row, c);
            if (!item) {
                item = new QTableWidgetItem;
                item->setTextAlignment(c == 0 ? Qt::AlignLeft | Qt::AlignVCenter : Qt::AlignRight | Qt::AlignVCenter);
                table->setItem(row, c, item);
            }
            if (item->text() != cells[c])
                item->setText(cells[c]);
        }
    }
    plot->setPoints(s.minute, QDateTime::currentMSecsSinceEpoch());
}
