#include "settings/ChannelEdit.h"

#include "platform/FixedWindow.h"
#include "platform/FormParts.h"
#include "platform/MessageBox.h"
#include "shared/MontComm1.h"

#include <QComboBox>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace {

const QStringList Columns = {QStringLiteral("タグ名"),   QStringLiteral("単位"),       QStringLiteral("生値下限"),
                             QStringLiteral("生値上限"), QStringLiteral("工学値下限"), QStringLiteral("工学値上限"),
                             QStringLiteral("小数桁"),   QStringLiteral("ON表示"),     QStringLiteral("OFF表示")};

// Whether the column is for the channel's kind: analogue channels have no ON/OFF words, pins no scaling.
bool applies(int channel, int column)
{
    return column == 0 || (channel < 4 ? column <= 6 : column >= 7);
}

} // namespace

ChannelEdit::ChannelEdit(MontComm1& comm, QWidget* parent)
    : QDialog(parent)
    , m_comm(comm)
    , m_messages(comm.messages())
    , m_table(comm.channels())
{
    setObjectName(QStringLiteral("ChannelEdit"));
    setWindowTitle(QStringLiteral("チャンネル設定"));
    setModal(true);
    auto* top = new QVBoxLayout(this);
    auto* head = new QGridLayout;
    auto* unitLabel = new QLabel(QStringLiteral("ユニット"), this);
    UnitCombo = new QComboBox(this);
    UnitCombo->setObjectName(QStringLiteral("UnitCombo"));
    UnitCombo->setAccessibleName(unitLabel->text());
    unitLabel->setBuddy(UnitCombo);
    for (int u = 0; u < std::min(comm.sys().unitCount(), int(UnitSlots)); ++u)
        UnitCombo->addItem(QStringLiteral("%1 %2").arg(u, 3, 10, QLatin1Char('0')).arg(comm.sys().cell(u, ColName)), u);
    head->addWidget(unitLabel, 0, 0);
    head->addWidget(UnitCombo, 0, 1);
    head->setColumnStretch(2, 1);
    top->addLayout(head);

    ChannelGrid = new QTableWidget(ChannelTable::Channels, int(Columns.size()), this);
    ChannelGrid->setObjectName(QStringLiteral("ChannelGrid"));
    ChannelGrid->setAccessibleName(QStringLiteral("チャンネル表"));
    ChannelGrid->setHorizontalHeaderLabels(Columns);
    QStringList rows;
    for (int c = 0; c < ChannelTable::Channels; ++c)
        rows << ChannelTable::ChannelWord(c);
    ChannelGrid->setVerticalHeaderLabels(rows);
    ChannelGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    ChannelGrid->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    ChannelGrid->setMinimumSize(760, ChannelGrid->verticalHeader()->defaultSectionSize() * 13 + 8);
    top->addWidget(ChannelGrid);
    auto* note = new QLabel(QStringLiteral("タグ名が空の行は設定なし（生値のまま）です。トレンド・アラーム履歴・MQTT に"
                                           "使い、データログと各画面は生値のままです。"),
                            this);
    note->setWordWrap(true);
    top->addWidget(note);

    auto* frame = FormFrame(this, QStringLiteral("Frame1"), QStringLiteral("換算の確認"));
    auto* grid = new QGridLayout(frame);
    RawText = FormTextRow(grid, frame, QStringLiteral("RawText"), QStringLiteral("生値"), 0);
    RawText->setText(QStringLiteral("0"));
    PreviewText = new QLabel(frame);
    PreviewText->setObjectName(QStringLiteral("PreviewText"));
    grid->addWidget(PreviewText, 0, 2);
    grid->setColumnStretch(2, 1);
    top->addWidget(frame);

    OKCmd = FormButton(this, QStringLiteral("OKCmd"), QStringLiteral("保存"));
    CancelCmd = FormButton(this, QStringLiteral("CancelCmd"), QStringLiteral("キャンセル"));
    top->addLayout(FormButtonRow({OKCmd}, {CancelCmd}));
    connect(OKCmd, &QPushButton::clicked, this, [this] {
        if (!takeGrid())
            return;
        const Outcome outcome = m_table.save(m_messages);
        Notify(m_messages, outcome);
        if (!outcome)
            return;
        m_comm.channels() = m_table;
        m_saved = true;
        accept();
    });
    connect(CancelCmd, &QPushButton::clicked, this, &QDialog::reject);
    connect(UnitCombo, &QComboBox::activated, this, [this](int index) {
        if (index == m_shown)
            return;
        if (!takeGrid()) {
            UnitCombo->setCurrentIndex(m_shown); // the operator mends the row first
            return;
        }
        showUnit(index);
    });
    connect(ChannelGrid, &QTableWidget::currentCellChanged, this, [this] { preview(); });
    connect(ChannelGrid, &QTableWidget::cellChanged, this, [this] { preview(); });
    connect(RawText, &QLineEdit::textChanged, this, [this] { preview(); });
    FixAndCentre(*this);

    // A file that did not load is said again here; saving then replaces it, after asking.
    if (m_table.unreadable())
        Notify(m_messages, m_table.load());
    OKCmd->setEnabled(UnitCombo->count() > 0);
    if (UnitCombo->count() > 0)
        showUnit(0);
}

