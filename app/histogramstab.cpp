#include "histogramstab.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// Blue for the fewest, through cyan, green and yellow, to red for the most.
QRgb heat(double f)
{
    return QColor::fromHsvF(0.667 * (1.0 - std::clamp(f, 0.0, 1.0)), 1.0, 1.0).rgb();
}

QString countText(quint64 n)
{
    return QString::number(n);
}

} // namespace

HistogramPlot::HistogramPlot(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    setMinimumSize(240, 160);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void HistogramPlot::setHistogram(const HistogramDef &d, const QVector<quint64> &b)
{
    if (!(d == def)) {
        def = d;
        first = 0;
        last = d.xBins() - 1;
    }
    bins = b;
    update();
}

void HistogramPlot::setLog(bool on)
{
    log = on;
    update();
}

void HistogramPlot::setRange(int from, int to)
{
    from = std::clamp(from, 0, def.xBins() - 1);
    to = std::clamp(to, 0, def.xBins() - 1);
    if (from > to)
        std::swap(from, to);
    first = from;
    last = to;
    update();
    emit rangeChanged(first, last);
}

QRect HistogramPlot::plotArea() const
{
    const QFontMetrics fm = fontMetrics();
    return rect().adjusted(fm.horizontalAdvance(QStringLiteral("00000000")) + 8, fm.height() / 2 + 4, -10,
                           -fm.height() - 6);
}

int HistogramPlot::binAtX(int px) const
{
    const QRect a = plotArea();
    const int n = last - first + 1;
    const int b = first + int(std::floor(double(px - a.left()) * n / std::max(1, a.width())));
    return std::clamp(b, first, last);
}

int HistogramPlot::binAtY(int py) const
{
    const QRect a = plotArea();
    const int ny = def.yBins();
    return std::clamp(int(std::floor(double(a.bottom() + 1 - py) * ny / std::max(1, a.height()))), 0, ny - 1);
}

double HistogramPlot::scaled(quint64 count, quint64 top) const
{
    if (top == 0)
        return 0;
    if (log)
        return std::log10(1.0 + double(count)) / std::log10(1.0 + double(top));
    return double(count) / double(top);
}

void HistogramPlot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().base());
    const QRect a = plotArea();
    const QFontMetrics fm = painter.fontMetrics();
    const int nx = def.xBins();
    const int n = last - first + 1;
    const bool ready = bins.size() == def.bins();

    quint64 top = 0;
    if (ready) {
        for (int y = 0; y < def.yBins(); ++y) {
            const quint64 *row = bins.constData() + qsizetype(y) * nx;
            top = std::max(top, *std::max_element(row + first, row + last + 1));
        }
    }

    if (ready && def.twoD) {
        QImage image(n, def.yBins(), QImage::Format_RGB32);
        const QRgb empty = palette().color(QPalette::Base).rgb();
        for (int y = 0; y < def.yBins(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(image.scanLine(def.yBins() - 1 - y));
            const quint64 *row = bins.constData() + qsizetype(y) * nx + first;
            for (int x = 0; x < n; ++x)
                line[x] = row[x] ? heat(scaled(row[x], top)) : empty;
        }
        painter.drawImage(a, image);
    } else if (ready && top > 0) {
        const QColor fill = palette().color(QPalette::Highlight);
        const int columns = std::max(1, a.width());
        if (n <= columns) {
            // A rectangle per bin.
            for (int b = first; b <= last; ++b) {
                if (!bins[b])
                    continue;
                const int x0 = a.left() + int(qint64(b - first) * columns / n);
                const int x1 = a.left() + int(qint64(b - first + 1) * columns / n);
                const int h = int(std::lround(scaled(bins[b], top) * a.height()));
                painter.fillRect(QRect(x0, a.bottom() + 1 - h, std::max(1, x1 - x0), h), fill);
            }
        } else {
            // A line per pixel column, as high as the largest bin under it.
            painter.setPen(fill);
            for (int c = 0; c < columns; ++c) {
                const int b0 = first + int(qint64(c) * n / columns);
                const int b1 = first + int(qint64(c + 1) * n / columns);
                const quint64 m = *std::max_element(bins.constData() + b0, bins.constData() + std::max(b1, b0 + 1));
                if (!m)
                    continue;
                const int h = std::max(1, int(std::lround(scaled(m, top) * a.height())));
                painter.drawLine(a.left() + c, a.bottom(), a.left() + c, a.bottom() + 1 - h);
            }
        }
    }

    painter.setPen(palette().color(QPalette::Mid));
    painter.drawRect(a.adjusted(0, 0, -1, -1));
    painter.setPen(palette().color(QPalette::Text));
    const int left = a.left() - 4;
    if (def.twoD) {
        painter.drawText(QRect(0, a.top() - fm.height() / 2, left, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
                         QString::number(def.yBins() - 1));
        painter.drawText(QRect(0, a.bottom() - fm.height() / 2, left, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("0"));
    } else {
        painter.drawText(QRect(0, a.top() - fm.height() / 2, left, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
                         countText(top));
        painter.drawText(QRect(0, a.bottom() - fm.height() / 2, left, fm.height()), Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("0"));
    }
    const QRect below(a.left(), a.bottom() + 3, a.width(), fm.height());
    painter.drawText(below, Qt::AlignLeft, QString::number(first));
    painter.drawText(below, Qt::AlignRight, QString::number(last));
    painter.drawText(below, Qt::AlignHCenter, log ? QStringLiteral("log counts") : QStringLiteral("linear counts"));

    if (dragFrom >= 0) {
        QColor band = palette().color(QPalette::Highlight);
        band.setAlpha(60);
        painter.fillRect(QRect(QPoint(std::min(dragFrom, dragTo), a.top()), QPoint(std::max(dragFrom, dragTo), a.bottom())),
                         band);
    }
}

void HistogramPlot::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint p = event->position().toPoint();
    if (dragFrom >= 0) {
        dragTo = p.x();
        update();
    }
    if (bins.size() != def.bins() || !plotArea().contains(p)) {
        emit hovered(-1, -1, 0);
        return;
    }
    const int x = binAtX(p.x());
    const int y = def.twoD ? binAtY(p.y()) : 0;
    emit hovered(x, def.twoD ? y : -1, bins[qsizetype(y) * def.xBins() + x]);
}

void HistogramPlot::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && plotArea().contains(event->position().toPoint())) {
        dragFrom = dragTo = event->position().toPoint().x();
        update();
    }
}

