// The alarm history window and its filters.

#include "history/AlarmHistory.h"

#include "platform/Clock.h"
#include "platform/FormParts.h"
#include "shared/SysInf.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QHelpEvent>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <QTableView>
#include <QTableWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <map>

namespace History {

std::vector<JournalEntry> Filter(const std::vector<JournalEntry>& entries, int unit, const QDateTime& since)
{
    std::vector<JournalEntry> out;
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        if ((unit < 0 || it->unit == unit) && (!since.isValid() || it->time >= since))
            out.push_back(*it);
    // The journal is in writing order; a clock set back would break that, the list never does.
    std::stable_sort(out.begin(), out.end(),
                     [](const JournalEntry& a, const JournalEntry& b) { return a.time > b.time; });
    return out;
}

std::vector<UnitCount> RaisedLastDay(const std::vector<JournalEntry>& entries, const QDateTime& now)
{
    const QDateTime since = now.addSecs(-24 * 3600);
    const QString raised = AlarmJournal::EventWord(JournalEvent::Raised);
    std::map<int, UnitCount> counts;
    for (const JournalEntry& e : entries) {
        if (e.unit < 0 || e.event != raised || e.time < since || e.time > now)
            continue;
        UnitCount& c = counts[e.unit];
        c.unit = e.unit;
        c.name = e.name;
        ++c.raised;
    }
    std::vector<UnitCount> out;
    for (auto& [unit, c] : counts)
        out.push_back(c);
    std::stable_sort(out.begin(), out.end(),
                     [](const UnitCount& a, const UnitCount& b) { return a.raised > b.raised; });
    return out;
}

Loaded Load(const QString& journalPath, int unit, const QDateTime& since, const QDateTime& now)
{
    Loaded out;
    const auto entries = AlarmJournal::Read(journalPath, 16 * 1024 * 1024, &out.older);
    out.shown = Filter(entries, unit, since);
    out.counts = RaisedLastDay(entries, now);
    return out;
}

void EventModel::setEntries(std::vector<JournalEntry> entries)
{
    beginResetModel();
    m_entries = std::move(entries);
    endResetModel();
}

int EventModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_entries.size());
}

int EventModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 5;
}

QVariant EventModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid() || index.row() >= int(m_entries.size()))
        return QVariant();
    const JournalEntry& e = m_entries[size_t(index.row())];
    switch (index.column()) {
    case 0:
        return e.time.toString(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    case 1:
        return e.unit < 0 ? QString() : QStringLiteral("%1").arg(e.unit, 3, 10, QLatin1Char('0'));
    case 2:
        return e.name;
    case 3:
        return e.event;
    case 4:
        return m_channels && e.unit >= 0 ? m_channels->conditionText(e.unit, e.condition) : e.condition;
    }
    return QVariant();
}

QVariant EventModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    static const QStringList heads = {QStringLiteral("日時"), QStringLiteral("No."), QStringLiteral("名称"),
                                      QStringLiteral("事象"), QStringLiteral("条件")};
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= heads.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    return heads[section];
}

} // namespace History

namespace {

// A cell whose text does not fit shows it whole as a tooltip; one that fits shows none.
class CutTextTips : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (event->type() != QEvent::ToolTip)
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        const QString text = index.data().toString();
        // The style's padding on either side of a cell's text.
        const int room = option.rect.width() - 8;
        if (!text.isEmpty() && option.fontMetrics.horizontalAdvance(text) > room)
            QToolTip::showText(event->globalPos(), text, view, option.rect);
        else
            QToolTip::hideText();
        return true;
    }
};

QTableWidget* table(QWidget* parent, const QString& name, const QString& label, const QStringList& heads)
{
    auto* t = new QTableWidget(0, int(heads.size()), parent);
    t->setObjectName(name);
    t->setAccessibleName(label);
    t->setHorizontalHeaderLabels(heads);
    t->setEditTriggers(QAbstractItemView::NoEditTriggers);
    t->setSelectionBehavior(QAbstractItemView::SelectRows);
    t->verticalHeader()->setVisible(false);
    t->setWordWrap(false);
    t->horizontalHeader()->setStretchLastSection(true);
    return t;
}

void setRow(QTableWidget* t, int row, const QStringList& cells, bool alert = false)
{
    for (int c = 0; c < cells.size(); ++c) {
        auto* item = new QTableWidgetItem(cells[c]);
        if (alert)
            item->setBackground(QColor(255, 192, 192));
        t->setItem(row, c, item);
    }
}

} // namespace