int ChannelEdit::unitAt(int index) const
{
    return UnitCombo->itemData(index).toInt();
}

void ChannelEdit::showUnit(int index)
{
    m_shown = index;
    UnitCombo->setCurrentIndex(index);
    const QSignalBlocker quiet(ChannelGrid);
    const int unit = unitAt(index);
    for (int c = 0; c < ChannelTable::Channels; ++c) {
        const ChannelLine* l = m_table.find(unit, c);
        QStringList cells(Columns.size());
        if (l) {
            cells[0] = l->name;
            if (l->analogue())
                cells = QStringList{l->name,
                                    l->unitText,
                                    ChannelTable::Number(l->rawLow),
                                    ChannelTable::Number(l->rawHigh),
                                    ChannelTable::Number(l->engLow),
                                    ChannelTable::Number(l->engHigh),
                                    QString::number(l->decimals),
                                    QString(),
                                    QString()};
            else {
                cells[7] = l->onText;
                cells[8] = l->offText;
            }
        }
        for (int k = 0; k < Columns.size(); ++k) {
            auto* item = new QTableWidgetItem(cells[k]);
            if (!applies(c, k)) {
                item->setFlags(item->flags() & ~Qt::ItemIsEditable);
                item->setBackground(palette().window());
            }
            ChannelGrid->setItem(c, k, item);
        }
    }
    ChannelGrid->setCurrentCell(0, 0);
    preview();
}

QStringList ChannelEdit::rowCells(int channel) const
{
    QStringList cells;
    for (int k = 0; k < Columns.size(); ++k) {
        const QTableWidgetItem* item = ChannelGrid->item(channel, k);
        cells << (applies(channel, k) && item ? item->text().trimmed() : QString());
    }
    return cells;
}

bool ChannelEdit::takeGrid()
{
    if (m_shown < 0)
        return true;
    std::vector<ChannelLine> lines;
    for (int c = 0; c < ChannelTable::Channels; ++c) {
        const QStringList cells = rowCells(c);
        if (std::all_of(cells.begin(), cells.end(), [](const QString& s) { return s.isEmpty(); }))
            continue; // no line: raw values
        QString problem;
        const auto line = ChannelTable::Parse(unitAt(m_shown), c, cells, problem);
        if (!line) {
            ChannelGrid->setCurrentCell(c, 0);
            m_messages.show(ChannelTable::ChannelWord(c) + QStringLiteral(" の") + problem, QStringLiteral("確認"),
                            MessageBoxService::Icon::Exclamation, MessageBoxService::Buttons::Ok);
            return false;
        }
        lines.push_back(*line);
    }
    m_table.setUnit(unitAt(m_shown), std::move(lines));
    return true;
}

void ChannelEdit::preview()
{
    const int c = ChannelGrid->currentRow();
    if (m_shown < 0 || c < 0) {
        PreviewText->clear();
        return;
    }
    QString problem;
    const auto line = ChannelTable::Parse(unitAt(m_shown), c, rowCells(c), problem);
    const QString word = ChannelTable::ChannelWord(c);
    if (!line) {
        PreviewText->setText(word + QStringLiteral("：") + problem);
        return;
    }
    if (!line->analogue()) {
        PreviewText->setText(QStringLiteral("%1 %2：1 → %3、0 → %4")
                                 .arg(word, line->name, line->levelText(true), line->levelText(false)));
        return;
    }
    bool ok = false;
    const double raw = RawText->text().trimmed().toDouble(&ok);
    PreviewText->setText(ok ? QStringLiteral("%1 %2：生値 %3 → %4 %5")
                                  .arg(word, line->name, ChannelTable::Number(raw), line->text(raw), line->unitText)
                            : QStringLiteral("生値が数値ではありません"));
}