void HistogramPlot::mouseReleaseEvent(QMouseEvent *event)
{
    if (dragFrom < 0 || event->button() != Qt::LeftButton)
        return;
    const int a = dragFrom, b = event->position().toPoint().x();
    dragFrom = dragTo = -1;
    if (std::abs(b - a) >= 4)
        setRange(binAtX(std::min(a, b)), binAtX(std::max(a, b)));
    else
        update();
}

void HistogramPlot::leaveEvent(QEvent *)
{
    emit hovered(-1, -1, 0);
}

HistogramsTab::HistogramsTab(HistogramSet *shared, std::function<QVector<ReportRates::Source>()> seen,
                             QWidget *parent)
    : QWidget(parent), set(shared), sources(std::move(seen)), source(new QComboBox(this)),
      item(new QSpinBox(this)), low(new QSpinBox(this)), width(new QSpinBox(this)),
      twoD(new QCheckBox(QStringLiteral("2D, against"), this)), item2(new QSpinBox(this)), low2(new QSpinBox(this)),
      width2(new QSpinBox(this)), list(new QListWidget(this)), view(new HistogramPlot(this)),
      logCounts(new QCheckBox(QStringLiteral("Log counts"), this)), statistics(new QLabel(this)),
      pointer(new QLabel(this))
{
    source->setObjectName(QStringLiteral("histSource"));
    item->setObjectName(QStringLiteral("histItem"));
    low->setObjectName(QStringLiteral("histLow"));
    width->setObjectName(QStringLiteral("histWidth"));
    twoD->setObjectName(QStringLiteral("hist2D"));
    item2->setObjectName(QStringLiteral("histItem2"));
    low2->setObjectName(QStringLiteral("histLow2"));
    width2->setObjectName(QStringLiteral("histWidth2"));
    list->setObjectName(QStringLiteral("histograms"));
    view->setObjectName(QStringLiteral("histPlot"));
    statistics->setObjectName(QStringLiteral("histStatistics"));
    pointer->setObjectName(QStringLiteral("histPointer"));
    source->setMinimumContentsLength(26);
    source->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    statistics->setWordWrap(true);
    source->setToolTip(QStringLiteral("The sources that reports came from (as on the Rates tab)"));
    for (QSpinBox *s : {item, item2})
        s->setRange(0, 255);
    for (QSpinBox *s : {low, low2})
        s->setRange(0, 31);
    width->setRange(1, HistogramDef::MaxWidth);
    width->setValue(12);
    width2->setRange(1, HistogramDef::MaxWidth2D);
    width2->setValue(8);
    item->setToolTip(QStringLiteral("Position of the data item in the report (0 = the first)"));
    low->setToolTip(QStringLiteral("Lowest bit of the item that is counted"));
    width->setToolTip(QStringLiteral("Bits counted: 1 << width bins (2D: at most 10 bits each)"));

    const auto button = [this](const char *text, const char *name, void (HistogramsTab::*slot)()) {
        auto *b = new QPushButton(QString::fromLatin1(text), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, slot);
        return b;
    };
    auto *define = new QHBoxLayout;
    define->addWidget(new QLabel(QStringLiteral("Source"), this));
    define->addWidget(source, 1);
    define->addWidget(new QLabel(QStringLiteral("item"), this));
    define->addWidget(item);
    define->addWidget(new QLabel(QStringLiteral("bits from"), this));
    define->addWidget(low);
    define->addWidget(new QLabel(QStringLiteral("width"), this));
    define->addWidget(width);
    define->addWidget(twoD);
    for (QWidget *w : std::initializer_list<QWidget *>{item2, low2, width2}) {
        define->addWidget(w);
        w->setEnabled(false);
        connect(twoD, &QCheckBox::toggled, w, &QWidget::setEnabled);
    }
    define->addWidget(button("Add", "histAdd", &HistogramsTab::addHistogram));

    auto *side = new QVBoxLayout;
    side->addWidget(list, 1);
    auto *listButtons = new QHBoxLayout;
    listButtons->addWidget(button("Clear", "histClear", &HistogramsTab::clearHistogram));
    listButtons->addWidget(button("Remove", "histRemove", &HistogramsTab::removeHistogram));
    side->addLayout(listButtons);
    list->setMaximumWidth(300);

    auto *controls = new QHBoxLayout;
    controls->addWidget(logCounts);
    auto *unzoom = new QPushButton(QStringLiteral("Full range"), this);
    unzoom->setObjectName(QStringLiteral("histUnzoom"));
    unzoom->setAutoDefault(false);
    unzoom->setToolTip(QStringLiteral("Drag across the plot to zoom on an x range"));
    connect(unzoom, &QPushButton::clicked, view, &HistogramPlot::unzoom);
    controls->addWidget(unzoom);
    controls->addStretch();
    controls->addWidget(button("Export CSV...", "histCsv", &HistogramsTab::saveCsv));
    controls->addWidget(button("Export PNG...", "histPng", &HistogramsTab::savePng));

    auto *right = new QVBoxLayout;
    right->addWidget(view, 1);
    right->addWidget(statistics);
    right->addWidget(pointer);
    right->addLayout(controls);
    auto *body = new QHBoxLayout;
    body->addLayout(side);
    body->addLayout(right, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(define);
    layout->addLayout(body, 1);

    connect(logCounts, &QCheckBox::toggled, view, &HistogramPlot::setLog);
    connect(list, &QListWidget::currentRowChanged, this, &HistogramsTab::select);
    connect(view, &HistogramPlot::rangeChanged, this, &HistogramsTab::showStatistics);
    connect(view, &HistogramPlot::hovered, this, [this](int x, int y, quint64 count) {
        if (x < 0)
            pointer->setText(QString());
        else if (y < 0)
            pointer->setText(QStringLiteral("Bin %1: %2").arg(x).arg(count));
        else
            pointer->setText(QStringLiteral("Bin x %1, y %2: %3").arg(x).arg(y).arg(count));
    });
    connect(&timer, &QTimer::timeout, this, &HistogramsTab::refresh);
    timer.start(RefreshMs);
    refreshList();
    showStatistics();
}

void HistogramsTab::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
}