AlarmHistory::AlarmHistory(const SysInf& sys, const ChannelTable& channels, QString journalPath, const Clock& clock,
                           QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_sys(sys)
    , m_journalPath(std::move(journalPath))
    , m_clock(clock)
{
    setObjectName(QStringLiteral("AlarmHistory"));
    setWindowTitle(QStringLiteral("アラーム履歴"));
    buildControls();
    m_events->setChannels(&channels);
    m_follow.setInterval(FollowMs);
    connect(&m_follow, &QTimer::timeout, this, &AlarmHistory::follow);
    m_follow.start();
    reload();
}

std::pair<qint64, QDateTime> AlarmHistory::journalStamp() const
{
    const QFileInfo info(m_journalPath);
    return info.isFile() ? std::make_pair(info.size(), info.lastModified()) : std::make_pair(qint64(0), QDateTime());
}

void AlarmHistory::follow()
{
    // A look at the file's size and time; the read itself stays on the worker.
    if (!m_worker.out() && journalStamp() != m_readStamp)
        reload();
}

void AlarmHistory::buildControls()
{
    auto* top = new QVBoxLayout(this);
    auto* filters = new QHBoxLayout;
    UnitFilter = new QComboBox(this);
    UnitFilter->setObjectName(QStringLiteral("UnitFilter"));
    UnitFilter->setAccessibleName(QStringLiteral("ユニット"));
    UnitFilter->addItem(QStringLiteral("全ユニット"));
    for (int u = 0; u < m_sys.unitCount(); ++u)
        UnitFilter->addItem(m_sys.cell(u, ColName));
    PeriodFilter = new QComboBox(this);
    PeriodFilter->setObjectName(QStringLiteral("PeriodFilter"));
    PeriodFilter->setAccessibleName(QStringLiteral("期間"));
    PeriodFilter->addItems(
        {QStringLiteral("24時間"), QStringLiteral("7日"), QStringLiteral("30日"), QStringLiteral("全期間")});
    PeriodFilter->setCurrentIndex(1);
    filters->addWidget(new QLabel(QStringLiteral("ユニット"), this));
    filters->addWidget(UnitFilter, 1);
    filters->addWidget(new QLabel(QStringLiteral("期間"), this));
    filters->addWidget(PeriodFilter);
    filters->addStretch(1);
    top->addLayout(filters);

    auto* tables = new QHBoxLayout;
    EventTable = new QTableView(this);
    EventTable->setObjectName(QStringLiteral("EventTable"));
    EventTable->setAccessibleName(QStringLiteral("アラーム履歴"));
    m_events = new History::EventModel(this);
    EventTable->setModel(m_events);
    EventTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    EventTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    EventTable->verticalHeader()->setVisible(false);
    EventTable->setWordWrap(false);
    EventTable->setItemDelegate(new CutTextTips(EventTable));
    EventTable->horizontalHeader()->setStretchLastSection(true);
    // Wide enough for a whole date and time, in the font shown.
    EventTable->setColumnWidth(0,
                               EventTable->fontMetrics().horizontalAdvance(QStringLiteral("0000/00/00 00:00:00")) + 16);
    EventTable->setColumnWidth(1, EventTable->fontMetrics().horizontalAdvance(QStringLiteral("No.000")) + 16);
    EventTable->setColumnWidth(
        3, EventTable->fontMetrics().horizontalAdvance(AlarmJournal::EventWord(JournalEvent::DiskLow)) + 16);
    CountTable = table(this, QStringLiteral("CountTable"), QStringLiteral("24時間の発生回数"),
                       {QStringLiteral("名称"), QStringLiteral("24時間の発生")});
    CountTable->setItemDelegate(new CutTextTips(CountTable));
    tables->addWidget(EventTable, 3);
    tables->addWidget(CountTable, 1);
    top->addLayout(tables, 1);

    StatusText = new QLabel(this);
    StatusText->setObjectName(QStringLiteral("StatusText"));
    Refresh = FormButton(this, QStringLiteral("Refresh"), QStringLiteral("更新"));
    CloseCmd = FormButton(this, QStringLiteral("CloseCmd"), QStringLiteral("閉じる"));
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(StatusText, 1);
    bottom->addLayout(FormButtonRow({}, {Refresh, CloseCmd}));
    top->addLayout(bottom);
    resize(820, 480);

    connect(UnitFilter, &QComboBox::currentIndexChanged, this, &AlarmHistory::reload);
    connect(PeriodFilter, &QComboBox::currentIndexChanged, this, &AlarmHistory::reload);
    connect(Refresh, &QPushButton::clicked, this, &AlarmHistory::reload);
    connect(CloseCmd, &QPushButton::clicked, this, &QWidget::close);
    connect(EventTable, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        const JournalEntry* e = m_events->entry(index.row());
        if (e && e->unit >= 0 && e->unit < m_sys.unitCount())
            emit trendAsked(e->unit, e->time);
    });
}

void AlarmHistory::reload()
{
    if (m_worker.out()) { // one read at a time; the last filters win
        m_again = true;
        return;
    }
    m_again = false;
    const QDateTime now = m_clock.now();
    const int hours = History::PeriodHours[std::clamp(PeriodFilter->currentIndex(), 0, 3)];
    const QDateTime since = hours ? now.addSecs(-hours * 3600) : QDateTime();
    const int unit = UnitFilter->currentIndex() - 1;
    m_readStamp = journalStamp(); // taken before the read: a line added meanwhile is read next time
    if (m_events->rowCount() == 0)
        StatusText->setText(QStringLiteral("読み込み中…"));
    m_worker.run<History::Loaded>(
        this, [path = m_journalPath, unit, since, now] { return History::Load(path, unit, since, now); },
        [this](History::Loaded loaded) {
            if (m_again)
                return reload();
            present(std::move(loaded));
        });
}

void AlarmHistory::present(History::Loaded loaded)
{
    const auto shown = loaded.shown.size();
    // An operator reading further down keeps the place; at the top the newest lines come in view.
    const int scrolled = EventTable->verticalScrollBar()->value();
    m_events->setEntries(std::move(loaded.shown));
    EventTable->verticalScrollBar()->setValue(scrolled);
    const auto& counts = loaded.counts;
    CountTable->setRowCount(int(counts.size()));
    for (int r = 0; r < int(counts.size()); ++r)
        setRow(CountTable, r, {counts[r].name, QString::number(counts[r].raised)},
               counts[r].raised >= History::Frequent);
    StatusText->setText(loaded.older ? QStringLiteral("%1 件（これより古い記録は読み込んでいません）").arg(shown)
                                     : QStringLiteral("%1 件").arg(shown));
}