void HistogramsTab::refresh()
{
    if (!isVisible())
        return;
    refreshSources();
    refreshList();
    HistogramSet::Info info;
    if (!shown || !set->info(shown, info))
        return;
    if (info.version != shownVersion || !(info.def == shownDef)) {
        set->counts(shown, counts);
        shownVersion = info.version;
        shownDef = info.def;
        view->setHistogram(shownDef, counts.bins);
    } else {
        counts.entries = info.entries;
        counts.notFilled = info.notFilled;
        counts.otherSources = info.otherSources;
    }
    showStatistics();
}

void HistogramsTab::refreshSources()
{
    const QVector<ReportRates::Source> seen = sources ? sources() : QVector<ReportRates::Source>();
    QVector<int> keys;
    for (const ReportRates::Source &s : seen)
        keys.append((s.level << 9) | (s.polling ? 0x100 : 0) | s.id);
    if (keys == sourceKeys)
        return;
    const int kept = source->currentIndex() >= 0 ? sourceKeys.value(source->currentIndex(), -1) : -1;
    sourceKeys = keys;
    source->clear();
    for (const ReportRates::Source &s : seen)
        source->addItem(ReportRates::sourceText(s));
    const int again = int(sourceKeys.indexOf(kept));
    source->setCurrentIndex(again >= 0 ? again : 0);
}

void HistogramsTab::refreshList()
{
    const QVector<int> handles = set->handles();
    bool same = list->count() == handles.size();
    for (int i = 0; same && i < handles.size(); ++i)
        same = list->item(i)->data(Qt::UserRole).toInt() == handles[i];
    if (same) {
        for (int i = 0; i < handles.size(); ++i) {
            HistogramSet::Info info;
            if (set->info(handles[i], info))
                list->item(i)->setText(info.def.name() + QStringLiteral("\n%1 entries").arg(info.entries));
        }
        return;
    }
    list->blockSignals(true);
    list->clear();
    int row = -1;
    for (int i = 0; i < handles.size(); ++i) {
        HistogramSet::Info info;
        set->info(handles[i], info);
        auto *it = new QListWidgetItem(info.def.name() + QStringLiteral("\n%1 entries").arg(info.entries), list);
        it->setData(Qt::UserRole, handles[i]);
        if (handles[i] == shown)
            row = i;
    }
    list->blockSignals(false);
    if (row < 0 && !handles.isEmpty())
        row = int(handles.size()) - 1;
    list->setCurrentRow(row);
    if (row < 0)
        select(-1);
}

void HistogramsTab::select(int row)
{
    shown = row >= 0 && list->item(row) ? list->item(row)->data(Qt::UserRole).toInt() : 0;
    shownVersion = ~quint64(0);
    counts = HistogramCounts();
    HistogramSet::Info info;
    if (shown && set->info(shown, info)) {
        set->counts(shown, counts);
        shownVersion = info.version;
        shownDef = info.def;
    } else {
        shownDef = HistogramDef();
    }
    view->setHistogram(shownDef, counts.bins);
    showStatistics();
}

void HistogramsTab::showStatistics()
{
    if (!shown) {
        statistics->setText(QStringLiteral("No histogram: pick a source and an item above and press Add."));
        return;
    }
    QString s;
    if (shownDef.twoD) {
        quint64 n = 0;
        const int nx = shownDef.xBins();
        for (int y = 0; y < shownDef.yBins() && counts.bins.size() == shownDef.bins(); ++y)
            for (int x = view->from(); x <= view->to(); ++x)
                n += counts.bins[qsizetype(y) * nx + x];
        s = QStringLiteral("Entries %1 (x %2 to %3)").arg(n).arg(view->from()).arg(view->to());
    } else {
        const HistogramStats st = HistogramStats::of(counts.bins, view->from(), view->to());
        s = QStringLiteral("Entries %1  Mean %2  RMS %3  (bins %4 to %5)")
                .arg(st.entries)
                .arg(st.mean, 0, 'f', 2)
                .arg(st.rms, 0, 'f', 2)
                .arg(view->from())
                .arg(view->to());
    }
    s += QStringLiteral("   Not filled: %1 too short for the item, %2 of other sources")
             .arg(counts.notFilled)
             .arg(counts.otherSources);
    statistics->setText(s);
}

void HistogramsTab::addHistogram()
{
    if (source->currentIndex() < 0 || source->currentIndex() >= sourceKeys.size()) {
        QMessageBox::warning(this, QStringLiteral("Histograms"),
                             QStringLiteral("No source yet: a histogram counts the reports of a source that the "
                                            "Rates tab has seen."));
        return;
    }
    const int key = sourceKeys[source->currentIndex()];
    HistogramDef d;
    d.id = key & 0xFF;
    d.level = key >> 9;
    d.kind = (key & 0x100) ? HistogramDef::Polling : HistogramDef::Interrupt;
    d.twoD = twoD->isChecked();
    d.x = {item->value(), low->value(), width->value()};
    d.y = {item2->value(), low2->value(), width2->value()};
    const QString problem = d.problem();
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Histograms"), QStringLiteral("Cannot add it: ") + problem + QLatin1Char('.'));
        return;
    }
    shown = set->add(d);
    refreshList();
    select(list->currentRow());
}

void HistogramsTab::removeHistogram()
{
    if (!shown)
        return;
    set->remove(shown);
    shown = 0;
    refreshList();
}

void HistogramsTab::clearHistogram()
{
    if (!shown)
        return;
    set->clear(shown);
    select(list->currentRow());
}

bool HistogramsTab::exportCsv(const QString &path, QString *error) const
{
    QFile f(path);
    if (!shown || !f.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        f.write(histogramCsv(shownDef, counts.bins, false)) < 0 || !f.flush()) {
        *error = shown ? f.errorString() : QStringLiteral("no histogram is shown");
        return false;
    }
    return true;
}

bool HistogramsTab::exportPng(const QString &path) const
{
    return shown && view->grab().save(path, "PNG");
}

void HistogramsTab::saveCsv()
{
    if (!shown)
        return;
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export CSV"), QString(),
                                                      QStringLiteral("CSV files (*.csv);;All files (*)"));
    QString error;
    if (!path.isEmpty() && !exportCsv(path, &error))
        QMessageBox::warning(this, QStringLiteral("File save"), QStringLiteral("Cannot write %1: %2").arg(path, error));
}

void HistogramsTab::savePng()
{
    if (!shown)
        return;
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Export PNG"), QString(),
                                                      QStringLiteral("PNG pictures (*.png);;All files (*)"));
    if (!path.isEmpty() && !exportPng(path))
        QMessageBox::warning(this, QStringLiteral("File save"), QStringLiteral("Cannot write %1.").arg(path));
}
